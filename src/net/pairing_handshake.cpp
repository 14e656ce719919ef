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

std::string NetworkTransport::DoPairingHandshake(const ConnectionPtr& connection) {
  // The hello must come within its time; the code may take as long as a person needs.
  const int64_t helloDeadline = connection->acceptedNs + kHelloTimeoutNs;
  net::SocketByteSource helloSource(connection->socket, [this, &connection, helloDeadline] {
    return ConnectionLive(*connection) && clock_.NowNs() < helloDeadline;
  });
  wire::ClientHelloResult hello = wire::ReadClientHello(helloSource);
  if (hello.status != wire::ClientHelloStatus::kHello && ConnectionLive(*connection) &&
      clock_.NowNs() >= helloDeadline) {
    Log(channels::kNetwork, kLogInfo, "pair: no complete ClientHello within %lld s — closing",
        static_cast<long long>(kHelloTimeoutNs / 1'000'000'000));
    return {};
  }
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
  Log(channels::kNetwork, kLogInfo,
      "pair: Hello from id=%{public}s name=%{public}s token=%{public}s", safeId.c_str(),
      LogSafeText(name).c_str(), token.empty() ? "<none>" : "<present>");

  if (!token.empty()) {
    const auto trusted = trusted::FindById(id);
    if (trusted && TokensEqual(trusted->token, token)) {
      Log(channels::kNetwork, kLogInfo, "pair: trusted reconnect id=%{public}s", safeId.c_str());
      SendPairingReply(connection, wire::kPairingAccepted, wire::ShortStringPayload(token).data(),
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
    SendPairingReply(connection, wire::kPairingRejected, nullptr, 0);
    return {};
  }
  if (int64_t waitNs = 0; !pairingThrottle_.TakeDialog(&waitNs)) {
    Log(channels::kNetwork, kLogInfo,
        "pair: too many pairing requests — no dialog for %lld s more, rejecting id=%{public}s",
        static_cast<long long>((waitNs + 999'999'999) / 1'000'000'000), safeId.c_str());
    SendPairingReply(connection, wire::kPairingRejected, nullptr, 0);
    return {};
  }
  return ChallengeWithCode(connection, id, name);
}

std::string NetworkTransport::ChallengeWithCode(const ConnectionPtr& connection,
                                                const std::string& id, const std::string& name) {
  const std::string safeId = LogSafeText(id);
  const std::string safeName = LogSafeText(name);
  const std::string code = codeSource_ ? codeSource_() : std::string();
  if (code.size() != 6) {
    // A guessable code would let anyone pair: better no pairing at all.
    Log(channels::kNetwork, kLogError,
        "pair: no random pairing code available — refusing the challenge for id=%{public}s",
        safeId.c_str());
    return {};
  }
  Log(channels::kNetwork, kLogInfo, "pair: challenge=%{public}s for %{public}s", code.c_str(),
      safeName.c_str());
  DialogGuard guard{dialogFactory_ ? dialogFactory_() : nullptr};
  if (guard.dialog) {
    ControlConnection* raw = connection.get();
    guard.dialog->Show(code, name, [raw] {
      raw->abandoned.store(true);
      net::ShutdownReceive(raw->socket);
    });
  } else {
    Log(channels::kNetwork, kLogInfo, "pair: IPairingDialog factory null — headless pairing");
  }
  SendPairingReply(connection, wire::kPairingCodeRequired, nullptr, 0);

  net::SocketByteSource in(connection->socket,
                           [this, &connection] { return ConnectionLive(*connection); });
  uint8_t opcode = 0;
  if (!in.ReadExactly(&opcode, 1)) {
    Log(channels::kNetwork, kLogInfo, "pair: disconnected while awaiting code");
    return {};
  }
  if (opcode != wire::kPairingCode) {
    Log(channels::kNetwork, kLogInfo, "pair: expected PairingCode, got 0x%02x — dropping", opcode);
    SendPairingReply(connection, wire::kPairingRejected, nullptr, 0);
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
    SendPairingReply(connection, wire::kPairingRejected, nullptr, 0);
    return {};
  }
  pairingThrottle_.RecordSuccess();
  const std::string fresh = tokenSource_ ? tokenSource_() : std::string();
  if (fresh.empty()) {
    Log(channels::kNetwork, kLogError,
        "pair: no random token available — refusing to pair id=%{public}s", safeId.c_str());
    return {};
  }
  trusted::Upsert(TrustedPeer{id, name, fresh, UtcNowText()});
  Log(channels::kNetwork, kLogInfo, "pair: OK id=%{public}s name=%{public}s", safeId.c_str(),
      safeName.c_str());
  SendPairingReply(connection, wire::kPairingAccepted, wire::ShortStringPayload(fresh).data(),
                   fresh.size() + 1);
  return fresh;
}

}  // namespace Sorvane
