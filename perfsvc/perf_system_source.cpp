#include "perfsvc/perf_system_source.h"

#include "framework/ras1.h"

#include <winsock2.h>
#include <ws2ipdef.h>
#include <windows.h>
#include <iphlpapi.h>
#include <psapi.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

namespace osmperf {

using namespace sysperf;

namespace {

// NtQuerySystemInformation and the records it fills. The layouts are the
// kernel's; only the fields read here are named.
using NtQuerySystemInformationFn = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
constexpr ULONG kSystemPerformanceInformation = 2;
constexpr ULONG kSystemProcessInformation = 5;
constexpr ULONG kSystemProcessorPerformanceInformation = 8;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004u);

struct ProcessorPerformanceRecord {
  LARGE_INTEGER idleTime, kernelTime, userTime, dpcTime, interruptTime;
  ULONG interruptCount;
};

struct UnicodeStringRecord {
  USHORT length, maximumLength;
  PWSTR buffer;
};

struct ProcessRecord {
  ULONG nextEntryOffset;
  ULONG numberOfThreads;
  LARGE_INTEGER reserved[3];
  LARGE_INTEGER createTime, userTime, kernelTime;
  UnicodeStringRecord imageName;
  LONG basePriority;
  HANDLE uniqueProcessId;
  HANDLE inheritedFromUniqueProcessId;
  ULONG handleCount;
  ULONG sessionId;
  ULONG_PTR uniqueProcessKey;
  SIZE_T peakVirtualSize, virtualSize;
  ULONG pageFaultCount;
  SIZE_T peakWorkingSetSize, workingSetSize;
  SIZE_T quotaPeakPagedPoolUsage, quotaPagedPoolUsage;
  SIZE_T quotaPeakNonPagedPoolUsage, quotaNonPagedPoolUsage;
  SIZE_T pagefileUsage, peakPagefileUsage, privatePageCount;
  LARGE_INTEGER readOperationCount, writeOperationCount, otherOperationCount;
  LARGE_INTEGER readTransferCount, writeTransferCount, otherTransferCount;
};

struct ThreadRecord {
  LARGE_INTEGER kernelTime, userTime, createTime;
  ULONG waitTime;
  PVOID startAddress;
  HANDLE uniqueProcess, uniqueThread;
  LONG priority;
  LONG basePriority;
  ULONG contextSwitches;
  ULONG threadState;
  ULONG waitReason;
};

#if defined(_WIN64)
static_assert(sizeof(ProcessorPerformanceRecord) == 48, "processor record");
static_assert(offsetof(ProcessRecord, handleCount) == 0x60, "process record");
static_assert(offsetof(ProcessRecord, workingSetSize) == 0x90, "process record");
static_assert(offsetof(ProcessRecord, pagefileUsage) == 0xB8, "process record");
static_assert(sizeof(ProcessRecord) == 0x100, "process record");
static_assert(sizeof(ThreadRecord) == 0x50, "thread record");
#endif

// Offsets in the kernel's system performance record (the same on 32 and 64 bits).
namespace kpi {
constexpr std::size_t kIoReadTransfer = 0x08, kIoWriteTransfer = 0x10, kIoOtherTransfer = 0x18;
constexpr std::size_t kIoReadOps = 0x20, kIoWriteOps = 0x24, kIoOtherOps = 0x28;
constexpr std::size_t kPageFaults = 0x3C, kCopyOnWrite = 0x40, kTransition = 0x44, kCacheTransition = 0x48;
constexpr std::size_t kDemandZero = 0x4C, kPagesRead = 0x50, kPageReadIos = 0x54;
constexpr std::size_t kDirtyPagesWritten = 0x60, kDirtyWriteIos = 0x64;
constexpr std::size_t kMappedPagesWritten = 0x68, kMappedWriteIos = 0x6C;
constexpr std::size_t kPagedPoolPages = 0x70, kNonPagedPoolPages = 0x74, kPagedPoolAllocs = 0x78;
constexpr std::size_t kPagedPoolFrees = 0x7C, kNonPagedPoolAllocs = 0x80, kNonPagedPoolFrees = 0x84;
constexpr std::size_t kFreeSystemPtes = 0x88, kResidentSystemCode = 0x8C, kTotalSystemDriver = 0x90;
constexpr std::size_t kTotalSystemCode = 0x94, kResidentSystemCache = 0xA4, kResidentPagedPool = 0xA8;
constexpr std::size_t kResidentSystemDriver = 0xAC, kContextSwitches = 0x128, kSystemCalls = 0x134;
constexpr std::size_t kSize = 0x138;
}  // namespace kpi

NtQuerySystemInformationFn NtQuery() {
  static NtQuerySystemInformationFn fn = reinterpret_cast<NtQuerySystemInformationFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
  return fn;
}

std::uint64_t FileTime64(const FILETIME& t) {
  return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

std::uint64_t Large(const LARGE_INTEGER& v) { return static_cast<std::uint64_t>(v.QuadPart); }

std::u16string Wide16(const wchar_t* s, std::size_t n) {
  std::u16string out;
  out.reserve(n);
  for (std::size_t i = 0; i < n && s[i] != 0; ++i) out.push_back(static_cast<char16_t>(s[i]));
  return out;
}

void ReadHeader(SystemReadings* r) {
  SYSTEMTIME st{};
  FILETIME now{};
  LARGE_INTEGER counter{}, frequency{};
  GetSystemTimeAsFileTime(&now);
  FileTimeToSystemTime(&now, &st);
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  PerfSystemTime& t = r->header.systemTime;
  t.wYear = st.wYear;
  t.wMonth = st.wMonth;
  t.wDayOfWeek = st.wDayOfWeek;
  t.wDay = st.wDay;
  t.wHour = st.wHour;
  t.wMinute = st.wMinute;
  t.wSecond = st.wSecond;
  t.wMilliseconds = st.wMilliseconds;
  r->header.perfTime = counter.QuadPart;
  r->header.perfFreq = frequency.QuadPart;
  r->header.perfTime100nSec = static_cast<std::int64_t>(FileTime64(now));
  r->now100ns = r->header.perfTime100nSec;
  r->bootTime100ns = FileTime64(now) - GetTickCount64() * 10000u;
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {0};
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  if (GetComputerNameW(name, &length)) r->header.systemName = Wide16(name, length);
}

bool ReadCpus(std::vector<CpuReading>* out) {
  NtQuerySystemInformationFn query = NtQuery();
  if (query == nullptr) return false;
  SYSTEM_INFO info{};
  GetSystemInfo(&info);
  std::vector<ProcessorPerformanceRecord> records(info.dwNumberOfProcessors ? info.dwNumberOfProcessors : 1);
  ULONG got = 0;
  LONG status = query(kSystemProcessorPerformanceInformation, records.data(),
                      static_cast<ULONG>(records.size() * sizeof(ProcessorPerformanceRecord)), &got);
  if (status < 0) return false;
  std::size_t n = std::min<std::size_t>(records.size(), got / sizeof(ProcessorPerformanceRecord));
  if (n == 0) return false;
  out->clear();
  for (std::size_t i = 0; i < n; ++i) {
    CpuReading c;
    c.idle = Large(records[i].idleTime);
    c.kernel = Large(records[i].kernelTime);
    c.user = Large(records[i].userTime);
    c.dpc = Large(records[i].dpcTime);
    c.interrupt = Large(records[i].interruptTime);
    c.interrupts = records[i].interruptCount;
    out->push_back(c);
  }
  return true;
}

bool ReadMemory(MemoryReading* m) {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) return false;
  SYSTEM_INFO info{};
  GetSystemInfo(&info);
  m->totalPhys = status.ullTotalPhys;
  m->availPhys = status.ullAvailPhys;
  m->commitLimit = status.ullTotalPageFile;
  m->committed = status.ullTotalPageFile >= status.ullAvailPageFile ? status.ullTotalPageFile - status.ullAvailPageFile : 0;
  m->pageSize = info.dwPageSize ? info.dwPageSize : 4096;
  return true;
}

bool ReadKernel(KernelCounters* k) {
  NtQuerySystemInformationFn query = NtQuery();
  if (query == nullptr) return false;
  // Newer systems append fields; the prefix read here keeps its layout.
  std::vector<std::uint8_t> buffer(1024, 0);
  ULONG got = 0;
  LONG status = query(kSystemPerformanceInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &got);
  if (status < 0 || got < kpi::kSize) return false;
  ByteSpan b(buffer.data(), got);
  auto u32 = [&b](std::size_t at) {
    std::uint32_t v = 0;
    b.ReadU32(at, &v);
    return v;
  };
  auto u64 = [&b](std::size_t at) {
    std::uint64_t v = 0;
    b.ReadU64(at, &v);
    return v;
  };
  k->ioReadBytes = u64(kpi::kIoReadTransfer);
  k->ioWriteBytes = u64(kpi::kIoWriteTransfer);
  k->ioOtherBytes = u64(kpi::kIoOtherTransfer);
  k->ioReadOps = u32(kpi::kIoReadOps);
  k->ioWriteOps = u32(kpi::kIoWriteOps);
  k->ioOtherOps = u32(kpi::kIoOtherOps);
  k->pageFaults = u32(kpi::kPageFaults);
  k->copyOnWrite = u32(kpi::kCopyOnWrite);
  k->transition = u32(kpi::kTransition);
  k->cacheTransition = u32(kpi::kCacheTransition);
  k->demandZero = u32(kpi::kDemandZero);
  k->pagesRead = u32(kpi::kPagesRead);
  k->pageReadIos = u32(kpi::kPageReadIos);
  k->dirtyPagesWritten = u32(kpi::kDirtyPagesWritten);
  k->dirtyWriteIos = u32(kpi::kDirtyWriteIos);
  k->mappedPagesWritten = u32(kpi::kMappedPagesWritten);
  k->mappedWriteIos = u32(kpi::kMappedWriteIos);
  k->pagedPoolPages = u32(kpi::kPagedPoolPages);
  k->nonPagedPoolPages = u32(kpi::kNonPagedPoolPages);
  k->pagedPoolAllocs = u32(kpi::kPagedPoolAllocs);
  k->pagedPoolFrees = u32(kpi::kPagedPoolFrees);
  k->nonPagedPoolAllocs = u32(kpi::kNonPagedPoolAllocs);
  k->nonPagedPoolFrees = u32(kpi::kNonPagedPoolFrees);
  k->freeSystemPtes = u32(kpi::kFreeSystemPtes);
  k->residentSystemCodePages = u32(kpi::kResidentSystemCode);
  k->totalSystemDriverPages = u32(kpi::kTotalSystemDriver);
  k->totalSystemCodePages = u32(kpi::kTotalSystemCode);
  k->residentSystemCachePages = u32(kpi::kResidentSystemCache);
  k->residentPagedPoolPages = u32(kpi::kResidentPagedPool);
  k->residentSystemDriverPages = u32(kpi::kResidentSystemDriver);
  k->contextSwitches = u32(kpi::kContextSwitches);
  k->systemCalls = u32(kpi::kSystemCalls);
  return true;
}

// The base priority of a priority class (0 for an unknown class).
std::int32_t BasePriorityOfClass(DWORD priorityClass) {
  switch (priorityClass) {
    case IDLE_PRIORITY_CLASS: return 4;
    case BELOW_NORMAL_PRIORITY_CLASS: return 6;
    case NORMAL_PRIORITY_CLASS: return 8;
    case ABOVE_NORMAL_PRIORITY_CLASS: return 10;
    case HIGH_PRIORITY_CLASS: return 13;
    case REALTIME_PRIORITY_CLASS: return 24;
    default: return 0;
  }
}

// The process's base priority from its priority class where the process can
// be opened: some platforms fill the list's base priority with the class
// number instead. Otherwise the list's value stays.
void ReadBasePriority(ProcessReading* p) {
  if (p->pid == 0) return;
  HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, p->pid);
  if (h == nullptr) return;
  std::int32_t base = BasePriorityOfClass(GetPriorityClass(h));
  CloseHandle(h);
  if (base != 0) p->basePriority = base;
}

