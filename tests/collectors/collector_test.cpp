// The collector pattern against an in-memory counter service: rows handed
// over, failure traces, other tables' buffers read one lock at a time, the
// memory, system and process collectors, the system identity record and its
// hand-over, and the account name of an unmapped identifier.
#include <winsock2.h>
#include <windows.h>
#include <winioctl.h>

#include "collectors/perf/disk_tables.h"
#include "collectors/perf/machine_tables.h"
#include "collectors/perf/perf_collector.h"
#include "collectors/perf/process_tables.h"
#include "collectors/perf/service_app_tables.h"
#include "collectors/perf/system_identity.h"
#include "framework/cfw_runtime.h"
#include "perfclient/osmclient.h"
#include "perfclient/kount_test_base.h"
#include "tables/tables.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace osm::perf;

namespace {

const std::uint64_t kGiB = 1024ull * 1024 * 1024;

// One sample per table, with rows and results the test sets.
struct FakeSample {
  std::string table;
  std::vector<char> rows;  // whole rows of the table's row size
  UINT rowSize = 0;
  HRESULT result = S_OK;
};

class FakeKount : public KountTestBase {
 public:
  std::mutex lock;
  std::map<OSMSAMPLE, FakeSample> samples;
  std::vector<std::pair<std::string, std::string>> fixedData;  // name, bytes
  std::atomic<int> fetches{0};
  std::atomic<int> lockViolations{0};  // fetches while another buffer's lock was held

