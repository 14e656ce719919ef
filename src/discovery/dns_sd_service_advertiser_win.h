#pragma once
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "discovery/dns_sd_api_win.h"
#include "discovery/self_healing_advertiser.h"

namespace Sorvane {

namespace dnssdwin {
struct ServiceRegistration;
struct BrowseContext;
}  // namespace dnssdwin

// How long the advertiser waits for DNSAPI's completions, and how long it keeps what it gave up
// on in case DNSAPI still calls back.
struct DnsSdWaits {
  std::chrono::milliseconds registration{5000};
  std::chrono::milliseconds deregistration{3000};
  std::chrono::milliseconds abandonedGrace{60000};  // on the advertiser's clock
};

// Publishes the service with the DNSAPI service functions. DNSAPI cannot change a live entry's
// TXT record, so a new "transmit" value registers the entry again.
class DnsSdServiceAdvertiser final : public SelfHealingAdvertiser {
 public:
  DnsSdServiceAdvertiser(std::optional<DnsSdApi> api, std::string missingFunction,
                         const Options& options = {}, const DnsSdWaits& waits = DnsSdWaits());
  ~DnsSdServiceAdvertiser() override;

 private:
  // A request DNSAPI may still call back about; its context goes at `reapAtNs` at the latest.
  struct Abandoned {
    void* ticket;
    bool browse;
    int64_t reapAtNs;
  };

  Registration RegisterLocked(uint16_t port, const AdvertisementRecord& record) override;
  void WithdrawLocked() override;
  bool BrowseLocked() override;
  void EndBrowseLocked() override;
  const char* SystemName() const override { return "WinDNS"; }

  void Abandon(void* ticket, bool browse);
  void ReapLocked();

  const std::optional<DnsSdApi> api_;
  const std::string missingFunction_;
  const DnsSdWaits waits_;
  std::unique_ptr<dnssdwin::ServiceRegistration> registration_;  // main lock
  std::shared_ptr<dnssdwin::BrowseContext> browse_;              // main lock
  void* browseTicket_ = nullptr;                                 // main lock
  std::vector<Abandoned> abandoned_;                             // main lock
};

}  // namespace Sorvane