bool ReadProcesses(std::vector<ProcessReading>* out) {
  RAS1_UNIT("ReadProcesses");
  NtQuerySystemInformationFn query = NtQuery();
  if (query == nullptr) return false;
  // Pointer-aligned storage: the records hold pointers into the buffer.
  std::vector<ULONGLONG> storage(64 * 1024 / sizeof(ULONGLONG));
  ULONG got = 0;
  LONG status = kStatusInfoLengthMismatch;
  for (int attempt = 0; attempt < 8 && status == kStatusInfoLengthMismatch; ++attempt) {
    status = query(kSystemProcessInformation, storage.data(), static_cast<ULONG>(storage.size() * sizeof(ULONGLONG)),
                   &got);
    if (status == kStatusInfoLengthMismatch) {
      std::size_t want = std::max<std::size_t>(storage.size() * 2, got / sizeof(ULONGLONG) + 4096);
      if (want > 64u * 1024u * 1024u / sizeof(ULONGLONG)) break;
      try {
        storage.assign(want, 0);
      } catch (const std::bad_alloc&) {
        return false;
      }
    }
  }
  if (status < 0) {
    RAS1_TRACE(RAS1_ERROR, "Process list query failed, status=0x%08lX", static_cast<unsigned long>(status));
    return false;
  }
  const std::uint8_t* base = reinterpret_cast<const std::uint8_t*>(storage.data());
  const std::size_t size = std::min<std::size_t>(got ? got : storage.size() * sizeof(ULONGLONG),
                                                 storage.size() * sizeof(ULONGLONG));
  out->clear();
  std::size_t at = 0;
  for (;;) {
    if (size < sizeof(ProcessRecord) || at > size - sizeof(ProcessRecord)) break;
    ProcessRecord p;
    std::memcpy(&p, base + at, sizeof p);
    ProcessReading r;
    r.pid = static_cast<std::uint32_t>(reinterpret_cast<ULONG_PTR>(p.uniqueProcessId));
    r.parentPid = static_cast<std::uint32_t>(reinterpret_cast<ULONG_PTR>(p.inheritedFromUniqueProcessId));
    r.threadCount = p.numberOfThreads;
    r.handleCount = p.handleCount;
    r.basePriority = p.basePriority;
    r.create = Large(p.createTime);
    r.user = Large(p.userTime);
    r.kernel = Large(p.kernelTime);
    r.peakVirtual = p.peakVirtualSize;
    r.virtualSize = p.virtualSize;
    r.pageFaults = p.pageFaultCount;
    r.peakWorkingSet = p.peakWorkingSetSize;
    r.workingSet = p.workingSetSize;
    r.pagedPool = p.quotaPagedPoolUsage;
    r.nonPagedPool = p.quotaNonPagedPoolUsage;
    r.pagefile = p.pagefileUsage;
    r.peakPagefile = p.peakPagefileUsage;
    r.ioReadOps = Large(p.readOperationCount);
    r.ioWriteOps = Large(p.writeOperationCount);
    r.ioOtherOps = Large(p.otherOperationCount);
    r.ioReadBytes = Large(p.readTransferCount);
    r.ioWriteBytes = Large(p.writeTransferCount);
    r.ioOtherBytes = Large(p.otherTransferCount);
    // The image name points into the buffer; a name outside it is dropped.
    const std::uint8_t* name = reinterpret_cast<const std::uint8_t*>(p.imageName.buffer);
    std::size_t nameBytes = p.imageName.length & ~1u;
    if (name != nullptr && name >= base && name <= base + size && nameBytes <= static_cast<std::size_t>(base + size - name)) {
      for (std::size_t i = 0; i < nameBytes; i += 2)
        r.image.push_back(static_cast<char16_t>(name[i] | (name[i + 1] << 8)));
    }
    // The thread records follow the process record.
    std::size_t threads = at + sizeof(ProcessRecord);
    std::size_t limit = p.nextEntryOffset != 0 ? std::min(size, at + p.nextEntryOffset) : size;
    for (ULONG t = 0; t < p.numberOfThreads; ++t) {
      std::size_t rec = threads + t * sizeof(ThreadRecord);
      if (rec > limit || limit - rec < sizeof(ThreadRecord)) break;
      ThreadRecord th;
      std::memcpy(&th, base + rec, sizeof th);
      ThreadReading tr;
      tr.kernel = Large(th.kernelTime);
      tr.user = Large(th.userTime);
      tr.create = Large(th.createTime);
      tr.pid = static_cast<std::uint32_t>(reinterpret_cast<ULONG_PTR>(th.uniqueProcess));
      tr.tid = static_cast<std::uint32_t>(reinterpret_cast<ULONG_PTR>(th.uniqueThread));
      tr.priority = th.priority;
      tr.basePriority = th.basePriority;
      tr.contextSwitches = th.contextSwitches;
      tr.state = th.threadState;
      tr.waitReason = th.waitReason;
      r.threads.push_back(tr);
    }
    ReadBasePriority(&r);
    out->push_back(std::move(r));
    if (p.nextEntryOffset == 0) break;
    at += p.nextEntryOffset;
  }
  return !out->empty();
}

