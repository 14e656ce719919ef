#include "store/trusted_peers.h"

#include <algorithm>
#include <mutex>

#include "diag/log_channels.h"
#include "diag/log_text.h"
#include "store/app_paths.h"
#include "store/json_text.h"
#include "store/state_file.h"

namespace Sorvane::trusted {
namespace {

std::mutex& StoreLock() {
  static std::mutex lock;
  return lock;
}

// The process-wide lock and the file's lock, for one whole operation on the host's file.
struct FileLock : statefile::UpdateLock {
  FileLock() : statefile::UpdateLock(StoreLock(), TrustedFilePath(), channels::kTrusted) {}
};

const statefile::WriteMessages kWriteMessages{"write: open(%{public}s) failed",
                                              "write: write failed",
                                              "write: rename(%{public}s -> %{public}s) failed: "
                                              "%{public}s"};

// The stored list, unless the file is there but cannot be read.
std::optional<std::vector<TrustedPeer>> Load() {
  const statefile::ReadResult read =
      statefile::ReadPatiently(TrustedFilePath(), channels::kTrusted);
  if (read.status == statefile::ReadStatus::Unreadable)
    return std::nullopt;
  return read.status == statefile::ReadStatus::Text ? Parse(read.text) : std::vector<TrustedPeer>{};
}

bool Save(const FileLock& lock, const std::vector<TrustedPeer>& peers) {
  return statefile::WriteAtomically(lock, TrustedFilePath(), Serialize(peers), channels::kTrusted,
                                    kWriteMessages);
}

std::string Member(const char* key, const std::string& value) {
  return std::string("\"") + key + "\":\"" + JsonEscape(value) + "\"";
}

}  // namespace

std::string TrustedFileName(HostKind kind) {
  const std::string suffix = HostFileSuffix(kind);
  return suffix.empty() ? std::string("trusted.json") : "trusted-" + suffix + ".json";
}

std::filesystem::path TrustedFilePath() {
  return AppSupportDir() / TrustedFileName(DetectHost());
}

std::string Serialize(const std::vector<TrustedPeer>& peers) {
  std::string text = "[";
  for (size_t i = 0; i < peers.size(); ++i) {
    if (i > 0)
      text += ',';
    const TrustedPeer& p = peers[i];
    text += "{" + Member("id", p.id) + "," + Member("name", p.name) + "," +
            Member("token", p.token) + "," + Member("firstPaired", p.firstPaired) + "}";
  }
  return text + "]\n";
}

std::vector<TrustedPeer> Parse(const std::string& text) {
  std::vector<TrustedPeer> peers;
  for (JsonStringMembers& object : ReadJsonObjects(text)) {
    TrustedPeer peer{object["id"], object["name"], object["token"], object["firstPaired"]};
    if (!peer.id.empty() && !peer.token.empty())
      peers.push_back(std::move(peer));
  }
  return peers;
}

std::vector<TrustedPeer> LoadAll() {
  const FileLock lock;
  return Load().value_or(std::vector<TrustedPeer>{});
}

std::optional<TrustedPeer> FindById(const std::string& id) {
  if (id.empty())
    return std::nullopt;
  const FileLock lock;
  for (TrustedPeer& peer : Load().value_or(std::vector<TrustedPeer>{})) {
    if (peer.id == id)
      return std::move(peer);
  }
  return std::nullopt;
}

// A list that cannot be read is never rewritten: the other phones would be dropped from it.
void Upsert(const TrustedPeer& peer) {
  if (peer.id.empty() || peer.token.empty())
    return;
  EnsureAppSupportDir();
  const FileLock lock;
  std::optional<std::vector<TrustedPeer>> peers = Load();
  if (!peers)
    return;
  const auto existing = std::find_if(peers->begin(), peers->end(),
                                     [&](const TrustedPeer& p) { return p.id == peer.id; });
  const bool updated = existing != peers->end();
  if (updated) {
    *existing = peer;
  } else {
    peers->push_back(peer);
  }
  if (Save(lock, *peers)) {
    Log(channels::kTrusted, kLogInfo, "%{public}s peer id=%{public}s name=%{public}s",
        updated ? "updated" : "added", LogSafeText(peer.id).c_str(),
        LogSafeText(peer.name).c_str());
  }
}

void Remove(const std::string& id) {
  if (id.empty())
    return;
  EnsureAppSupportDir();
  const FileLock lock;
  std::optional<std::vector<TrustedPeer>> peers = Load();
  if (!peers)
    return;
  const size_t before = peers->size();
  peers->erase(std::remove_if(peers->begin(), peers->end(),
                              [&](const TrustedPeer& p) { return p.id == id; }),
               peers->end());
  if (peers->size() == before)
    return;
  Save(lock, *peers);
  Log(channels::kTrusted, kLogInfo, "removed peer id=%{public}s", LogSafeText(id).c_str());
}

}  // namespace Sorvane::trusted
