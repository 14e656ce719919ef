#include "sv-receiver/app/control_session.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "base/byte_order.h"
#include "net/control_reader.h"
#include "net/socket_byte_source.h"
#include "net/wire_opcodes.h"

namespace Sorvane::receiver {
namespace {

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Text(const std::vector<uint8_t>& payload, size_t from) {
  if (payload.empty() || from >= payload.size())
    return {};
  const size_t n = std::min<size_t>(payload[from - 1], payload.size() - from);
  return std::string(reinterpret_cast<const char*>(payload.data() + from), n);
}

}  // namespace

ControlSession::~ControlSession() {
  Close();
}

bool ControlSession::SendMessage(uint8_t opcode, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> bytes;
  bytes.push_back(opcode);
  bytes.insert(bytes.end(), payload.begin(), payload.end());
  std::lock_guard<std::mutex> lock(sendLock_);
  return socket_ != net::kInvalidSocket && net::SendExactly(socket_, bytes.data(), bytes.size());
}

void ControlSession::RequestKeyframe() {
  if (!closing_.load())
    SendMessage(wire::kRequestIdr, {});
}

std::string ControlSession::LoadToken() const {
  std::ifstream in(options_.tokenFile);
  std::string id, token;
  if (in >> id >> token && id == options_.id)
    return token;
  return {};
}

void ControlSession::StoreToken(const std::string& token) const {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(options_.tokenFile).parent_path(), ec);
  std::ofstream(options_.tokenFile, std::ios::trunc) << options_.id << ' ' << token << '\n';
  std::filesystem::permissions(
      options_.tokenFile, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
      std::filesystem::perm_options::replace, ec);
}

bool ControlSession::SendHello(const std::string& token) {
  std::vector<uint8_t> payload;
  const std::string* fields[] = {&options_.id, &options_.name, &token};
  for (const std::string* field : fields) {
    const std::vector<uint8_t> part = wire::ShortStringPayload(*field);
    payload.insert(payload.end(), part.begin(), part.end());
  }
  return SendMessage(wire::kClientHello, payload);
}

