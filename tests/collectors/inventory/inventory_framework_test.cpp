// The inventory tables through the framework under Wine: real data where the
// platform has it (a socket listening on 127.0.0.1, the service manager, a
// printer this test adds, WMI, the adapters) and test seams fed with Windows
// record layouts where it has none (dependencies, jobs, mount points).
#include <winsock2.h>
#include <windows.h>
#include <objbase.h>
#include <winspool.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <thread>

#include "collectors/inventory/printers.h"
#include "collectors/inventory/service_list.h"
#include "collectors/inventory/volumes.h"
#include "collectors/inventory/wmi.h"
#include "framework/cfw.h"
#include "host/table_binding.h"
#include "support/fields.h"

namespace {

using namespace osm::inventory;

const wchar_t kPrinter[] = L"OSM Inventory Printer";
const char* const kTables[] = {"NTNETWPORT", "NTSERVICE", "NTSVCDEP",   "NTDEVICE",   "NTDEVDEP", "NTPRINTER",
                               "NTPRTJOB",   "NTPROCINFO", "NTBIOSINFO", "NTCOMPINFO", "NTIPADDR", "NTMNTPT"};

// Writes records followed by the texts their fields point to, as the
// service manager and the spooler lay out their answers; 122 with the size
// needed when the caller's buffer is too small.
class RecordWriter {
 public:
  RecordWriter(const void* records, std::size_t bytes)
      : records_(static_cast<const BYTE*>(records)), recordBytes_(bytes) {}
  // A field of the records and its text (which may hold NULs of its own).
  void Text(LPWSTR* field, const std::wstring& text) { texts_.push_back({field, text}); }
  BOOL Write(BYTE* buffer, DWORD capacity, DWORD* needed) {
    std::size_t size = recordBytes_;
    for (auto& t : texts_) size += (t.second.size() + 1) * 2;
    *needed = static_cast<DWORD>(size);
    if (buffer == nullptr || capacity < size) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    std::memcpy(buffer, records_, recordBytes_);
    BYTE* at = buffer + recordBytes_;
    for (auto& t : texts_) {
      std::memcpy(at, t.second.c_str(), (t.second.size() + 1) * 2);
      LPWSTR* field = reinterpret_cast<LPWSTR*>(buffer + (reinterpret_cast<const BYTE*>(t.first) - records_));
      *field = reinterpret_cast<LPWSTR>(at);
      at += (t.second.size() + 1) * 2;
    }
    return TRUE;
  }

