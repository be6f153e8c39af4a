// The server linked into the test: registration into a scratch key, the
// class factory and DllCanUnloadNow, the support thread with real time
// (start-up failure, suspend and resume), and the sample number under
// concurrent copies.
#include "framework/ras1.h"
#include "perfsvc/osmkounter.h"
#include "perfsvc/osmkthrd.h"
#include "perfsvc/osmperf_server.h"
#include "perfsvc/sample.h"
#include "tests/perfsvc/kthrd_world.h"
#include "tests/perfsvc/memory_source.h"

#include <windows.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace osmperf;

namespace {

const char kScratch[] = "Software\\OsmPerfServerTest";

std::string DefaultValue(HKEY root, const std::string& key) {
  char value[512] = {0};
  DWORD size = sizeof value, type = 0;
  HKEY h = nullptr;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return "<missing>";
  LONG rc = RegQueryValueExA(h, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(h);
  if (rc != ERROR_SUCCESS || type != REG_SZ) return "<bad>";
  return value;
}

std::vector<std::string> SubKeys(HKEY root, const std::string& key, DWORD* values = nullptr) {
  std::vector<std::string> out;
  HKEY h = nullptr;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return out;
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD size = sizeof name;
    if (RegEnumKeyExA(h, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    out.push_back(name);
  }
  if (values) RegQueryInfoKeyA(h, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, values, nullptr, nullptr,
                               nullptr, nullptr);
  RegCloseKey(h);
  std::sort(out.begin(), out.end());
  return out;
}

// Writes the world's names and block files and points the service at them.
struct WorldFiles {
  std::string names, block;
  explicit WorldFiles(const std::string& stem, const std::vector<std::uint8_t>& bytes) {
    char dir[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, dir);
    names = std::string(dir) + "\\" + stem + ".names";
    block = std::string(dir) + "\\" + stem + ".block";
    perfbuild::WriteNamesFile(names, kthrdworld::Names());
    perfbuild::WriteBlockFile(block, bytes);
    SetEnvironmentVariableA("OSM_PERFNAMES_FILE", names.c_str());
    SetEnvironmentVariableA("OSM_PERFDATA_FILE", block.c_str());
    SetEnvironmentVariableA("NT_PERFMON_MEMORY_CHECK", "0");
  }
  ~WorldFiles() {
    DeleteFileA(names.c_str());
    DeleteFileA(block.c_str());
  }
};

int g_startupFailures = 0;
void CountStartupFailure(int) { ++g_startupFailures; }

}  // namespace

// ---------------------------------------------------------------- registration

TEST(Registration, WritesExactlyTheKeysAndRemovesThem) {
  RegDeleteTreeA(HKEY_CURRENT_USER, kScratch);
  HKEY root = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kScratch, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root, nullptr),
            ERROR_SUCCESS);
  const char* path = "Z:\\build\\perfsvc\\osmperf.dll";
  ASSERT_EQ(OsmRegisterServer(root, path), S_OK);

  const std::string clsid = "{9A487EC4-9A47-11D0-8F6E-F44D6C000000}", c = "CLSID\\" + clsid;
  const std::string progId = "Velmor.OSMSRV.KOUNTER1", versioned = progId + ".2";
  const std::string title = "Velmor Counter Support for NT";
  EXPECT_EQ(OsmClsidText(CLSID_OsmKounter), clsid);
  using Names = std::vector<std::string>;
  EXPECT_EQ(SubKeys(root, ""), (Names{"CLSID", progId, versioned}));
  EXPECT_EQ(SubKeys(root, "CLSID"), Names{clsid});
  EXPECT_EQ(SubKeys(root, c), (Names{"InprocServer32", "ProgID", "VersionIndependentProgID"}));
  EXPECT_EQ(SubKeys(root, progId), (Names{"CLSID", "CurVer"}));
  EXPECT_EQ(SubKeys(root, versioned), Names{"CLSID"});
  const std::pair<std::string, std::string> defaults[] = {
      {c, title},        {c + "\\InprocServer32", path}, {c + "\\ProgID", versioned},
      {progId, title},   {c + "\\VersionIndependentProgID", progId},
      {versioned, title}, {progId + "\\CLSID", clsid},    {progId + "\\CurVer", versioned},
      {versioned + "\\CLSID", clsid}};
  for (const auto& d : defaults) EXPECT_EQ(DefaultValue(root, d.first), d.second) << d.first;
  DWORD values = 99;
  EXPECT_TRUE(SubKeys(root, c + "\\InprocServer32", &values).empty());
  EXPECT_EQ(values, 1u);  // the default value only: no ThreadingModel

  // A key of someone else's beside ours survives.
  HKEY other = nullptr;
  RegCreateKeyExA(root, "CLSID\\{00000000-1111-2222-3333-444444444444}", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                  &other, nullptr);
  RegCloseKey(other);
  EXPECT_EQ(OsmUnregisterServer(root), S_OK);
  EXPECT_EQ(SubKeys(root, ""), std::vector<std::string>{"CLSID"});
  EXPECT_EQ(SubKeys(root, "CLSID"), std::vector<std::string>{"{00000000-1111-2222-3333-444444444444}"});
  EXPECT_EQ(OsmUnregisterServer(root), S_OK);  // nothing left to delete is fine
  RegCloseKey(root);
  RegDeleteTreeA(HKEY_CURRENT_USER, kScratch);
}

