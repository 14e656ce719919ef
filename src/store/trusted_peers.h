#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/host_kind.h"

namespace Sorvane {

// A phone that completed pairing once and may reconnect with its token.
struct TrustedPeer {
  std::string id;
  std::string name;
  std::string token;
  std::string firstPaired;  // UTC "%Y-%m-%dT%H:%M:%SZ"
  bool operator==(const TrustedPeer&) const = default;
};

// The per-host list of trusted phones, one JSON line in the app-support folder. Every operation
// reads the file afresh under a process-wide lock; every change rewrites it atomically.
namespace trusted {

std::vector<TrustedPeer> LoadAll();
std::optional<TrustedPeer> FindById(const std::string& id);
// Adds the peer, or replaces all fields of the first one with its id; nothing without id/token.
void Upsert(const TrustedPeer& peer);
// Removes every peer with the id; the file is rewritten only when something was removed.
void Remove(const std::string& id);

// "trusted.json", or "trusted-<suffix>.json" for a host with a suffix.
std::string TrustedFileName(HostKind kind);
std::filesystem::path TrustedFilePath();
// The file's exact one-line form for a list.
std::string Serialize(const std::vector<TrustedPeer>& peers);
// The peers a text holds (those with id and token), in order.
std::vector<TrustedPeer> Parse(const std::string& text);

}  // namespace trusted
}  // namespace Sorvane