 private:
  const BYTE* records_;
  std::size_t recordBytes_;
  std::vector<std::pair<LPWSTR*, std::wstring>> texts_;
};

// The configuration as the platform gives it, then changed by display name:
// the spooler and NDIS get dependencies, the task scheduler cannot be read.
BOOL WINAPI ConfigWithDependencies(SC_HANDLE service, LPQUERY_SERVICE_CONFIGW out, DWORD capacity, DWORD* needed) {
  DWORD size = 0;
  QueryServiceConfigW(service, nullptr, 0, &size);
  std::vector<BYTE> real(size + 64);
  if (!QueryServiceConfigW(service, reinterpret_cast<LPQUERY_SERVICE_CONFIGW>(real.data()), size + 64, &size))
    return FALSE;
  QUERY_SERVICE_CONFIGW c = *reinterpret_cast<QUERY_SERVICE_CONFIGW*>(real.data());
  std::wstring display = c.lpDisplayName ? c.lpDisplayName : L"";
  if (display == L"Task Scheduler") {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  std::wstring deps;
  if (display == L"Print Spooler") deps = std::wstring(L"RpcSs\0+SpoolerGroup\0", 20);
  if (display == L"NDIS") deps = std::wstring(L"+NDIS Wrapper\0", 14);
  RecordWriter w(&c, sizeof c);
  for (LPWSTR* f : {&c.lpBinaryPathName, &c.lpLoadOrderGroup, &c.lpServiceStartName, &c.lpDisplayName})
    w.Text(f, *f ? *f : L"");
  w.Text(&c.lpDependencies, deps);
  return w.Write(reinterpret_cast<BYTE*>(out), capacity, needed);
}

// Two jobs on the test printer, none elsewhere.
BOOL WINAPI TwoJobs(HANDLE printer, DWORD, DWORD, DWORD, LPBYTE buffer, DWORD capacity, LPDWORD needed,
                    LPDWORD returned) {
  DWORD size = 0;
  GetPrinterW(printer, 2, nullptr, 0, &size);
  std::vector<BYTE> info(size + 16);
  bool ours = GetPrinterW(printer, 2, info.data(), size, &size) &&
              std::wcscmp(reinterpret_cast<PRINTER_INFO_2W*>(info.data())->pPrinterName, kPrinter) == 0;
  JOB_INFO_2W jobs[2];
  std::memset(jobs, 0, sizeof jobs);
  DWORD count = ours ? 2 : 0;
  RecordWriter w(jobs, sizeof(JOB_INFO_2W) * count);
  const std::wstring docs[2] = {L"report.txt", std::wstring(70, L'd')};
  for (DWORD i = 0; i < count; ++i) {
    w.Text(&jobs[i].pDocument, docs[i]);
    w.Text(&jobs[i].pUserName, L"alice");
    w.Text(&jobs[i].pDatatype, L"RAW");
    jobs[i].JobId = 10 + i;
    jobs[i].Status = i == 0 ? 0x18 : 0;
    jobs[i].Position = i + 1;
    jobs[i].TotalPages = 3;
    jobs[i].Size = 2048;
    jobs[i].Submitted = {2010, 4, 1, 12, 8, 19, 43, 250};
  }
  *returned = 0;
  if (!w.Write(buffer, capacity, needed)) return FALSE;
  *returned = count;
  return TRUE;
}

// C:\Data\ holds a mounted volume; the volumes of the platform are not read.
class OneMountPoint : public VolumeSource {
 public:
  bool VolumeNameOf(const std::string& path, std::string* v) override {
    if (path != "C:\\" && path != "C:\\Data\\") return false;
    *v = path == "C:\\" ? "\\\\?\\Volume{c}\\" : "\\\\?\\Volume{data}\\";
    return true;
  }
  std::vector<std::string> Volumes() override { return {"\\\\?\\Volume{c}\\"}; }
  bool SupportsMountPoints(const std::string&) override { return true; }
  std::vector<std::string> MountPoints(const std::string&) override { return {"Data\\"}; }
  bool CanList(const std::string&) override { return true; }
} g_mountPoint;

int LoadInventoryTables() {
  std::string origin = "TESTNODE";
  origin.resize(64, ' ');
  SetOriginNodeName(origin.data(), 65);
  for (const char* t : kTables) RegisterTable(t);
  return 0;
}

// The value of an attribute in a JSON row: a number as written, a text unescaped.
std::string Value(const std::string& line, const std::string& name) {
  std::size_t at = line.find("\"" + name + "\":");
  if (at == std::string::npos) return "<missing>";
  at += name.size() + 3;
  std::string v;
  if (line[at] != '"') return line.substr(at, line.find_first_of(",}", at) - at);
  for (++at; at < line.size() && line[at] != '"'; ++at) v.push_back(line[at] == '\\' ? line[++at] : line[at]);
  return v;
}

// Each attribute of the row holds its value.
void ExpectValues(const std::string& row, std::initializer_list<std::pair<const char*, std::string>> values) {
  for (const auto& v : values) EXPECT_EQ(v.second, Value(row, v.first)) << v.first;
}

class InventoryThroughFramework : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof a;
    ASSERT_EQ(0, bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a));
    ASSERT_EQ(0, listen(listener_, 1));
    getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &length);
    port_ = ntohs(a.sin_port);

    DRIVER_INFO_3W driver{};
    driver.cVersion = 3;
    driver.pName = const_cast<LPWSTR>(L"Wine PostScript Driver");
    driver.pDriverPath = driver.pConfigFile = const_cast<LPWSTR>(L"wineps.drv");
    driver.pDataFile = const_cast<LPWSTR>(L"generic.ppd");
    AddPrinterDriverW(nullptr, 3, reinterpret_cast<LPBYTE>(&driver));
    PRINTER_INFO_2W p{};
    p.pPrinterName = const_cast<LPWSTR>(kPrinter);
    p.pPortName = const_cast<LPWSTR>(L"FILE:");
    p.pDriverName = driver.pName;
    p.pPrintProcessor = const_cast<LPWSTR>(L"WinPrint");
    p.pDatatype = const_cast<LPWSTR>(L"RAW");
    p.Attributes = PRINTER_ATTRIBUTE_LOCAL;
    p.pComment = const_cast<LPWSTR>(L"second floor");
    p.Priority = 1;
    HANDLE h = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&p));
    ASSERT_NE(nullptr, h) << GetLastError();
    ClosePrinter(h);

    ServiceConfigQueryHook() = &ConfigWithDependencies;
    PrintJobEnumHook() = &TwoJobs;
    VolumeSourceHook() = &g_mountPoint;

    char dir[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, dir);
    std::string base = std::string(dir) + "\\inventory_fw";
    std::ofstream req(base + ".requests");
    for (const char* t : kTables) req << "report " << t << " " << t << "\n";
    req << "report port NTNETWPORT where LOCALPT EQ " << port_ << " AND PROTOCOL EQ \"TCP\"\n"
        << "report jobs-u NTPRTJOB where UPRTNAME EQ \"OSM Inventory Printer\"\n"
        << "report jobs-ne NTPRTJOB where PRTNAME NE \"Nobody\"\n";
    req.close();
    DeleteFileA((base + ".jsonl").c_str());
    SetEnvironmentVariableA("OSM_REQUESTS", (base + ".requests").c_str());
    SetEnvironmentVariableA("OSM_OUTPUT", (base + ".jsonl").c_str());
    SetEnvironmentVariableA("OSM_FRAMEWORK_LOG", (base + ".log").c_str());
    SetEnvironmentVariableA("OSM_EXIT_WHEN_DONE", "Y");
    DCF_RegisterAgentLoader(&LoadInventoryTables);
    char name[] = "mx_agent", empty[] = "";
    char* argv[] = {name, empty, nullptr};
    ASSERT_EQ(0, cfwmain(1, argv));
    std::ifstream in(base + ".jsonl");
    for (std::string line; std::getline(in, line);)
      if (line.find("\"record\":\"row\"") != std::string::npos) rows_[Value(line, "request")].push_back(line);
  }
  static void TearDownTestSuite() {
    ServiceConfigQueryHook() = nullptr;
    PrintJobEnumHook() = nullptr;
    VolumeSourceHook() = nullptr;
    HANDLE h = nullptr;
    PRINTER_DEFAULTSW all = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (OpenPrinterW(const_cast<LPWSTR>(kPrinter), &h, &all)) {
      DeletePrinter(h);
      ClosePrinter(h);
    }
    closesocket(listener_);
  }
  // The rows of a request whose attribute has the value.
  static std::vector<std::string> Where(const char* request, const char* name, const std::string& value) {
    std::vector<std::string> out;
    for (const std::string& r : rows_[request])
      if (Value(r, name) == value) out.push_back(r);
    return out;
  }

  static SOCKET listener_;
  static int port_;
  static std::map<std::string, std::vector<std::string>> rows_;
};
SOCKET InventoryThroughFramework::listener_ = INVALID_SOCKET;
int InventoryThroughFramework::port_ = 0;
std::map<std::string, std::vector<std::string>> InventoryThroughFramework::rows_;

