// A client of the registered osmperf.dll, as the agent uses it: the object is
// created by ProgID with CoCreateInstance and every IOsmKount slot is called
// through the vtable. Performance data comes from a names file and a block
// file (OSM_PERFNAMES_FILE, OSM_PERFDATA_FILE) that the test rewrites.
//
// Run by osmperf_com_test.sh between "regsvr32" and "regsvr32 /u":
//   Registered.*   the keys regsvr32 wrote
//   ComClient.*    the object through COM
//   Unregistered.* the keys are gone
#include "perfsvc/osmkount.h"
#include "resources/resource_ids.h"
#include "tests/perfsvc/kthrd_world.h"

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const char kClsid[] = "{9A487EC4-9A47-11D0-8F6E-F44D6C000000}";

std::string DefaultValue(const std::string& key) {
  char value[1024] = {0};
  DWORD size = sizeof value, type = 0;
  HKEY h = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return "<missing>";
  LONG rc = RegQueryValueExA(h, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(h);
  if (rc != ERROR_SUCCESS || type != REG_SZ) return "<bad>";
  return value;
}

DWORD CountOf(const std::string& key, DWORD* values) {
  HKEY h = nullptr;
  DWORD subkeys = 0;
  *values = 0;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return 0xFFFFFFFFu;
  RegQueryInfoKeyA(h, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, values, nullptr, nullptr, nullptr,
                   nullptr);
  RegCloseKey(h);
  return subkeys;
}

std::string Here(const char* file) {
  char dir[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, dir);
  return std::string(dir) + "\\" + file;
}

// Processor is named in Perflib but missing from the first block.
std::vector<std::uint8_t> BlockWithoutProcessor() {
  perfbuild::BlockBuilder b;
  b.SystemTime(2010, 4, 12, 6, 14, 21, 500).PerfFreq(10000000);
  b.Object(kthrdworld::kMemory)
      .Counter(24, osmperf::PERF_COUNTER_LARGE_RAWCOUNT)
      .Counter(26, osmperf::PERF_COUNTER_LARGE_RAWCOUNT)
      .Values({123456789, 987654321});
  b.Object(kthrdworld::kSystem).Counter(44, osmperf::PERF_COUNTER_RAWCOUNT).Values({3});
  return b.Build();
}

HRESULT CallSlot(IOsmKount* k, int slot) {
  // The reserved slots through the raw vtable, as a caller without our header would.
  typedef HRESULT(STDMETHODCALLTYPE * Fn)(IOsmKount*);
  Fn* vtable = *reinterpret_cast<Fn**>(k);
  return vtable[slot](k);
}

template <typename T>
T At(const std::vector<std::uint8_t>& b, std::size_t offset) {
  T v;
  std::memcpy(&v, b.data() + offset, sizeof v);
  return v;
}

}  // namespace

// The keys themselves are checked in the server tests; here: regsvr32 named
// this DLL, without a threading model, and unregistering removed them.
TEST(Registered, RegsvrNamedThisDll) {
  const char* expected = std::getenv("OSM_TEST_OSMPERF_PATH");
  ASSERT_NE(expected, nullptr);
  const std::string server = std::string("CLSID\\") + kClsid + "\\InprocServer32";
  DWORD values = 0;
  EXPECT_EQ(CountOf(server, &values), 0u);
  EXPECT_EQ(values, 1u);  // no ThreadingModel
  EXPECT_EQ(_stricmp(DefaultValue(server).c_str(), expected), 0) << DefaultValue(server) << " vs " << expected;
}

TEST(Unregistered, RegsvrRemovedTheClassKeys) {
  EXPECT_EQ(DefaultValue(std::string("CLSID\\") + kClsid), "<missing>");
  EXPECT_EQ(DefaultValue("Velmor.OSMSRV.KOUNTER1.2"), "<missing>");
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  CLSID clsid;
  EXPECT_EQ(CLSIDFromProgID(L"Velmor.OSMSRV.KOUNTER1", &clsid), static_cast<HRESULT>(0x800401F3));
  CoUninitialize();
}