bool ReadDisks(std::vector<DiskReading>* out) {
  out->clear();
  DWORD drives = GetLogicalDrives();
  if (drives == 0) return false;
  // No "insert a disk" dialog for a drive that goes away meanwhile.
  DWORD oldMode = 0;
  SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
  for (int letter = 0; letter < 26; ++letter) {
    if ((drives & (1u << letter)) == 0) continue;
    wchar_t root[4] = {static_cast<wchar_t>(L'A' + letter), L':', L'\\', 0};
    if (GetDriveTypeW(root) != DRIVE_FIXED) continue;
    ULARGE_INTEGER available{}, total{}, free{};
    if (!GetDiskFreeSpaceExW(root, &available, &total, &free)) continue;
    DiskReading d;
    d.name = Wide16(root, 2);
    d.freeBytes = free.QuadPart;
    d.totalBytes = total.QuadPart;
    out->push_back(std::move(d));
  }
  SetThreadErrorMode(oldMode, nullptr);
  return true;
}

BOOL CALLBACK CollectPageFile(LPVOID context, PENUM_PAGE_FILE_INFORMATION info, LPCWSTR name) {
  std::vector<PageFileReading>* out = static_cast<std::vector<PageFileReading>*>(context);
  PageFileReading p;
  if (name != nullptr) p.name = Wide16(name, wcslen(name));
  p.totalPages = info->TotalSize;
  p.inUsePages = info->TotalInUse;
  p.peakPages = info->PeakUsage;
  out->push_back(std::move(p));
  return TRUE;
}