TEST_F(InventoryThroughFramework, NetworkPortsShowTheListeningSocket) {
  ASSERT_EQ(1u, rows_["port"].size());
  ExpectValues(rows_["port"][0], {{"STATE", "2"},
                                  {"REMOTEPT", "0"},
                                  {"LOCALADDR", "127.0.0.1"},
                                  {"LOCALNAME", "localhost"},
                                  {"ORIGINNODE", "TESTNODE"}});
  for (const std::string& any : rows_["NTNETWPORT"]) {
    int state = std::stoi(Value(any, "STATE"));
    bool udp = Value(any, "PROTOCOL").compare(0, 3, "UDP") == 0;
    EXPECT_TRUE(udp ? state == -2 : state >= -1 && state <= 12) << any;
  }
}

TEST_F(InventoryThroughFramework, ServicesAndDriversWithDependenciesFromTheSeam) {
  std::vector<std::string> spooler = Where("NTSERVICE", "SRVCNAME", "Spooler");
  ASSERT_EQ(1u, spooler.size());
  ExpectValues(spooler[0], {{"DISPNAME", "Print Spooler"}, {"LORGROUP", "SpoolerGroup"}, {"STARTYPE", "Manual"}});
  EXPECT_NE(std::string::npos, Value(spooler[0], "UBINARYEX").find("spoolsv.exe"));
  // A service whose configuration cannot be read keeps its row, with unknown names.
  std::vector<std::string> unread = Where("NTSERVICE", "SRVCNAME", "Schedule");
  ASSERT_EQ(1u, unread.size());
  ExpectValues(unread[0], {{"CURRSTAT", "Unknown"}, {"STARTYPE", "Unknown"}, {"DISPNAME", ""}});
  for (std::size_t i = 0; i < rows_["NTSERVICE"].size(); ++i)
    EXPECT_EQ(std::to_string(i + 1), Value(rows_["NTSERVICE"][i], "ROWNO"));

  std::vector<std::string> deps = rows_["NTSVCDEP"];
  ASSERT_EQ(2u, deps.size());
  EXPECT_EQ("RpcSs", Value(deps[0], "DEPEND"));
  EXPECT_EQ("+SpoolerGroup", Value(deps[1], "DEPEND"));
  for (const std::string& d : deps) {
    EXPECT_EQ("Spooler", Value(d, "SRVCNAME"));
    EXPECT_EQ(Value(spooler[0], "ROWNO"), Value(d, "ROWNO"));
  }
  ASSERT_EQ(1u, Where("NTDEVICE", "DEVNAME", "NDIS").size());
  ASSERT_EQ(1u, rows_["NTDEVDEP"].size());
  ExpectValues(rows_["NTDEVDEP"][0], {{"DEPEND", "+NDIS Wrapper"}, {"DEVNAME", "NDIS"}});
}

