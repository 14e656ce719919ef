// The pairing handshake: every new control connection proves itself with a stored token or the
// six-digit code shown on the computer before anything else is served.
#include <chrono>
#include <ctime>

#include "diag/log_channels.h"
#include "diag/log_text.h"
#include "net/client_hello.h"
#include "net/network_transport.h"
#include "net/socket_byte_source.h"
#include "net/token_compare.h"
#include "net/wire_opcodes.h"
#include "store/app_paths.h"
#include "store/trusted_peers.h"

namespace Sorvane {
namespace {

using net::SocketHandle;

std::string UtcNowText() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
#if defined(_WIN32)
  gmtime_s(&utc, &now);
#else
  gmtime_r(&now, &utc);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

// Destroys the dialog (closing its window and joining its thread) however the handshake ends.
struct DialogGuard {
  std::unique_ptr<IPairingDialog> dialog;
  ~DialogGuard() { dialog.reset(); }
};

}  // namespace

std::string NetworkTransport::DoPairingHandshake(SocketHandle socket) {
  net::SocketByteSource in(socket, [this, socket] { return ConnectionLive(socket); });
  wire::ClientHelloResult hello = wire::ReadClientHello(in);
  if (hello.status == wire::ClientHelloStatus::kClosed) {
    Log(channels::kNetwork, kLogInfo, "pair: client disconnected before Hello");
    return {};
  }
  if (hello.status == wire::ClientHelloStatus::kNotHello) {
    Log(channels::kNetwork, kLogInfo, "pair: expected ClientHello, got 0x%02x — dropping",
        hello.opcode);
    return {};
  }
  if (hello.status == wire::ClientHelloStatus::kMalformed) {
    Log(channels::kNetwork, kLogInfo, "pair: malformed ClientHello");
    return {};
  }
  const std::string id = std::move(hello.hello.id), name = std::move(hello.hello.name),
                    token = std::move(hello.hello.token);
  if (id.empty()) {
    Log(channels::kNetwork, kLogInfo, "pair: empty iPhone UUID");
    return {};
  }
  const std::string safeId = LogSafeText(id);
  const std::string safeName = LogSafeText(name);
  Log(channels::kNetwork, kLogInfo,
      "pair: Hello from id=%{public}s name=%{public}s token=%{public}s", safeId.c_str(),
      safeName.c_str(), token.empty() ? "<none>" : "<present>");

  if (!token.empty()) {
    const auto trusted = trusted::FindById(id);
    if (trusted && TokensEqual(trusted->token, token)) {
      Log(channels::kNetwork, kLogInfo, "pair: trusted reconnect id=%{public}s", safeId.c_str());
      SendPairingReply(socket, wire::kPairingAccepted, wire::ShortStringPayload(token).data(),
                       token.size() + 1);
      return token;
    }
    Log(channels::kNetwork, kLogInfo, "pair: token present but not trusted — challenging");
  }

  if (const int64_t lockedNs = pairingThrottle_.RemainingLockoutNs(); lockedNs > 0) {
    Log(channels::kNetwork, kLogInfo,
        "pair: code challenges refused for %lld s more after %u wrong codes — rejecting "
        "id=%{public}s",
        static_cast<long long>((lockedNs + 999'999'999) / 1'000'000'000),
        pairingThrottle_.ConsecutiveWrongCodes(), safeId.c_str());
    SendPairingReply(socket, wire::kPairingRejected, nullptr, 0);
    return {};
  }

  const std::string code = GeneratePairingCode();
  Log(channels::kNetwork, kLogInfo, "pair: challenge=%{public}s for %{public}s", code.c_str(),
      safeName.c_str());
  DialogGuard guard{dialogFactory_ ? dialogFactory_() : nullptr};
  if (guard.dialog) {
    guard.dialog->Show(code, name, [this, socket] {
      abandonedSocket_.store(socket);
      net::ShutdownReceive(socket);
    });
  } else {
    Log(channels::kNetwork, kLogInfo, "pair: IPairingDialog factory null — headless pairing");
  }
  SendPairingReply(socket, wire::kPairingCodeRequired, nullptr, 0);

  uint8_t opcode = 0;
  if (!in.ReadExactly(&opcode, 1)) {
    Log(channels::kNetwork, kLogInfo, "pair: disconnected while awaiting code");
    return {};
  }
  if (opcode != wire::kPairingCode) {
    Log(channels::kNetwork, kLogInfo, "pair: expected PairingCode, got 0x%02x — dropping", opcode);
    SendPairingReply(socket, wire::kPairingRejected, nullptr, 0);
    return {};
  }
  std::string submitted(6, '\0');
  if (!in.ReadExactly(reinterpret_cast<uint8_t*>(submitted.data()), submitted.size())) {
    Log(channels::kNetwork, kLogInfo, "pair: truncated PairingCode");
    return {};
  }
  if (!TokensEqual(submitted, code)) {
    const std::string safeSubmitted = LogSafeText(submitted);
    Log(channels::kNetwork, kLogInfo,
        "pair: code mismatch submitted=%{public}s expected=%{public}s", safeSubmitted.c_str(),
        code.c_str());
    pairingThrottle_.RecordWrongCode();
    SendPairingReply(socket, wire::kPairingRejected, nullptr, 0);
    return {};
  }
  pairingThrottle_.RecordSuccess();
  const std::string fresh = GeneratePairingToken();
  trusted::Upsert(TrustedPeer{id, name, fresh, UtcNowText()});
  Log(channels::kNetwork, kLogInfo, "pair: OK id=%{public}s name=%{public}s", safeId.c_str(),
      safeName.c_str());
  SendPairingReply(socket, wire::kPairingAccepted, wire::ShortStringPayload(fresh).data(),
                   fresh.size() + 1);
  return fresh;
}

}  // namespace Sorvane
