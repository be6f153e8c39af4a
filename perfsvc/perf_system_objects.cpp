#include "perfsvc/perf_system_objects.h"

#include "perfsvc/perf_layout.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace osmperf {
namespace sysperf {

namespace {

// Counter indexes (object indexes are in the header).
enum : std::uint32_t {
  kPctProcessorTime = 6,
  kFileReadOps = 10,
  kFileWriteOps = 12,
  kFileControlOps = 14,
  kFileReadBytes = 16,
  kFileWriteBytes = 18,
  kFileControlBytes = 20,
  kAvailableBytes = 24,
  kCommittedBytes = 26,
  kPageFaults = 28,
  kCommitLimit = 30,
  kWriteCopies = 32,
  kTransitionFaults = 34,
  kCacheFaults = 36,
  kDemandZeroFaults = 38,
  kPages = 40,
  kPageReads = 42,
  kProcessorQueueLength = 44,
  kThreadState = 46,
  kPagesOutput = 48,
  kPageWrites = 50,
  kPoolPagedBytes = 56,
  kPoolNonpagedBytes = 58,
  kPoolPagedAllocs = 60,
  kPoolNonpagedAllocs = 64,
  kFreeSystemPtes = 66,
  kPoolPagedResidentBytes = 72,
  kSystemCodeTotalBytes = 74,
  kSystemCodeResidentBytes = 76,
  kSystemDriverTotalBytes = 78,
  kSystemDriverResidentBytes = 80,
  kSystemCacheResidentBytes = 82,
  kPctUserTime = 142,
  kPctPrivilegedTime = 144,
  kContextSwitches = 146,
  kInterrupts = 148,
  kSystemCalls = 150,
  kVirtualBytesPeak = 172,
  kVirtualBytes = 174,
  kWorkingSetPeak = 178,
  kWorkingSet = 180,
  kPageFileBytesPeak = 182,
  kPageFileBytes = 184,
  kPrivateBytes = 186,
  kProcesses = 248,
  kThreads = 250,
  kBytesReceived = 264,
  kPacketsReceived = 266,
  kThreadWaitReason = 336,
  kBytesTotal = 388,
  kPackets = 400,
  kPctFreeSpace = 408,
  kFreeMegabytes = 410,
  kDatagrams = 438,
  kDatagramsSent = 442,
  kDatagramsReceived = 446,
  kPacketsSent = 452,
  kBytesSent = 506,
  kCurrentBandwidth = 520,
  kPacketsReceivedUnicast = 524,
  kPacketsReceivedNonUnicast = 526,
  kPacketsReceivedDiscarded = 528,
  kPacketsReceivedErrors = 530,
  kPacketsReceivedUnknown = 532,
  kPacketsSentUnicast = 536,
  kPacketsSentNonUnicast = 538,
  kPacketsOutboundDiscarded = 540,
  kPacketsOutboundErrors = 542,
  kOutputQueueLength = 544,
  kDatagramsReceivedHeaderErrors = 552,
  kDatagramsReceivedAddressErrors = 554,
  kDatagramsForwarded = 556,
  kDatagramsReceivedUnknownProtocol = 558,
  kDatagramsReceivedDiscarded = 560,
  kDatagramsReceivedDelivered = 562,
  kDatagramsOutboundDiscarded = 566,
  kDatagramsOutboundNoRoute = 568,
  kFragmentsReceived = 570,
  kFragmentsReassembled = 572,
  kFragmentReassemblyFailures = 574,
  kFragmentedDatagrams = 576,
  kFragmentationFailures = 578,
  kFragmentsCreated = 580,
  kMessages = 584,
  kMessagesReceived = 586,
  kMessagesReceivedErrors = 588,
  kReceivedDestUnreachable = 590,
  kReceivedTimeExceeded = 592,
  kReceivedParameterProblem = 594,
  kReceivedSourceQuench = 596,
  kReceivedRedirect = 598,
  kReceivedEcho = 600,
  kReceivedEchoReply = 602,
  kReceivedTimestamp = 604,
  kReceivedTimestampReply = 606,
  kReceivedAddressMask = 608,
  kReceivedAddressMaskReply = 610,
  kMessagesSent = 612,
  kMessagesOutboundErrors = 614,
  kSentDestinationUnreachable = 616,
  kSentTimeExceeded = 618,
  kSentParameterProblem = 620,
  kSentSourceQuench = 622,
  kSentRedirect = 624,
  kSentEcho = 626,
  kSentEchoReply = 628,
  kSentTimestamp = 630,
  kSentTimestampReply = 632,
  kSentAddressMask = 634,
  kSentAddressMaskReply = 636,
  kSegments = 640,
  kConnectionsEstablished = 642,
  kConnectionsActive = 644,
  kConnectionsPassive = 646,
  kConnectionFailures = 648,
  kConnectionsReset = 650,
  kSegmentsReceived = 652,
  kSegmentsSent = 654,
  kSegmentsRetransmitted = 656,
  kDatagramsNoPort = 660,
  kDatagramsReceivedErrors = 662,
  kSystemUpTime = 674,
  kThreadCount = 680,
  kPriorityBase = 682,
  kElapsedTime = 684,
  kPriorityCurrent = 694,
  kPctDpcTime = 696,
  kPctInterruptTime = 698,
  kPctUsage = 702,
  kPctUsagePeak = 704,
  kIdProcess = 784,
  kIdThread = 804,
  kPagesInput = 822,
  kHandleCount = 952,
  kAvailableKBytes = 1380,
  kAvailableMBytes = 1382,
  kPctCommittedBytesInUse = 1406,
  kIoReadOps = 1408,
  kIoWriteOps = 1410,
  kIoDataOps = 1412,
  kIoOtherOps = 1414,
  kIoReadBytes = 1416,
  kIoWriteBytes = 1418,
  kIoDataBytes = 1420,
  kIoOtherBytes = 1422,
  kFileDataOps = 1760
};

const std::vector<NameEntry> kNames = {
    {1, "1847"},
    {kSystem, "System"},
    {kMemory, "Memory"},
    {kPctProcessorTime, "% Processor Time"},
    {kFileReadOps, "File Read Operations/sec"},
    {kFileWriteOps, "File Write Operations/sec"},
    {kFileControlOps, "File Control Operations/sec"},
    {kFileReadBytes, "File Read Bytes/sec"},
    {kFileWriteBytes, "File Write Bytes/sec"},
    {kFileControlBytes, "File Control Bytes/sec"},
    {kAvailableBytes, "Available Bytes"},
    {kCommittedBytes, "Committed Bytes"},
    {kPageFaults, "Page Faults/sec"},
    {kCommitLimit, "Commit Limit"},
    {kWriteCopies, "Write Copies/sec"},
    {kTransitionFaults, "Transition Faults/sec"},
    {kCacheFaults, "Cache Faults/sec"},
    {kDemandZeroFaults, "Demand Zero Faults/sec"},
    {kPages, "Pages/sec"},
    {kPageReads, "Page Reads/sec"},
    {kProcessorQueueLength, "Processor Queue Length"},
    {kThreadState, "Thread State"},
    {kPagesOutput, "Pages Output/sec"},
    {kPageWrites, "Page Writes/sec"},
    {kPoolPagedBytes, "Pool Paged Bytes"},
    {kPoolNonpagedBytes, "Pool Nonpaged Bytes"},
    {kPoolPagedAllocs, "Pool Paged Allocs"},
    {kPoolNonpagedAllocs, "Pool Nonpaged Allocs"},
    {kFreeSystemPtes, "Free System Page Table Entries"},
    {kPoolPagedResidentBytes, "Pool Paged Resident Bytes"},
    {kSystemCodeTotalBytes, "System Code Total Bytes"},
    {kSystemCodeResidentBytes, "System Code Resident Bytes"},
    {kSystemDriverTotalBytes, "System Driver Total Bytes"},
    {kSystemDriverResidentBytes, "System Driver Resident Bytes"},
    {kSystemCacheResidentBytes, "System Cache Resident Bytes"},
    {kPctUserTime, "% User Time"},
    {kPctPrivilegedTime, "% Privileged Time"},
    {kContextSwitches, "Context Switches/sec"},
    {kInterrupts, "Interrupts/sec"},
    {kSystemCalls, "System Calls/sec"},
    {kVirtualBytesPeak, "Virtual Bytes Peak"},
    {kVirtualBytes, "Virtual Bytes"},
    {kWorkingSetPeak, "Working Set Peak"},
    {kWorkingSet, "Working Set"},
    {kPageFileBytesPeak, "Page File Bytes Peak"},
    {kPageFileBytes, "Page File Bytes"},
    {kPrivateBytes, "Private Bytes"},
    {kProcess, "Process"},
    {kThread, "Thread"},
    {kLogicalDisk, "LogicalDisk"},
    {kProcessor, "Processor"},
    {kProcesses, "Processes"},
    {kThreads, "Threads"},
    {kObjects, "Objects"},
    {kBytesReceived, "Bytes Received/sec"},
    {kPacketsReceived, "Packets Received/sec"},
    {kThreadWaitReason, "Thread Wait Reason"},
    {kBytesTotal, "Bytes Total/sec"},
    {kPackets, "Packets/sec"},
    {kPctFreeSpace, "% Free Space"},
    {kFreeMegabytes, "Free Megabytes"},
    {kDatagrams, "Datagrams/sec"},
    {kDatagramsSent, "Datagrams Sent/sec"},
    {kDatagramsReceived, "Datagrams Received/sec"},
    {kPacketsSent, "Packets Sent/sec"},
    {kBytesSent, "Bytes Sent/sec"},
    {kNetworkInterface, "Network Interface"},
    {kCurrentBandwidth, "Current Bandwidth"},
    {kPacketsReceivedUnicast, "Packets Received Unicast/sec"},
    {kPacketsReceivedNonUnicast, "Packets Received Non-Unicast/sec"},
    {kPacketsReceivedDiscarded, "Packets Received Discarded"},
    {kPacketsReceivedErrors, "Packets Received Errors"},
    {kPacketsReceivedUnknown, "Packets Received Unknown"},
    {kPacketsSentUnicast, "Packets Sent Unicast/sec"},
    {kPacketsSentNonUnicast, "Packets Sent Non-Unicast/sec"},
    {kPacketsOutboundDiscarded, "Packets Outbound Discarded"},
    {kPacketsOutboundErrors, "Packets Outbound Errors"},
    {kOutputQueueLength, "Output Queue Length"},
    {kIp, "IP"},
    {kDatagramsReceivedHeaderErrors, "Datagrams Received Header Errors"},
    {kDatagramsReceivedAddressErrors, "Datagrams Received Address Errors"},
    {kDatagramsForwarded, "Datagrams Forwarded/sec"},
    {kDatagramsReceivedUnknownProtocol, "Datagrams Received Unknown Protocol"},
    {kDatagramsReceivedDiscarded, "Datagrams Received Discarded"},
    {kDatagramsReceivedDelivered, "Datagrams Received Delivered/sec"},
    {kDatagramsOutboundDiscarded, "Datagrams Outbound Discarded"},
    {kDatagramsOutboundNoRoute, "Datagrams Outbound No Route"},
    {kFragmentsReceived, "Fragments Received/sec"},
    {kFragmentsReassembled, "Fragments Re-assembled/sec"},
    {kFragmentReassemblyFailures, "Fragment Re-assembly Failures"},
    {kFragmentedDatagrams, "Fragmented Datagrams/sec"},
    {kFragmentationFailures, "Fragmentation Failures"},
    {kFragmentsCreated, "Fragments Created/sec"},
    {kIcmp, "ICMP"},
    {kMessages, "Messages/sec"},
    {kMessagesReceived, "Messages Received/sec"},
    {kMessagesReceivedErrors, "Messages Received Errors"},
    {kReceivedDestUnreachable, "Received Dest. Unreachable"},
    {kReceivedTimeExceeded, "Received Time Exceeded"},
    {kReceivedParameterProblem, "Received Parameter Problem"},
    {kReceivedSourceQuench, "Received Source Quench"},
    {kReceivedRedirect, "Received Redirect/sec"},
    {kReceivedEcho, "Received Echo/sec"},
    {kReceivedEchoReply, "Received Echo Reply/sec"},
    {kReceivedTimestamp, "Received Timestamp/sec"},
    {kReceivedTimestampReply, "Received Timestamp Reply/sec"},
    {kReceivedAddressMask, "Received Address Mask"},
    {kReceivedAddressMaskReply, "Received Address Mask Reply"},
    {kMessagesSent, "Messages Sent/sec"},
    {kMessagesOutboundErrors, "Messages Outbound Errors"},
    {kSentDestinationUnreachable, "Sent Destination Unreachable"},
    {kSentTimeExceeded, "Sent Time Exceeded"},
    {kSentParameterProblem, "Sent Parameter Problem"},
    {kSentSourceQuench, "Sent Source Quench"},
    {kSentRedirect, "Sent Redirect/sec"},
    {kSentEcho, "Sent Echo/sec"},
    {kSentEchoReply, "Sent Echo Reply/sec"},
    {kSentTimestamp, "Sent Timestamp/sec"},
    {kSentTimestampReply, "Sent Timestamp Reply/sec"},
    {kSentAddressMask, "Sent Address Mask"},
    {kSentAddressMaskReply, "Sent Address Mask Reply"},
    {kTcp, "TCP"},
    {kSegments, "Segments/sec"},
    {kConnectionsEstablished, "Connections Established"},
    {kConnectionsActive, "Connections Active"},
    {kConnectionsPassive, "Connections Passive"},
    {kConnectionFailures, "Connection Failures"},
    {kConnectionsReset, "Connections Reset"},
    {kSegmentsReceived, "Segments Received/sec"},
    {kSegmentsSent, "Segments Sent/sec"},
    {kSegmentsRetransmitted, "Segments Retransmitted/sec"},
    {kUdp, "UDP"},
    {kDatagramsNoPort, "Datagrams No Port/sec"},
    {kDatagramsReceivedErrors, "Datagrams Received Errors"},
    {kSystemUpTime, "System Up Time"},
    {kThreadCount, "Thread Count"},
    {kPriorityBase, "Priority Base"},
    {kElapsedTime, "Elapsed Time"},
    {kPriorityCurrent, "Priority Current"},
    {kPctDpcTime, "% DPC Time"},
    {kPctInterruptTime, "% Interrupt Time"},
    {kPagingFile, "Paging File"},
    {kPctUsage, "% Usage"},
    {kPctUsagePeak, "% Usage Peak"},
    {kIdProcess, "ID Process"},
    {kIdThread, "ID Thread"},
    {kPagesInput, "Pages Input/sec"},
    {kHandleCount, "Handle Count"},
    {kAvailableKBytes, "Available KBytes"},
    {kAvailableMBytes, "Available MBytes"},
    {kPctCommittedBytesInUse, "% Committed Bytes In Use"},
    {kIoReadOps, "IO Read Operations/sec"},
    {kIoWriteOps, "IO Write Operations/sec"},
    {kIoDataOps, "IO Data Operations/sec"},
    {kIoOtherOps, "IO Other Operations/sec"},
    {kIoReadBytes, "IO Read Bytes/sec"},
    {kIoWriteBytes, "IO Write Bytes/sec"},
    {kIoDataBytes, "IO Data Bytes/sec"},
    {kIoOtherBytes, "IO Other Bytes/sec"},
    {kFileDataOps, "File Data Operations/sec"},
    {kTcpV4, "TCPv4"},
    {kUdpV4, "UDPv4"},
    {kIpV4, "IPv4"},
};

const std::vector<std::uint32_t> kSupported = {
    kProcessor, kMemory, kSystem, kObjects, kPagingFile, kProcess, kThread, kLogicalDisk,
    kNetworkInterface, kTcp, kTcpV4, kUdp, kUdpV4, kIp, kIpV4, kIcmp};

constexpr std::int64_t k100nsPerSecond = 10000000;

// How the "_Total" instance combines the instances.
enum class Total { Sum, Average, None };

template <class R>
struct Column {
  PerfCounterSpec spec;
  std::function<std::uint64_t(const R&)> get;
  Total total;
};

template <class R>
class Columns {
 public:
  Columns& Add(std::uint32_t index, std::uint32_t type, std::function<std::uint64_t(const R&)> get,
               Total total = Total::Sum, std::uint32_t detail = kDetailNovice) {
    Column<R> c;
    c.spec.index = index;
    c.spec.type = type;
    c.spec.detailLevel = detail;
    c.get = std::move(get);
    c.total = total;
    list_.push_back(std::move(c));
    return *this;
  }
  // A fraction and its base; the base definition follows the counter and
  // carries the same index.
  Columns& Fraction(std::uint32_t index, std::function<std::uint64_t(const R&)> part,
                    std::function<std::uint64_t(const R&)> whole) {
    Add(index, PERF_RAW_FRACTION, std::move(part));
    return Add(index, PERF_RAW_BASE, std::move(whole));
  }

