// sv_state_worker: the other processes of the tests of files shared between processes.
//   write PROFILE NAME THREADS COUNT  threads each make COUNT changes of install.json and the
//                                     trusted list, checking that each one landed
//   read PROFILE NAME                 reads both files the way another program would, checking
//                                     that each read is whole, until PROFILE/stop appears
//   log PROFILE NAME ROUNDS LINES     in each round r: waits for PROFILE/go-r, logs LINES lines,
//                                     signals PROFILE/NAME.done-r
//   hold MS READY FILE...             holds the files without sharing (Windows)
// Every mode but hold signals PROFILE/NAME.ready first; write and read then wait for PROFILE/go.
// What a worker saw goes to PROFILE/NAME.result, failures to standard error; the exit code is
// their count (at most 100).
#include <atomic>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "diag/log.h"
#include "store/app_paths.h"
#include "store/install_identity.h"
#include "store/json_text.h"
#include "store/other_process.h"
#include "store/state_file.h"
#include "store/trusted_peers.h"

namespace Sorvane::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const LogChannel kWorkerChannel{"com.sorvane.plugin", "state-worker"};

struct Worker {
  fs::path profile;
  std::string name;
  std::atomic<int> failures{0};
  std::string result;  // written by the main thread once the others are done

  void Fail(const std::string& what) {
    std::fprintf(stderr, "sv_state_worker %s: %s\n", name.c_str(), what.c_str());
    ++failures;
  }
  void Report(const std::string& line) { result += line + "\n"; }
  // Ready, then off at the test's word, so every worker starts at the same moment.
  bool StartTogether() {
    Signal(profile / (name + ".ready"));
    if (WaitForFile(profile / "go", 120s))
      return true;
    Fail("no go within two minutes");
    return false;
  }
  int Finish() {
    std::ofstream(profile / (name + ".result"), std::ios::binary) << result;
    return failures > 100 ? 100 : failures.load();
  }
};

TrustedPeer Phone(const std::string& id) {
  return TrustedPeer{id, "Phone " + id, std::string(64, 'a'), "2026-12-08T07:00:00Z"};
}

void ChangeSetting(int round) {
  switch (round % 3) {
    case 0:
      installid::SetName("Desk " + std::to_string(round));
      break;
    case 1:
      installid::SetDiscoverable(round % 2 == 0);
      break;
    default:
      installid::SetEnableAsyncHwEncoders(round % 2 == 0);
  }
}

// Each fourth change adds a phone that stays; the others add one, change a setting, forget the
// phone added just before.
void WriteChanges(Worker& worker, const std::string& prefix, int count, const std::string& id) {
  for (int i = 0; i < count; ++i) {
    const std::string phone = prefix + std::to_string(i);
    if (i % 2 == 0) {
      trusted::Upsert(Phone(phone));
      if (!trusted::FindById(phone))
        worker.Fail("added " + phone + " but it is not there");
    } else if (i % 4 == 1) {
      ChangeSetting(i / 4);
    } else {
      const std::string previous = prefix + std::to_string(i - 1);
      trusted::Remove(previous);
      if (trusted::FindById(previous))
        worker.Fail("forgot " + previous + " but it is still there");
    }
    const std::string now = installid::LoadOrCreate().id;
    if (now != id)
      worker.Fail("install id changed from " + id + " to " + now);
  }
}

int RunWriters(Worker& worker, int threads, int count) {
  if (!worker.StartTogether())
    return worker.Finish();
  std::mutex idLock;
  std::string processId;  // guarded by idLock
  std::vector<std::thread> running;
  for (int t = 0; t < threads; ++t) {
    running.emplace_back([&, t] {
      const std::string id = installid::LoadOrCreate().id;
      {
        std::lock_guard<std::mutex> lock(idLock);
        if (processId.empty())
          processId = id;
        if (id != processId)
          worker.Fail("two install ids in one process: " + processId + " and " + id);
      }
      WriteChanges(worker, worker.name + "-" + std::to_string(t) + "-", count, id);
    });
  }
  for (std::thread& thread : running)
    thread.join();
  worker.Report("id=" + processId);
  return worker.Finish();
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++n;
  return n;
}

