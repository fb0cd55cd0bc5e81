// The registry layer as the driver and its tools use it: typed values, sizes,
// case-blind key names, enumeration and deletion. Natively this exercises the
// file-backed store; under Wine the same cases run against the real registry.
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/registry_sandbox.h"

namespace tavro::platform {
namespace {

class RegistryTest : public ::testing::Test {
 protected:
  RegKey root() const { return registryRoot(RegRoot::kCurrentUser); }
  std::string path(const std::string& sub) const { return sandbox_.basePath() + "\\" + sub; }

  RegKey create(const std::string& sub) {
    RegKey key = 0;
    EXPECT_EQ(regCreateKey(root(), path(sub).c_str(), &key), kRegOk) << sub;
    return key;
  }

  testing::RegistrySandbox sandbox_;
};

struct StringReadCase {
  const char* name;
  size_t length;     // of the stored text
  uint32_t given;    // buffer size passed in
  int32_t expected;  // result of the read
};

class StringReadTest : public RegistryTest, public ::testing::WithParamInterface<StringReadCase> {};

TEST_P(StringReadTest, ReportsWhetherTheTextFitsTheBuffer) {
  const StringReadCase& c = GetParam();
  const std::string text(c.length, 'h');
  RegKey key = create("Settings");
  ASSERT_EQ(regSetString(key, "Host", text.c_str(), static_cast<uint32_t>(text.size())), kRegOk);

  char buffer[512] = {};
  uint32_t size = c.given;
  EXPECT_EQ(regGetString(key, "Host", buffer, &size), c.expected);
  // Either way the size says how much the text needs, its NUL included (an
  // empty text may report 0 under Wine).
  if (c.length > 0) {
    EXPECT_EQ(size, c.length + 1);
  }
  if (c.expected == kRegOk) {
    EXPECT_EQ(std::string(buffer), text);
  }
  regCloseKey(key);
}

INSTANTIATE_TEST_SUITE_P(Table, StringReadTest,
                         ::testing::Values(StringReadCase{"EmptyText", 0, 255, kRegOk},
                                           StringReadCase{"LongestTextThatFits", 254, 255, kRegOk},
                                           StringReadCase{"OneCharacterTooLong", 255, 255,
                                                          kRegMoreData},
                                           StringReadCase{"FarTooLong", 400, 255, kRegMoreData}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RegistryTest, ANumberDoesNotReadAsText) {
  RegKey key = create("Settings");
  ASSERT_EQ(regSetDword(key, "SinglePCOnly", 1), kRegOk);
  char buffer[256] = {};
  uint32_t size = 255;
  EXPECT_EQ(regGetString(key, "SinglePCOnly", buffer, &size), kRegUnsupportedType);

  uint32_t type = 0;
  uint32_t number = 0;
  size = sizeof number;
  EXPECT_EQ(regQueryValue(key, "SinglePCOnly", &type, reinterpret_cast<uint8_t*>(&number), &size),
            kRegOk);
  EXPECT_EQ(type, kRegDword);
  EXPECT_EQ(number, 1u);
  regCloseKey(key);
}

TEST_F(RegistryTest, AMissingValueOrKeyIsNotFound) {
  RegKey key = create("Settings");
  char buffer[16];
  uint32_t size = sizeof buffer;
  EXPECT_EQ(regGetString(key, "Host", buffer, &size), kRegNotFound);
  regCloseKey(key);

  RegKey missing = 1;
  EXPECT_EQ(regOpenKey(root(), path("Nowhere").c_str(), kKeyQueryValue, &missing), kRegNotFound);
  EXPECT_EQ(missing, 0u);
}

TEST_F(RegistryTest, AQueryWithoutBufferReportsTheStoredSize) {
  RegKey key = create("Class\\InprocServer32");
  const std::string path = "c:\\drivers\\tavrodriver64.dll";
  ASSERT_EQ(regSetString(key, nullptr, path.c_str(), static_cast<uint32_t>(path.size())), kRegOk);
  uint32_t type = 0;
  uint32_t size = 0;
  ASSERT_EQ(regQueryValue(key, nullptr, &type, nullptr, &size), kRegOk);
  EXPECT_EQ(type, kRegSz);
  EXPECT_GE(size, path.size());
  EXPECT_LE(size, path.size() + 1);

  std::vector<uint8_t> data(size + 1, 0);
  uint32_t tooSmall = 4;
  EXPECT_EQ(regQueryValue(key, nullptr, nullptr, data.data(), &tooSmall), kRegMoreData);
  ASSERT_EQ(regQueryValue(key, nullptr, nullptr, data.data(), &size), kRegOk);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data.data())), path);
  regCloseKey(key);
}

