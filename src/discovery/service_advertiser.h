#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace Sorvane {

// What the transport asks to advertise on the network.
struct AdvertisementRecord {
  std::string id;
  std::string name;
  bool transmit = false;
};

// Publishes the control port as a DNS-SD service of type "_sorvane._tcp.local".
class IServiceAdvertiser {
 public:
  virtual ~IServiceAdvertiser() = default;
  virtual bool Start(uint16_t port, const AdvertisementRecord& record) = 0;
  virtual void Stop() = 0;
  virtual bool IsRegistered() const = 0;
  // Whether a transmit instance is active, as the advertisement should say from now on. Returns
  // at once; the change reaches the network shortly after.
  virtual void SetTransmit(bool transmit) = 0;
};

// The platform's advertiser, or null where this build has none.
std::unique_ptr<IServiceAdvertiser> CreateServiceAdvertiser();

}  // namespace Sorvane