  std::vector<PerfCounterSpec> Specs() const {
    std::vector<PerfCounterSpec> out;
    for (const Column<R>& c : list_) out.push_back(c.spec);
    return out;
  }
  std::vector<std::uint64_t> Values(const R& r) const {
    std::vector<std::uint64_t> out;
    for (const Column<R>& c : list_) out.push_back(c.get(r));
    return out;
  }
  std::vector<std::uint64_t> Totals(const std::vector<R>& all) const {
    std::vector<std::uint64_t> out;
    for (const Column<R>& c : list_) {
      std::uint64_t sum = 0;
      if (c.total != Total::None)
        for (const R& r : all) sum += c.get(r);
      if (c.total == Total::Average && !all.empty()) sum /= all.size();
      if (c.total == Total::None) sum = 0;
      out.push_back(sum);
    }
    return out;
  }

 private:
  std::vector<Column<R>> list_;
};

std::u16string Ascii16(const char* s) {
  std::u16string out;
  for (; *s; ++s) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(*s)));
  return out;
}

std::u16string Decimal16(std::size_t n) { return Ascii16(std::to_string(n).c_str()); }

const std::u16string kTotalName = u"_Total";

std::uint64_t Megabytes(std::uint64_t bytes) { return bytes >> 20; }
std::uint64_t Pages(std::uint64_t bytes, std::uint32_t pageSize) { return pageSize ? bytes / pageSize : 0; }

