// The cost of one periodic cycle of the support thread: select the due
// samples, build the request, take the snapshot (the recorded block replayed
// from a file, as OSM_PERFDATA_FILE does, and from memory) and update 10
// samples over Memory, Processor, System, Process and Thread. Prints one line
// per source.
#include "perfsvc/kthrd_engine.h"
#include "perfsvc/perf_file_source.h"
#include "perfsvc/sample.h"
#include "tests/perfsvc/memory_source.h"
#include "tests/perfsvc/perf_block_builder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

using namespace osmperf;
using Clock = std::chrono::steady_clock;

namespace {

const std::uint32_t kSystem = 2, kMemory = 4, kProcess = 230, kThread = 232, kProcessor = 238;
const int kProcesses = 150, kThreadsPerProcess = 10, kCpus = 8;

std::u16string U16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

perfbuild::NameList Names() {
  perfbuild::NameList n = {{kSystem, "System"}, {kMemory, "Memory"}, {kProcess, "Process"},
                           {kThread, "Thread"}, {kProcessor, "Processor"}};
  for (int c = 0; c < 12; ++c) n.push_back({static_cast<std::uint32_t>(1000 + 2 * c), "C" + std::to_string(c)});
  return n;
}

// A server-sized block: 8 processors, 150 processes, 1,500 threads.
std::vector<std::uint8_t> RecordedBlock() {
  const std::uint32_t types[] = {PERF_100NSEC_TIMER, PERF_COUNTER_COUNTER, PERF_COUNTER_RAWCOUNT,
                                 PERF_COUNTER_LARGE_RAWCOUNT, PERF_COUNTER_BULK_COUNT, PERF_ELAPSED_TIME};
  perfbuild::BlockBuilder b;
  b.SystemTime(2010, 4, 12, 6, 14, 21, 500).PerfTime(5000000).PerfFreq(1000).PerfTime100nSec(100000000ll);
  auto object = [&](std::uint32_t index, int counters) -> perfbuild::ObjectSpec& {
    auto& o = b.Object(index).PerfTime(5000).PerfFreq(1000);
    for (int c = 0; c < counters; ++c) o.Counter(1000 + 2 * static_cast<std::uint32_t>(c), types[c % 6]);
    return o;
  };
  object(kMemory, 12).Values(std::vector<std::uint64_t>(12, 4096));
  object(kSystem, 12).Values(std::vector<std::uint64_t>(12, 17));
  auto& cpu = object(kProcessor, 8);
  for (int i = 0; i <= kCpus; ++i)
    cpu.Instance(i == kCpus ? u"_Total" : U16(std::to_string(i)), std::vector<std::uint64_t>(8, 1000u + i));
  auto& proc = object(kProcess, 12);
  for (int p = 0; p < kProcesses; ++p)
    proc.Instance(U16("process_" + std::to_string(p)), std::vector<std::uint64_t>(12, 10000u + p));
  auto& thread = object(kThread, 8);
  for (int t = 0; t < kProcesses * kThreadsPerProcess; ++t)
    thread.Instance(U16(std::to_string(t % kThreadsPerProcess)), std::vector<std::uint64_t>(8, 1u + t), kProcess,
                    static_cast<std::uint32_t>(t / kThreadsPerProcess));
  return b.Build();
}

// A description of object with columns C0.. (name column first when instanced).
std::shared_ptr<CSample> Describe(const char* object, int columns, bool instances, const CSnapCatalog& catalogue,
                                  const CPerfName& names) {
  std::string header = std::to_string(columns + (instances ? 1 : 0)) + " 1 1 " + object + " (" +
                       std::to_string(columns + (instances ? 1 : 0)) + (instances ? " _INSTANCE_," : "");
  std::string sizes, offsets, scales, types;
  int offset = 88;
  if (instances) {
    sizes += " 64";
    offsets += "88 ";
    scales += "0 ";
    types += "3 ";
    offset += 64;
  }
  for (int c = 0; c < columns; ++c) {
    header += (c ? ", C" : " C") + std::to_string(c);
    sizes += c % 2 ? " 8" : " 4";
    offsets += std::to_string(offset) + " ";
    offset += c % 2 ? 8 : 4;
    scales += "1 ";
    types += c % 2 ? "6 " : "2 ";
  }
  header += ")";
  sizes = std::to_string(offset) + sizes;
  auto s = std::make_shared<CSample>(0, 0);
  s->ProcessRawSampleDescription(U16(header).c_str(), U16(sizes).c_str(), U16(offsets).c_str(),
                                 U16(scales).c_str(), U16(types).c_str(), u"4 _ORIGIN_ , _SAMPLE_ , _ROW_ , _TIMESTAMP_",
                                 u"64 4 4 16", u"0 64 68 72");
  s->ConvertNamesToNumbers(catalogue, names);
  return s;
}

void Run(const char* label, IPerfDataSource* source, std::size_t blockBytes) {
  CPerfName names(source);
  CSnapCatalog catalogue;
  std::int64_t now = 1271060061000;
  KthrdHooks hooks = PortableKthrdHooks();
  hooks.clock = [&now] { return now; };
  hooks.getEnv = [](const char* name) -> const char* {
    return std::string(name) == "NT_PERFMON_MEMORY_CHECK" ? "0" : nullptr;
  };
  CKthrdEngine engine(source, &names, &catalogue, 5000, false, hooks);
  if (engine.StartUp() != 0) {
    std::printf("%s: start-up failed\n", label);
    return;
  }
  std::vector<std::shared_ptr<CSample>> samples = {
      Describe("Memory", 12, false, catalogue, names),    Describe("Memory", 4, false, catalogue, names),
      Describe("System", 12, false, catalogue, names),    Describe("Processor", 8, true, catalogue, names),
      Describe("Processor", 3, true, catalogue, names),   Describe("Process", 12, true, catalogue, names),
      Describe("Process", 6, true, catalogue, names),     Describe("Process", 2, true, catalogue, names),
      Describe("Thread", 8, true, catalogue, names),      Describe("Thread", 4, true, catalogue, names)};
  for (auto& s : samples) engine.AddSample(s);
  engine.PlaceNewSamples();

  const int kCycles = 200;
  std::vector<double> micros;
  for (int i = 0; i < kCycles + 5; ++i) {
    now += 5000;
    auto t0 = Clock::now();
    engine.GetSnapValues();
    auto t1 = Clock::now();
    if (i >= 5) micros.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
  }
  std::size_t rows = 0;
  for (auto& s : samples) rows += s->RowCount();
  std::sort(micros.begin(), micros.end());
  double sum = 0;
  for (double m : micros) sum += m;
  std::printf("periodic cycle, %s source, %zu-byte block, 10 samples, %zu rows: median %.0f us, mean %.0f us, "
              "min %.0f us, max %.0f us (%d cycles)\n",
              label, blockBytes, rows, micros[micros.size() / 2], sum / static_cast<double>(micros.size()),
              micros.front(), micros.back(), kCycles);
}

}  // namespace

int main() {
  std::vector<std::uint8_t> block = RecordedBlock();
  const std::string blockFile = "bench_kthrd_cycle.block", namesFile = "bench_kthrd_cycle.names";
  if (!perfbuild::WriteBlockFile(blockFile, block) || !perfbuild::WriteNamesFile(namesFile, Names())) {
    std::printf("cannot write the recorded block\n");
    return 1;
  }
  {
    CFilePerfSource file(blockFile, namesFile);
    Run("file", &file, block.size());
  }
  {
    perfbuild::MemoryPerfSource memory(Names(), block);
    Run("memory", &memory, block.size());
  }
  std::remove(blockFile.c_str());
  std::remove(namesFile.c_str());
  return 0;
}
