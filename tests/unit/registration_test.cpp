// Self-registration against the registry layer: what registering writes, what
// it keeps and what it replaces, the early failures and how they reach the
// user, and the children-first deletion of key trees. Each case uses a class
// id and driver name of its own, so runs never meet, even in a shared Wine
// prefix.
#include "com/registration.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "com/exports.h"
#include "com/registry_tree.h"
#include "platform/fault.h"
#include "platform/module.h"
#include "platform/registry.h"
#include "support/notification_spy.h"
#include "support/registry_sandbox.h"

namespace tavro::com {
namespace {

using platform::Call;
using platform::RegKey;
using platform::RegRoot;
using testing::readRegistryString;
using testing::registryKeyExists;
using testing::writeRegistryString;

RegKey classesRoot() { return platform::registryRoot(RegRoot::kClassesRoot); }
RegKey localMachine() { return platform::registryRoot(RegRoot::kLocalMachine); }

std::string lowerCase(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string upperCase(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// The registry form Windows gives a class id.
std::string clsidText(const Guid& id) {
  char text[64];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(id.data1), id.data2, id.data3, id.data4[0], id.data4[1],
                id.data4[2], id.data4[3], id.data4[4], id.data4[5], id.data4[6], id.data4[7]);
  return text;
}

class RegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<uint32_t> counter{0};
    const auto stamp =
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    clsid_ = Guid{static_cast<uint32_t>(stamp),
                  static_cast<uint16_t>(stamp >> 32),
                  static_cast<uint16_t>(counter++),
                  {0xA7, 0x0E, 0x5E, 0x57, 0x00, 0x01, 0xab, 0xcd}};
    driverName_ = "TAVRO Driver test " + clsidText(clsid_);
    classPath_ = "CLSID\\" + clsidText(clsid_);
    serverPath_ = classPath_ + "\\InprocServer32";
    driverPath_ = "SOFTWARE\\ASIO\\" + driverName_;

    // This very test program stands in for the DLL: it is surely loaded.
    char path[kRegistryPathSize] = {};
    ASSERT_GT(platform::moduleFileName(nullptr, path, sizeof path), 0u);
    ownPath_ = path;
    ownFileName_ = ownPath_.substr(ownPath_.find_last_of("\\/") + 1);
    platform::resetCallCounts();
  }

  void TearDown() override {
    testing::deleteRegistryTree(classesRoot(), classPath_);
    testing::deleteRegistryTree(localMachine(), driverPath_);
  }

  int32_t registerUs(const char* fileName = nullptr) {
    return registerServer(clsid_, fileName ? fileName : ownFileName_.c_str(), driverName_.c_str(),
                          kDriverDescription, kThreadingModel);
  }
  int32_t unregisterUs(const char* fileName = nullptr) {
    return unregisterServer(clsid_, fileName ? fileName : ownFileName_.c_str(),
                            driverName_.c_str());
  }