// Column sets ---------------------------------------------------------------

Columns<CpuReading> ProcessorColumns(const SystemSupply& s) {
  Columns<CpuReading> c;
  // Time counters of "_Total" are the average over the processors, so that
  // they compare with the single elapsed time of the block.
  c.Add(kPctProcessorTime, PERF_100NSEC_TIMER_INV, [](const CpuReading& r) { return r.idle; }, Total::Average);
  c.Add(kPctUserTime, PERF_100NSEC_TIMER, [](const CpuReading& r) { return r.user; }, Total::Average);
  c.Add(kPctPrivilegedTime, PERF_100NSEC_TIMER,
        [](const CpuReading& r) { return r.kernel > r.idle ? r.kernel - r.idle : 0; }, Total::Average);
  if (s.processorDpc) {
    c.Add(kInterrupts, PERF_COUNTER_COUNTER, [](const CpuReading& r) { return std::uint64_t{r.interrupts}; });
    c.Add(kPctDpcTime, PERF_100NSEC_TIMER, [](const CpuReading& r) { return r.dpc; }, Total::Average);
    c.Add(kPctInterruptTime, PERF_100NSEC_TIMER, [](const CpuReading& r) { return r.interrupt; }, Total::Average);
  }
  return c;
}

Columns<SystemReadings> MemoryColumns(const SystemSupply& s) {
  using R = SystemReadings;
  Columns<R> c;
  c.Add(kAvailableBytes, PERF_COUNTER_LARGE_RAWCOUNT, [](const R& r) { return r.memory.availPhys; });
  c.Add(kAvailableKBytes, PERF_COUNTER_LARGE_RAWCOUNT, [](const R& r) { return r.memory.availPhys >> 10; });
  c.Add(kAvailableMBytes, PERF_COUNTER_LARGE_RAWCOUNT, [](const R& r) { return r.memory.availPhys >> 20; });
  c.Add(kCommittedBytes, PERF_COUNTER_LARGE_RAWCOUNT, [](const R& r) { return r.memory.committed; });
  c.Add(kCommitLimit, PERF_COUNTER_LARGE_RAWCOUNT, [](const R& r) { return r.memory.commitLimit; });
  // In pages, so that both fit their 32 bits.
  c.Fraction(kPctCommittedBytesInUse,
             [](const R& r) { return Pages(r.memory.committed, r.memory.pageSize); },
             [](const R& r) { return Pages(r.memory.commitLimit, r.memory.pageSize); });
  if (s.kernelPaging) {
    c.Add(kPageFaults, PERF_COUNTER_COUNTER, [](const R& r) { return std::uint64_t{r.kernel.pageFaults}; });
    c.Add(kWriteCopies, PERF_COUNTER_COUNTER, [](const R& r) { return std::uint64_t{r.kernel.copyOnWrite}; });
    c.Add(kTransitionFaults, PERF_COUNTER_COUNTER, [](const R& r) { return std::uint64_t{r.kernel.transition}; });
    c.Add(kCacheFaults, PERF_COUNTER_COUNTER, [](const R& r) { return std::uint64_t{r.kernel.cacheTransition}; });
    c.Add(kDemandZeroFaults, PERF_COUNTER_COUNTER, [](const R& r) { return std::uint64_t{r.kernel.demandZero}; });
    c.Add(kPages, PERF_COUNTER_COUNTER, [](const R& r) {
      return std::uint64_t{r.kernel.pagesRead} + r.kernel.dirtyPagesWritten + r.kernel.mappedPagesWritten;
    });
    c.Add(kPagesInput, PERF_COUNTER_COUNTER, [](const R& r) { return std::uint64_t{r.kernel.pagesRead}; });
    c.Add(kPageReads, PERF_COUNTER_COUNTER, [](const R& r) { return std::uint64_t{r.kernel.pageReadIos}; });
    c.Add(kPagesOutput, PERF_COUNTER_COUNTER, [](const R& r) {
      return std::uint64_t{r.kernel.dirtyPagesWritten} + r.kernel.mappedPagesWritten;
    });
    c.Add(kPageWrites, PERF_COUNTER_COUNTER, [](const R& r) {
      return std::uint64_t{r.kernel.dirtyWriteIos} + r.kernel.mappedWriteIos;
    });
  }
  if (s.kernelPool) {
    auto bytes = [](std::uint32_t KernelCounters::*field) {
      return [field](const R& r) { return std::uint64_t{r.kernel.*field} * r.memory.pageSize; };
    };
    c.Add(kPoolPagedBytes, PERF_COUNTER_LARGE_RAWCOUNT, bytes(&KernelCounters::pagedPoolPages));
    c.Add(kPoolNonpagedBytes, PERF_COUNTER_LARGE_RAWCOUNT, bytes(&KernelCounters::nonPagedPoolPages));
    c.Add(kPoolPagedAllocs, PERF_COUNTER_RAWCOUNT, [](const R& r) {
      return std::uint64_t{static_cast<std::uint32_t>(r.kernel.pagedPoolAllocs - r.kernel.pagedPoolFrees)};
    });
    c.Add(kPoolNonpagedAllocs, PERF_COUNTER_RAWCOUNT, [](const R& r) {
      return std::uint64_t{static_cast<std::uint32_t>(r.kernel.nonPagedPoolAllocs - r.kernel.nonPagedPoolFrees)};
    });
    c.Add(kFreeSystemPtes, PERF_COUNTER_RAWCOUNT, [](const R& r) { return std::uint64_t{r.kernel.freeSystemPtes}; });
    c.Add(kPoolPagedResidentBytes, PERF_COUNTER_LARGE_RAWCOUNT, bytes(&KernelCounters::residentPagedPoolPages));
    c.Add(kSystemCodeTotalBytes, PERF_COUNTER_LARGE_RAWCOUNT, bytes(&KernelCounters::totalSystemCodePages));
    c.Add(kSystemCodeResidentBytes, PERF_COUNTER_LARGE_RAWCOUNT, bytes(&KernelCounters::residentSystemCodePages));
    c.Add(kSystemDriverTotalBytes, PERF_COUNTER_LARGE_RAWCOUNT, bytes(&KernelCounters::totalSystemDriverPages));
    c.Add(kSystemDriverResidentBytes, PERF_COUNTER_LARGE_RAWCOUNT,
          bytes(&KernelCounters::residentSystemDriverPages));
    c.Add(kSystemCacheResidentBytes, PERF_COUNTER_LARGE_RAWCOUNT, bytes(&KernelCounters::residentSystemCachePages));
  }
  return c;
}

