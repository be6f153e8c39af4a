// The performance objects of the system source, assembled from platform
// readings: the counter name table, the counters of each object with their
// counter types, and the arithmetic that turns readings into counter blocks
// (including the "_Total" instances). Nothing here reads the platform; the
// Windows side (perf_system_source.cpp) fills SystemReadings.
#pragma once

#include "perfsvc/perf_block_writer.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace osmperf {
namespace sysperf {

// Object indexes.
enum : std::uint32_t {
  kSystem = 2,
  kMemory = 4,
  kProcess = 230,
  kThread = 232,
  kLogicalDisk = 236,
  kProcessor = 238,
  kObjects = 260,
  kNetworkInterface = 510,
  kIp = 546,
  kIcmp = 582,
  kTcp = 638,
  kUdp = 658,
  kPagingFile = 700,
  // The IPv4 names of the protocol objects, served with the same data.
  kTcpV4 = 5000,
  kUdpV4 = 5002,
  kIpV4 = 5004
};

struct NameEntry {
  std::uint32_t index;
  const char* name;
};

// The counter name table of the source, ascending by index, one name per
// index and one index per name.
const std::vector<NameEntry>& NameTable();
// The largest index of the table.
std::uint32_t LastIndex();

// The objects the source can produce, in the order they appear in a block.
const std::vector<std::uint32_t>& SupportedObjects();

// A parsed performance data request.
struct PerfRequest {
  bool global = false;   // "Global": every object
  bool costly = false;   // "Costly": the costly objects (the source has none)
  std::vector<std::uint32_t> indexes;  // object indexes asked for by number
};
PerfRequest ParsePerfRequest(const char* request);
// The supported objects a request asks for, in block order. Thread brings
// Process along, as its instances name their parent processes.
std::vector<std::uint32_t> SelectObjects(const PerfRequest& request);

// Platform readings -------------------------------------------------------

struct CpuReading {  // 100-ns units; kernel time includes idle time
  std::uint64_t idle = 0, kernel = 0, user = 0, dpc = 0, interrupt = 0;
  std::uint32_t interrupts = 0;
};

// The kernel's own system-wide counters (cumulative since start).
struct KernelCounters {
  std::uint64_t ioReadBytes = 0, ioWriteBytes = 0, ioOtherBytes = 0;
  std::uint32_t ioReadOps = 0, ioWriteOps = 0, ioOtherOps = 0;
  std::uint32_t pageFaults = 0, copyOnWrite = 0, transition = 0, cacheTransition = 0, demandZero = 0;
  std::uint32_t pagesRead = 0, pageReadIos = 0, dirtyPagesWritten = 0, dirtyWriteIos = 0;
  std::uint32_t mappedPagesWritten = 0, mappedWriteIos = 0;
  std::uint32_t pagedPoolPages = 0, nonPagedPoolPages = 0, pagedPoolAllocs = 0, pagedPoolFrees = 0;
  std::uint32_t nonPagedPoolAllocs = 0, nonPagedPoolFrees = 0, freeSystemPtes = 0;
  std::uint32_t residentSystemCodePages = 0, totalSystemDriverPages = 0, totalSystemCodePages = 0;
  std::uint32_t residentSystemCachePages = 0, residentPagedPoolPages = 0, residentSystemDriverPages = 0;
  std::uint32_t contextSwitches = 0, systemCalls = 0;
};

struct MemoryReading {
  std::uint64_t totalPhys = 0, availPhys = 0, commitLimit = 0, committed = 0;
  std::uint32_t pageSize = 4096;
};

struct ThreadReading {
  std::uint64_t kernel = 0, user = 0, create = 0;  // 100 ns; create as UTC since 1601
  std::uint32_t pid = 0, tid = 0;
  std::int32_t priority = 0, basePriority = 0;
  std::uint32_t contextSwitches = 0, state = 0, waitReason = 0;
};

struct ProcessReading {
  std::u16string image;  // image file name as the platform gives it
  std::uint32_t pid = 0, parentPid = 0, threadCount = 0, handleCount = 0;
  std::int32_t basePriority = 0;
  std::uint64_t create = 0, user = 0, kernel = 0;
  std::uint64_t peakVirtual = 0, virtualSize = 0, peakWorkingSet = 0, workingSet = 0;
  std::uint32_t pageFaults = 0;
  std::uint64_t pagedPool = 0, nonPagedPool = 0, pagefile = 0, peakPagefile = 0;
  std::uint64_t ioReadOps = 0, ioWriteOps = 0, ioOtherOps = 0;
  std::uint64_t ioReadBytes = 0, ioWriteBytes = 0, ioOtherBytes = 0;
  std::vector<ThreadReading> threads;
};

struct DiskReading {
  std::u16string name;  // "C:"
  std::uint64_t freeBytes = 0, totalBytes = 0;
};

struct PageFileReading {
  std::u16string name;
  std::uint64_t totalPages = 0, inUsePages = 0, peakPages = 0;
};

struct InterfaceReading {
  std::u16string description;
  std::uint64_t inOctets = 0, outOctets = 0, inUcast = 0, inNUcast = 0, inDiscards = 0, inErrors = 0;
  std::uint64_t inUnknown = 0, outUcast = 0, outNUcast = 0, outDiscards = 0, outErrors = 0;
  std::uint64_t outQueue = 0, speed = 0;  // bits per second
};

struct TcpReading {
  std::uint32_t activeOpens = 0, passiveOpens = 0, attemptFails = 0, estabResets = 0, currEstab = 0;
  std::uint32_t inSegs = 0, outSegs = 0, retransSegs = 0;
};

struct UdpReading {
  std::uint32_t inDatagrams = 0, noPorts = 0, inErrors = 0, outDatagrams = 0;
};

struct IpReading {
  std::uint32_t inReceives = 0, inHdrErrors = 0, inAddrErrors = 0, forwDatagrams = 0, inUnknownProtos = 0;
  std::uint32_t inDiscards = 0, inDelivers = 0, outRequests = 0, outDiscards = 0, outNoRoutes = 0;
  std::uint32_t reasmReqds = 0, reasmOks = 0, reasmFails = 0, fragOks = 0, fragFails = 0, fragCreates = 0;
};

struct IcmpDirection {
  std::uint32_t msgs = 0, errors = 0, destUnreachs = 0, timeExcds = 0, parmProbs = 0, srcQuenchs = 0;
  std::uint32_t redirects = 0, echos = 0, echoReps = 0, timestamps = 0, timestampReps = 0;
  std::uint32_t addrMasks = 0, addrMaskReps = 0;
};

struct IcmpReading {
  IcmpDirection in, out;
};

// Which platform fields are really maintained. A field that reads 0 on every
// instance while a live system always counts it (page faults, thread states,
// I/O of running processes) is taken as not supplied, and its counters are
// left out of the objects.
struct SystemSupply {
  bool processorDpc = false;    // DPC and interrupt times, interrupt counts
  bool kernelIo = false;        // system-wide file I/O
  bool kernelPaging = false;    // page faults and paging I/O
  bool kernelPool = false;      // pool, page table and system code sizes
  bool kernelSwitches = false;  // context switches and system calls
  bool threadStates = false;    // thread states and priorities (queue length)
  bool threadSwitches = false;  // per-thread context switches
  bool processFaults = false;   // per-process page faults
  bool processPool = false;     // per-process pool quotas
  bool processIo = false;       // per-process I/O
  bool linkSpeed = false;       // interface link speeds
};

// One platform reading of everything a request needs. Each have* flag tells
// whether its query answered; an object whose query failed is left out.
struct SystemReadings {
  PerfBlockHeader header;
  std::int64_t now100ns = 0;        // UTC, 100 ns since 1601 (object time of elapsed-time counters)
  std::uint64_t bootTime100ns = 0;  // UTC, 100 ns since 1601
  bool haveCpus = false;
  std::vector<CpuReading> cpus;
  bool haveMemory = false;
  MemoryReading memory;
  bool haveKernel = false;
  KernelCounters kernel;
  bool haveProcesses = false;
  std::vector<ProcessReading> processes;
  bool haveDisks = false;
  std::vector<DiskReading> disks;
  bool havePageFiles = false;
  std::vector<PageFileReading> pageFiles;
  bool haveInterfaces = false;
  std::vector<InterfaceReading> interfaces;
  bool haveTcp = false, haveUdp = false, haveIp = false, haveIcmp = false;
  TcpReading tcp;
  UdpReading udp;
  IpReading ip;
  IcmpReading icmp;
};

// Decides SystemSupply from a first reading (see SystemSupply).
SystemSupply ProbeSupply(const SystemReadings& readings);

// The objects of `wanted` (SelectObjects order) whose readings are present.
std::vector<PerfObjectData> BuildObjects(const SystemReadings& readings, const SystemSupply& supply,
                                         const std::vector<std::uint32_t>& wanted);

// The counters an object carries under supply (definition order, bases included).
std::vector<PerfCounterSpec> ObjectCounters(std::uint32_t objectIndex, const SystemSupply& supply);

// Instance names as the performance data shows them.
std::u16string ProcessInstanceName(const std::u16string& image, std::uint32_t pid);
std::u16string InterfaceInstanceName(const std::u16string& description);

}  // namespace sysperf
}  // namespace osmperf
