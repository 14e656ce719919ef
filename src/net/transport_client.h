#pragma once
#include <cstddef>
#include <cstdint>

namespace Sorvane {

// What the shared transport needs from a transmit instance, without depending on it.
class ITransportClient {
 public:
  virtual ~ITransportClient() = default;
  // A client control message (never a transport command).
  virtual void HandleControl(uint8_t opcode, const uint8_t* payload, size_t length) = 0;
  // A client finished pairing.
  virtual void OnNewClient() = 0;
  // Datagram sends keep failing.
  virtual void OnUdpFailures() = 0;
  // Started by the host and not stopped since.
  virtual bool IsActive() const = 0;
};

}  // namespace Sorvane
