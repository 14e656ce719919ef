#pragma once
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "discovery/dns_sd_api_win.h"
#include "discovery/self_healing_advertiser.h"

namespace Sorvane {

namespace dnssdwin {
struct ServiceRegistration;
struct BrowseContext;
}  // namespace dnssdwin

// How long the advertiser waits for DNSAPI's completions.
struct DnsSdWaits {
  std::chrono::milliseconds registration{5000};
  std::chrono::milliseconds deregistration{3000};
};

// Publishes the service with the DNSAPI service functions. Without them (older Windows, Wine)
// Start fails with one line naming the missing function.
class DnsSdServiceAdvertiser final : public SelfHealingAdvertiser {
 public:
  DnsSdServiceAdvertiser(std::optional<DnsSdApi> api, std::string missingFunction,
                         const Options& options = {}, const DnsSdWaits& waits = DnsSdWaits());
  ~DnsSdServiceAdvertiser() override;

 private:
  Registration RegisterLocked(uint16_t port, const AdvertisementRecord& record) override;
  void WithdrawLocked() override;
  bool BrowseLocked() override;
  void EndBrowseLocked() override;
  const char* SystemName() const override { return "WinDNS"; }

  const std::optional<DnsSdApi> api_;
  const std::string missingFunction_;
  const DnsSdWaits waits_;
  std::unique_ptr<dnssdwin::ServiceRegistration> registration_;  // main lock
  dnssdwin::BrowseContext* browse_ = nullptr;                    // main lock; see BrowseContext
};

}  // namespace Sorvane
