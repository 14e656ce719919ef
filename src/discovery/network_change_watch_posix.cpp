#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <thread>

#include "diag/crash_handler.h"
#include "diag/thread_guard.h"
#include "diag/log_channels.h"
#include "discovery/network_change_watch.h"

namespace Sorvane {

// Address changes arrive as route netlink messages; an eventfd wakes the thread to stop.
struct NetworkChangeWatch::Impl {
  std::function<void()> onChange;
  int netlink = -1;
  int wake = -1;
  std::thread thread;

  // Drains what is queued; true when it held an address change.
  bool DrainAddressChanges() {
    bool changed = false;
    alignas(nlmsghdr) char buffer[8192];
    for (;;) {
      const ssize_t n = recv(netlink, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n < 0 && errno == ENOBUFS) {
        changed = true;  // messages were lost: something changed
        continue;
      }
      if (n <= 0)
        return changed;
      int length = static_cast<int>(n);
      for (auto* h = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(h, length);
           h = NLMSG_NEXT(h, length)) {
        changed = changed || h->nlmsg_type == RTM_NEWADDR || h->nlmsg_type == RTM_DELADDR;
      }
    }
  }

  void Loop() {
    PrepareThreadForCrashes();
    static ThreadGuard guard(channels::kMdns, "network change watch");
    guard.Run([this] {
      for (;;) {
        pollfd fds[2] = {{netlink, POLLIN, 0}, {wake, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR)
          return;
        if (fds[1].revents != 0)
          return;
        if (fds[0].revents != 0 && DrainAddressChanges())
          onChange();
      }
    });
  }
};

NetworkChangeWatch::NetworkChangeWatch(std::function<void()> onChange)
    : impl_(std::make_unique<Impl>()) {
  impl_->onChange = std::move(onChange);
}

NetworkChangeWatch::~NetworkChangeWatch() {
  Stop();
}

bool NetworkChangeWatch::Start() {
  if (impl_->thread.joinable())
    return true;
  impl_->netlink = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  sockaddr_nl address{};
  address.nl_family = AF_NETLINK;
  address.nl_groups = RTMGRP_IPV4_IFADDR;
  impl_->wake = eventfd(0, EFD_CLOEXEC);
  if (impl_->netlink < 0 || impl_->wake < 0 ||
      bind(impl_->netlink, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    Log(channels::kMdns, kLogInfo, "network changes not watched (netlink: errno %d)", errno);
    Stop();
    return false;
  }
  impl_->thread = std::thread(&Impl::Loop, impl_.get());
  return true;
}

void NetworkChangeWatch::Stop() {
  if (impl_->thread.joinable()) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(impl_->wake, &one, sizeof one);
    impl_->thread.join();
  }
  for (int* fd : {&impl_->netlink, &impl_->wake}) {
    if (*fd >= 0)
      close(*fd);
    *fd = -1;
  }
}

}  // namespace Sorvane