  testing::RegistrySandbox sandbox_;
  Guid clsid_{};
  std::string driverName_, classPath_, serverPath_, driverPath_, ownPath_, ownFileName_;
};

TEST_F(RegistrationTest, WritesTheComClassAndTheAsioDriverEntry) {
  ASSERT_EQ(registerUs(), kRegistrationOk);
  EXPECT_EQ(readRegistryString(classesRoot(), classPath_, nullptr), "TAVRO Driver");
  EXPECT_EQ(readRegistryString(classesRoot(), serverPath_, nullptr), lowerCase(ownPath_));
  EXPECT_EQ(readRegistryString(classesRoot(), serverPath_, "ThreadingModel"), "Apartment");
  EXPECT_EQ(readRegistryString(localMachine(), driverPath_, "CLSID"), clsidText(clsid_));
  EXPECT_EQ(readRegistryString(localMachine(), driverPath_, "Description"), "TAVRO Driver");
}

TEST_F(RegistrationTest, UnregisteringRemovesBothEntriesAndIsHarmlessWhenRepeated) {
  ASSERT_EQ(registerUs(), kRegistrationOk);
  EXPECT_EQ(unregisterUs(), kRegistrationOk);
  EXPECT_FALSE(registryKeyExists(classesRoot(), classPath_));
  EXPECT_FALSE(registryKeyExists(localMachine(), driverPath_));
  EXPECT_EQ(unregisterUs(), kRegistrationOk);
}

TEST_F(RegistrationTest, RegisteringAgainKeepsTheClassKeysButRewritesTheDriverKey) {
  ASSERT_EQ(registerUs(), kRegistrationOk);
  ASSERT_TRUE(writeRegistryString(classesRoot(), classPath_, "Marker", "kept"));
  ASSERT_TRUE(writeRegistryString(localMachine(), driverPath_, "Stale", "dropped"));
  ASSERT_TRUE(writeRegistryString(localMachine(), driverPath_ + "\\Old", "Stale", "dropped"));

  ASSERT_EQ(registerUs(), kRegistrationOk);
  EXPECT_EQ(readRegistryString(classesRoot(), classPath_, "Marker"), "kept");
  EXPECT_EQ(readRegistryString(localMachine(), driverPath_, "Stale"), std::nullopt);
  EXPECT_FALSE(registryKeyExists(localMachine(), driverPath_ + "\\Old"));
  EXPECT_EQ(readRegistryString(localMachine(), driverPath_, "CLSID"), clsidText(clsid_));
}

// What an earlier registration left in InprocServer32, and whether it names
// this very file (then the class keys stay as they are).
struct StoredServerCase {
  const char* name;
  enum Kind { kOwnPathUpperCase, kOtherFolder, kOwnPathTooLong, kNoServerKey } kind;
  bool classKeysKept;
};

class StoredServerTest : public RegistrationTest,
                         public ::testing::WithParamInterface<StoredServerCase> {};

TEST_P(StoredServerTest, DecidesWhetherTheClassTreeIsReplaced) {
  const StoredServerCase& c = GetParam();
  std::string stored;
  switch (c.kind) {
    case StoredServerCase::kOwnPathUpperCase:
      stored = upperCase(ownPath_);
      break;
    case StoredServerCase::kOtherFolder:
      stored = "c:\\old drivers\\" + lowerCase(ownFileName_);
      break;
    case StoredServerCase::kOwnPathTooLong:
      // Cut to the buffer, this would still read as our own path.
      stored = lowerCase(ownPath_) + std::string(kRegistryPathSize, ' ');
      break;
    case StoredServerCase::kNoServerKey:
      break;
  }
  ASSERT_TRUE(writeRegistryString(classesRoot(), classPath_, nullptr, "Old description"));
  ASSERT_TRUE(writeRegistryString(classesRoot(), classPath_ + "\\Extra\\Deeper", "X", "y"));
  if (c.kind != StoredServerCase::kNoServerKey) {
    ASSERT_TRUE(writeRegistryString(classesRoot(), serverPath_, nullptr, stored));
  }

  ASSERT_EQ(registerUs(), kRegistrationOk);
  EXPECT_EQ(registryKeyExists(classesRoot(), classPath_ + "\\Extra\\Deeper"), c.classKeysKept);
  EXPECT_EQ(readRegistryString(classesRoot(), classPath_, nullptr),
            c.classKeysKept ? "Old description" : "TAVRO Driver");
  if (!c.classKeysKept) {
    EXPECT_EQ(readRegistryString(classesRoot(), serverPath_, nullptr), lowerCase(ownPath_));
    EXPECT_EQ(readRegistryString(classesRoot(), serverPath_, "ThreadingModel"), "Apartment");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, StoredServerTest,
    ::testing::Values(
        StoredServerCase{"SameFileSpelledInCapitals", StoredServerCase::kOwnPathUpperCase, true},
        StoredServerCase{"CopyInAnotherFolder", StoredServerCase::kOtherFolder, false},
        StoredServerCase{"PathLongerThanTheBuffer", StoredServerCase::kOwnPathTooLong, false},
        StoredServerCase{"NoServerKeyAtAll", StoredServerCase::kNoServerKey, false}),
    [](const auto& info) { return std::string(info.param.name); });

// The four early failures: each returns its code before anything is written.
struct EarlyFailureCase {
  const char* name;
  Call call;
  int32_t expected;
};

class EarlyFailureTest : public RegistrationTest,
                         public ::testing::WithParamInterface<EarlyFailureCase> {};

TEST_P(EarlyFailureTest, StopsBothWorkersBeforeAnyRegistryChange) {
  const EarlyFailureCase& c = GetParam();
  ASSERT_TRUE(writeRegistryString(localMachine(), driverPath_, "Stale", "kept"));
  {
    platform::ScopedFault fault(c.call);
    EXPECT_EQ(registerUs(), c.expected);
    EXPECT_EQ(unregisterUs(), c.expected);
  }
  EXPECT_FALSE(registryKeyExists(classesRoot(), classPath_));
  EXPECT_EQ(readRegistryString(localMachine(), driverPath_, "Stale"), "kept");
}

INSTANTIATE_TEST_SUITE_P(
    Table, EarlyFailureTest,
    ::testing::Values(
        EarlyFailureCase{"ModuleNotFound", Call::GetModuleHandleA, kModuleNotFound},
        EarlyFailureCase{"PathUnreadable", Call::GetModuleFileNameA, kModulePathUnreadable},
        EarlyFailureCase{"ClassIdNotText", Call::StringFromCLSID, kClassIdNotText},
        EarlyFailureCase{"ClassIdNotAnsi", Call::WideCharToMultiByte, kClassIdNotAnsi}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RegistrationTest, ARenamedModuleIsNotFound) {
  const std::string renamed = "renamed-" + ownFileName_;
  EXPECT_EQ(registerUs(renamed.c_str()), kModuleNotFound);
  EXPECT_EQ(unregisterUs(renamed.c_str()), kModuleNotFound);
  EXPECT_FALSE(registryKeyExists(classesRoot(), classPath_));
}

// The exports look for the driver's own file name, which this test program
// is not: both fail with -101 and tell the user in a message box.
struct ExportCase {
  const char* name;
  HResult(TAVRO_STDCALL* exported)();
  const char* text;
};

class ExportFailureTest : public RegistrationTest,
                          public ::testing::WithParamInterface<ExportCase> {};

TEST_P(ExportFailureTest, ShowsTheResultInAMessageBoxAndReturnsAllBitsSet) {
  const ExportCase& c = GetParam();
  testing::NotificationSpy spy;
#if defined(_WIN32)
  // A real box would wait for a click; count the attempt instead.
  platform::ScopedFault noBox(Call::MessageBoxA);
#endif
  EXPECT_EQ(c.exported(), -1);
  EXPECT_EQ(platform::callCount(Call::MessageBoxA), 1u);
#if !defined(_WIN32)
  EXPECT_EQ(spy.messageBoxes(), std::vector<std::string>{std::string("TAVRODriver: ") + c.text});
#endif
}

INSTANTIATE_TEST_SUITE_P(Table, ExportFailureTest,
                         ::testing::Values(ExportCase{"Register", DllRegisterServer,
                                                      "Register Server failed ! (-101)"},
                                           ExportCase{"Unregister", DllUnregisterServer,
                                                      "Unregister Server failed ! (-101)"}),
                         [](const auto& info) { return std::string(info.param.name); });

class RegistryTreeTest : public ::testing::Test {
 protected:
  RegKey currentUser() const { return platform::registryRoot(RegRoot::kCurrentUser); }
  std::string base() const { return sandbox_.basePath(); }

  testing::RegistrySandbox sandbox_;
};

TEST_F(RegistryTreeTest, ListsEveryKeyAfterAllOfItsSubkeys) {
  for (const char* leaf : {"Top\\A\\B\\C\\D", "Top\\A\\E", "Top\\F"}) {
    ASSERT_TRUE(writeRegistryString(currentUser(), base() + "\\" + leaf, "V", "1"));
  }
  RegKey parent = 0;
  ASSERT_EQ(platform::regOpenKey(currentUser(), base().c_str(), platform::kKeyAllAccess, &parent),
            platform::kRegOk);
  SubtreeNode head;
  collectSubtree(parent, 0, 0, "Top", &head);

  std::vector<std::string> order;
  for (SubtreeNode* node = head.next.get(); node != nullptr; node = node->next.get()) {
    order.push_back(node->name);
    platform::regCloseKey(node->key);
  }
  platform::regCloseKey(parent);
  EXPECT_EQ(order, (std::vector<std::string>{"D", "C", "B", "E", "A", "F", "Top"}));
}

TEST_F(RegistryTreeTest, DeletesADeepTreeAndReportsWhenThereWasNothingToDelete) {
  std::string deep = base() + "\\Top";
  for (int level = 0; level < 12; ++level) deep += "\\Level" + std::to_string(level);
  ASSERT_TRUE(writeRegistryString(currentUser(), deep, "V", "1"));
  ASSERT_TRUE(writeRegistryString(currentUser(), base() + "\\Top\\Side", "V", "1"));
  ASSERT_TRUE(writeRegistryString(currentUser(), base() + "\\Neighbour", "V", "1"));
  platform::resetCallCounts();

  EXPECT_EQ(deleteTree(currentUser(), base().c_str(), "Top"), 0);
  EXPECT_EQ(platform::callCount(Call::RegDeleteKeyA), 14u);
  EXPECT_FALSE(registryKeyExists(currentUser(), base() + "\\Top"));
  EXPECT_TRUE(registryKeyExists(currentUser(), base() + "\\Neighbour"));
  EXPECT_EQ(deleteTree(currentUser(), base().c_str(), "Top"), -1);
}

TEST_F(RegistryTreeTest, EnsuringAKeyCreatesItOnceAndNeedsItsParent) {
  EXPECT_EQ(ensureKey(currentUser(), base().c_str(), "New"), 0);
  ASSERT_TRUE(writeRegistryString(currentUser(), base() + "\\New", "V", "kept"));
  EXPECT_EQ(ensureKey(currentUser(), base().c_str(), "New"), 0);
  EXPECT_EQ(readRegistryString(currentUser(), base() + "\\New", "V"), "kept");
  EXPECT_EQ(ensureKey(currentUser(), (base() + "\\Missing").c_str(), "New"), -1);
}

}  // namespace
}  // namespace tavro::com
