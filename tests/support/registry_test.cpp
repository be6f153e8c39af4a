#include "support/registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace {

// Every test works below a scratch key in HKEY_CURRENT_USER that it owns.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch_ = "Software\\OsmRegistryTest\\" + std::to_string(GetCurrentProcessId());
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, (scratch_ + "\\child\\grandchild").c_str(), 0,
                                             nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegCloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, scratch_.c_str(), 0, KEY_ALL_ACCESS, &key));
    Set(key, "alpha", "first");
    Set(key, "beta", "second value");
    DWORD n = 42;
    RegSetValueExA(key, "gamma", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&n), sizeof n);
    RegCloseKey(key);
  }
  void TearDown() override {
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\OsmRegistryTest");
  }
  static void Set(HKEY key, const char* name, const char* value) {
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), static_cast<DWORD>(strlen(value) + 1));
  }
  std::string scratch_;
};

TEST_F(RegistryTest, OpenCloseAndRoots) {
  CRegistry reg;
  EXPECT_EQ(CRegistry::kNothingOpen, reg.Close());
  EXPECT_EQ(CRegistry::kBadArgument, reg.Open(nullptr, HKEY_CURRENT_CONFIG, nullptr, false));
  EXPECT_EQ(CRegistry::kBadArgument, reg.Open(nullptr, HKEY_PERFORMANCE_DATA, nullptr, false));
  // Remote registries only below HKEY_LOCAL_MACHINE or HKEY_USERS.
  EXPECT_EQ(CRegistry::kBadArgument, reg.Open("othermachine", HKEY_CURRENT_USER, nullptr, false));

  // Only the root open: closing closes it once and succeeds.
  ASSERT_EQ(CRegistry::kOk, reg.Open(nullptr, HKEY_CURRENT_USER, nullptr, false));
  EXPECT_EQ(CRegistry::kAlreadyOpen, reg.Open(nullptr, HKEY_CURRENT_USER, nullptr, false));
  EXPECT_EQ(CRegistry::kOk, reg.Close());
  EXPECT_EQ(CRegistry::kNothingOpen, reg.Close());
  EXPECT_EQ(nullptr, reg.Key());

}

TEST_F(RegistryTest, PositionRelativeAbsoluteAndUp) {
  CRegistry reg;
  EXPECT_EQ(CRegistry::kNoKey, reg.Position("child", false));
  ASSERT_EQ(CRegistry::kOk, reg.Open(nullptr, HKEY_CURRENT_USER, scratch_.c_str(), false));
  EXPECT_EQ(CRegistry::kBadArgument, reg.Position("", false));
  EXPECT_EQ(CRegistry::kOk, reg.Position("child", false));
  EXPECT_EQ(scratch_ + "\\child", reg.CurrentPath());
  EXPECT_EQ(CRegistry::kOk, reg.Position("grandchild", false));
  EXPECT_EQ(CRegistry::kOk, reg.Position("..", false));
  EXPECT_EQ(scratch_ + "\\child", reg.CurrentPath());

  // A missing key: failure, and the current key stays.
  EXPECT_EQ(CRegistry::kRegistryError, reg.Position("missing", false));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, reg.LastError());
  EXPECT_EQ(scratch_ + "\\child", reg.CurrentPath());
  EXPECT_EQ(CRegistry::kOk, reg.Position("created\\deep", true));
  EXPECT_EQ(scratch_ + "\\child\\created\\deep", reg.CurrentPath());

  EXPECT_EQ(CRegistry::kOk, reg.Position(("\\" + scratch_).c_str(), false));
  EXPECT_EQ(scratch_, reg.CurrentPath());

  // One level below the root, ".." reopens the root with an empty path.
  EXPECT_EQ(CRegistry::kOk, reg.Position("\\Software", false));
  EXPECT_EQ(CRegistry::kOk, reg.Position("..", false));
  EXPECT_STREQ("", reg.CurrentPath());
  EXPECT_EQ(CRegistry::kOk, reg.Position("Software", false));
  EXPECT_STREQ("Software", reg.CurrentPath());

  // A path that cannot fit the current path is refused, not overflowed.
  std::string tooLong(CRegistry::kPathSize, 'k');
  EXPECT_EQ(CRegistry::kBadArgument, reg.Position(tooLong.c_str(), true));
  EXPECT_EQ(CRegistry::kBadArgument, reg.Position(("\\" + tooLong).c_str(), true));
  EXPECT_STREQ("Software", reg.CurrentPath());
  EXPECT_EQ(CRegistry::kOk, reg.Close());
}