TEST(Registration, ARefusedWriteIsReported) {
  // Below a volatile key the registry refuses the lasting keys registration
  // writes.
  RegDeleteTreeA(HKEY_CURRENT_USER, kScratch);
  HKEY root = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kScratch, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                            &root, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(OsmRegisterServer(root, "Z:\\osmperf.dll"), SELFREG_E_CLASS);
  RegCloseKey(root);
  RegDeleteTreeA(HKEY_CURRENT_USER, kScratch);
}

// ---------------------------------------------------------------- class factory

TEST(ClassFactory, ClassObjectInstancesAndUnloading) {
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(OsmDllGetClassObject(CLSID_OsmKounter, IID_IOsmKount, &out), E_NOINTERFACE);
  EXPECT_EQ(OsmDllGetClassObject(IID_IOsmKount, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
  IClassFactory* factory = nullptr;
  ASSERT_EQ(OsmDllGetClassObject(CLSID_OsmKounter, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  EXPECT_EQ(OsmDllCanUnloadNow(), S_OK);  // a factory alone does not hold the module

  IUnknown* outer = reinterpret_cast<IUnknown*>(factory);
  void* kount = nullptr;
  EXPECT_EQ(factory->CreateInstance(outer, IID_IOsmKount, &kount), CLASS_E_NOAGGREGATION);
  IOsmKount* k = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IOsmKount, reinterpret_cast<void**>(&k)), S_OK);
  EXPECT_EQ(OsmDllCanUnloadNow(), S_FALSE);
  IUnknown* unknown = nullptr;
  ASSERT_EQ(k->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  IOsmKount* again = nullptr;
  ASSERT_EQ(unknown->QueryInterface(IID_IOsmKount, reinterpret_cast<void**>(&again)), S_OK);
  EXPECT_EQ(again, k);
  void* none = nullptr;
  EXPECT_EQ(k->QueryInterface(IID_IClassFactory, &none), E_NOINTERFACE);
  again->Release();
  unknown->Release();
  EXPECT_EQ(k->Release(), 0u);
  EXPECT_EQ(OsmDllCanUnloadNow(), S_OK);

  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(OsmDllCanUnloadNow(), S_FALSE);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(OsmDllCanUnloadNow(), S_OK);
  factory->Release();
}

// ---------------------------------------------------------------- support thread

TEST(SupportThread, InitializeFailsWhenTheThreadDidNotSurviveStartUp) {
  osmkthrd::SetStartupFailureHandler(&CountStartupFailure);
  {
    // Names but a block that is no performance data: the first snapshot fails.
    WorldFiles files("dead", std::vector<std::uint8_t>(256, 0x5A));
    IOsmKount* k = nullptr;
    CUnknown* object = nullptr;
    ASSERT_EQ(COsmKounter::CreateInstance(nullptr, &object), S_OK);
    ASSERT_EQ(object->NondelegatingQueryInterface(IID_IOsmKount, reinterpret_cast<void**>(&k)), S_OK);
    object->NondelegatingRelease();
    EXPECT_EQ(k->Initialize(5, 0, nullptr), E_FAIL);
    EXPECT_EQ(g_startupFailures, 1);
    UINT count = 0;
    EXPECT_EQ(k->GetSampleCount(&count), E_PENDING);  // not initialised
    // With good data the same object initialises.
    perfbuild::WriteBlockFile(files.block, kthrdworld::Block().Build());
    EXPECT_EQ(k->Initialize(5, 0, nullptr), S_OK);
    EXPECT_EQ(k->Terminate(), S_OK);
    k->Release();
  }
  {
    // The requests of a dead thread fail at once instead of waiting for ever.
    perfbuild::MemoryPerfSource source(kthrdworld::Names(), std::vector<std::uint8_t>(64, 0));
    CPerfName names(&source);
    CSnapCatalog catalogue;
    osmkthrd thread(5, false, nullptr, &source, &names, &catalogue, PortableKthrdHooks());
    EXPECT_FALSE(thread.Start());
    EXPECT_FALSE(thread.Running());
    CSample sample;
    EXPECT_EQ(thread.RemoveSample(&sample), E_FAIL);
    EXPECT_EQ(thread.ChangeSample(&sample, 3), E_FAIL);
    EXPECT_EQ(thread.SetGlobalTime(3), E_FAIL);
  }
  osmkthrd::SetStartupFailureHandler(nullptr);
}

namespace {

// A source whose data queries can be counted from another thread.
class CountingSource : public perfbuild::MemoryPerfSource {
 public:
  using MemoryPerfSource::MemoryPerfSource;
  long QueryData(const char* request, std::uint8_t* buffer, std::uint32_t* size) override {
    ++dataQueries;
    return MemoryPerfSource::QueryData(request, buffer, size);
  }
  std::atomic<int> dataQueries{0};
};

std::shared_ptr<CSample> Sample(const kthrdworld::Description& d, const CSnapCatalog& catalogue,
                                const CPerfName& names, std::uint32_t interval) {
  auto s = std::make_shared<CSample>(0, interval);
  s->ProcessRawSampleDescription(d.text[0], d.text[1], d.text[2], d.text[3], d.text[4], d.text[5], d.text[6],
                                 d.text[7]);
  s->ConvertNamesToNumbers(catalogue, names);
  return s;
}

}  // namespace

TEST(SupportThread, RequestsSuspendAndResumeWithRealTime) {
  CountingSource source(kthrdworld::Names(), kthrdworld::Block().Build());
  CPerfName names(&source);
  CSnapCatalog catalogue;
  KthrdHooks hooks = PortableKthrdHooks();
  hooks.getEnv = [](const char*) -> const char* { return "0"; };  // no leak exclusion
  osmkthrd thread(1, false, nullptr, &source, &names, &catalogue, hooks);
  ASSERT_TRUE(thread.Start());
  EXPECT_EQ(thread.SnapControlObjects(), "4 238 2 230 ");
  EXPECT_EQ(thread.GlobalSeconds(), 1u);

  auto memory = Sample(kthrdworld::MemoryDescription(), catalogue, names, 0);
  auto cpu = Sample(kthrdworld::ProcessorDescription(), catalogue, names, 2);
  ASSERT_EQ(thread.AddSample(memory), 0);
  ASSERT_EQ(thread.AddSample(cpu), 0);
  ASSERT_TRUE(memory->WaitReadyFor(5000));
  ASSERT_TRUE(cpu->WaitReadyFor(5000));
  EXPECT_EQ(thread.SampleCount(), 2u);

  // Suspended: no snapshot for three intervals; resumed: one at once.
  thread.Suspend();
  Sleep(300);
  int before = source.dataQueries.load();
  Sleep(3000);
  EXPECT_EQ(source.dataQueries.load(), before);
  thread.Resume();
  for (int i = 0; i < 40 && source.dataQueries.load() == before; ++i) Sleep(50);
  EXPECT_GT(source.dataQueries.load(), before);

  // Requests through the thread succeed in the COM client; here their errors.
  CSample stranger;
  EXPECT_EQ(thread.RemoveSample(&stranger), E_UNEXPECTED);
  EXPECT_EQ(thread.ChangeSample(&stranger, 4), E_FAIL);
  EXPECT_EQ(thread.RemoveSample(cpu.get()), S_OK);
  EXPECT_EQ(thread.SampleCount(), 1u);
  thread.Terminate();
  EXPECT_FALSE(thread.Running());
  EXPECT_EQ(thread.FindSample(reinterpret_cast<std::uintptr_t>(memory.get())), nullptr);
}

// ---------------------------------------------------------------- COsmKounter

TEST(OsmKounter, SampleNumbersStayDistinctUnderConcurrentCopies) {
  WorldFiles files("numbers", kthrdworld::Block().Build());
  CUnknown* object = nullptr;
  ASSERT_EQ(COsmKounter::CreateInstance(nullptr, &object), S_OK);
  IOsmKount* k = nullptr;
  ASSERT_EQ(object->NondelegatingQueryInterface(IID_IOsmKount, reinterpret_cast<void**>(&k)), S_OK);
  object->NondelegatingRelease();
  ASSERT_EQ(k->Initialize(1, 0, nullptr), S_OK);
  OSMSAMPLE h = 0;
  ASSERT_EQ(k->DescribeSample("3 2 1 Processor (3 _INSTANCE_, % Processor Time, % Idle Ratio)", "96 8 4 4", "0 8 12",
                              "0 1 1", "3 2 2", "2 _SAMPLE_ , _ROW_", "4 4", "88 92", 0, 0, 0, 0, &h),
            S_OK);
  const int kThreads = 4, kCopies = 150;
  std::vector<std::vector<std::uint32_t>> seen(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::vector<std::uint8_t> buffer(2 * 96);
      for (int i = 0; i < kCopies; ++i) {
        UINT needed = 0;
        if (k->SampleLockedData(h, static_cast<int>(buffer.size()), &needed, buffer.data()) != S_OK || needed != 192)
          continue;
        std::uint32_t first, second;
        std::memcpy(&first, buffer.data() + 88, 4);
        std::memcpy(&second, buffer.data() + 96 + 88, 4);
        if (first == second) seen[static_cast<std::size_t>(t)].push_back(first);
      }
    });
  }
  for (auto& t : threads) t.join();
  std::set<std::uint32_t> all;
  std::size_t total = 0;
  for (auto& v : seen) {
    total += v.size();
    all.insert(v.begin(), v.end());
  }
  EXPECT_EQ(total, static_cast<std::size_t>(kThreads * kCopies));
  EXPECT_EQ(all.size(), total);  // every copy had its own number
  EXPECT_EQ(*all.rbegin(), static_cast<std::uint32_t>(kThreads * kCopies));
  EXPECT_EQ(k->Terminate(), S_OK);
  k->Release();
}
