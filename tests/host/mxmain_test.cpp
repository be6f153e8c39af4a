#include "host/mxmain.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "framework/cfw.h"
#include "framework/osmtest_table.h"
#include "framework/ras1.h"
#include "host/service.h"
#include "perfclient/kount_test_base.h"
#include "perfclient/osmclient.h"

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
    Put("OSM\\Ver610\\Primary\\Environment", "OSMENV_PRIMARY_ONLY", REG_SZ, "primary");  // enumerated after the long one
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
  EXPECT_EQ("primary", Env("OSMENV_PRIMARY_ONLY"));
}

TEST(RegistryText, EndsAtTheReturnedLength) {
  // CRXRTE_DIR and the environment values: the buffer's bytes past the
  // returned size are not part of the value.
  EXPECT_EQ("abc", RegistryText("abcxyz", 3, 1024));
  EXPECT_EQ("abc", RegistryText("abc\0yz", 6, 1024));
  EXPECT_EQ("ab", RegistryText("abcxyz", 6, 2));
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

TEST(StartUp, AFrameworkThreadThatCannotStartFailsTheStart) {
  ThreadStarter refuse = [](void*, unsigned, unsigned(__stdcall*)(void*), void*, unsigned, unsigned*) -> uintptr_t {
    return 0;
  };
  g_startFailure = 0;
  EXPECT_EQ(-4, RunFramework(refuse));
  EXPECT_EQ(kStartNoFramework, g_startFailure);
  EXPECT_EQ(0, g_frameworkRunning);
  g_startFailure = 0;
}

// A counter service whose sample copy waits at a gate, and that notes any
// use after Terminate.
class GatedKount : public KountTestBase {
 public:
  HANDLE gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> terminated{false}, released{false}, usedAfterTerminate{false};
  ~GatedKount() override { CloseHandle(gate); }
  HRESULT STDMETHODCALLTYPE SampleLockedData(OSMSAMPLE, int, UINT* needed, void*) override {
    WaitForSingleObject(gate, 10000);
    if (terminated) usedAfterTerminate = true;
    *needed = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Terminate() override {
    terminated = true;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE Release() override {
    released = true;
    return 0;
  }
};

int LoadOsmtest() { return osm_osmtest_init(); }

TEST(CounterObject, OutlivesARequestLeftInsideItAtShutdown) {
  GatedKount kount;
  g_osmKount = &kount;
  osmtest::ResetScript();
  osmtest::TheScript().inside = [] {
    UINT needed = 0;
    g_osmKount->SampleLockedData(0, 0, &needed, nullptr);
  };
  std::string requests = ::testing::TempDir() + "mxmain_counter.req";
  std::ofstream(requests) << "report R1 OSMTEST\n";
  BSS1_PutEnv(("OSM_REQUESTS=" + requests).c_str());
  BSS1_PutEnv(("OSM_OUTPUT=" + ::testing::TempDir() + "mxmain_counter.jsonl").c_str());
  BSS1_PutEnv("OSM_SHUTDOWN_WAIT=0");
  DCF_RegisterAgentLoader(&LoadOsmtest);
  char name[] = "mx_agent";
  char* argv[] = {name, nullptr};
  std::thread framework([&] { cfwmain(1, argv); });
  while (osmtest::insideSample == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  DCF_Shutdown(1);
  framework.join();  // gave up on R1, still waiting inside the counter object

  EXPECT_FALSE(ReleaseCounterObject());
  EXPECT_FALSE(kount.terminated);
  SetEvent(kount.gate);
  while (DCF_AbandonedRequests() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_FALSE(kount.usedAfterTerminate);
  // Once the request has left, the object goes as usual.
  EXPECT_TRUE(ReleaseCounterObject());
  EXPECT_TRUE(kount.terminated && kount.released);
  EXPECT_EQ(nullptr, g_osmKount);
  osmtest::ResetScript();
}

}  // namespace
