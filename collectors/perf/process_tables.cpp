// WTPROCESS, NTPROCESS and PROCESSIO: the Process object completed per
// process with its owner, its executable and the number of processes running
// the same executable.
#include "collectors/perf/process_tables.h"

#include <psapi.h>

#include <cstring>
#include <memory>
#include <vector>

#include "collectors/perf/perf_collector.h"
#include "tables/tables.h"

namespace osm {
namespace perf {

namespace {

const DWORD kQueryAndRead = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;  // 0x410
const DWORD kPathCharacters = 261;
const DWORD kModuleBufferBytes = 8192;
const DWORD kNoneMapped = 1332;  // ERROR_NONE_MAPPED

bool Detail(RAS1_EPB* unit) { return unit && (RAS1_Mask(unit) & RAS1_DETAIL); }
bool Error(RAS1_EPB* unit) { return unit && (RAS1_Mask(unit) & RAS1_ERROR); }

// Closes a process or token handle on every path.
struct HandleCloser {
  HANDLE h;
  ~HandleCloser() {
    if (h) CloseHandle(h);
  }
};

HANDLE OpenForQuery(DWORD pid, DWORD access, RAS1_EPB* unit) {
  HANDLE h = OpenProcess(access, FALSE, pid);
  if (!h && Detail(unit))
    RAS1_Printf(unit, __LINE__, "Warning: OpenProcess error %lu  for PID: %lu\n ", GetLastError(), pid);
  return h;
}

// Windows versions x.0 open the process with all access to read its owner.
DWORD OwnerQueryAccess() {
  static const DWORD access = [] {
    OSVERSIONINFOA v;
    std::memset(&v, 0, sizeof v);
    v.dwOSVersionInfoSize = sizeof v;
    return GetVersionExA(&v) && v.dwMinorVersion == 0 ? static_cast<DWORD>(PROCESS_ALL_ACCESS) : kQueryAndRead;
  }();
  return access;
}

// The owner of the process: the token's user, else the owner of the
// process object's security descriptor. The bytes hold the identifier.
bool ReadOwnerSid(HANDLE process, std::vector<unsigned char>* bytes, PSID* sid, RAS1_EPB* unit) {
  HANDLE token = nullptr;
  if (OpenProcessToken(process, TOKEN_QUERY, &token)) {
    HandleCloser closeToken{token};
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    if (size > 0) {
      bytes->assign(size, 0);
      if (GetTokenInformation(token, TokenUser, bytes->data(), size, &size)) {
        *sid = reinterpret_cast<TOKEN_USER*>(bytes->data())->User.Sid;
        return true;
      }
    }
    if (Detail(unit)) RAS1_Printf(unit, __LINE__, "Warning: GetTokenInformation error %lu\n", GetLastError());
  } else if (Detail(unit)) {
    RAS1_Printf(unit, __LINE__, "Warning: OpenProcessToken error %lu\n", GetLastError());
  }
  DWORD size = 0;
  GetKernelObjectSecurity(process, OWNER_SECURITY_INFORMATION, nullptr, 0, &size);
  if (size > 0) bytes->assign(size, 0);
  if (size == 0 || !GetKernelObjectSecurity(process, OWNER_SECURITY_INFORMATION, bytes->data(), size, &size)) {
    if (Detail(unit)) RAS1_Printf(unit, __LINE__, "Warning: GetKernelObjectSecurity error %lu\n", GetLastError());
    return false;
  }
  BOOL defaulted = FALSE;
  *sid = nullptr;
  if (!GetSecurityDescriptorOwner(bytes->data(), sid, &defaulted) || *sid == nullptr) {
    if (Detail(unit)) RAS1_Printf(unit, __LINE__, "Warning: GetSecurityDescriptorOwner error %lu\n", GetLastError());
    return false;
  }
  return true;
}

// The facts of the running system, names through the table's cache.
class PlatformProcessFacts : public ProcessFacts {
 public:
  PlatformProcessFacts(AccountNameCache& cache, RAS1_EPB* unit) : cache_(cache), unit_(unit) {}
  bool Owner(std::uint32_t pid, WideText* name) override {
    const wchar_t* found = GetProcessUserName(pid, cache_, unit_);
    if (found) *name = found;
    return found != nullptr;
  }
  bool ImagePath(std::uint32_t pid, WideText* path) override { return GetProcessImagePath(pid, path, unit_); }

