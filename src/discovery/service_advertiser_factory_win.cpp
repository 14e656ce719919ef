#include "discovery/dns_sd_service_advertiser_win.h"

namespace Sorvane {

std::unique_ptr<IServiceAdvertiser> CreateServiceAdvertiser() {
  std::string missing;
  std::optional<DnsSdApi> api = LoadDnsSdApi(&missing);
  return std::make_unique<DnsSdServiceAdvertiser>(api, missing);
}

}  // namespace Sorvane