std::uint64_t ThreadTotal(const SystemReadings& r) {
  std::uint64_t n = 0;
  for (const ProcessReading& p : r.processes) n += p.threadCount;
  return n;
}

// Threads in the ready state wait for a processor.
std::uint64_t ReadyThreads(const SystemReadings& r) {
  std::uint64_t n = 0;
  for (const ProcessReading& p : r.processes)
    for (const ThreadReading& t : p.threads)
      if (t.state == 1) ++n;
  return n;
}

Columns<SystemReadings> SystemColumns(const SystemSupply& s) {
  using R = SystemReadings;
  Columns<R> c;
  if (s.kernelIo) {
    c.Add(kFileReadOps, PERF_COUNTER_COUNTER, [](const R& r) { return std::uint64_t{r.kernel.ioReadOps}; });
    c.Add(kFileWriteOps, PERF_COUNTER_COUNTER, [](const R& r) { return std::uint64_t{r.kernel.ioWriteOps}; });
    c.Add(kFileControlOps, PERF_COUNTER_COUNTER, [](const R& r) { return std::uint64_t{r.kernel.ioOtherOps}; });
    c.Add(kFileDataOps, PERF_COUNTER_COUNTER,
          [](const R& r) { return std::uint64_t{r.kernel.ioReadOps} + r.kernel.ioWriteOps; });
    c.Add(kFileReadBytes, PERF_COUNTER_BULK_COUNT, [](const R& r) { return r.kernel.ioReadBytes; });
    c.Add(kFileWriteBytes, PERF_COUNTER_BULK_COUNT, [](const R& r) { return r.kernel.ioWriteBytes; });
    c.Add(kFileControlBytes, PERF_COUNTER_BULK_COUNT, [](const R& r) { return r.kernel.ioOtherBytes; });
  }
  if (s.kernelSwitches) {
    c.Add(kContextSwitches, PERF_COUNTER_COUNTER, [](const R& r) { return std::uint64_t{r.kernel.contextSwitches}; });
    c.Add(kSystemCalls, PERF_COUNTER_COUNTER, [](const R& r) { return std::uint64_t{r.kernel.systemCalls}; });
  }
  c.Add(kProcesses, PERF_COUNTER_RAWCOUNT, [](const R& r) { return std::uint64_t{r.processes.size()}; });
  c.Add(kThreads, PERF_COUNTER_RAWCOUNT, ThreadTotal);
  // Elapsed since the boot time, measured against the object's own time.
  c.Add(kSystemUpTime, PERF_ELAPSED_TIME, [](const R& r) { return r.bootTime100ns; });
  if (s.threadStates) c.Add(kProcessorQueueLength, PERF_COUNTER_RAWCOUNT, ReadyThreads);
  return c;
}