bool ReadPageFiles(std::vector<PageFileReading>* out) {
  out->clear();
  return EnumPageFilesW(CollectPageFile, out) != FALSE;
}

bool ReadInterfaces(std::vector<InterfaceReading>* out) {
  out->clear();
  MIB_IF_TABLE2* table = nullptr;
  if (GetIfTable2(&table) != NO_ERROR || table == nullptr) return false;
  for (ULONG i = 0; i < table->NumEntries; ++i) {
    const MIB_IF_ROW2& row = table->Table[i];
    // Filter layers repeat the interface they sit on.
    if (row.InterfaceAndOperStatusFlags.FilterInterface) continue;
    InterfaceReading r;
    r.description = Wide16(row.Description, sizeof row.Description / sizeof row.Description[0]);
    r.inOctets = row.InOctets;
    r.outOctets = row.OutOctets;
    r.inUcast = row.InUcastPkts;
    r.inNUcast = row.InNUcastPkts;
    r.inDiscards = row.InDiscards;
    r.inErrors = row.InErrors;
    r.inUnknown = row.InUnknownProtos;
    r.outUcast = row.OutUcastPkts;
    r.outNUcast = row.OutNUcastPkts;
    r.outDiscards = row.OutDiscards;
    r.outErrors = row.OutErrors;
    r.outQueue = row.OutQLen;
    r.speed = row.TransmitLinkSpeed;
    out->push_back(std::move(r));
  }
  FreeMibTable(table);
  return true;
}

