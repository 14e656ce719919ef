#include <winsock2.h>
#include <ws2ipdef.h>
// after winsock2
#include <iphlpapi.h>
#include <netioapi.h>

#include "diag/host_entry_guard.h"
#include "diag/log_channels.h"
#include "discovery/network_change_watch.h"

namespace Sorvane {

// The system calls back on a thread of its own; CancelMibChangeNotify2 waits for a running call.
struct NetworkChangeWatch::Impl {
  std::function<void()> onChange;
  HANDLE notification = nullptr;

  static VOID NETIOAPI_API_ OnAddressChange(PVOID context, PMIB_UNICASTIPADDRESS_ROW,
                                            MIB_NOTIFICATION_TYPE type) {
    if (type == MibInitialNotification)
      return;
    static HostEntryGuard guard(channels::kMdns, "network change callback");
    guard.Run([context] { static_cast<Impl*>(context)->onChange(); });
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
  if (impl_->notification != nullptr)
    return true;
  const DWORD status = NotifyUnicastIpAddressChange(AF_INET, &Impl::OnAddressChange, impl_.get(),
                                                    FALSE, &impl_->notification);
  if (status != NO_ERROR) {
    Log(channels::kMdns, kLogInfo, "network changes not watched (NotifyUnicastIpAddressChange=%lu)",
        status);
    impl_->notification = nullptr;
    return false;
  }
  return true;
}

void NetworkChangeWatch::Stop() {
  if (impl_->notification != nullptr)
    CancelMibChangeNotify2(impl_->notification);
  impl_->notification = nullptr;
}

}  // namespace Sorvane