class ComClient : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    names_ = Here("com_client.names");
    block_ = Here("com_client.block");
    ASSERT_TRUE(perfbuild::WriteNamesFile(names_, kthrdworld::Names()));
    ASSERT_TRUE(perfbuild::WriteBlockFile(block_, BlockWithoutProcessor()));
    SetEnvironmentVariableA("OSM_PERFNAMES_FILE", names_.c_str());
    SetEnvironmentVariableA("OSM_PERFDATA_FILE", block_.c_str());
    SetEnvironmentVariableA("NT_PERFMON_MEMORY_CHECK", "0");
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(L"Velmor.OSMSRV.KOUNTER1", &clsid), S_OK);
    ASSERT_TRUE(IsEqualCLSID(clsid, CLSID_OsmKounter));
    CLSID versioned;
    ASSERT_EQ(CLSIDFromProgID(L"Velmor.OSMSRV.KOUNTER1.2", &versioned), S_OK);
    ASSERT_TRUE(IsEqualCLSID(versioned, CLSID_OsmKounter));
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, OSMKOUNT_CLSCTX, IID_IOsmKount, reinterpret_cast<void**>(&k_)),
              S_OK);
  }
  void TearDown() override {
    if (k_ != nullptr) k_->Release();
    CoFreeUnusedLibraries();
    CoUninitialize();
    DeleteFileA(names_.c_str());
    DeleteFileA(block_.c_str());
  }
  // A one-counter Memory description through DescribeSample.
  HRESULT Describe(const char* header, const char* offsets, const char* pseudo, const char* widths, UINT interval,
                   OSMSAMPLE* h) {
    return k_->DescribeSample(header, "8 8", offsets, "1", "6", pseudo, widths, nullptr, 0, interval, 0, 0, h);
  }
  // Polls until rows(handle) == want.
  bool WaitRows(OSMSAMPLE h, UINT want) {
    for (int i = 0; i < 100; ++i) {
      UINT rows = 0xFFFF;
      if (k_->SampleRows(h, &rows) == S_OK && rows == want) return true;
      Sleep(50);
    }
    return false;
  }

  std::string names_, block_;
  IOsmKount* k_ = nullptr;
};

TEST_F(ComClient, BeforeInitializeEverySlotSaysSo) {
  OSMSAMPLE h = 0;
  UINT u = 0;
  EXPECT_EQ(k_->DescribeSampleI(IDS_DESC_NTMEMORY, IDS_FIXED_TIMESTAMP, 0, 0, 0, 1, &h), E_PENDING);
  EXPECT_EQ(Describe("1 1 1 Memory (1 Available Bytes)", "0", nullptr, nullptr, 0, &h), E_PENDING);
  EXPECT_EQ(k_->DescribeSampleFixedData(1234, "_ORIGIN_", "x", 1), E_HANDLE);
  EXPECT_EQ(k_->SampleLock(1234, OSMKOUNT_LOCK), E_HANDLE);
  EXPECT_EQ(k_->SampleRows(1234, &u), E_HANDLE);
  std::vector<std::uint8_t> buffer(64);
  EXPECT_EQ(k_->SampleData(1234, 64, &u, buffer.data()), E_ABORT);
  EXPECT_EQ(k_->SampleLockedData(1234, 64, &u, buffer.data()), E_FAIL);
  EXPECT_EQ(k_->RemoveSample(1234), E_INVALIDARG);
  EXPECT_EQ(k_->Terminate(), S_OK);  // nothing to stop
  EXPECT_EQ(k_->GetSampleCount(&u), E_PENDING);
  EXPECT_EQ(k_->SampleRescan(1234), E_PENDING);
  UINT count = 7, bytes = 7;
  DWORD* indexes = reinterpret_cast<DWORD*>(8);
  DWORD* counts = reinterpret_cast<DWORD*>(8);
  char** nameArray = reinterpret_cast<char**>(8);
  char* block = reinterpret_cast<char*>(8);
  EXPECT_EQ(k_->ObjectList(&count, &bytes, &indexes, &counts, &nameArray, &block, 1), E_PENDING);
  EXPECT_TRUE(count == 0 && bytes == 0 && !indexes && !counts && !nameArray && !block) << "out values cleared";
  EXPECT_EQ(k_->CounterList(4, &count, &bytes, &indexes, &nameArray, &block), E_PENDING);
  EXPECT_EQ(k_->ChangeSample(1234, 5), E_PENDING);
  EXPECT_EQ(k_->SetGlobalTime(5), E_PENDING);
  EXPECT_EQ(k_->GetGlobalTime(&u), E_PENDING);
  EXPECT_EQ(k_->SuspendSampling(), E_PENDING);
  EXPECT_EQ(k_->ResumeSampling(), E_PENDING);
  for (int slot : {14, 23, 24, 25}) EXPECT_EQ(CallSlot(k_, slot), E_NOTIMPL) << "slot " << slot;
  EXPECT_EQ(k_->Initialize(0, 0, nullptr), E_INVALIDARG);
}