 private:
  AccountNameCache& cache_;
  RAS1_EPB* unit_;
};

// One cache per table, for the life of the process.
AccountNameCache& WtProcessNames() {
  static AccountNameCache* cache = new AccountNameCache();
  return *cache;
}
AccountNameCache& NtProcessNames() {
  static AccountNameCache* cache = new AccountNameCache();
  return *cache;
}

void CompleteOwnedRows(const char* table, FetchedRows& rows, AccountNameCache& names, PathlessBinPath pathless,
                       RAS1_EPB* unit) {
  int processors = ProcessorCount(unit);
  PlatformProcessFacts platform(names, unit);
  ProcessFacts* facts = ProcessFactsOverride() ? ProcessFactsOverride() : &platform;
  CompleteProcessRows(*FindTable(table), rows.bytes.data(), static_cast<std::size_t>(rows.count), rows.rowSize,
                      processors, *facts, pathless, unit);
}

void CompleteWtProcessRows(FetchedRows& rows, RAS1_EPB* unit) {
  CompleteOwnedRows("WTPROCESS", rows, WtProcessNames(), PathlessBinPath::kBlank, unit);
}

void CompleteNtProcessRows(FetchedRows& rows, RAS1_EPB* unit) {
  CompleteOwnedRows("NTPROCESS", rows, NtProcessNames(), PathlessBinPath::kZeroFilled, unit);
}

void CompleteIoRows(FetchedRows& rows, RAS1_EPB* unit) {
  // Paths only: the account name cache is not asked.
  PlatformProcessFacts platform(WtProcessNames(), unit);
  ProcessFacts* facts = ProcessFactsOverride() ? ProcessFactsOverride() : &platform;
  CompleteProcessIoRows(*FindTable("PROCESSIO"), rows.bytes.data(), static_cast<std::size_t>(rows.count),
                        rows.rowSize, *facts);
}

const CollectorSpec kWtProcess = {"WTPROCESS", "Process", ProgressForm::kStandard, nullptr, nullptr,
                                  &CompleteWtProcessRows};
const CollectorSpec kNtProcess = {"NTPROCESS", "Process", ProgressForm::kStandard, nullptr, nullptr,
                                  &CompleteNtProcessRows};
// Only the generic failure trace, and the progress line goes to the trace.
const CollectorSpec kProcessIo = {"PROCESSIO", nullptr, ProgressForm::kStandardDetail, nullptr, nullptr,
                                  &CompleteIoRows, true};

}  // namespace

bool GetProcessImagePath(DWORD pid, WideText* path, RAS1_EPB* unit) {
  HANDLE process = OpenForQuery(pid, kQueryAndRead, unit);
  if (!process) return false;
  HandleCloser closeProcess{process};
  std::vector<HMODULE> modules(kModuleBufferBytes / sizeof(HMODULE));
  DWORD needed = 0;
  if (!EnumProcessModules(process, modules.data(), kModuleBufferBytes, &needed) || needed < sizeof(HMODULE)) {
    if (Error(unit))
      RAS1_Printf(unit, __LINE__, "Failure on EnumProcessModules call rc = %ld", static_cast<long>(GetLastError()));
    return false;
  }
  wchar_t name[kPathCharacters] = {0};
  DWORD n = GetModuleFileNameExW(process, modules[0], name, kPathCharacters);
  if (n == 0) {
    if (Error(unit))
      RAS1_Printf(unit, __LINE__, "Failure on GetModuleFileNameExW call rc = %ld", static_cast<long>(GetLastError()));
    return false;
  }
  path->assign(name, n < kPathCharacters ? n : kPathCharacters - 1);
  return true;
}

const wchar_t* AccountNameOfSid(PSID sid, AccountNameCache& cache, RAS1_EPB* unit) {
  if (!sid || !IsValidSid(sid)) return nullptr;
  DWORD length = GetLengthSid(sid);
  if (const wchar_t* cached = cache.Find(sid, length)) return cached;
  DWORD nameSize = 0, domainSize = 0;
  SID_NAME_USE use;
  if (!LookupAccountSidW(nullptr, sid, nullptr, &nameSize, nullptr, &domainSize, &use) &&
      GetLastError() == kNoneMapped) {
    if (Detail(unit)) RAS1_Printf(unit, __LINE__, "LookupAccountSidW error: %lu\n", kNoneMapped);
    return nullptr;
  }
  std::vector<wchar_t> name(nameSize + 1, 0), domain(domainSize + 1, 0);
  nameSize = static_cast<DWORD>(name.size());
  domainSize = static_cast<DWORD>(domain.size());
  if (!LookupAccountSidW(nullptr, sid, name.data(), &nameSize, domain.data(), &domainSize, &use)) {
    if (Detail(unit)) RAS1_Printf(unit, __LINE__, "LookupAccountSidW_2 error: %lu\n", GetLastError());
    return nullptr;
  }
  return cache.Insert(sid, length, AccountDisplayName(domain.data(), name.data()));
}

const wchar_t* GetProcessUserName(DWORD pid, AccountNameCache& cache, RAS1_EPB* unit) {
  HANDLE process = OpenForQuery(pid, OwnerQueryAccess(), unit);
  if (!process) return nullptr;
  HandleCloser closeProcess{process};
  HMODULE first = nullptr;
  DWORD needed = 0;
  if (!EnumProcessModules(process, &first, sizeof first, &needed)) {
    if (Detail(unit)) RAS1_Printf(unit, __LINE__, "Warning: EnumProcessModules error %lu\n", GetLastError());
    return nullptr;
  }
  std::vector<unsigned char> owner;
  PSID sid = nullptr;
  if (!ReadOwnerSid(process, &owner, &sid, unit)) return nullptr;
  return AccountNameOfSid(sid, cache, unit);
}

ProcessFacts*& ProcessFactsOverride() {
  static ProcessFacts* facts = nullptr;
  return facts;
}

}  // namespace perf
}  // namespace osm

OSM_PERF_AGENT(wtprocess, osm::perf::kWtProcess)
OSM_PERF_AGENT(ntprocess, osm::perf::kNtProcess)
OSM_PERF_AGENT(processio, osm::perf::kProcessIo)