  HRESULT STDMETHODCALLTYPE DescribeSampleI(UINT, UINT, UINT, UINT, UINT, UINT, OSMSAMPLE*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE DescribeSampleFixedData(OSMSAMPLE, LPCSTR name, const void* data, UINT length) override {
    std::lock_guard<std::mutex> g(lock);
    fixedData.emplace_back(name, std::string(static_cast<const char*>(data), length));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SampleLock(OSMSAMPLE, int) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SampleRows(OSMSAMPLE h, UINT* rows) override {
    std::lock_guard<std::mutex> g(lock);
    FakeSample& s = samples[h];
    *rows = s.rowSize ? static_cast<UINT>(s.rows.size() / s.rowSize) : 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SampleData(OSMSAMPLE h, int size, UINT* needed, void* buffer) override {
    CheckLocks(h);
    std::lock_guard<std::mutex> g(lock);
    FakeSample& s = samples[h];
    ++fetches;
    *needed = static_cast<UINT>(s.rows.size());
    if (FAILED(s.result)) return s.result;
    if (static_cast<std::size_t>(size) < s.rows.size()) return E_OUTOFMEMORY;
    if (!s.rows.empty()) std::memcpy(buffer, s.rows.data(), s.rows.size());
    return s.result;
  }
  HRESULT STDMETHODCALLTYPE SampleLockedData(OSMSAMPLE h, int size, UINT* needed, void* buffer) override {
    return SampleData(h, size, needed, buffer);
  }

 private:
  // While the sample h is copied, its own buffer must be locked by the
  // caller and every other buffer free: probed from another thread.
  void CheckLocks(OSMSAMPLE h) {
    std::vector<std::pair<OSMSAMPLE, HANDLE>> mutexes;
    {
      std::lock_guard<std::mutex> g(lock);
      for (auto& s : samples) mutexes.emplace_back(s.first, OsmTableSampleBuffer(s.second.table.c_str())->hMutex);
    }
    std::thread probe([&] {
      for (auto& m : mutexes) {
        if (!m.second) continue;
        DWORD rc = WaitForSingleObject(m.second, 0);
        bool held = rc == WAIT_TIMEOUT;
        if (rc == WAIT_OBJECT_0) ReleaseMutex(m.second);
        if (held != (m.first == h)) ++lockViolations;
      }
    });
    probe.join();
  }
};

FakeKount* g_fake = nullptr;

// A zero-filled row of a table with helpers by attribute name.
struct Row {
  explicit Row(const char* table) : def(*osm::FindTable(table)), bytes(def.rowSize, 0) {}
  Row& Set32(const char* n, std::int32_t v) {
    SetInt32(bytes.data(), FieldOf(def, n), v);
    return *this;
  }
  Row& Set64(const char* n, std::int64_t v) {
    SetInt64(bytes.data(), FieldOf(def, n), v);
    return *this;
  }
  Row& Text(const char* n, const std::string& t) {
    RowField f = FieldOf(def, n);
    CopyTextField(bytes.data() + f.offset, f.width, t);
    return *this;
  }
  const osm::TableDef& def;
  std::vector<char> bytes;
};

// Sets up a table's buffer as table start-up does (once per process) and
// gives its fake sample these rows.
void Serve(const char* table, const std::vector<Row>& rows, HRESULT result = S_OK) {
  const osm::TableDef& def = *osm::FindTable(table);
  OsmSampleBfr* b = OsmTableSampleBuffer(table);
  if (!b->hMutex) {
    ASSERT_TRUE(b->CreateMutex((std::string("OSM.") + table).c_str()));
    b->nRowSize = def.rowSize;
    b->Resize(def.rowSize);
    b->hSample = reinterpret_cast<OSMSAMPLE>(b);
    b->bCtrObject = 1;
  }
  std::lock_guard<std::mutex> g(g_fake->lock);
  FakeSample& s = g_fake->samples[b->hSample];
  s.table = table;
  s.rowSize = def.rowSize;
  s.result = result;
  s.rows.clear();
  for (const Row& r : rows) s.rows.insert(s.rows.end(), r.bytes.begin(), r.bytes.end());
}

// One report request of a table, created by the table's manager as the
// framework does, sampled once; the rows it inserted.
template <class Manager>
std::vector<std::vector<char>> SampleOnce(const char* table, int* result = nullptr) {
  std::vector<std::vector<char>> out;
  const osm::TableDef& def = *osm::FindTable(table);
  Manager manager("OSM", table);
  ContextInfo context = cfw::NewContext(nullptr);
  RequestDetail detail = cfw::MakeDetail("OSM", table, "r", 0, DCF_SAMPLE_REPORT);
  dcfa* request = manager.CreateRequest(detail, context);
  EXPECT_NE(nullptr, request) << table << " has no collector";
  if (!request) return out;
  int rc = request->TakeSample();
  if (result) *result = rc;
  for (int i = 0; i < request->_data.count; ++i)
    out.emplace_back(request->_data.rows + i * def.rowSize, request->_data.rows + (i + 1) * def.rowSize);
  request->DiscardRows();
  delete request;
  return out;
}

std::int32_t I32(const std::vector<char>& row, const char* table, const char* name) {
  return GetInt32(row.data(), FieldOf(table, name));
}
std::int64_t I64(const std::vector<char>& row, const char* table, const char* name) {
  return GetInt64(row.data(), FieldOf(table, name));
}

class Collectors : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static FakeKount fake;
    g_fake = &fake;
    g_osmKount = &fake;
    trace_ = ::testing::TempDir() + "collectors_trace.txt";
    RAS1_SetDestination(trace_.c_str());
    RAS1_Configure("ALL");
  }
  void SetUp() override {
    std::remove(trace_.c_str());
    g_fake->lockViolations = 0;
  }
  // The trace written since the test began.
  std::string Trace() {
    RAS1_Close();
    std::ifstream in(trace_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static std::string trace_;
};
std::string Collectors::trace_;

}  // namespace

namespace {

MemoryStatus EightGiB() {
  MemoryStatus m;
  m.ok = true;
  m.totalPhys = 8 * kGiB;
  m.totalPageFile = 10 * kGiB;
  m.availPageFile = 9 * kGiB;
  return m;
}
MemoryStatus NoMemoryStatus() { return MemoryStatus(); }

TEST_F(Collectors, PlainTableHandsTheSampleOverUnchanged) {
  Row a("NTPAGEFILE"), b("NTPAGEFILE");
  a.Text("INSTCNAME", "C:\\pagefile.sys").Set32("USAGE", 12).Set32("USAGEPEAK", 20);
  b.Text("INSTCNAME", "D:\\pagefile.sys").Set32("USAGE", 3).Set32("USAGEPEAK", 4);
  Serve("NTPAGEFILE", {a, b});
  auto rows = SampleOnce<osm_ntpagefile_manager>("NTPAGEFILE");
  ASSERT_EQ(2u, rows.size());
  EXPECT_EQ(a.bytes, rows[0]);
  EXPECT_EQ(b.bytes, rows[1]);
  EXPECT_EQ(0, g_fake->lockViolations.load());

  // A sample of no rows answers with no rows and no failure.
  Serve("NTPAGEFILE", {});
  EXPECT_TRUE(SampleOnce<osm_ntpagefile_manager>("NTPAGEFILE").empty());
  std::string trace = Trace();
  EXPECT_EQ(std::string::npos, trace.find("OsmKountInterface() returns")) << trace;
  EXPECT_NE(std::string::npos, trace.find("osm_ntpagefile_agent::TakeSample")) << "the sample's own trace unit";
}

TEST_F(Collectors, MissingObjectTracesTheObjectNameOnlyWhereTheTableHasOne) {
  // Neither table's buffer was ever set up: the object is absent.
  EXPECT_TRUE(SampleOnce<osm_tcpstats_manager>("TCPSTATS").empty());
  std::string trace = Trace();
  EXPECT_NE(std::string::npos, trace.find("Error retrieving performance data from the TCP performance object: <80070005>"))
      << trace;
  EXPECT_NE(std::string::npos,
            trace.find("OsmKountInterface() returns Severity: 1, Facility: 7, Code: 5 - (0x80070005). Requested "
                       "component is probably not installed or configured."))
      << trace;

  std::remove(trace_.c_str());
  EXPECT_TRUE(SampleOnce<osm_icmpstat_manager>("ICMPSTAT").empty());
  trace = Trace();
  EXPECT_EQ(std::string::npos, trace.find("Error retrieving")) << trace;
  EXPECT_NE(std::string::npos, trace.find("Requested component is probably not installed or configured.")) << trace;
}

TEST_F(Collectors, OtherFailuresTraceSeverityFacilityAndCode) {
  Row r("WTOBJECTS");
  Serve("WTOBJECTS", {r}, static_cast<HRESULT>(0x80071234u));
  RAS1_Configure("NONE");  // the generic trace is written whatever the level
  EXPECT_TRUE(SampleOnce<osm_wtobjects_manager>("WTOBJECTS").empty());
  RAS1_Configure("ALL");
  std::string trace = Trace();
  EXPECT_NE(std::string::npos,
            trace.find("OsmKountInterface() returns Severity: 1, Facility: 7, Code: 4660 - (0x80071234)"))
      << trace;
  EXPECT_EQ(std::string::npos, trace.find("Error retrieving")) << trace;

  // A positive result other than 0 is no success either.
  std::remove(trace_.c_str());
  Serve("WTOBJECTS", {r}, static_cast<HRESULT>(0x00050003));
  EXPECT_TRUE(SampleOnce<osm_wtobjects_manager>("WTOBJECTS").empty());
  trace = Trace();
  EXPECT_NE(std::string::npos, trace.find("Severity: 0, Facility: 5, Code: 3 - (0x00050003)")) << trace;

  // The thread table announces each sample and its unexpected failures.
  std::remove(trace_.c_str());
  Serve("WTTHREAD", {Row("WTTHREAD")}, E_FAIL);
  EXPECT_TRUE(SampleOnce<osm_wtthread_manager>("WTTHREAD").empty());
  trace = Trace();
  std::size_t announce = trace.find("NT_THREAD  TakeSample.");
  std::size_t fallback = trace.find("NT_THREAD  TakeSample default.");
  std::size_t generic = trace.find("Severity: 1, Facility: 0, Code: 16389");
  ASSERT_NE(std::string::npos, announce) << trace;
  ASSERT_NE(std::string::npos, fallback) << trace;
  ASSERT_NE(std::string::npos, generic) << trace;
  EXPECT_LT(announce, fallback);
  EXPECT_LT(fallback, generic);
}

TEST_F(Collectors, MemoryTablesTakeTheWorkingSetTotalAndTheMemorySize) {
  MemoryStatusHook() = &EightGiB;
  Row memory("WTMEMORY");
  memory.Set32("CACHEKB", 2097152).Set32("AVAILKB", 1048576).Set32("COMMKBYTE", 4194304).Set32("COMMITLKB", 6291456);
  Serve("WTMEMORY", {memory});
  Row idle("WTPROCESS"), total("WTPROCESS");
  idle.Text("INSTCNAME", "Idle").Set32("WRKINGSET", 1);
  total.Text("INSTCNAME", "_Total").Set32("WRKINGSET", 858993459).Set32("WRKSTKBYTE", 838861);
  Serve("WTPROCESS", {idle, total});

  auto rows = SampleOnce<osm_wtmemory_manager>("WTMEMORY");
  ASSERT_EQ(1u, rows.size());
  const char* t = "WTMEMORY";
  EXPECT_EQ(2147483647, I32(rows[0], t, "TOTMEMBYTE"));
  EXPECT_EQ(8388608, I32(rows[0], t, "TOTMEMKB"));
  EXPECT_EQ(8192, I32(rows[0], t, "TOTMEMMB"));
  EXPECT_EQ(858993459, I32(rows[0], t, "TOTWSBYTES"));
  EXPECT_EQ(838861, I32(rows[0], t, "TOTWSKBYTE"));
  EXPECT_EQ(10, I32(rows[0], t, "TOTWSPCT"));
  EXPECT_EQ(25, I32(rows[0], t, "CACHEPCT"));
  EXPECT_EQ(2097152, I32(rows[0], t, "COMAVLKBYT"));
  EXPECT_EQ(0, g_fake->lockViolations.load()) << "a second buffer was read under the first one's lock";
  // The shared buffer keeps the sample as delivered.
  OsmSampleBfr* shared = OsmTableSampleBuffer("WTMEMORY");
  EXPECT_EQ(0, std::memcmp(shared->pBuffer, memory.bytes.data(), memory.bytes.size()));

  // A Process sample of no rows is no "_Total": the working set values are -1.
  Serve("WTPROCESS", {});
  rows = SampleOnce<osm_wtmemory_manager>("WTMEMORY");
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ(-1, I32(rows[0], t, "TOTWSBYTES"));
  EXPECT_EQ(-1, I32(rows[0], t, "TOTWSPCT"));
  EXPECT_NE(std::string::npos, Trace().find("falied to collect the osmProcess attributes."));

  // The 64-bit table, with its own Process table and a failed memory query.
  Row nt("NTMEMORY");
  nt.Set64("COMMLIMIT", 8 * static_cast<std::int64_t>(kGiB)).Set64("COMMBYTE", 2 * static_cast<std::int64_t>(kGiB));
  Serve("NTMEMORY", {nt});
  Row ntTotal("NTPROCESS");
  ntTotal.Text("INSTCNAME", "_Total").Set64("WRKINGSET", 3 * static_cast<std::int64_t>(kGiB));
  Serve("NTPROCESS", {ntTotal});
  rows = SampleOnce<osm_ntmemory_manager>("NTMEMORY");
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ(8589934592ll, I64(rows[0], "NTMEMORY", "TOTMEMBYTE"));
  EXPECT_EQ(3221225472ll, I64(rows[0], "NTMEMORY", "TOTWSBYTES"));
  EXPECT_EQ(38, I32(rows[0], "NTMEMORY", "TOTWSPCT"));
  EXPECT_EQ(6291456, I64(rows[0], "NTMEMORY", "COMAVLKBYT"));
  MemoryStatusHook() = &NoMemoryStatus;
  rows = SampleOnce<osm_ntmemory_manager>("NTMEMORY");
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ(-1, I64(rows[0], "NTMEMORY", "TOTMEMBYTE"));
  EXPECT_EQ(-1, I32(rows[0], "NTMEMORY", "MEMUPCT"));
  EXPECT_NE(std::string::npos, Trace().find("The call toGlobalMemoryStatusEx() failed."));
  MemoryStatusHook() = nullptr;
  EXPECT_EQ(0, g_fake->lockViolations.load());
}

TEST_F(Collectors, SystemTableTakesTheProcessorTotalOrKeepsItsOwn) {
  MemoryStatusHook() = &EightGiB;
  Row system("WTSYSTEM");
  system.Set32("PCTTLPCSRT", 17).Set32("SYSUPTIME", 172800).Set32("PRCQUELNG", 9).Set32("NUMOFPRCSR", 4);
  Serve("WTSYSTEM", {system});
  Row cpu0("NTPROCSSR"), total("NTPROCSSR");
  cpu0.Text("INSTCNAME", "0").Set32("PROCTIME", 70);
  total.Text("INSTCNAME", "_Total").Set32("PROCTIME", 150).Set32("PRIVTIME", 60).Set32("USERTIME", 30)
      .Set32("INTERTIME", 900);
  Serve("NTPROCSSR", {cpu0, total});

  auto rows = SampleOnce<osm_wtsystem_manager>("WTSYSTEM");
  ASSERT_EQ(1u, rows.size());
  const char* t = "WTSYSTEM";
  EXPECT_EQ(90, I32(rows[0], t, "PCTTLPCSRT"));
  EXPECT_EQ(900, I32(rows[0], t, "TTLINTSEC"));
  EXPECT_EQ(2, I32(rows[0], t, "SYSUPDAYS"));
  EXPECT_EQ(5, I32(rows[0], t, "PRCQEX"));
  EXPECT_EQ(8192, I32(rows[0], t, "TOTMEMMB"));
  EXPECT_EQ(1024, I32(rows[0], t, "PAGEFILEMB"));
  RowField addr = FieldOf(t, "NETADDR6");
  std::string netAddr6(rows[0].data() + addr.offset, addr.width);
  EXPECT_NE(std::string(52, '\0'), netAddr6) << "the address field is always written";
  EXPECT_EQ(0, g_fake->lockViolations.load());

  // No Processor rows: the System object's own totals stay.
  Serve("NTPROCSSR", {});
  rows = SampleOnce<osm_wtsystem_manager>("WTSYSTEM");
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ(17, I32(rows[0], t, "PCTTLPCSRT"));
  EXPECT_NE(std::string::npos, Trace().find("falied to collect the osmProcessor attributes."));
  MemoryStatusHook() = nullptr;
}

TEST_F(Collectors, ProcessorSummaryFallsBackWhereOtherSamplesFail) {
  // No Processor object: no summary row, and no object name in the trace.
  Serve("NTPROCSSR", {}, E_ACCESSDENIED);
  EXPECT_TRUE(SampleOnce<osm_ntprocrsum_manager>("NTPROCRSUM").empty());
  EXPECT_EQ(std::string::npos, Trace().find("Error retrieving"));

  // Only "_Total", no System row and a failed Process fetch: one row of
  // zeros, a processor count of 1, and no top process.
  Row total("NTPROCSSR");
  total.Text("INSTCNAME", "_Total").Set32("PROCTIME", 55);
  Serve("NTPROCSSR", {total});
  Serve("WTSYSTEM", {});
  Serve("WTPROCESS", {Row("WTPROCESS")}, static_cast<HRESULT>(0x80071234u));
  std::remove(trace_.c_str());
  auto rows = SampleOnce<osm_ntprocrsum_manager>("NTPROCRSUM");
  ASSERT_EQ(1u, rows.size());
  // Every name and value after the node and time stays zero.
  std::string rest(rows[0].begin() + FieldOf("NTPROCRSUM", "TOPCPUNAME").offset, rows[0].end());
  EXPECT_EQ(std::string(rest.size(), '\0'), rest);
  std::string trace = Trace();
  EXPECT_NE(std::string::npos, trace.find("OSM11001E Error getting number of processors: <0>")) << trace;
  EXPECT_NE(std::string::npos, trace.find("Code: 4660 - (0x80071234)")) << trace;
  EXPECT_EQ(0, g_fake->lockViolations.load());
}

TEST(VolumeSizes, TheFileSystemsAnswerIsReadInThePlatformsLayout) {
  NTFS_VOLUME_DATA_BUFFER data;  // a 4 TiB volume
  std::memset(&data, 0, sizeof data);
  data.NumberSectors.QuadPart = 1ll << 33;
  data.BytesPerSector = 512;
  ASSERT_EQ(kNtfsVolumeDataSize, sizeof data);
  EXPECT_EQ(4194304, VolumeSizeFromVolumeData(true, 0, reinterpret_cast<const unsigned char*>(&data), sizeof data,
                                              0, 0, nullptr));
  EXPECT_EQ(-1, VolumeSizeMB("HarddiskVolume999", 500, 25)) << "no such volume";
}

TEST_F(Collectors, ProcessTablesDivideByTheProcessorsOfTheSystemSample) {
  Row process("WTPROCESS");
  process.Set32("IDPROCESS", 200).Set32("PCTPRCSTME", 100);
  Serve("WTPROCESS", {process});
  Serve("WTSYSTEM", {Row("WTSYSTEM").Set32("NUMOFPRCSR", 8)});
  auto rows = SampleOnce<osm_wtprocess_manager>("WTPROCESS");
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ(13, I32(rows[0], "WTPROCESS", "AVGPCTPROC"));
  EXPECT_EQ(0, g_fake->lockViolations.load());

  // PROCESSIO traces a missing object with the generic message only.
  std::remove(trace_.c_str());
  EXPECT_TRUE(SampleOnce<osm_processio_manager>("PROCESSIO").empty());
  std::string trace = Trace();
  EXPECT_NE(std::string::npos, trace.find("Severity: 1, Facility: 7, Code: 5 - (0x80070005)")) << trace;
  EXPECT_EQ(std::string::npos, trace.find("Requested component")) << trace;
}

// The owner and path of running processes are checked end to end; an
// identifier that maps to no account gives no name.
TEST(ProcessFacts, UnmappedAccountHasNoName) {
  AccountNameCache cache;
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID unknown = nullptr;
  ASSERT_TRUE(AllocateAndInitializeSid(&nt, 5, 21, 1, 2, 3, 424242, 0, 0, 0, &unknown));
  EXPECT_EQ(nullptr, AccountNameOfSid(unknown, cache, nullptr));
  FreeSid(unknown);
}

TEST_F(Collectors, SystemValuesAreHandedOverInOrderWithTheAddressCut) {
  OsmSampleBfr record;
  record.hSample = 0x77;
  g_fake->fixedData.clear();
  EXPECT_EQ(9, HandOverSystemFixedData(&record));
  std::vector<std::pair<std::string, std::size_t>> expected = {
      {"_NUMCPUS_", 4}, {"_NUMLCPUS_", 4}, {"_CPUTYPE_", 4}, {"_PAGESIZE_", 4}, {"_OSTYPE_", 16},
      {"_OSVERSION_", 8}, {"_NETWORKADDR_", 36}, {"_USERNAME_", 64}, {"_UUSERNAME_", 388}};
  ASSERT_EQ(expected.size(), g_fake->fixedData.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(expected[i].first, g_fake->fixedData[i].first);
    EXPECT_EQ(expected[i].second, g_fake->fixedData[i].second.size()) << expected[i].first;
  }
  const SystemIdentity& id = SystemIdentityRecord();
  std::int32_t cpus = 0;
  std::memcpy(&cpus, g_fake->fixedData[0].second.data(), 4);
  EXPECT_EQ(id.processors, cpus);
  EXPECT_EQ(std::string(id.osType, 16), g_fake->fixedData[4].second);

  // A long address fills the 16-byte NETADDRESS field and ends in "...".
  SystemIdentity wide = id;
  CopyTextField(wide.networkAddress, sizeof wide.networkAddress, "2001:db8:85a3::8a2e:370:7334");
  std::string value = NetworkAddressFixedValue(wide);
  EXPECT_EQ("2001:db8:85a3..." + std::string(20, ' '), value);
  CopyTextField(wide.networkAddress, sizeof wide.networkAddress, "192.168.100.200");
  EXPECT_EQ("192.168.100.200" + std::string(21, ' '), NetworkAddressFixedValue(wide));

  // A table whose sample was never described gets nothing.
  OsmSampleBfr undescribed;
  EXPECT_EQ(0, HandOverSystemFixedData(&undescribed));
  EXPECT_EQ(0, HandOverSystemFixedData(nullptr));
}

TEST(SystemIdentity, MatchesThePlatformQueries) {
  const SystemIdentity& id = SystemIdentityRecord();
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  EXPECT_EQ(static_cast<std::int32_t>(info.dwNumberOfProcessors), id.processors);
  EXPECT_EQ(static_cast<std::int32_t>(info.dwPageSize), id.pageSize);
  EXPECT_EQ(static_cast<std::int32_t>(info.dwProcessorType), id.processorType);
  EXPECT_GE(id.logicalProcessors, 1);
  EXPECT_EQ(GetLogicalProcessorCount(), id.logicalProcessors);

  char user[257] = {0};
  DWORD size = sizeof user;
  ASSERT_TRUE(GetUserNameA(user, &size));
  std::string name(id.userName, 64);
  EXPECT_EQ(0u, name.find(user));
  EXPECT_EQ(std::string::npos, name.find_first_not_of(' ', std::strlen(user)));
  EXPECT_EQ(0u, std::string(id.wideUserName, 388).find(user));

  OSVERSIONINFOEXA v;
  std::memset(&v, 0, sizeof v);
  v.dwOSVersionInfoSize = sizeof v;
  ASSERT_TRUE(GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&v)));
  char version[16];
  std::snprintf(version, sizeof version, "%lu.%lu", v.dwMajorVersion, v.dwMinorVersion);
  EXPECT_EQ(0u, std::string(id.osVersion, 8).find(version));
  const char* type = OsTypeName(static_cast<int>(v.dwMajorVersion), static_cast<int>(v.dwMinorVersion),
                                v.wProductType);
  if (type) {
    EXPECT_EQ(0u, std::string(id.osType, 16).find(type));
  }
  EXPECT_EQ(v.wProductType, id.productType);
  EXPECT_NE(std::string(46, ' '), std::string(id.networkAddress, 46));
}

TEST(HostAddress, NumericTextIsParsedNotGuessed) {
  EXPECT_TRUE(IsNumericAddress("10.1.2.3"));
  EXPECT_TRUE(IsNumericAddress("fe80::1"));
  EXPECT_TRUE(IsNumericAddress("::ffff:10.0.0.1"));
  EXPECT_FALSE(IsNumericAddress("1host.example"));  // a name may begin with a digit
  EXPECT_FALSE(IsNumericAddress("3com"));
  EXPECT_FALSE(IsNumericAddress("localhost"));
  EXPECT_FALSE(IsNumericAddress(""));
  EXPECT_FALSE(IsNumericAddress(nullptr));

  EXPECT_EQ("NO_DNS_ENTRY", ResolveHostAddress("127.0.0.1", kFamilyIpv4));
  EXPECT_EQ("NO_DNS_ENTRY", ResolveHostAddress("::1", kFamilyIpv6));
  EXPECT_EQ("NO_DNS_ENTRY", ResolveHostAddress("no-such-host.invalid", kFamilyIpv4));
  EXPECT_EQ("NO_DNS_ENTRY", ResolveHostAddress(nullptr, kFamilyIpv4));
  // A name gives its numeric address.
  std::string local = ResolveHostAddress("localhost", kFamilyIpv4);
  EXPECT_TRUE(IsNumericAddress(local.c_str())) << local;

  // The identity record's address is this host's numeric address.
  char target[46];
  GetNetworkAddressText(target, sizeof target);
  std::string text(target, 46);
  text.erase(text.find_last_not_of(' ') + 1);
  EXPECT_TRUE(text == "NO_DNS_ENTRY" || IsNumericAddress(text.c_str())) << text;
}

TEST_F(Collectors, QueueNamesStayAsSampledWithoutTheMessageQueuingRuntime) {
  EXPECT_FALSE(LoadMqRuntime("osm-no-such-runtime.dll").Usable());
  EXPECT_FALSE(LoadMqRuntime("kernel32.dll").Usable()) << "a library without the entry points";
  // Below Windows 6 a full short name is looked up; without a runtime the
  // row keeps the long name the sample delivered.
  QueueNameSources saved = QueueNameSourcesHook();
  QueueNameSourcesHook() = {[] { return std::string("5.0"); }, []() -> const MqRuntime& {
                              static const MqRuntime none;
                              return none;
                            }};
  Row q("MSMQQUE");
  q.Text("QUEINST", std::string(64, 'q')).Text("QUEINSTLG", std::string(70, 'q'));
  Serve("MSMQQUE", {q});
  auto rows = SampleOnce<osm_msmqque_manager>("MSMQQUE");
  QueueNameSourcesHook() = saved;
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ(q.bytes, rows[0]);
}

}  // namespace