TEST_F(ComClient, DrivesEverySlotWithRecordedData) {
  typedef HRESULT(STDAPICALLTYPE * CanUnload)();
  HMODULE dll = GetModuleHandleA("osmperf.dll");
  ASSERT_NE(dll, nullptr);
  CanUnload canUnloadNow = reinterpret_cast<CanUnload>(reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
  ASSERT_NE(canUnloadNow, nullptr);
  EXPECT_EQ(canUnloadNow(), S_FALSE);  // our object lives

  // The local computer's own name, in another case, is the local computer.
  char local[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = sizeof local;
  ASSERT_TRUE(GetComputerNameA(local, &size));
  CharLowerA(local);
  ASSERT_EQ(k_->Initialize(1, 0, local), S_OK);
  EXPECT_EQ(k_->Initialize(1, 0, nullptr), E_ABORT);
  UINT seconds = 0;
  EXPECT_EQ(k_->GetGlobalTime(&seconds), S_OK);
  EXPECT_EQ(seconds, 1u);
  EXPECT_EQ(k_->SetGlobalTime(0), E_INVALIDARG);
  EXPECT_EQ(k_->SetGlobalTime(2), S_OK);
  EXPECT_EQ(k_->GetGlobalTime(&seconds), S_OK);
  EXPECT_EQ(seconds, 2u);
  EXPECT_EQ(k_->SetGlobalTime(1), S_OK);

  // Memory, announced with one fixed item: unknown to the readers until it arrives.
  OSMSAMPLE memory = 0;
  ASSERT_EQ(k_->DescribeSampleI(IDS_DESC_NTMEMORY, IDS_FIXED_TIMESTAMP, 0, 0, 0, 1, &memory), S_OK);
  ASSERT_NE(memory, 0u);
  UINT rows = 0, needed = 0;
  EXPECT_EQ(k_->SampleRows(memory, &rows), E_HANDLE);
  EXPECT_EQ(k_->SampleLock(memory, OSMKOUNT_LOCK), E_HANDLE);
  EXPECT_EQ(k_->SampleData(memory, 1000, &needed, nullptr), E_HANDLE);
  EXPECT_EQ(k_->DescribeSampleFixedData(memory + 1, "_ORIGIN_", "x", 1), E_HANDLE);
  char origin[64];
  std::memset(origin, ' ', sizeof origin);
  std::memcpy(origin, "TESTNODE", 8);
  EXPECT_EQ(k_->DescribeSampleFixedData(memory, "_ORIGIN_", origin, 64), S_OK);
  // Complete now: a further item is refused and nothing is stored.
  EXPECT_EQ(k_->DescribeSampleFixedData(memory, "_ORIGIN_", "ZZZZ", 4), E_INVALIDARG);

  // The row: 348 bytes, one row.
  ASSERT_EQ(k_->SampleData(memory, 0, &needed, nullptr), E_OUTOFMEMORY);  // waits for the first update
  EXPECT_EQ(needed, 348u);
  std::vector<std::uint8_t> row(348, 0xEE);
  EXPECT_EQ(k_->SampleData(memory, 347, &needed, row.data()), E_OUTOFMEMORY);  // one byte short
  EXPECT_EQ(needed, 348u);
  EXPECT_EQ(row[0], 0xEE);  // nothing written
  // The row's values: the collector framework tests, table by table.
  EXPECT_EQ(k_->SampleData(memory, 348, &needed, row.data()), S_OK);
  EXPECT_EQ(At<std::int64_t>(row, 80), 123456789);  // Available Bytes
  EXPECT_EQ(k_->SampleLockedData(memory, 348, &needed, row.data()), S_OK);
  EXPECT_EQ(k_->SampleLockedData(memory, 100, &needed, row.data()), E_OUTOFMEMORY);

  // Locks: lock and unlock pair up; an unlock without a lock is refused.
  EXPECT_EQ(k_->SampleLock(memory, 3), E_INVALIDARG);
  EXPECT_EQ(k_->SampleLock(memory, OSMKOUNT_LOCK), S_OK);
  EXPECT_EQ(k_->SampleRows(memory, &rows), S_OK);
  EXPECT_EQ(rows, 1u);
  EXPECT_EQ(k_->SampleLock(memory, OSMKOUNT_UNLOCK), S_OK);
  EXPECT_EQ(k_->SampleLock(memory, OSMKOUNT_UNLOCK), E_FAIL);

  // Processor: named by Perflib but not returned: a handle with E_ACCESSDENIED.
  OSMSAMPLE cpu = 0;
  ASSERT_EQ(k_->DescribeSampleI(IDS_DESC_NTPROCSSR, IDS_FIXED_SAMPLE, 0, 0, 0, 1, &cpu), E_ACCESSDENIED);
  ASSERT_NE(cpu, 0u);
  EXPECT_EQ(k_->DescribeSampleFixedData(cpu, "_ORIGIN_", origin, 64), S_OK);
  EXPECT_EQ(k_->SampleRows(cpu, &rows), S_OK);
  EXPECT_EQ(rows, 0u);
  EXPECT_EQ(k_->SampleLock(cpu, OSMKOUNT_LOCK), E_ACCESSDENIED);
  EXPECT_EQ(k_->SampleData(cpu, 1000, &needed, row.data()), E_ACCESSDENIED);
  EXPECT_EQ(k_->SampleRescan(cpu), E_ACCESSDENIED);  // still absent
  EXPECT_EQ(k_->SampleRescan(memory), E_INVALIDARG);  // already valid
  EXPECT_EQ(k_->SampleRescan(777), E_HANDLE);
  // The object appears: a rescan makes the sample valid.
  ASSERT_TRUE(perfbuild::WriteBlockFile(block_, kthrdworld::Block(1).Build()));
  EXPECT_EQ(k_->SampleRescan(cpu), S_OK);
  ASSERT_TRUE(WaitRows(cpu, 2));
  std::vector<std::uint8_t> rows2(2 * 192, 0);
  ASSERT_EQ(k_->SampleLockedData(cpu, static_cast<int>(rows2.size()), &needed, rows2.data()), S_OK);
  EXPECT_EQ(needed, 384u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(rows2.data()) + 88, 2), "0 ");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(rows2.data()) + 192 + 88, 7), "_Total ");
  EXPECT_EQ(At<std::uint32_t>(rows2, 68), 1u);        // _ROW_
  EXPECT_EQ(At<std::uint32_t>(rows2, 192 + 68), 2u);
  std::uint32_t number = At<std::uint32_t>(rows2, 64);  // _SAMPLE_
  EXPECT_EQ(At<std::uint32_t>(rows2, 192 + 64), number);
  ASSERT_EQ(k_->SampleData(cpu, static_cast<int>(rows2.size()), &needed, rows2.data()), S_OK);
  EXPECT_EQ(At<std::uint32_t>(rows2, 64), number + 1);

  // Bad descriptions.
  OSMSAMPLE bad = 5;
  EXPECT_EQ(k_->DescribeSampleI(399, 0, 0, 0, 0, 0, &bad), E_INVALIDARG);  // no such string
  EXPECT_EQ(Describe("1 1 1 Memory (1 Available Bytes)", "", nullptr, nullptr, 0, &bad), E_INVALIDARG);
  EXPECT_EQ(Describe("1 1 1 Memory (1 Available Bytes)", "0", "1 _ROW_", "4", 0, &bad), E_INVALIDARG);
  EXPECT_EQ(Describe("1 1 1 Memory (2 Available Bytes)", "0", nullptr, nullptr, 0, &bad), E_FAIL);
  EXPECT_EQ(bad, 0u);
  OSMSAMPLE direct = 0;
  ASSERT_EQ(Describe("1 1 1 Memory (1 Available Bytes)", "0", nullptr, nullptr, 3, &direct), S_OK);
  EXPECT_EQ(k_->DescribeSampleFixedData(direct, "_ORIGIN_", "x", 1), E_INVALIDARG);  // announced none

  // Sample count: every complete sample is placed.
  UINT count = 0;
  for (int i = 0; i < 50 && (k_->GetSampleCount(&count) != S_OK || count != 3); ++i) Sleep(50);
  EXPECT_EQ(count, 3u);

  // Intervals.
  EXPECT_EQ(k_->ChangeSample(direct, -1), E_INVALIDARG);
  EXPECT_EQ(k_->ChangeSample(4321, 2), E_INVALIDARG);
  EXPECT_EQ(k_->ChangeSample(direct, 2), S_OK);
  EXPECT_EQ(k_->ChangeSample(direct, 0), S_OK);

  // Object and counter lists: caller-owned memory.
  UINT n = 0, bytes = 0;
  DWORD* indexes = nullptr;
  DWORD* counts = nullptr;
  char** nameArray = nullptr;
  char* block = nullptr;
  for (BYTE rescan : {BYTE(0), BYTE(1)}) {
    ASSERT_EQ(k_->ObjectList(&n, &bytes, &indexes, &counts, &nameArray, &block, rescan), S_OK);
    ASSERT_EQ(n, 4u);  // Memory and System from start-up, Processor and Process from the rescans
    std::size_t sum = 0;
    bool sawProcessor = false;
    for (UINT i = 0; i < n; ++i) {
      ASSERT_GE(nameArray[i], block);
      ASSERT_LT(nameArray[i], block + bytes);
      sum += std::strlen(nameArray[i]);
      if (std::string(nameArray[i]) == "Processor") {
        sawProcessor = true;
        EXPECT_EQ(indexes[i], kthrdworld::kProcessor);
        EXPECT_EQ(counts[i], 3u);
      }
      if (indexes[i] == kthrdworld::kMemory) {
        EXPECT_STREQ(nameArray[i], "Memory");
      }
    }
    EXPECT_TRUE(sawProcessor);
    EXPECT_EQ(bytes, n + 1 + sum);
    CoTaskMemFree(indexes);
    CoTaskMemFree(counts);
    CoTaskMemFree(nameArray);
    CoTaskMemFree(block);
  }
  ASSERT_EQ(k_->CounterList(kthrdworld::kMemory, &n, &bytes, &indexes, &nameArray, &block), S_OK);
  ASSERT_EQ(n, 2u);
  EXPECT_EQ(indexes[0], 24u);
  EXPECT_EQ(indexes[1], 26u);
  EXPECT_STREQ(nameArray[0], "Available Bytes");
  EXPECT_STREQ(nameArray[1], "Committed Bytes");
  EXPECT_EQ(bytes, 2u + 1u + 15u + 15u);
  EXPECT_EQ(nameArray[1], nameArray[0] + 16);
  CoTaskMemFree(indexes);
  CoTaskMemFree(nameArray);
  CoTaskMemFree(block);
  EXPECT_EQ(k_->CounterList(12345, &n, &bytes, &indexes, &nameArray, &block), E_INVALIDARG);
  EXPECT_EQ(indexes, nullptr);
  EXPECT_EQ(block, nullptr);

  // Suspended: no data; resumed: data again.
  EXPECT_EQ(k_->SuspendSampling(), S_OK);
  EXPECT_EQ(k_->SampleData(memory, 348, &needed, row.data()), E_PENDING);
  EXPECT_EQ(k_->ResumeSampling(), S_OK);
  EXPECT_EQ(k_->SampleData(memory, 348, &needed, row.data()), S_OK);

  // Memory leaves the data: its sample ends with 0 rows and reads answer at
  // once with nothing instead of waiting.
  perfbuild::BlockBuilder onlyCpu;
  auto& c = onlyCpu.Object(kthrdworld::kProcessor)
                .Counter(6, osmperf::PERF_100NSEC_TIMER_INV)
                .Counter(240, osmperf::PERF_RAW_FRACTION)
                .Counter(241, osmperf::PERF_RAW_BASE);
  c.Instance(u"0", {1, 2, 3});
  ASSERT_TRUE(perfbuild::WriteBlockFile(block_, onlyCpu.Build()));
  ASSERT_TRUE(WaitRows(memory, 0));
  needed = 99;
  EXPECT_EQ(k_->SampleData(memory, 348, &needed, row.data()), S_OK);
  EXPECT_EQ(needed, 0u);

  // Removal.
  EXPECT_EQ(k_->RemoveSample(direct), S_OK);
  EXPECT_EQ(k_->RemoveSample(direct), E_INVALIDARG);
  EXPECT_EQ(k_->SampleRows(direct, &rows), E_HANDLE);
  EXPECT_EQ(k_->GetSampleCount(&count), S_OK);
  EXPECT_EQ(count, 2u);

  // Terminate, and the object can be initialised again.
  EXPECT_EQ(k_->Terminate(), S_OK);
  EXPECT_EQ(k_->SampleRows(memory, &rows), E_HANDLE);
  EXPECT_EQ(k_->GetSampleCount(&count), E_PENDING);
  EXPECT_EQ(k_->Initialize(2, 0, nullptr), S_OK);
  EXPECT_EQ(k_->GetGlobalTime(&seconds), S_OK);
  EXPECT_EQ(seconds, 2u);
  EXPECT_EQ(k_->Terminate(), S_OK);

  // The last object gone, the module may unload (locks: the server tests).
  k_->Release();
  k_ = nullptr;
  EXPECT_EQ(canUnloadNow(), S_OK);
}