void CopyIcmp(const MIBICMPSTATS& s, IcmpDirection* d) {
  d->msgs = s.dwMsgs;
  d->errors = s.dwErrors;
  d->destUnreachs = s.dwDestUnreachs;
  d->timeExcds = s.dwTimeExcds;
  d->parmProbs = s.dwParmProbs;
  d->srcQuenchs = s.dwSrcQuenchs;
  d->redirects = s.dwRedirects;
  d->echos = s.dwEchos;
  d->echoReps = s.dwEchoReps;
  d->timestamps = s.dwTimestamps;
  d->timestampReps = s.dwTimestampReps;
  d->addrMasks = s.dwAddrMasks;
  d->addrMaskReps = s.dwAddrMaskReps;
}

void ReadProtocols(const std::vector<std::uint32_t>& wanted, SystemReadings* r) {
  auto want = [&wanted](std::uint32_t a, std::uint32_t b) {
    return std::find(wanted.begin(), wanted.end(), a) != wanted.end() ||
           std::find(wanted.begin(), wanted.end(), b) != wanted.end();
  };
  if (want(kTcp, kTcpV4)) {
    MIB_TCPSTATS s{};
    if ((r->haveTcp = GetTcpStatistics(&s) == NO_ERROR)) {
      r->tcp.activeOpens = s.dwActiveOpens;
      r->tcp.passiveOpens = s.dwPassiveOpens;
      r->tcp.attemptFails = s.dwAttemptFails;
      r->tcp.estabResets = s.dwEstabResets;
      r->tcp.currEstab = s.dwCurrEstab;
      r->tcp.inSegs = s.dwInSegs;
      r->tcp.outSegs = s.dwOutSegs;
      r->tcp.retransSegs = s.dwRetransSegs;
    }
  }
  if (want(kUdp, kUdpV4)) {
    MIB_UDPSTATS s{};
    if ((r->haveUdp = GetUdpStatistics(&s) == NO_ERROR)) {
      r->udp.inDatagrams = s.dwInDatagrams;
      r->udp.noPorts = s.dwNoPorts;
      r->udp.inErrors = s.dwInErrors;
      r->udp.outDatagrams = s.dwOutDatagrams;
    }
  }
  if (want(kIp, kIpV4)) {
    MIB_IPSTATS s{};
    if ((r->haveIp = GetIpStatistics(&s) == NO_ERROR)) {
      r->ip.inReceives = s.dwInReceives;
      r->ip.inHdrErrors = s.dwInHdrErrors;
      r->ip.inAddrErrors = s.dwInAddrErrors;
      r->ip.forwDatagrams = s.dwForwDatagrams;
      r->ip.inUnknownProtos = s.dwInUnknownProtos;
      r->ip.inDiscards = s.dwInDiscards;
      r->ip.inDelivers = s.dwInDelivers;
      r->ip.outRequests = s.dwOutRequests;
      r->ip.outDiscards = s.dwOutDiscards;
      r->ip.outNoRoutes = s.dwOutNoRoutes;
      r->ip.reasmReqds = s.dwReasmReqds;
      r->ip.reasmOks = s.dwReasmOks;
      r->ip.reasmFails = s.dwReasmFails;
      r->ip.fragOks = s.dwFragOks;
      r->ip.fragFails = s.dwFragFails;
      r->ip.fragCreates = s.dwFragCreates;
    }
  }
  if (want(kIcmp, kIcmp)) {
    MIB_ICMP s{};
    if ((r->haveIcmp = GetIcmpStatistics(&s) == NO_ERROR)) {
      CopyIcmp(s.stats.icmpInStats, &r->icmp.in);
      CopyIcmp(s.stats.icmpOutStats, &r->icmp.out);
    }
  }
}