TEST_F(InventoryThroughFramework, PrinterAndItsJobs) {
  std::vector<std::string> printers = Where("NTPRINTER", "PRTNAME", "OSM Inventory Printer");
  ASSERT_EQ(1u, printers.size());
  ExpectValues(printers[0], {{"PORTNAME", "FILE:"},
                             {"DRVRNAME", "Wine PostScript Driver"},
                             {"UCOMMENT", "second floor"},
                             {"STATUS", ":Ready:"},
                             {"STTIME", "00:00"}});

  // Filtered by name, and with an operator that names no printer: the same jobs.
  for (const char* request : {"NTPRTJOB", "jobs-u", "jobs-ne"}) {
    SCOPED_TRACE(request);
    const std::vector<std::string>& jobs = rows_[request];
    ASSERT_EQ(2u, jobs.size());
    ExpectValues(jobs[0], {{"ROWNO", "1"},
                           {"STATUS", ":Spooling:Printing:"},
                           {"UDOCNAME", "report.txt"},
                           {"SUBMITTM", "1100412081943250"}});
    ExpectValues(jobs[1], {{"ROWNO", "2"},
                           {"SAMPLENO", "2"},
                           {"STATUS", ":Waiting:"},
                           {"DOCNAME", std::string(61, 'd') + "..."},
                           {"SIZE8", "2048"},
                           {"PRTNAME", "OSM Inventory Printer"}});
  }
}

TEST_F(InventoryThroughFramework, WmiInventoryAddressesAndMountPoints) {
  std::vector<std::vector<std::string>> processors;
  RAS1_UNIT("test");
  ASSERT_TRUE(RunWmiQuery(L"SELECT * FROM Win32_Processor", {L"Name"}, false, &processors, &RAS1__EPB_));
  ASSERT_EQ(processors.size(), rows_["NTPROCINFO"].size());
  EXPECT_EQ(processors[0][0], Value(rows_["NTPROCINFO"][0], "PNAME"));
  EXPECT_EQ("", Value(rows_["NTPROCINFO"][0], "LOADPCT"));  // not in the platform's schema
  ASSERT_EQ(1u, rows_["NTBIOSINFO"].size());
  EXPECT_NE("", Value(rows_["NTBIOSINFO"][0], "BIOSMAN"));
  ASSERT_EQ(1u, rows_["NTCOMPINFO"].size());
  EXPECT_EQ(DCF_GetNodeSystemName(), Value(rows_["NTCOMPINFO"][0], "COMPHNAM"));
  EXPECT_NE("", Value(rows_["NTCOMPINFO"][0], "COMPFQDN"));

  std::vector<std::string> loopback = Where("NTIPADDR", "IPADDRESS", "127.0.0.1");
  ASSERT_EQ(1u, loopback.size());
  EXPECT_EQ("4", Value(loopback[0], "IPVERSION"));

  ASSERT_EQ(1u, rows_["NTMNTPT"].size());
  ExpectValues(rows_["NTMNTPT"][0], {{"DRVNAME", "C:\\"},
                                    {"MNTPOINT", "C:\\Data\\"},
                                    {"VOLNAME", "\\\\?\\Volume{data}\\"},
                                    {"MNTPTSTATE", "READY"}});
}

TEST(WmiQuery, UnknownClassGivesNoInstanceAndAnotherApartmentIsLeftAsItWas) {
  std::thread t([] {
    ASSERT_EQ(S_OK, CoInitialize(nullptr));  // a single-threaded apartment
    std::vector<std::vector<std::string>> instances;
    RAS1_UNIT("test");
    EXPECT_TRUE(RunWmiQuery(L"SELECT * FROM Win32_NoSuchClass", {L"Name"}, false, &instances, &RAS1__EPB_));
    EXPECT_TRUE(instances.empty());
    EXPECT_TRUE(RunWmiQuery(L"SELECT * FROM Win32_BIOS", {L"Manufacturer"}, true, &instances, &RAS1__EPB_));
    EXPECT_EQ(1u, instances.size());
    // Still initialised once: this call adds a second reference.
    EXPECT_EQ(S_FALSE, CoInitialize(nullptr));
    CoUninitialize();
    CoUninitialize();
  });
  t.join();
}

}  // namespace