TEST_F(RegistryTest, GetValue) {
  CRegistry reg;
  char data[64];
  DWORD type = 0, size = sizeof data;
  EXPECT_EQ(CRegistry::kNoKey, reg.GetValue("alpha", data, &type, &size));
  ASSERT_EQ(CRegistry::kOk, reg.Open(nullptr, HKEY_CURRENT_USER, scratch_.c_str(), false));
  EXPECT_EQ(CRegistry::kOk, reg.GetValue("beta", data, &type, &size));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_EQ(13u, size);
  EXPECT_STREQ("second value", data);
  size = sizeof data;
  EXPECT_EQ(CRegistry::kValueNotFound, reg.GetValue("missing", data, &type, &size));
  EXPECT_NE(nullptr, reg.Key());  // the key stays open
  size = 3;
  EXPECT_EQ(CRegistry::kRegistryError, reg.GetValue("beta", data, &type, &size));
  EXPECT_EQ(ERROR_MORE_DATA, reg.LastError());
}

TEST_F(RegistryTest, EnumValsStatusesAndRestart) {
  CRegistry reg;
  char name[64], data[64];
  DWORD nameSize = sizeof name, dataSize = sizeof data, type = 0, index = 99;
  EXPECT_EQ(CRegistry::kNoKey, reg.EnumVals(name, &nameSize, data, &dataSize, &type, &index, false));
  ASSERT_EQ(CRegistry::kOk, reg.Open(nullptr, HKEY_CURRENT_USER, scratch_.c_str(), false));

  DWORD zero = 0;
  EXPECT_EQ(CRegistry::kEnumNoNameSize, reg.EnumVals(name, &zero, data, &dataSize, &type, &index, false));
  EXPECT_EQ(CRegistry::kEnumNoDataSize, reg.EnumVals(name, &nameSize, data, nullptr, &type, &index, false));

  std::set<std::string> seen;
  int rc;
  for (int i = 0; i < 3; ++i) {
    nameSize = sizeof name;
    dataSize = sizeof data;
    rc = reg.EnumVals(name, &nameSize, data, &dataSize, &type, &index, false);
    ASSERT_EQ(CRegistry::kOk, rc);
    EXPECT_EQ(static_cast<DWORD>(i), index);
    seen.insert(name);
  }
  EXPECT_EQ((std::set<std::string>{"alpha", "beta", "gamma"}), seen);
  nameSize = sizeof name;
  dataSize = sizeof data;
  EXPECT_EQ(CRegistry::kEnumFinished, reg.EnumVals(name, &nameSize, data, &dataSize, &type, &index, false));
  // After the end the enumeration starts again at index 0.
  nameSize = sizeof name;
  dataSize = sizeof data;
  EXPECT_EQ(CRegistry::kOk, reg.EnumVals(name, &nameSize, data, &dataSize, &type, &index, false));
  EXPECT_EQ(0u, index);

  // A data buffer too small for the value: status 4, and the walk goes on.
  char tiny[2];
  DWORD tinySize = sizeof tiny;
  int small = 0;
  for (int i = 0; i < 3; ++i) {
    nameSize = sizeof name;
    tinySize = sizeof tiny;
    rc = reg.EnumVals(name, &nameSize, tiny, &tinySize, &type, &index, false);
    if (rc == CRegistry::kBufferTooSmall) ++small;
    else if (rc != CRegistry::kOk) break;
  }
  EXPECT_GE(small, 1);

  // An enumeration that ends on a registry error (a key opened without the
  // right to read values) leaves the next key's enumeration at its first value.
  reg.SetAccess(KEY_ENUMERATE_SUB_KEYS);
  ASSERT_EQ(CRegistry::kOk, reg.Position("child", false));
  nameSize = sizeof name;
  dataSize = sizeof data;
  ASSERT_EQ(CRegistry::kRegistryError, reg.EnumVals(name, &nameSize, data, &dataSize, &type, &index, false));
  reg.SetAccess(KEY_ALL_ACCESS);
  ASSERT_EQ(CRegistry::kOk, reg.Position("..", false));
  nameSize = sizeof name;
  dataSize = sizeof data;
  EXPECT_EQ(CRegistry::kOk, reg.EnumVals(name, &nameSize, data, &dataSize, &type, &index, false));
  EXPECT_EQ(0u, index);
}

TEST_F(RegistryTest, StatusReportsAndCutsTexts) {
  CRegistry reg(nullptr, HKEY_CURRENT_USER, scratch_.c_str(), false);
  bool open = false;
  char op[24], path[1024], call[24], machine[32];
  DWORD error = 1;
  EXPECT_EQ(CRegistry::kOk, reg.Status(&open, op, sizeof op, path, sizeof path, call, sizeof call, &error, machine,
                                       sizeof machine));
  EXPECT_TRUE(open);
  EXPECT_STREQ("RegOpenKeyEx", call);
  EXPECT_EQ(scratch_, path);
  EXPECT_EQ(0u, error);
  char shortPath[8];
  EXPECT_EQ(CRegistry::kBufferTooSmall,
            reg.Status(nullptr, nullptr, 0, shortPath, sizeof shortPath, nullptr, 0, nullptr, nullptr, 0));
  EXPECT_EQ(scratch_.substr(0, 7), shortPath);
}

}  // namespace
