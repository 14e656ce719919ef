#include "diag/log_channels.h"
#include "discovery/dns_sd_service_advertiser_win.h"

namespace Sorvane {

std::unique_ptr<IServiceAdvertiser> CreateServiceAdvertiser() {
  std::string missing;
  std::optional<DnsSdApi> api = LoadDnsSdApi(&missing);
  if (!api) {
    // Older Windows and Wine: nothing to retry, ever.
    Log(channels::kMdns, kLogError, "DNS-SD unavailable: dnsapi.dll has no %{public}s",
        missing.c_str());
    return nullptr;
  }
  return std::make_unique<DnsSdServiceAdvertiser>(api, missing);
}

}  // namespace Sorvane
