// Self-registration of the real shared library, loaded the way a registration
// tool loads it: it must find itself by its own file name, write its real
// path, and fail with -101 under any other name.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "com/class_id.h"
#include "com/com_types.h"
#include "platform/registry.h"
#include "support/notification_spy.h"
#include "support/registry_sandbox.h"
#include "support/temp_dir.h"

namespace tavro::com {
namespace {

using platform::RegKey;
using platform::RegRoot;
using testing::readRegistryString;
using testing::registryKeyExists;

using EntryPoint = HResult (*)();

constexpr char kClassPath[] = "CLSID\\{B7C1E3A4-5D2F-4E8B-9A61-3F0D7C25E914}";
constexpr char kDriverPath[] = "SOFTWARE\\ASIO\\TAVRO Driver";

RegKey classesRoot() { return platform::registryRoot(RegRoot::kClassesRoot); }
RegKey localMachine() { return platform::registryRoot(RegRoot::kLocalMachine); }

class Library {
 public:
  explicit Library(const std::string& path)
      : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {}
  ~Library() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  bool loaded() const { return handle_ != nullptr; }
  EntryPoint entry(const char* name) const {
    return reinterpret_cast<EntryPoint>(dlsym(handle_, name));
  }

 private:
  void* handle_;
};

TEST(RegistrationLibraryTest, RegistersItsOwnPathAndUnregistersWithoutComplaint) {
  testing::RegistrySandbox sandbox;
  testing::NotificationSpy spy;
  Library library(TAVRO_DRIVER_LIBRARY);
  ASSERT_TRUE(library.loaded()) << dlerror();

  ASSERT_EQ(library.entry("DllRegisterServer")(), kSOk);
  std::string expectedPath = TAVRO_DRIVER_LIBRARY;
  for (char& c : expectedPath) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(
      readRegistryString(classesRoot(), std::string(kClassPath) + "\\InprocServer32", nullptr),
      expectedPath);
  EXPECT_EQ(readRegistryString(localMachine(), kDriverPath, "CLSID"),
            "{B7C1E3A4-5D2F-4E8B-9A61-3F0D7C25E914}");

  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(library.entry("DllUnregisterServer")(), kSOk);
    EXPECT_FALSE(registryKeyExists(classesRoot(), kClassPath));
    EXPECT_FALSE(registryKeyExists(localMachine(), kDriverPath));
  }
  EXPECT_TRUE(spy.messageBoxes().empty());
}

// Runs in a fresh process (see below), where no library of the real name has
// been loaded yet. Returns 0 when the renamed copy failed as it should.
int registerRenamedCopy() {
  testing::RegistrySandbox sandbox;
  testing::NotificationSpy spy;
  testing::TempDir dir;
  const auto copy = dir / "TAVRODriver-old.so";
  std::filesystem::copy_file(TAVRO_DRIVER_LIBRARY, copy);
  Library library(copy.string());
  if (!library.loaded()) return 2;
  if (library.entry("DllRegisterServer")() != -1) return 3;
  if (registryKeyExists(classesRoot(), kClassPath)) return 4;
  for (const std::string& box : spy.messageBoxes()) std::fprintf(stderr, "%s\n", box.c_str());
  return 0;
}

TEST(RegistrationLibraryTest, ARenamedCopyFailsWithMinus101AndSaysSo) {
  // The death-test machinery starts this program afresh for the statement, so
  // an earlier test's copy of the real library cannot be found instead.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(registerRenamedCopy()), ::testing::ExitedWithCode(0),
              "^TAVRODriver: Register Server failed ! \\(-101\\)\n$");
}

}  // namespace
}  // namespace tavro::com
