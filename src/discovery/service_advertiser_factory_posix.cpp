#include "discovery/avahi_service_advertiser.h"

namespace Sorvane {

std::unique_ptr<IServiceAdvertiser> CreateServiceAdvertiser() {
  return std::make_unique<AvahiServiceAdvertiser>();
}

}  // namespace Sorvane