void AppendPair(std::u16string* out, std::uint32_t index, const char* name) {
  std::string idx = std::to_string(index);
  out->append(idx.begin(), idx.end());
  out->push_back(u'\0');
  for (const char* p = name; *p; ++p) out->push_back(static_cast<char16_t>(static_cast<unsigned char>(*p)));
  out->push_back(u'\0');
}

}  // namespace

SystemReadings ReadSystem(const std::vector<std::uint32_t>& wanted) {
  auto want = [&wanted](std::uint32_t index) {
    return std::find(wanted.begin(), wanted.end(), index) != wanted.end();
  };
  SystemReadings r;
  ReadHeader(&r);
  // Processor times first, closest to the block's time stamps.
  if (want(kProcessor)) r.haveCpus = ReadCpus(&r.cpus);
  if (want(kMemory) || want(kSystem)) {
    r.haveMemory = ReadMemory(&r.memory);
    r.haveKernel = ReadKernel(&r.kernel);
  }
  if (want(kProcess) || want(kThread) || want(kSystem) || want(kObjects))
    r.haveProcesses = ReadProcesses(&r.processes);
  if (want(kPagingFile)) r.havePageFiles = ReadPageFiles(&r.pageFiles);
  if (want(kLogicalDisk)) r.haveDisks = ReadDisks(&r.disks);
  if (want(kNetworkInterface)) r.haveInterfaces = ReadInterfaces(&r.interfaces);
  ReadProtocols(wanted, &r);
  return r;
}

