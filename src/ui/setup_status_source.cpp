#include "ui/setup_status_source.h"

#include <map>

#include "encoder/encoder_description.h"
#include "net/shared_transport.h"

namespace Sorvane {

StreamStatusInputs ReadStreamStatus(SharedTransport& transport) {
  StreamStatusInputs in;
  in.active = transport.IsAnyInstanceActive();
  in.connected = transport.HasClient();
  in.peerAddress = transport.Network().PeerAddress();
  in.settings = transport.GetCachedClientSettings();
  in.uiStatusPublished = transport.HasUiStatus();
  in.uiStatus = transport.GetUiStatus();
  in.encoderDescription = CurrentEncoderDescription();
  return in;
}

std::string SetupStatusReport(const StreamStatusInputs& in,
                              const std::vector<NetworkInterfaceEntry>& interfaces,
                              uint16_t controlPort) {
  std::map<int, std::string> values;
  for (const StatusRowValue& row : StreamStatusRowValues(in))
    values[row.id] = row.text;
  for (const StatusRowValue& row : NetworkRowValues(interfaces, controlPort))
    values[row.id] = row.text;
  std::string report =
      "DEVICE  " + DeviceStatusText(in) + "  (" + ActiveEncoderText(in.encoderDescription) + ")\n";
  std::string group;
  for (const StatusRowSpec& spec : StatusRowSpecs()) {
    if (group != spec.group) {
      group = spec.group;
      report += group + "\n";
    }
    std::string label = spec.label;
    label.resize(16, ' ');
    report += "  " + label + values[spec.id] + "\n";
  }
  return report;
}

}  // namespace Sorvane