// The code as the user would type it: given, read from the plug-in's log, or asked for.
std::string ControlSession::ObtainCode() {
  if (!options_.code.empty())
    return options_.code;
  if (!options_.codeFromLog.empty()) {
    const std::string marker = "pair: challenge=";
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::string log = ReadWholeFile(options_.codeFromLog);
      const size_t at = log.rfind(marker);
      if (at != std::string::npos && at >= logOffsetAtConnect_ &&
          at + marker.size() + 6 <= log.size()) {
        return log.substr(at + marker.size(), 6);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return {};
  }
  std::cerr << "sv-receiver: enter the six-digit code shown by the plug-in: " << std::flush;
  std::string code;
  std::getline(std::cin, code);
  return code;
}

bool ControlSession::ConnectAndPair() {
  const auto started = std::chrono::steady_clock::now();
  const bool paired = Pair();
  pairingMs_ =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
  return paired;
}

bool ControlSession::Pair() {
  if (!options_.codeFromLog.empty())
    logOffsetAtConnect_ = ReadWholeFile(options_.codeFromLog).size();
  net::SocketLibraryAcquire();
  // The plug-in may still be starting: keep trying for a few seconds.
  for (int attempt = 0; attempt < 30 && socket_ == net::kInvalidSocket; ++attempt) {
    socket_ = net::ConnectTcp(options_.host, options_.port);
    if (socket_ == net::kInvalidSocket)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (socket_ == net::kInvalidSocket) {
    outcome_ = "connect failed";
    return false;
  }
  peerAddress_.store(net::RemoteAddress(socket_));
  const std::string token = LoadToken();
  if (!SendHello(token)) {
    outcome_ = "connection lost during hello";
    return false;
  }
  net::SocketByteSource source(socket_);
  for (;;) {
    const wire::ControlReadResult r = wire::ReadPluginMessage(source);
    if (r.status != wire::ControlReadStatus::kMessage) {
      outcome_ = "connection lost during pairing";
      return false;
    }
    HandleMessage(r.opcode, r.payload);
    if (r.opcode == wire::kPairingCodeRequired) {
      pairedWithCode_ = true;
      const std::string code = ObtainCode();
      if (code.size() != 6) {
        outcome_ = "no code";
        return false;
      }
      SendMessage(wire::kPairingCode, std::vector<uint8_t>(code.begin(), code.end()));
    } else if (r.opcode == wire::kPairingAccepted) {
      StoreToken(Text(r.payload, 1));
      outcome_ = pairedWithCode_ ? "accepted with code" : "accepted with token";
      return true;
    } else if (r.opcode == wire::kPairingRejected) {
      outcome_ = "rejected";
      return false;
    }
  }
}

void ControlSession::StartServing() {
  if (options_.sendSnapshot) {
    std::vector<uint8_t> snapshot = {static_cast<uint8_t>(options_.maxRes),
                                     static_cast<uint8_t>(options_.maxRes >> 8), options_.codec,
                                     options_.gopMode, options_.rateControl};
    const std::vector<uint8_t> engine = wire::ShortStringPayload(options_.engine);
    snapshot.insert(snapshot.end(), engine.begin(), engine.end());
    SendMessage(wire::kAppSettingsSnapshot, snapshot);
  } else {
    for (const auto& command : options_.settingCommands) {
      SendMessage(command[0], std::vector<uint8_t>(command.begin() + 1, command.end()));
    }
  }
  for (const auto& command : options_.commands) {
    SendMessage(command[0], std::vector<uint8_t>(command.begin() + 1, command.end()));
  }
  reader_ = std::thread(&ControlSession::ReadLoop, this);
}

void ControlSession::ReadLoop() {
  net::SocketByteSource source(socket_);
  for (;;) {
    const wire::ControlReadResult r = wire::ReadPluginMessage(source);
    if (r.status != wire::ControlReadStatus::kMessage) {
      if (!closing_.load()) {
        connectionLost_.store(true);
        std::cerr << "sv-receiver: control connection ended ("
                  << (r.status == wire::ControlReadStatus::kUnknownOpcode ? "unknown opcode"
                      : r.truncatedText                                   ? r.truncatedText
                                                                          : "closed")
                  << ")\n";
      }
      return;
    }
    HandleMessage(r.opcode, r.payload);
  }
}

void ControlSession::HandleMessage(uint8_t opcode, const std::vector<uint8_t>& p) {
  const auto rule = wire::PluginMessageRule(opcode);
  const std::string name = rule ? rule->name : "?";
  std::lock_guard<std::mutex> lock(stateLock_);
  ++messageCounts_[name];
  StreamDescription& d = description_;
  std::ostringstream line;
  line << name;
  switch (opcode) {
    case wire::kStreamInfo:
      d.streamWidth = GetU16LE(p.data());
      d.streamHeight = GetU16LE(p.data() + 2);
      d.streamFps = GetU16LE(p.data() + 4);
      d.frameCap = GetU32LE(p.data() + 6);
      line << ' ' << d.streamWidth << 'x' << d.streamHeight << " @ " << d.streamFps
           << " fps cap=" << d.frameCap;
      break;
    case wire::kSourceChanged: {
      d.sourceWidth = GetU16LE(p.data());
      d.sourceHeight = GetU16LE(p.data() + 2);
      const uint32_t bits = GetU32LE(p.data() + 4);
      std::memcpy(&d.sourceFps, &bits, sizeof bits);
      line << ' ' << d.sourceWidth << 'x' << d.sourceHeight << " @ " << d.sourceFps << " fps";
      break;
    }
    case wire::kCommandAck:
      ++ackCounts_[p[0]];
      line << " 0x" << std::hex << int(p[0]) << std::dec;
      break;
    case wire::kEncoderInfo:
      d.encoderInfo = Text(p, 1);
      d.encoderInfoHistory.push_back(d.encoderInfo);
      line << " \"" << d.encoderInfo << '"';
      break;
    case wire::kHostPlatform:
      d.platform = p[0];
      d.architecture = p[1];
      line << " platform=" << d.platform << " arch=" << d.architecture;
      break;
    case wire::kTransmitState:
      d.transmitState = p[0];
      line << ' ' << int(p[0]);
      break;
    case wire::kPlaybackState:
      ++d.playbackStateMessages;
      d.playbackState = p[0];
      line << ' ' << int(p[0]);
      break;
    case wire::kEncoderEngineList: {
      d.engines.clear();
      const size_t end = 1 + std::min<size_t>(p[0], p.size() - 1);
      size_t at = 2;  // inner: count byte at 1, then the entries
      while (at < end) {
        const size_t n = std::min<size_t>(p[at], end - at - 1);
        d.engines.emplace_back(reinterpret_cast<const char*>(p.data() + at + 1), n);
        at += 1 + n;
      }
      line << ' ' << (p.size() > 1 ? int(p[1]) : 0) << " engines";
      break;
    }
    default:
      break;
  }
  if (options_.verbose && opcode != wire::kHeartbeat)
    std::cout << "  <- " << line.str() << "\n";
}

void ControlSession::Close() {
  closing_.store(true);
  // The shutdown wakes the reader; the socket is closed only once it has ended, so its number
  // cannot be reused under a receive still running.
  if (socket_ != net::kInvalidSocket)
    net::ShutdownReceive(socket_);
  if (reader_.joinable())
    reader_.join();
  std::lock_guard<std::mutex> lock(sendLock_);  // no keyframe request is on its way
  if (socket_ != net::kInvalidSocket) {
    net::CloseSocket(socket_);
    socket_ = net::kInvalidSocket;
    net::SocketLibraryRelease();
  }
}

std::map<std::string, uint64_t> ControlSession::MessageCounts() const {
  std::lock_guard<std::mutex> lock(stateLock_);
  return messageCounts_;
}

std::map<int, uint64_t> ControlSession::AckCounts() const {
  std::lock_guard<std::mutex> lock(stateLock_);
  return ackCounts_;
}

StreamDescription ControlSession::Description() const {
  std::lock_guard<std::mutex> lock(stateLock_);
  return description_;
}

}  // namespace Sorvane::receiver