struct CSystemPerfSource::Impl {
  std::mutex lock;
  SystemSupply supply;
  // The last block that did not fit the caller's buffer.
  std::string pendingRequest;
  std::vector<std::uint8_t> pending;
  ULONGLONG pendingAt = 0;
};

CSystemPerfSource::CSystemPerfSource() : impl_(new Impl) {
  RAS1_UNIT("CSystemPerfSource");
  impl_->supply = ProbeSupply(ReadSystem(SupportedObjects()));
  const SystemSupply& s = impl_->supply;
  RAS1_TRACE(RAS1_FLOW,
             "Platform supplies: processor DPC %d, kernel I/O %d, paging %d, pool %d, switches %d, "
             "thread states %d, thread switches %d, process faults %d, process pool %d, process I/O %d, "
             "link speed %d",
             s.processorDpc, s.kernelIo, s.kernelPaging, s.kernelPool, s.kernelSwitches, s.threadStates,
             s.threadSwitches, s.processFaults, s.processPool, s.processIo, s.linkSpeed);
}

CSystemPerfSource::~CSystemPerfSource() = default;

const SystemSupply& CSystemPerfSource::Supply() const { return impl_->supply; }

long CSystemPerfSource::QueryLastIndexes(std::uint32_t* lastCounter, std::uint32_t* lastHelp,
                                         PerfSourceStage* stage) {
  (void)stage;
  *lastCounter = LastIndex();
  *lastHelp = LastIndex() + 1;
  return kErrorSuccess;
}

long CSystemPerfSource::QueryCounterNames(std::u16string* multiString, PerfSourceStage* stage) {
  (void)stage;
  multiString->clear();
  for (const NameEntry& e : NameTable()) AppendPair(multiString, e.index, e.name);
  multiString->push_back(u'\0');
  return kErrorSuccess;
}

long CSystemPerfSource::QueryCounterText(std::string* multiString, PerfSourceStage* stage) {
  (void)stage;
  multiString->clear();
  for (const NameEntry& e : NameTable()) {
    multiString->append(std::to_string(e.index));
    multiString->push_back('\0');
    multiString->append(e.name);
    multiString->push_back('\0');
  }
  multiString->push_back('\0');
  return kErrorSuccess;
}

long CSystemPerfSource::QueryData(const char* request, std::uint8_t* buffer, std::uint32_t* size) {
  RAS1_UNIT("CSystemPerfSource::QueryData");
  if (request == nullptr || size == nullptr) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::mutex> guard(impl_->lock);
  std::vector<std::uint8_t> block;
  const ULONGLONG now = GetTickCount64();
  if (!impl_->pending.empty() && impl_->pendingRequest == request && now - impl_->pendingAt <= kRetryKeepMs) {
    block.swap(impl_->pending);
  } else {
    std::vector<std::uint32_t> wanted = SelectObjects(ParsePerfRequest(request));
    SystemReadings readings = ReadSystem(wanted);
    std::vector<PerfObjectData> objects = BuildObjects(readings, impl_->supply, wanted);
    try {
      if (!WritePerfBlock(readings.header, objects, &block)) return ERROR_INVALID_DATA;
    } catch (const std::bad_alloc&) {
      return ERROR_NOT_ENOUGH_MEMORY;
    }
  }
  impl_->pending.clear();
  if (buffer == nullptr || block.size() > *size) {
    *size = static_cast<std::uint32_t>(block.size());
    impl_->pendingRequest = request;
    impl_->pending.swap(block);
    impl_->pendingAt = now;
    return kErrorMoreData;
  }
  std::memcpy(buffer, block.data(), block.size());
  *size = static_cast<std::uint32_t>(block.size());
  RAS1_TRACE(RAS1_DETAIL, "'%s': %u bytes", request, *size);
  return kErrorSuccess;
}

std::string CSystemPerfSource::ErrorText(long code) const {
  char* text = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string out;
  if (n != 0 && text != nullptr) out.assign(text, n);
  if (text != nullptr) LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

}  // namespace osmperf
