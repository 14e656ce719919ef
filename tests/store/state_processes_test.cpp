#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "store/install_identity.h"
#include "store/other_process.h"
#include "store/store_test_support.h"
#include "store/trusted_peers.h"

namespace Sorvane {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kWriterThreads = 3;
constexpr int kChangesPerThread = 200;

// Worker processes that share one profile and start at the same moment.
class Workers {
 public:
  explicit Workers(fs::path profile) : profile_(std::move(profile)) {
    std::error_code ec;
    for (const char* sign : {"go", "stop"})
      fs::remove(profile_ / sign, ec);
  }

  void Start(const std::string& mode, const std::string& name,
             const std::vector<std::string>& more = {}) {
    std::vector<std::string> args{mode, profile_.string(), name};
    args.insert(args.end(), more.begin(), more.end());
    std::error_code ec;
    fs::remove(profile_ / (name + ".ready"), ec);
    fs::remove(profile_ / (name + ".result"), ec);
    auto process = test::OtherProcess::Start(test::WorkerProgram(), args);
    ASSERT_NE(process, nullptr) << test::WorkerProgram();
    running_[name] = std::move(process);
  }

  void Go() {
    for (const auto& [name, process] : running_)
      ASSERT_TRUE(test::WaitForFile(profile_ / (name + ".ready"), 120s)) << name;
    test::Signal(profile_ / "go");
  }

  // The worker's exit code (its count of failed checks).
  int Wait(const std::string& name) { return running_.at(name)->Wait(300s); }

  void Stop() { test::Signal(profile_ / "stop"); }

  std::string Result(const std::string& name, const std::string& key) {
    std::istringstream lines(test::ReadFile(profile_ / (name + ".result")));
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind(key + "=", 0) == 0)
        return line.substr(key.size() + 1);
    }
    return {};
  }

 private:
  fs::path profile_;
  std::map<std::string, std::unique_ptr<test::OtherProcess>> running_;
};

// Two hosts start together on a first run and keep pairing phones and changing settings from
// several threads each, while a third program reads both files.
TEST(StateFilesAcrossProcesses, TwoWritersAndAReaderKeepOneIdAndEveryPhone) {
  test::ForgetState();
  Workers workers(test::ProfileRoot());
  const std::vector<std::string> shape{std::to_string(kWriterThreads),
                                       std::to_string(kChangesPerThread)};
  workers.Start("write", "A", shape);
  workers.Start("write", "B", shape);
  workers.Start("read", "R");
  workers.Go();
  EXPECT_EQ(workers.Wait("A"), 0);
  EXPECT_EQ(workers.Wait("B"), 0);
  workers.Stop();
  EXPECT_EQ(workers.Wait("R"), 0) << "every read was whole and held the one id";

  const std::string id = installid::LoadOrCreate().id;
  EXPECT_EQ(workers.Result("A", "id"), id);
  EXPECT_EQ(workers.Result("B", "id"), id);
  EXPECT_EQ(workers.Result("R", "id"), id);
  EXPECT_GT(std::stol("0" + workers.Result("R", "reads")), 0) << "the reader saw the files";
  const std::string log = test::TestLog();
  EXPECT_EQ(test::Count(log, "install identity created"), 1u);
  EXPECT_EQ(log.find(":installid:ERROR]"), std::string::npos) << "no write failed";
  EXPECT_EQ(log.find(":trusted:ERROR]"), std::string::npos) << "no write failed";

  std::set<std::string> expected;
  for (const char* writer : {"A", "B"}) {
    for (int t = 0; t < kWriterThreads; ++t) {
      for (int i = 0; i < kChangesPerThread; i += 4)
        expected.insert(std::string(writer) + "-" + std::to_string(t) + "-" + std::to_string(i));
    }
  }
  std::set<std::string> ids;
  for (const TrustedPeer& peer : trusted::LoadAll())
    ids.insert(peer.id);
  EXPECT_EQ(ids, expected);
}

