#include "host/mxmain.h"

#include <gtest/gtest.h>

#include <string>

#include "framework/ras1.h"
#include "host/service.h"

namespace {

TEST(Interval, DigitsOnlyAtLeastFiveAndRepresentable) {
  EXPECT_EQ(5, IntervalFromText(nullptr));
  EXPECT_EQ(5, IntervalFromText(""));
  EXPECT_EQ(5, IntervalFromText("3"));
  EXPECT_EQ(12, IntervalFromText("12"));
  EXPECT_EQ(5, IntervalFromText("12s"));
  EXPECT_EQ(5, IntervalFromText("1m"));
  EXPECT_EQ(5, IntervalFromText("-7"));
  EXPECT_EQ(5, IntervalFromText(" 12"));
  // Far beyond what milliseconds in 32 bits hold: clamped, never wrapped.
  EXPECT_EQ(2147483, IntervalFromText("99999999999999999999999"));
  EXPECT_EQ(2147483, IntervalFromText("2147484"));
  EXPECT_EQ(2147483, IntervalFromText("2147483"));
}

// The environment subkeys below a scratch tree in HKEY_CURRENT_USER.
class EnvironmentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = "Software\\OsmEnvTest" + std::to_string(GetCurrentProcessId());
    Put("Environment", "OSMENV_TOP", REG_SZ, "top");  // directly below the base: not applied
    Put("OSM\\Environment", "OSMENV_SHARED", REG_SZ, "from OSM");
    Put("OSM\\Environment", "OSMENV_OSM_ONLY", REG_SZ, "osm");
    Put("OSM\\Ver610\\Environment", "OSMENV_SHARED", REG_SZ, "from Ver610");
    Put("OSM\\Ver610\\Primary\\Environment", "OSMENV_SHARED", REG_SZ, "from Primary");
    Put("OSM\\Ver610\\Primary\\Environment", "OSMENV_EXPAND", REG_EXPAND_SZ, "%OSMENV_BASE%\\logs");
    DWORD number = 7;
    PutRaw("OSM\\Ver610\\Primary\\Environment", "OSMENV_DWORD", REG_DWORD, &number, sizeof number);
    std::string longValue(3000, 'x');  // longer than the 2048-byte data buffer
    Put("OSM\\Ver610\\Primary\\Environment", "OSMENV_LONG", REG_SZ, longValue.c_str());
    // Stored without its terminator: must still end at the returned length.
    PutRaw("OSM\\Ver610\\Environment", "OSMENV_NOTERM", REG_SZ, "abc", 3);
    BSS1_PutEnv("OSMENV_BASE=C:\\agent");
  }
  void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, base_.c_str()); }

  void PutRaw(const std::string& key, const char* name, DWORD type, const void* data, DWORD size) {
    HKEY h;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, (base_ + "\\" + key).c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &h, nullptr));
    RegSetValueExA(h, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(h);
  }
  void Put(const std::string& key, const char* name, DWORD type, const char* text) {
    PutRaw(key, name, type, text, static_cast<DWORD>(strlen(text) + 1));
  }
  static std::string Env(const char* name) {
    const char* v = BSS1_GetEnv(name, 0);
    return v ? v : "<unset>";
  }
  std::string base_;
};

TEST_F(EnvironmentTest, DeepestLevelFirstThenUpToButNotIncludingTheBase) {
  ASSERT_EQ(0, LoadEnvironment(HKEY_CURRENT_USER, base_.c_str(), "OSM\\Ver610\\Primary"));
  // Applied Primary, then Ver610, then OSM: the last one applied wins.
  EXPECT_EQ("from OSM", Env("OSMENV_SHARED"));
  EXPECT_EQ("osm", Env("OSMENV_OSM_ONLY"));
  EXPECT_EQ("C:\\agent\\logs", Env("OSMENV_EXPAND"));
  EXPECT_EQ("abc", Env("OSMENV_NOTERM"));
  EXPECT_EQ("<unset>", Env("OSMENV_TOP"));
  EXPECT_EQ("<unset>", Env("OSMENV_DWORD"));  // other types are ignored
  EXPECT_EQ("<unset>", Env("OSMENV_LONG"));   // too long: skipped, the rest still applied
}

TEST_F(EnvironmentTest, MissingPathIsReported) {
  EXPECT_NE(0, LoadEnvironment(HKEY_CURRENT_USER, base_.c_str(), "OSM\\Ver999\\Primary"));
  EXPECT_NE(0, LoadEnvironment(HKEY_CURRENT_USER, (base_ + "Missing").c_str(), "OSM"));
}

TEST(Perflib, PresentButEmptyCounterValueStopsTheAgent) {
  BSS1_PutEnv("OSM_PERFLIB_COUNTER_SIZE=0");
  EXPECT_FALSE(PerflibCountersUsable());
  BSS1_PutEnv("OSM_PERFLIB_COUNTER_SIZE=1");
  EXPECT_FALSE(PerflibCountersUsable());
  BSS1_PutEnv("OSM_PERFLIB_COUNTER_SIZE=2");
  EXPECT_TRUE(PerflibCountersUsable());
  BSS1_PutEnv("OSM_PERFLIB_COUNTER_SIZE=");
  EXPECT_TRUE(PerflibCountersUsable());  // Wine's own value is present and long enough
}

TEST(ServiceStatus, NothingButStoppedFollowsStopped) {
  // The stop handler's second STOP_PENDING may come after the woken service
  // reported STOPPED; sent, it would leave the SCM waiting on the handler.
  EXPECT_FALSE(StatusMayFollow(SERVICE_STOPPED, SERVICE_STOP_PENDING));
  EXPECT_FALSE(StatusMayFollow(SERVICE_STOPPED, SERVICE_RUNNING));
  EXPECT_TRUE(StatusMayFollow(SERVICE_STOPPED, SERVICE_STOPPED));
  EXPECT_TRUE(StatusMayFollow(SERVICE_STOP_PENDING, SERVICE_STOPPED));
  EXPECT_TRUE(StatusMayFollow(0, SERVICE_START_PENDING));
}

}  // namespace
