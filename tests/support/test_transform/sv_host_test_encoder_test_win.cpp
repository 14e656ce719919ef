// sv-host's --test-encoder: the transform it registers is listed where the plug-in's encoder
// looks for that mode, and the install's asynchronous switch follows the mode.
#include <gtest/gtest.h>

#include <sstream>

#include "store/install_identity.h"
#include "support/test_transform/enumeration_test_helpers_win.h"
#include "sv-host/test_encoder.h"

namespace Sorvane::test {
namespace {

class SvHostTestEncoder : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    MFStartup(MF_VERSION, MFSTARTUP_LITE);
  }
  void TearDown() override {
    MFShutdown();
    CoUninitialize();
  }
};

// The name between the quotes of sv-host's "test encoder registered" line.
std::string RegisteredName(const std::string& progress) {
  const size_t open = progress.find('"');
  const size_t close = progress.find('"', open + 1);
  return open == std::string::npos || close == std::string::npos
             ? std::string()
             : progress.substr(open + 1, close - open - 1);
}

bool Listed(UINT32 flags, const std::string& name) {
  const std::vector<std::string> names = EnumeratedNames(flags);
  return std::find(names.begin(), names.end(), name) != names.end();
}

UINT32 AsyncAttribute(const std::string& name) {
  std::vector<CLSID> clsids;
  const std::vector<std::string> names = EnumeratedNames(MFT_ENUM_FLAG_ALL, &clsids);
  const auto it = std::find(names.begin(), names.end(), name);
  if (it == names.end())
    return 99;
  ComRef<IMFTransform> transform;
  ComRef<IMFAttributes> attributes;
  if (FAILED(ActivateThroughEnumeration(clsids[it - names.begin()], MFT_ENUM_FLAG_ALL,
                                        transform.Put())) ||
      FAILED(transform->GetAttributes(attributes.Put())))
    return 98;
  return MFGetAttributeUINT32(attributes.Get(), MF_TRANSFORM_ASYNC, 97);
}

TEST_F(SvHostTestEncoder, EachModeRegistersItsTransformAndSetsTheAsyncSwitch) {
  for (const bool async : {true, false, true}) {
    SCOPED_TRACE(async ? "async" : "sync");
    std::ostringstream progress;
    std::string error;
    auto session = hostsim::StartTestEncoder(async ? "async" : "sync", progress, &error);
    ASSERT_TRUE(session) << error;
    const std::string name = RegisteredName(progress.str());
    ASSERT_FALSE(name.empty()) << progress.str();
    EXPECT_EQ(installid::EnableAsyncHwEncoders(), async);
    // Hardware either way; the asynchronous one also where asynchronous transforms are listed.
    EXPECT_TRUE(Listed(MFT_ENUM_FLAG_HARDWARE, name));
    EXPECT_EQ(Listed(MFT_ENUM_FLAG_ASYNCMFT, name), async);
    EXPECT_EQ(AsyncAttribute(name), async ? 1u : 0u);
    session.reset();
    EXPECT_FALSE(Listed(MFT_ENUM_FLAG_ALL, name));
  }
}

TEST_F(SvHostTestEncoder, AnUnknownModeIsRefusedWithoutRegistering) {
  const size_t before = EnumeratedNames(MFT_ENUM_FLAG_ALL).size();
  std::ostringstream progress;
  std::string error;
  EXPECT_FALSE(hostsim::StartTestEncoder("fast", progress, &error));
  EXPECT_NE(error.find("sync or async"), std::string::npos) << error;
  EXPECT_EQ(EnumeratedNames(MFT_ENUM_FLAG_ALL).size(), before);
}

}  // namespace
}  // namespace Sorvane::test