void CheckIdentityText(Worker& worker, const std::string& text, std::string& seenId) {
  const std::vector<JsonStringMembers> objects = ReadJsonObjects(text);
  const auto id = objects.size() == 1 ? objects[0].find("id") : JsonStringMembers::const_iterator{};
  if (objects.size() != 1 || id == objects[0].end() || id->second.empty()) {
    worker.Fail("install.json read torn: " + text);
    return;
  }
  if (seenId.empty())
    seenId = id->second;
  if (id->second != seenId)
    worker.Fail("install.json holds a second id: " + id->second + " after " + seenId);
}

void CheckTrustedText(Worker& worker, const std::string& text) {
  const bool whole =
      text.size() >= 3 && text.front() == '[' && text.substr(text.size() - 2) == "]\n";
  if (!whole || trusted::Parse(text).size() != Count(text, "{\"id\":"))
    worker.Fail("trusted list read torn: " + text.substr(0, 200));
}

int RunReader(Worker& worker) {
  if (!worker.StartTogether())
    return worker.Finish();
  const fs::path identityFile = AppSupportDir() / "install.json";
  const fs::path trustedFile = trusted::TrustedFilePath();
  std::string seenId;
  long wholeReads = 0, unreadable = 0;
  for (long round = 0; !fs::exists(worker.profile / "stop"); ++round) {
    // Lets go of the files between reads: under Wine an open file cannot be replaced at all.
    std::this_thread::sleep_for(1ms);
    for (const fs::path& file : {identityFile, trustedFile}) {
      const statefile::ReadResult read = statefile::ReadText(file);
      if (read.status == statefile::ReadStatus::Unreadable) {
        ++unreadable;
      } else if (read.status == statefile::ReadStatus::Text) {
        ++wholeReads;
        if (file == identityFile)
          CheckIdentityText(worker, read.text, seenId);
        else
          CheckTrustedText(worker, read.text);
      }
    }
    if (round % 16 == 0) {  // and through the store, as another host would
      trusted::LoadAll();
      installid::Discoverable();
    }
  }
  worker.Report("reads=" + std::to_string(wholeReads));
  worker.Report("unreadable=" + std::to_string(unreadable));
  worker.Report("id=" + seenId);
  return worker.Finish();
}

// The rounds start at the test's word, each once the test has put an oversized log in place, so
// both loggers find it too big at their first line.
int RunLogger(Worker& worker, int rounds, int lines) {
  // A disk as slow as one under a virus scanner: a rotation takes a while.
  logdetail::SetRotationHook([] { std::this_thread::sleep_for(20ms); });
  Signal(worker.profile / (worker.name + ".ready"));
  const std::string padding(100, 'x');
  for (int round = 0; round < rounds; ++round) {
    const std::string r = std::to_string(round);
    if (!WaitForFile(worker.profile / ("go-" + r), 120s, Poll::Spin)) {
      worker.Fail("no go for round " + r);
      break;
    }
    for (int i = 0; i < lines; ++i)
      Log(kWorkerChannel, kLogInfo, "%s %02d %06d %s", worker.name.c_str(), round, i,
          padding.c_str());
    Signal(worker.profile / (worker.name + ".done-" + r));
  }
  return worker.Finish();
}

int Run(const std::vector<std::string>& args) {
  const std::string mode = args.empty() ? "" : args[0];
  if (mode == "hold" && args.size() >= 4) {
    std::vector<fs::path> files(args.begin() + 3, args.end());
    return HoldWithoutSharing(files, args[2], std::chrono::milliseconds(std::stoi(args[1]))) ? 0
                                                                                             : 1;
  }
  if (args.size() < 3) {
    std::fprintf(stderr, "usage: sv_state_worker write|read|log PROFILE NAME ... | hold ...\n");
    return 2;
  }
  Worker worker;
  worker.profile = args[1];
  worker.name = args[2];
  UseProfile(worker.profile);
  if (mode == "write" && args.size() == 5)
    return RunWriters(worker, std::stoi(args[3]), std::stoi(args[4]));
  if (mode == "read" && args.size() == 3)
    return RunReader(worker);
  if (mode == "log" && args.size() == 5)
    return RunLogger(worker, std::stoi(args[3]), std::stoi(args[4]));
  std::fprintf(stderr, "sv_state_worker: unknown mode or arguments\n");
  return 2;
}

}  // namespace
}  // namespace Sorvane::test

int main(int argc, char** argv) {
  return Sorvane::test::Run(std::vector<std::string>(argv + 1, argv + argc));
}
