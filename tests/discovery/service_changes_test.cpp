#include <gtest/gtest.h>

#include "sv-receiver/app/service_watch.h"

namespace Sorvane::receiver {
namespace {

using Lines = std::vector<std::string>;

TEST(ServiceChanges, OneLinePerChangeOfAnEntrySeenOnSeveralInterfaces) {
  ServiceChanges changes;
  const std::map<std::string, std::string> idle = {{"name", "Edit Bay"}, {"transmit", "0"}};
  std::map<std::string, std::string> active = idle;
  active["transmit"] = "1";
  EXPECT_EQ(changes.Found("t1", "Edit Bay #2", "2/0"), Lines{});
  EXPECT_EQ(changes.Found("t1", "Edit Bay #2", "3/0"), Lines{});
  EXPECT_EQ(changes.Resolved("t2", "Edit Bay #2", idle),
            Lines{"t2 appeared \"Edit Bay #2\" name=\"Edit Bay\" transmit=0"});
  EXPECT_EQ(changes.Resolved("t2", "Edit Bay #2", idle), Lines{}) << "the other interface's answer";
  EXPECT_EQ(changes.Resolved("t3", "Edit Bay #2", active),
            Lines{"t3 changed \"Edit Bay #2\" name=\"Edit Bay\" transmit=1"});
  EXPECT_EQ(changes.Removed("t4", "Edit Bay #2", "2/0"), Lines{}) << "still on the other one";
  EXPECT_EQ(changes.Removed("t5", "Edit Bay #2", "3/0"), Lines{"t5 disappeared \"Edit Bay #2\""});
  EXPECT_EQ(changes.Resolved("t6", "Edit Bay #2", idle), Lines{}) << "a late answer";
  EXPECT_EQ(changes.Removed("t6", "Edit Bay #2", "3/0"), Lines{});
  // Back again: a second appearance.
  changes.Found("t7", "Edit Bay #2", "2/0");
  EXPECT_EQ(changes.Resolved("t8", "Edit Bay #2", active).size(), 1u);
  EXPECT_EQ(changes.counts().appeared, 2);
  EXPECT_EQ(changes.counts().changed, 1);
  EXPECT_EQ(changes.counts().disappeared, 1);
}

TEST(ServiceChanges, AFlickerTooShortToResolveStillShows) {
  ServiceChanges changes;
  changes.Found("t1", "Studio", "2/0");
  EXPECT_EQ(changes.Removed("t2", "Studio", "2/0"),
            (Lines{"t2 appeared \"Studio\" (not resolved)", "t2 disappeared \"Studio\""}));
  EXPECT_EQ(changes.counts().appeared, 1);
  EXPECT_EQ(changes.counts().disappeared, 1);
}

}  // namespace
}  // namespace Sorvane::receiver