// A device's friendly name in any script survives, whatever the system's code
// page: under Wine the ANSI calls would turn the Japanese into '?'.
TEST_F(RegistryTest, AUtf8TextKeepsEveryCharacterAndSaysWhatItNeeds) {
  const std::string name =
      "Lautsprecher (USB-Audioger\u00e4t) \u2013 \u30b9\u30d4\u30fc\u30ab\u30fc";
  RegKey key = create("Streamer");
  ASSERT_EQ(regSetUtf8String(key, "Device", name.c_str()), kRegOk);
  char buffer[128] = {};
  uint32_t size = 8;
  EXPECT_EQ(regGetUtf8String(key, "Device", buffer, &size), kRegMoreData);
  EXPECT_EQ(size, name.size() + 1);
  size = sizeof buffer;
  ASSERT_EQ(regGetUtf8String(key, "Device", buffer, &size), kRegOk);
  EXPECT_EQ(std::string(buffer), name);
  EXPECT_EQ(size, name.size() + 1);
  regCloseKey(key);
}

TEST_F(RegistryTest, KeyAndValueNamesIgnoreCaseButKeepTheirSpelling) {
  regCloseKey(create("Drivers\\TAVRO Driver"));
  RegKey key = 0;
  ASSERT_EQ(regOpenKey(root(), path("DRIVERS\\tavro driver").c_str(), kKeyAllAccess, &key), kRegOk);
  ASSERT_EQ(regSetString(key, "Description", "TAVRO", 5), kRegOk);
  char buffer[16] = {};
  uint32_t size = sizeof buffer;
  EXPECT_EQ(regGetString(key, "DESCRIPTION", buffer, &size), kRegOk);
  EXPECT_STREQ(buffer, "TAVRO");
  regCloseKey(key);

  ASSERT_EQ(regOpenKey(root(), path("drivers").c_str(), kKeyAllAccess, &key), kRegOk);
  char name[360] = {};
  EXPECT_EQ(regEnumKey(key, 0, name, sizeof name), kRegOk);
  EXPECT_STREQ(name, "TAVRO Driver");
  EXPECT_EQ(regEnumKey(key, 1, name, sizeof name), kRegNoMoreItems);
  regCloseKey(key);
}

TEST_F(RegistryTest, AKeyWithSubkeysCannotBeDeletedUntilTheyAreGone) {
  regCloseKey(create("Tree\\Leaf"));
  RegKey tree = 0;
  ASSERT_EQ(regOpenKey(root(), path("Tree").c_str(), kKeyAllAccess, &tree), kRegOk);
  EXPECT_NE(regDeleteKey(root(), path("Tree").c_str()), kRegOk);
  EXPECT_EQ(regDeleteKey(tree, "Leaf"), kRegOk);
  EXPECT_EQ(regDeleteKey(tree, "Leaf"), kRegNotFound);
  regCloseKey(tree);
  EXPECT_EQ(regDeleteKey(root(), path("Tree").c_str()), kRegOk);
  EXPECT_FALSE(testing::registryKeyExists(root(), path("Tree")));
}

TEST_F(RegistryTest, CreatingAnExistingKeyOpensItWithItsValues) {
  ASSERT_TRUE(testing::writeRegistryString(root(), path("A\\B"), "Host", "10.0.0.7"));
  RegKey key = create("a\\b");
  char buffer[32] = {};
  uint32_t size = sizeof buffer;
  EXPECT_EQ(regGetString(key, "Host", buffer, &size), kRegOk);
  EXPECT_STREQ(buffer, "10.0.0.7");
  regCloseKey(key);
}

TEST_F(RegistryTest, AKeyOpenedForReadingCannotBeWritten) {
  regCloseKey(create("Settings"));
  RegKey key = 0;
  ASSERT_EQ(regOpenKey(root(), path("Settings").c_str(), kKeyQueryValue, &key), kRegOk);
  EXPECT_EQ(regSetString(key, "Host", "x", 1), kRegAccessDenied);
  regCloseKey(key);
}

}  // namespace
}  // namespace tavro::platform