// A virus scanner or backup agent holds both files without read sharing while the host starts
// and a phone pairs.
TEST(StateFilesAcrossProcesses, FilesHeldByAnotherProgramKeepTheIdAndThePhones) {
  test::ForgetState();
  const InstallIdentity stored = installid::LoadOrCreate();
  trusted::Upsert({"earlier-1", "One", std::string(64, 'a'), "2026-12-01T10:00:00Z"});
  trusted::Upsert({"earlier-2", "Two", std::string(64, 'b'), "2026-12-01T10:00:00Z"});
  const fs::path identityFile = AppSupportDir() / "install.json";
  const std::string identityText = test::ReadFile(identityFile);
  const test::LogMark mark = test::MarkLog();

  auto held = test::MakeUnreadable({identityFile, trusted::TrustedFilePath()}, 300ms);
  ASSERT_NE(held, nullptr);
  std::thread pairing([] {
    trusted::Upsert({"new", "New", std::string(64, 'c'), "2026-12-08T10:00:00Z"});
  });
  const InstallIdentity loaded = installid::LoadOrCreate();
  pairing.join();
  held.reset();

  EXPECT_EQ(loaded.id, stored.id);
  EXPECT_EQ(test::ReadFile(identityFile), identityText);
  std::set<std::string> ids;
  for (const TrustedPeer& peer : trusted::LoadAll())
    ids.insert(peer.id);
  EXPECT_EQ(ids, (std::set<std::string>{"earlier-1", "earlier-2", "new"}));
  const std::string log = test::LogSince(mark);
  EXPECT_NE(log.find("install.json cannot be read"), std::string::npos) << "it was held: " << log;
  EXPECT_EQ(log.find("install identity created"), std::string::npos);
}

// Whole lines of a log file, and the part after its last line end (empty when it ends whole).
std::vector<std::string> LinesOf(const std::string& text, std::string* rest) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  *rest = text.substr(start);
  return lines;
}

// A log just past the rotation size, in whole lines, as the other plug-in or host left it.
std::string OversizedLog() {
  std::string text;
  for (int i = 0; text.size() <= 4u * 1024 * 1024; ++i)
    text += "[2026-12-01 10:00:00.000 com.sorvane.plugin:main:INFO] earlier " + std::to_string(i) +
            " " + std::string(900, 'e') + "\r\n";
  return text;
}

// Two processes of one host kind (or the two plug-ins of one host) find the log too big at once:
// one of them rotates it, and the archive and the new log keep every line whole. Each round
// starts both at the same moment on a freshly oversized log, and a rotation takes a while there,
// as on a slow disk: time for a second rotation to race the first.
TEST(LogAcrossProcesses, TwoWritersRotateOnceAndKeepEveryLine) {
  constexpr int kRounds = 10;
  constexpr int kLines = 40;
  const fs::path profile = test::MakeTempDir("log-profile");
  Workers workers(profile);
  workers.Start("log", "A", {std::to_string(kRounds), std::to_string(kLines)});
  workers.Start("log", "B", {std::to_string(kRounds), std::to_string(kLines)});
  for (const char* name : {"A", "B"})
    ASSERT_TRUE(test::WaitForFile(profile / (std::string(name) + ".ready"), 120s)) << name;

  const fs::path folder = profile / "local" / "Sorvane";
  const fs::path current = folder / LogFileNameFor(HostKind::Unknown);
  fs::path archive = current;
  archive += ".1";
  fs::create_directories(folder);
  const std::string earlier = OversizedLog();
  const std::regex line(R"(\[[0-9: .-]{23} com\.sorvane\.plugin:state-worker:INFO\] )"
                        R"(([AB]) (\d\d) (\d{6}) x{100})");
  for (int round = 0; round < kRounds; ++round) {
    const std::string r = std::to_string(round);
    std::error_code ec;
    fs::remove(archive, ec);
    std::ofstream(current, std::ios::binary | std::ios::trunc) << earlier;
    test::Signal(profile / ("go-" + r));
    for (const char* name : {"A", "B"})
      ASSERT_TRUE(test::WaitForFile(profile / (std::string(name) + ".done-" + r), 120s));

    const std::string archived = test::ReadFile(archive);
    ASSERT_EQ(archived.substr(0, earlier.size()), earlier) << "round " << r << ": lost the archive";
    std::set<std::string> seen;
    std::string rest;
    for (const std::string& text : {archived.substr(earlier.size()), test::ReadFile(current)}) {
      for (const std::string& one : LinesOf(text, &rest)) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(one, match, line)) << "round " << r << ": " << one;
        EXPECT_EQ(match[2], (round < 10 ? "0" : "") + r);
        EXPECT_TRUE(seen.insert(match[1].str() + match[3].str()).second) << "twice: " << one;
      }
      EXPECT_EQ(rest, "") << "round " << r << ": a file ends inside a line";
    }
    ASSERT_EQ(seen.size(), 2u * kLines) << "round " << r << ": lines lost";
  }
  EXPECT_EQ(workers.Wait("A"), 0);
  EXPECT_EQ(workers.Wait("B"), 0);
}

}  // namespace
}  // namespace Sorvane
