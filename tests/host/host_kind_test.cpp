#include <gtest/gtest.h>

#include "base/host_kind.h"

namespace Sorvane {
namespace {

TEST(HostDetection, ClassifiesByExecutableNameOnly) {
  EXPECT_EQ(ClassifyHostExecutable("C:\\Program Files\\Adobe\\AfterFX.exe"),
            HostKind::AfterEffects);
  EXPECT_EQ(ClassifyHostExecutable("D:/tools/Adobe Media Encoder.exe"), HostKind::MediaEncoder);
  EXPECT_EQ(ClassifyHostExecutable("C:\\Adobe\\Adobe Premiere Pro.exe"), HostKind::PremierePro);
  EXPECT_EQ(ClassifyHostExecutable("ame.exe"), HostKind::MediaEncoder);
  EXPECT_EQ(ClassifyHostExecutable("C:\\premiere\\Resolve.exe"), HostKind::Unknown)
      << "only the file name counts, not the folder";
  EXPECT_EQ(ClassifyHostExecutable(""), HostKind::Unknown);
  EXPECT_EQ(ClassifyHostExecutable("ADOBE PREMIERE PRO.EXE"), HostKind::PremierePro);
}

TEST(HostDetection, LabelsPortsAndSuffixes) {
  struct Row {
    HostKind kind;
    const char* label;
    uint16_t port;
    const char* suffix;
  };
  for (const Row& row : {Row{HostKind::PremierePro, "Premiere Pro", 47100, ""},
                         Row{HostKind::AfterEffects, "After Effects", 47110, "ae"},
                         Row{HostKind::MediaEncoder, "Media Encoder", 47120, "ame"},
                         Row{HostKind::Unknown, "Unknown Host", 47130, "x"},
                         Row{static_cast<HostKind>(9), "Unknown Host", 47130, "x"}}) {
    EXPECT_STREQ(HostDisplayName(row.kind), row.label);
    EXPECT_EQ(ControlPortForHost(row.kind), row.port);
    EXPECT_EQ(HostFileSuffix(row.kind), row.suffix);
  }
}

}  // namespace
}  // namespace Sorvane
