#pragma once
#include <functional>
#include <memory>

namespace Sorvane {

// Tells when an IPv4 address appears on or leaves an interface (a cable plugged in, a new Wi-Fi,
// a DHCP lease): the moment an advertisement may have been lost without anyone saying so.
// `onChange` runs on a thread of the watch or of the system; it must be quick and must not take
// locks held around Stop. Stop (and the destructor) return once no call is running.
class NetworkChangeWatch {
 public:
  explicit NetworkChangeWatch(std::function<void()> onChange);
  ~NetworkChangeWatch();
  NetworkChangeWatch(const NetworkChangeWatch&) = delete;
  NetworkChangeWatch& operator=(const NetworkChangeWatch&) = delete;

  // False (with a log line) where the system cannot tell; the caller then relies on its timers.
  bool Start();
  void Stop();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace Sorvane