Columns<SystemReadings> ObjectsColumns() {
  using R = SystemReadings;
  Columns<R> c;
  c.Add(kProcesses, PERF_COUNTER_RAWCOUNT, [](const R& r) { return std::uint64_t{r.processes.size()}; });
  c.Add(kThreads, PERF_COUNTER_RAWCOUNT, ThreadTotal);
  return c;
}

Columns<PageFileReading> PagingFileColumns() {
  using R = PageFileReading;
  Columns<R> c;
  c.Fraction(kPctUsage, [](const R& r) { return r.inUsePages; }, [](const R& r) { return r.totalPages; });
  c.Fraction(kPctUsagePeak, [](const R& r) { return r.peakPages; }, [](const R& r) { return r.totalPages; });
  return c;
}

Columns<ProcessReading> ProcessColumns(const SystemSupply& s) {
  using R = ProcessReading;
  Columns<R> c;
  c.Add(kPctProcessorTime, PERF_100NSEC_TIMER, [](const R& r) { return r.user + r.kernel; });
  c.Add(kPctUserTime, PERF_100NSEC_TIMER, [](const R& r) { return r.user; });
  c.Add(kPctPrivilegedTime, PERF_100NSEC_TIMER, [](const R& r) { return r.kernel; });
  c.Add(kVirtualBytesPeak, PERF_COUNTER_LARGE_RAWCOUNT, [](const R& r) { return r.peakVirtual; });
  c.Add(kVirtualBytes, PERF_COUNTER_LARGE_RAWCOUNT, [](const R& r) { return r.virtualSize; });
  if (s.processFaults)
    c.Add(kPageFaults, PERF_COUNTER_COUNTER, [](const R& r) { return std::uint64_t{r.pageFaults}; });
  c.Add(kWorkingSetPeak, PERF_COUNTER_LARGE_RAWCOUNT, [](const R& r) { return r.peakWorkingSet; });
  c.Add(kWorkingSet, PERF_COUNTER_LARGE_RAWCOUNT, [](const R& r) { return r.workingSet; });
  c.Add(kPageFileBytesPeak, PERF_COUNTER_LARGE_RAWCOUNT, [](const R& r) { return r.peakPagefile; });
  c.Add(kPageFileBytes, PERF_COUNTER_LARGE_RAWCOUNT, [](const R& r) { return r.pagefile; });
  // The commit charge of the process, which is what private bytes count.
  c.Add(kPrivateBytes, PERF_COUNTER_LARGE_RAWCOUNT, [](const R& r) { return r.pagefile; });
  c.Add(kThreadCount, PERF_COUNTER_RAWCOUNT, [](const R& r) { return std::uint64_t{r.threadCount}; });
  c.Add(kPriorityBase, PERF_COUNTER_RAWCOUNT,
        [](const R& r) { return std::uint64_t{static_cast<std::uint32_t>(r.basePriority)}; }, Total::None);
  c.Add(kElapsedTime, PERF_ELAPSED_TIME, [](const R& r) { return r.create; }, Total::None);
  c.Add(kIdProcess, PERF_COUNTER_RAWCOUNT, [](const R& r) { return std::uint64_t{r.pid}; }, Total::None);
  if (s.processPool) {
    c.Add(kPoolPagedBytes, PERF_COUNTER_LARGE_RAWCOUNT, [](const R& r) { return r.pagedPool; });
    c.Add(kPoolNonpagedBytes, PERF_COUNTER_LARGE_RAWCOUNT, [](const R& r) { return r.nonPagedPool; });
  }
  c.Add(kHandleCount, PERF_COUNTER_RAWCOUNT, [](const R& r) { return std::uint64_t{r.handleCount}; });
  if (s.processIo) {
    c.Add(kIoReadOps, PERF_COUNTER_BULK_COUNT, [](const R& r) { return r.ioReadOps; });
    c.Add(kIoWriteOps, PERF_COUNTER_BULK_COUNT, [](const R& r) { return r.ioWriteOps; });
    c.Add(kIoDataOps, PERF_COUNTER_BULK_COUNT, [](const R& r) { return r.ioReadOps + r.ioWriteOps; });
    c.Add(kIoOtherOps, PERF_COUNTER_BULK_COUNT, [](const R& r) { return r.ioOtherOps; });
    c.Add(kIoReadBytes, PERF_COUNTER_BULK_COUNT, [](const R& r) { return r.ioReadBytes; });
    c.Add(kIoWriteBytes, PERF_COUNTER_BULK_COUNT, [](const R& r) { return r.ioWriteBytes; });
    c.Add(kIoDataBytes, PERF_COUNTER_BULK_COUNT, [](const R& r) { return r.ioReadBytes + r.ioWriteBytes; });
    c.Add(kIoOtherBytes, PERF_COUNTER_BULK_COUNT, [](const R& r) { return r.ioOtherBytes; });
  }
  return c;
}

Columns<ThreadReading> ThreadColumns(const SystemSupply& s) {
  using R = ThreadReading;
  Columns<R> c;
  c.Add(kPctProcessorTime, PERF_100NSEC_TIMER, [](const R& r) { return r.user + r.kernel; });
  c.Add(kPctUserTime, PERF_100NSEC_TIMER, [](const R& r) { return r.user; });
  c.Add(kPctPrivilegedTime, PERF_100NSEC_TIMER, [](const R& r) { return r.kernel; });
  if (s.threadSwitches)
    c.Add(kContextSwitches, PERF_COUNTER_COUNTER, [](const R& r) { return std::uint64_t{r.contextSwitches}; });
  c.Add(kElapsedTime, PERF_ELAPSED_TIME, [](const R& r) { return r.create; });
  if (s.threadStates) {
    c.Add(kPriorityCurrent, PERF_COUNTER_RAWCOUNT,
          [](const R& r) { return std::uint64_t{static_cast<std::uint32_t>(r.priority)}; });
    c.Add(kPriorityBase, PERF_COUNTER_RAWCOUNT,
          [](const R& r) { return std::uint64_t{static_cast<std::uint32_t>(r.basePriority)}; });
    c.Add(kThreadState, PERF_COUNTER_RAWCOUNT, [](const R& r) { return std::uint64_t{r.state}; });
    c.Add(kThreadWaitReason, PERF_COUNTER_RAWCOUNT, [](const R& r) { return std::uint64_t{r.waitReason}; });
  }
  c.Add(kIdProcess, PERF_COUNTER_RAWCOUNT, [](const R& r) { return std::uint64_t{r.pid}; });
  c.Add(kIdThread, PERF_COUNTER_RAWCOUNT, [](const R& r) { return std::uint64_t{r.tid}; });
  return c;
}

Columns<DiskReading> DiskColumns() {
  using R = DiskReading;
  Columns<R> c;
  // Megabytes, as 32-bit values.
  c.Fraction(kPctFreeSpace, [](const R& r) { return Megabytes(r.freeBytes); },
             [](const R& r) { return Megabytes(r.totalBytes); });
  c.Add(kFreeMegabytes, PERF_COUNTER_RAWCOUNT, [](const R& r) { return Megabytes(r.freeBytes); });
  return c;
}

