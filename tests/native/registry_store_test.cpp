// The POSIX registry store as separate processes share it: where it lives,
// that it outlasts the process that wrote it, that concurrent writers lose
// nothing, and that any bytes survive the file format.
#include "platform/posix/registry_store.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "support/registry_sandbox.h"
#include "support/temp_dir.h"

namespace tavro::platform {
namespace {

using testing::readRegistryString;
using testing::writeRegistryString;

RegKey currentUser() { return registryRoot(RegRoot::kCurrentUser); }

// Runs `body` in a child process and returns its exit status.
template <typename Body>
int inChild(Body body) {
  const pid_t child = fork();
  if (child == 0) _exit(body());
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(RegistryStoreTest, ValuesWrittenByOneProcessAreReadByTheNext) {
  testing::RegistrySandbox sandbox;
  const std::string path = sandbox.basePath() + "\\TAVRO7";
  ASSERT_EQ(
      inChild([&] { return writeRegistryString(currentUser(), path, "Host", "10.1.2.3") ? 0 : 1; }),
      0);
  EXPECT_EQ(readRegistryString(currentUser(), path, "Host"), "10.1.2.3");
  EXPECT_TRUE(std::filesystem::exists(sandbox.storeDirectory() + "/HKEY_CURRENT_USER.reg"));
}

TEST(RegistryStoreTest, ConcurrentWritersLoseNoUpdate) {
  testing::RegistrySandbox sandbox;
  const std::string path = sandbox.basePath() + "\\Shared";
  constexpr int kWriters = 4;
  constexpr int kValuesEach = 15;
  std::vector<pid_t> children;
  for (int writer = 0; writer < kWriters; ++writer) {
    const pid_t child = fork();
    if (child == 0) {
      bool ok = true;
      for (int i = 0; i < kValuesEach; ++i) {
        const std::string name = "w" + std::to_string(writer) + "v" + std::to_string(i);
        ok = writeRegistryString(currentUser(), path + "\\" + std::to_string(writer), name.c_str(),
                                 name) &&
             ok;
      }
      _exit(ok ? 0 : 1);
    }
    children.push_back(child);
  }
  for (const pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int writer = 0; writer < kWriters; ++writer) {
    for (int i = 0; i < kValuesEach; ++i) {
      const std::string name = "w" + std::to_string(writer) + "v" + std::to_string(i);
      EXPECT_EQ(
          readRegistryString(currentUser(), path + "\\" + std::to_string(writer), name.c_str()),
          name);
    }
  }
}

struct LocationCase {
  const char* name;
  bool registryDir, configHome;
  const char* expectedUnder;  // relative to the case's temporary directory
};

class StoreLocationTest : public ::testing::TestWithParam<LocationCase> {};

TEST_P(StoreLocationTest, FollowsTheEnvironment) {
  const LocationCase& c = GetParam();
  testing::TempDir dir;
  const std::string previousHome = std::getenv("HOME") ? std::getenv("HOME") : "";
  testing::setEnv("HOME", (dir / "home").string());
  if (c.registryDir) {
    testing::setEnv("TAVRO_REGISTRY_DIR", (dir / "explicit").string());
  } else {
    testing::unsetEnv("TAVRO_REGISTRY_DIR");
  }
  if (c.configHome) {
    testing::setEnv("XDG_CONFIG_HOME", (dir / "config").string());
  } else {
    testing::unsetEnv("XDG_CONFIG_HOME");
  }
  const bool written = writeRegistryString(currentUser(), "Software\\TAVRO7", "Host", "h");
  testing::setEnv("HOME", previousHome);
  testing::unsetEnv("TAVRO_REGISTRY_DIR");
  testing::unsetEnv("XDG_CONFIG_HOME");
  ASSERT_TRUE(written);
  EXPECT_TRUE(std::filesystem::exists(dir / c.expectedUnder / "HKEY_CURRENT_USER.reg"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, StoreLocationTest,
    ::testing::Values(LocationCase{"ExplicitDirectoryWins", true, true, "explicit"},
                      LocationCase{"ConfigHome", false, true, "config/tavro/registry"},
                      LocationCase{"HomeConfig", false, false, "home/.config/tavro/registry"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RegistryFormatTest, AnyNameAndAnyBytesSurviveARoundTrip) {
  const std::string awkward = "a\\b=\"c\"[d]%e@\n\r\t\x01\xff end ";
  posixreg::Node hive;
  auto& child = hive.children["key [1]=%"];
  child = std::make_unique<posixreg::Node>();
  child->name = "Key [1]=%";
  child->values["\"odd\" = name"] = {"\"Odd\" = Name", kRegSz, awkward};
  child->values[""] = {"", kRegSz, std::string("with NUL\0", 9)};
  child->values["n"] = {"N", kRegDword, std::string("\x2a\0\0\x80", 4)};
  child->values["b"] = {"B", 7, std::string("x\0y\0\0", 5)};

  posixreg::Node back;
  posixreg::parse(posixreg::serialize(hive), back);
  ASSERT_EQ(back.children.count("key [1]=%"), 1u);
  const posixreg::Node& read = *back.children["key [1]=%"];
  EXPECT_EQ(read.name, "Key [1]=%");
  ASSERT_EQ(read.values.size(), 4u);
  for (const auto& [folded, value] : child->values) {
    ASSERT_EQ(read.values.count(folded), 1u) << folded;
    EXPECT_EQ(read.values.at(folded).name, value.name);
    EXPECT_EQ(read.values.at(folded).type, value.type);
    EXPECT_EQ(read.values.at(folded).data, value.data);
  }
}

}  // namespace
}  // namespace tavro::platform
