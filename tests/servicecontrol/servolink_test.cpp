// Creating SvcUtil by its identifier: registration with corvane-regsvr,
// the failures a caller sees, and the library's own exports.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/com/server.h"
#include "servicecontrol/svc_util.h"

namespace corvane::com {
namespace {

namespace fs = std::filesystem;

fs::path BinDir() { return std::getenv("CORVANE_BIN_DIR"); }

class ServolinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/corvane-com-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    home_ = pattern;
    ::setenv("CORVANE_HOME", home_.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("CORVANE_HOME");
    fs::remove_all(home_);
  }
  int RegSvr(const std::string& arguments) {
    std::string command = "'" + (BinDir() / "corvane-regsvr").string() + "' " +
                          arguments + " >/dev/null 2>&1";
    return WEXITSTATUS(std::system(command.c_str()));
  }
  std::string HiveText() const {
    std::ifstream in(home_ / "registry.hive");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  void ExpectCannotCreate(const std::string& why) {
    try {
      CreateObject(servicecontrol::kSvcUtilProgId);
      ADD_FAILURE() << "created";
    } catch (const ComError& e) {
      EXPECT_EQ(e.Number, 429);
      EXPECT_NE(e.Description.find("ActiveX component can't create object \"Tarnwick.SvcUtil\""), std::string::npos);
      EXPECT_NE(e.Description.find(why), std::string::npos) << e.Description;
    }
  }
  fs::path home_;
};

TEST_F(ServolinkTest, RegisteredLibraryMakesTheObjectAndUnregisteringLeavesTheRegistryAsItWas) {
  const fs::path library = BinDir() / "libServolink.so";
  registry::Hive hive = registry::Hive::Machine();
  hive.Set(registry::kParametersKeyPath, "TableName", registry::Value::Sz("GAL"));
  const std::string before = HiveText();

  ASSERT_EQ(RegSvr("'" + library.string() + "'"), 0);
  EXPECT_EQ(RegisteredServer(hive, "tarnwick.svcutil"), library);
  auto svc = CreateObject<servicecontrol::SvcUtil>(servicecontrol::kSvcUtilProgId);
  EXPECT_TRUE(svc->hostname.empty() && svc->TargetService.empty());
  EXPECT_EQ(svc->TimeLimit, std::chrono::seconds(120));
  svc.reset();

  ASSERT_EQ(RegSvr("/u '" + library.string() + "'"), 0);
  EXPECT_EQ(HiveText(), before);
  ExpectCannotCreate("not registered");
}

TEST_F(ServolinkTest, UnregisteredIdentifierIsError429) { ExpectCannotCreate("corvane-regsvr"); }

TEST_F(ServolinkTest, MissingLibraryIsError429) {
  registry::Hive hive = registry::Hive::Machine();
  RegisterServer(hive, servicecontrol::kSvcUtilProgId, home_ / "libServolink.so");
  ExpectCannotCreate("cannot be loaded");
  EXPECT_EQ(RegSvr("'" + (home_ / "libServolink.so").string() + "'"), 3);
  EXPECT_EQ(RegSvr(""), 1);
}

TEST_F(ServolinkTest, LibraryServesOnlyItsIdentifierAndKnowsWhenObjectsLive) {
  std::string error;
  auto library = ServerLibrary::Load(BinDir() / "libServolink.so", &error);
  ASSERT_TRUE(library) << error;
  auto getClassObject = library->Export<DllGetClassObjectFunction>("DllGetClassObject");
  auto canUnloadNow = library->Export<DllCanUnloadNowFunction>("DllCanUnloadNow");
  ClassFactory* factory = nullptr;
  EXPECT_EQ(getClassObject("Tarnwick.Other", &factory), CLASS_E_CLASSNOTAVAILABLE);
  ASSERT_EQ(getClassObject("Tarnwick.SvcUtil", &factory), S_OK);
  auto object = factory->CreateInstance();
  EXPECT_EQ(canUnloadNow(), S_FALSE);
  object.reset();
  EXPECT_EQ(canUnloadNow(), S_OK);
}

}  // namespace
}  // namespace corvane::com