Columns<InterfaceReading> InterfaceColumns(const SystemSupply& s) {
  using R = InterfaceReading;
  Columns<R> c;
  c.Add(kBytesTotal, PERF_COUNTER_BULK_COUNT, [](const R& r) { return r.inOctets + r.outOctets; });
  c.Add(kPackets, PERF_COUNTER_COUNTER,
        [](const R& r) { return r.inUcast + r.inNUcast + r.outUcast + r.outNUcast; });
  c.Add(kPacketsReceived, PERF_COUNTER_COUNTER, [](const R& r) { return r.inUcast + r.inNUcast; });
  c.Add(kPacketsSent, PERF_COUNTER_COUNTER, [](const R& r) { return r.outUcast + r.outNUcast; });
  if (s.linkSpeed) c.Add(kCurrentBandwidth, PERF_COUNTER_LARGE_RAWCOUNT, [](const R& r) { return r.speed; });
  c.Add(kBytesReceived, PERF_COUNTER_BULK_COUNT, [](const R& r) { return r.inOctets; });
  c.Add(kPacketsReceivedUnicast, PERF_COUNTER_COUNTER, [](const R& r) { return r.inUcast; });
  c.Add(kPacketsReceivedNonUnicast, PERF_COUNTER_COUNTER, [](const R& r) { return r.inNUcast; });
  c.Add(kPacketsReceivedDiscarded, PERF_COUNTER_RAWCOUNT, [](const R& r) { return r.inDiscards; });
  c.Add(kPacketsReceivedErrors, PERF_COUNTER_RAWCOUNT, [](const R& r) { return r.inErrors; });
  c.Add(kPacketsReceivedUnknown, PERF_COUNTER_RAWCOUNT, [](const R& r) { return r.inUnknown; });
  c.Add(kBytesSent, PERF_COUNTER_BULK_COUNT, [](const R& r) { return r.outOctets; });
  c.Add(kPacketsSentUnicast, PERF_COUNTER_COUNTER, [](const R& r) { return r.outUcast; });
  c.Add(kPacketsSentNonUnicast, PERF_COUNTER_COUNTER, [](const R& r) { return r.outNUcast; });
  c.Add(kPacketsOutboundDiscarded, PERF_COUNTER_RAWCOUNT, [](const R& r) { return r.outDiscards; });
  c.Add(kPacketsOutboundErrors, PERF_COUNTER_RAWCOUNT, [](const R& r) { return r.outErrors; });
  c.Add(kOutputQueueLength, PERF_COUNTER_RAWCOUNT, [](const R& r) { return r.outQueue; });
  return c;
}

#define OSM_FIELD(member, field) [](const R& r) { return std::uint64_t{r.member.field}; }

Columns<SystemReadings> TcpColumns() {
  using R = SystemReadings;
  Columns<R> c;
  c.Add(kSegments, PERF_COUNTER_COUNTER, [](const R& r) { return std::uint64_t{r.tcp.inSegs} + r.tcp.outSegs; });
  c.Add(kConnectionsEstablished, PERF_COUNTER_RAWCOUNT, OSM_FIELD(tcp, currEstab));
  c.Add(kConnectionsActive, PERF_COUNTER_RAWCOUNT, OSM_FIELD(tcp, activeOpens));
  c.Add(kConnectionsPassive, PERF_COUNTER_RAWCOUNT, OSM_FIELD(tcp, passiveOpens));
  c.Add(kConnectionFailures, PERF_COUNTER_RAWCOUNT, OSM_FIELD(tcp, attemptFails));
  c.Add(kConnectionsReset, PERF_COUNTER_RAWCOUNT, OSM_FIELD(tcp, estabResets));
  c.Add(kSegmentsReceived, PERF_COUNTER_COUNTER, OSM_FIELD(tcp, inSegs));
  c.Add(kSegmentsSent, PERF_COUNTER_COUNTER, OSM_FIELD(tcp, outSegs));
  c.Add(kSegmentsRetransmitted, PERF_COUNTER_COUNTER, OSM_FIELD(tcp, retransSegs));
  return c;
}

Columns<SystemReadings> UdpColumns() {
  using R = SystemReadings;
  Columns<R> c;
  c.Add(kDatagrams, PERF_COUNTER_COUNTER,
        [](const R& r) { return std::uint64_t{r.udp.inDatagrams} + r.udp.outDatagrams; });
  c.Add(kDatagramsReceived, PERF_COUNTER_COUNTER, OSM_FIELD(udp, inDatagrams));
  c.Add(kDatagramsNoPort, PERF_COUNTER_COUNTER, OSM_FIELD(udp, noPorts));
  c.Add(kDatagramsReceivedErrors, PERF_COUNTER_RAWCOUNT, OSM_FIELD(udp, inErrors));
  c.Add(kDatagramsSent, PERF_COUNTER_COUNTER, OSM_FIELD(udp, outDatagrams));
  return c;
}

Columns<SystemReadings> IpColumns() {
  using R = SystemReadings;
  Columns<R> c;
  c.Add(kDatagrams, PERF_COUNTER_COUNTER,
        [](const R& r) { return std::uint64_t{r.ip.inReceives} + r.ip.outRequests; });
  c.Add(kDatagramsReceived, PERF_COUNTER_COUNTER, OSM_FIELD(ip, inReceives));
  c.Add(kDatagramsReceivedHeaderErrors, PERF_COUNTER_RAWCOUNT, OSM_FIELD(ip, inHdrErrors));
  c.Add(kDatagramsReceivedAddressErrors, PERF_COUNTER_RAWCOUNT, OSM_FIELD(ip, inAddrErrors));
  c.Add(kDatagramsForwarded, PERF_COUNTER_COUNTER, OSM_FIELD(ip, forwDatagrams));
  c.Add(kDatagramsReceivedUnknownProtocol, PERF_COUNTER_RAWCOUNT, OSM_FIELD(ip, inUnknownProtos));
  c.Add(kDatagramsReceivedDiscarded, PERF_COUNTER_RAWCOUNT, OSM_FIELD(ip, inDiscards));
  c.Add(kDatagramsReceivedDelivered, PERF_COUNTER_COUNTER, OSM_FIELD(ip, inDelivers));
  c.Add(kDatagramsSent, PERF_COUNTER_COUNTER, OSM_FIELD(ip, outRequests));
  c.Add(kDatagramsOutboundDiscarded, PERF_COUNTER_RAWCOUNT, OSM_FIELD(ip, outDiscards));
  c.Add(kDatagramsOutboundNoRoute, PERF_COUNTER_RAWCOUNT, OSM_FIELD(ip, outNoRoutes));
  c.Add(kFragmentsReceived, PERF_COUNTER_COUNTER, OSM_FIELD(ip, reasmReqds));
  c.Add(kFragmentsReassembled, PERF_COUNTER_COUNTER, OSM_FIELD(ip, reasmOks));
  c.Add(kFragmentReassemblyFailures, PERF_COUNTER_RAWCOUNT, OSM_FIELD(ip, reasmFails));
  c.Add(kFragmentedDatagrams, PERF_COUNTER_COUNTER, OSM_FIELD(ip, fragOks));
  c.Add(kFragmentationFailures, PERF_COUNTER_RAWCOUNT, OSM_FIELD(ip, fragFails));
  c.Add(kFragmentsCreated, PERF_COUNTER_COUNTER, OSM_FIELD(ip, fragCreates));
  return c;
}

Columns<SystemReadings> IcmpColumns() {
  using R = SystemReadings;
  Columns<R> c;
  c.Add(kMessages, PERF_COUNTER_COUNTER,
        [](const R& r) { return std::uint64_t{r.icmp.in.msgs} + r.icmp.out.msgs; });
  c.Add(kMessagesReceived, PERF_COUNTER_COUNTER, OSM_FIELD(icmp.in, msgs));
  c.Add(kMessagesReceivedErrors, PERF_COUNTER_RAWCOUNT, OSM_FIELD(icmp.in, errors));
  c.Add(kReceivedDestUnreachable, PERF_COUNTER_RAWCOUNT, OSM_FIELD(icmp.in, destUnreachs));
  c.Add(kReceivedTimeExceeded, PERF_COUNTER_RAWCOUNT, OSM_FIELD(icmp.in, timeExcds));
  c.Add(kReceivedParameterProblem, PERF_COUNTER_RAWCOUNT, OSM_FIELD(icmp.in, parmProbs));
  c.Add(kReceivedSourceQuench, PERF_COUNTER_RAWCOUNT, OSM_FIELD(icmp.in, srcQuenchs));
  c.Add(kReceivedRedirect, PERF_COUNTER_COUNTER, OSM_FIELD(icmp.in, redirects));
  c.Add(kReceivedEcho, PERF_COUNTER_COUNTER, OSM_FIELD(icmp.in, echos));
  c.Add(kReceivedEchoReply, PERF_COUNTER_COUNTER, OSM_FIELD(icmp.in, echoReps));
  c.Add(kReceivedTimestamp, PERF_COUNTER_COUNTER, OSM_FIELD(icmp.in, timestamps));
  c.Add(kReceivedTimestampReply, PERF_COUNTER_COUNTER, OSM_FIELD(icmp.in, timestampReps));
  c.Add(kReceivedAddressMask, PERF_COUNTER_RAWCOUNT, OSM_FIELD(icmp.in, addrMasks));
  c.Add(kReceivedAddressMaskReply, PERF_COUNTER_RAWCOUNT, OSM_FIELD(icmp.in, addrMaskReps));
  c.Add(kMessagesSent, PERF_COUNTER_COUNTER, OSM_FIELD(icmp.out, msgs));
  c.Add(kMessagesOutboundErrors, PERF_COUNTER_RAWCOUNT, OSM_FIELD(icmp.out, errors));
  c.Add(kSentDestinationUnreachable, PERF_COUNTER_RAWCOUNT, OSM_FIELD(icmp.out, destUnreachs));
  c.Add(kSentTimeExceeded, PERF_COUNTER_RAWCOUNT, OSM_FIELD(icmp.out, timeExcds));
  c.Add(kSentParameterProblem, PERF_COUNTER_RAWCOUNT, OSM_FIELD(icmp.out, parmProbs));
  c.Add(kSentSourceQuench, PERF_COUNTER_RAWCOUNT, OSM_FIELD(icmp.out, srcQuenchs));
  c.Add(kSentRedirect, PERF_COUNTER_COUNTER, OSM_FIELD(icmp.out, redirects));
  c.Add(kSentEcho, PERF_COUNTER_COUNTER, OSM_FIELD(icmp.out, echos));
  c.Add(kSentEchoReply, PERF_COUNTER_COUNTER, OSM_FIELD(icmp.out, echoReps));
  c.Add(kSentTimestamp, PERF_COUNTER_COUNTER, OSM_FIELD(icmp.out, timestamps));
  c.Add(kSentTimestampReply, PERF_COUNTER_COUNTER, OSM_FIELD(icmp.out, timestampReps));
  c.Add(kSentAddressMask, PERF_COUNTER_RAWCOUNT, OSM_FIELD(icmp.out, addrMasks));
  c.Add(kSentAddressMaskReply, PERF_COUNTER_RAWCOUNT, OSM_FIELD(icmp.out, addrMaskReps));
  return c;
}

#undef OSM_FIELD

// Object assembly -------------------------------------------------------------

PerfObjectData Single(std::uint32_t index, const Columns<SystemReadings>& c, const SystemReadings& r) {
  PerfObjectData o;
  o.index = index;
  o.counters = c.Specs();
  o.hasInstances = false;
  o.values = c.Values(r);
  return o;
}

template <class R>
PerfObjectData WithInstances(std::uint32_t index, const Columns<R>& c, const std::vector<R>& items,
                             const std::function<std::u16string(const R&, std::size_t)>& name, bool total) {
  PerfObjectData o;
  o.index = index;
  o.counters = c.Specs();
  for (std::size_t i = 0; i < items.size(); ++i) {
    PerfInstanceData inst;
    inst.name = name(items[i], i);
    inst.values = c.Values(items[i]);
    o.instances.push_back(std::move(inst));
  }
  if (total && !items.empty()) {
    PerfInstanceData inst;
    inst.name = kTotalName;
    inst.values = c.Totals(items);
    o.instances.push_back(std::move(inst));
  }
  return o;
}

void SetElapsedTimeBase(PerfObjectData* o, const SystemReadings& r) {
  o->perfTime = r.now100ns;
  o->perfFreq = k100nsPerSecond;
}

}  // namespace

const std::vector<NameEntry>& NameTable() { return kNames; }

std::uint32_t LastIndex() {
  std::uint32_t last = 0;
  for (const NameEntry& e : kNames) last = std::max(last, e.index);
  return last;
}

const std::vector<std::uint32_t>& SupportedObjects() { return kSupported; }

PerfRequest ParsePerfRequest(const char* request) {
  PerfRequest out;
  if (request == nullptr) return out;
  const char* p = request;
  while (*p) {
    while (*p == ' ' || *p == '\t') ++p;
    const char* start = p;
    while (*p && *p != ' ' && *p != '\t') ++p;
    std::string word(start, static_cast<std::size_t>(p - start));
    if (word.empty()) break;
    bool digits = word.size() <= 9 && std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digits) {
      out.indexes.push_back(static_cast<std::uint32_t>(std::strtoul(word.c_str(), nullptr, 10)));
      continue;
    }
    std::string lower;
    for (char c : word) lower.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
    if (lower == "global") out.global = true;
    else if (lower == "costly") out.costly = true;
    // Other words ("Foreign", "Counter", "Help", ...) ask for nothing here.
  }
  return out;
}

std::vector<std::uint32_t> SelectObjects(const PerfRequest& request) {
  auto asked = [&request](std::uint32_t index) {
    return std::find(request.indexes.begin(), request.indexes.end(), index) != request.indexes.end();
  };
  std::vector<std::uint32_t> out;
  for (std::uint32_t index : kSupported) {
    bool want = request.global || asked(index) || (index == kProcess && asked(kThread));
    if (want) out.push_back(index);
  }
  return out;
}

SystemSupply ProbeSupply(const SystemReadings& r) {
  SystemSupply s;
  for (const CpuReading& c : r.cpus)
    if (c.dpc != 0 || c.interrupt != 0 || c.interrupts != 0) s.processorDpc = true;
  if (r.haveKernel) {
    const KernelCounters& k = r.kernel;
    s.kernelIo = k.ioReadOps != 0 || k.ioWriteOps != 0 || k.ioOtherOps != 0;
    s.kernelPaging = k.pageFaults != 0;
    s.kernelPool = k.pagedPoolPages != 0 && k.nonPagedPoolPages != 0;
    s.kernelSwitches = k.contextSwitches != 0 && k.systemCalls != 0;
  }
  for (const ProcessReading& p : r.processes) {
    if (p.pageFaults != 0) s.processFaults = true;
    if (p.pagedPool != 0 || p.nonPagedPool != 0) s.processPool = true;
    if (p.ioReadOps != 0 || p.ioWriteOps != 0 || p.ioOtherOps != 0) s.processIo = true;
    for (const ThreadReading& t : p.threads) {
      if (t.state != 0 || t.priority != 0) s.threadStates = true;
      if (t.contextSwitches != 0) s.threadSwitches = true;
    }
  }
  for (const InterfaceReading& i : r.interfaces)
    if (i.speed != 0) s.linkSpeed = true;
  return s;
}

std::vector<PerfCounterSpec> ObjectCounters(std::uint32_t objectIndex, const SystemSupply& s) {
  switch (objectIndex) {
    case kProcessor: return ProcessorColumns(s).Specs();
    case kMemory: return MemoryColumns(s).Specs();
    case kSystem: return SystemColumns(s).Specs();
    case kObjects: return ObjectsColumns().Specs();
    case kPagingFile: return PagingFileColumns().Specs();
    case kProcess: return ProcessColumns(s).Specs();
    case kThread: return ThreadColumns(s).Specs();
    case kLogicalDisk: return DiskColumns().Specs();
    case kNetworkInterface: return InterfaceColumns(s).Specs();
    case kTcp: case kTcpV4: return TcpColumns().Specs();
    case kUdp: case kUdpV4: return UdpColumns().Specs();
    case kIp: case kIpV4: return IpColumns().Specs();
    case kIcmp: return IcmpColumns().Specs();
    default: return {};
  }
}

std::u16string ProcessInstanceName(const std::u16string& image, std::uint32_t pid) {
  if (pid == 0 && image.empty()) return u"Idle";
  std::u16string name = image;
  std::size_t slash = name.find_last_of(u"\\/");
  if (slash != std::u16string::npos) name.erase(0, slash + 1);
  std::size_t dot = name.rfind(u'.');
  if (dot != std::u16string::npos && dot > 0) name.erase(dot);
  if (name.empty()) name = u"System";
  return name;
}

std::u16string InterfaceInstanceName(const std::u16string& description) {
  std::u16string name = description;
  for (char16_t& c : name) {
    if (c == u'(') c = u'[';
    else if (c == u')') c = u']';
    else if (c == u'#' || c == u'/' || c == u'\\') c = u'_';
  }
  return name;
}

std::vector<PerfObjectData> BuildObjects(const SystemReadings& r, const SystemSupply& s,
                                         const std::vector<std::uint32_t>& wanted) {
  std::vector<PerfObjectData> out;
  for (std::uint32_t index : wanted) {
    switch (index) {
      case kProcessor:
        if (r.haveCpus)
          out.push_back(WithInstances<CpuReading>(
              index, ProcessorColumns(s), r.cpus, [](const CpuReading&, std::size_t i) { return Decimal16(i); }, true));
        break;
      case kMemory:
        if (r.haveMemory) out.push_back(Single(index, MemoryColumns(s), r));
        break;
      case kSystem:
        if (r.haveProcesses) {
          out.push_back(Single(index, SystemColumns(s), r));
          SetElapsedTimeBase(&out.back(), r);
        }
        break;
      case kObjects:
        if (r.haveProcesses) out.push_back(Single(index, ObjectsColumns(), r));
        break;
      case kPagingFile:
        // Without a page file list the object stays, with no instances.
        out.push_back(WithInstances<PageFileReading>(
            index, PagingFileColumns(), r.pageFiles, [](const PageFileReading& p, std::size_t) { return p.name; },
            true));
        break;
      case kProcess:
        if (r.haveProcesses) {
          out.push_back(WithInstances<ProcessReading>(
              index, ProcessColumns(s), r.processes,
              [](const ProcessReading& p, std::size_t) { return ProcessInstanceName(p.image, p.pid); }, true));
          SetElapsedTimeBase(&out.back(), r);
        }
        break;
      case kThread:
        if (r.haveProcesses) {
          Columns<ThreadReading> c = ThreadColumns(s);
          PerfObjectData o;
          o.index = index;
          o.counters = c.Specs();
          // Each thread names its process by the process's instance number.
          for (std::size_t p = 0; p < r.processes.size(); ++p) {
            const std::vector<ThreadReading>& threads = r.processes[p].threads;
            for (std::size_t t = 0; t < threads.size(); ++t) {
              PerfInstanceData inst;
              inst.name = Decimal16(t);
              inst.parentObject = kProcess;
              inst.parentInstance = static_cast<std::uint32_t>(p);
              inst.values = c.Values(threads[t]);
              o.instances.push_back(std::move(inst));
            }
          }
          SetElapsedTimeBase(&o, r);
          out.push_back(std::move(o));
        }
        break;
      case kLogicalDisk:
        if (r.haveDisks)
          out.push_back(WithInstances<DiskReading>(
              index, DiskColumns(), r.disks, [](const DiskReading& d, std::size_t) { return d.name; }, true));
        break;
      case kNetworkInterface:
        if (r.haveInterfaces)
          out.push_back(WithInstances<InterfaceReading>(
              index, InterfaceColumns(s), r.interfaces,
              [](const InterfaceReading& i, std::size_t) { return InterfaceInstanceName(i.description); }, false));
        break;
      case kTcp:
      case kTcpV4:
        if (r.haveTcp) out.push_back(Single(index, TcpColumns(), r));
        break;
      case kUdp:
      case kUdpV4:
        if (r.haveUdp) out.push_back(Single(index, UdpColumns(), r));
        break;
      case kIp:
      case kIpV4:
        if (r.haveIp) out.push_back(Single(index, IpColumns(), r));
        break;
      case kIcmp:
        if (r.haveIcmp) out.push_back(Single(index, IcmpColumns(), r));
        break;
      default:
        break;
    }
  }
  return out;
}

}  // namespace sysperf
}  // namespace osmperf
