// Measures sample Update and CopyRows on a Process-sized object (300
// instances, 30 counters) and a Thread-sized one (3,000 instances whose
// parents are Process instances). Prints one line per measurement.
#include "perfsvc/perf_name.h"
#include "perfsvc/sample.h"
#include "tests/perfsvc/memory_source.h"
#include "tests/perfsvc/perf_block_builder.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

using namespace osmperf;
using Clock = std::chrono::steady_clock;

namespace {

const std::uint32_t kProcess = 230, kThread = 232;
const std::uint32_t kTypes[] = {PERF_100NSEC_TIMER, PERF_COUNTER_COUNTER, PERF_COUNTER_RAWCOUNT,
                                PERF_COUNTER_LARGE_RAWCOUNT, PERF_COUNTER_BULK_COUNT, PERF_ELAPSED_TIME};

std::u16string U16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

struct Shape {
  const char* label;
  std::uint32_t object;
  int instances;
  int counters;
  int iterations;
};

// One block per step: every counter advances, so every cell computes.
std::vector<std::vector<std::uint8_t>> Blocks(const Shape& shape, int steps) {
  std::vector<std::vector<std::uint8_t>> blocks;
  for (int step = 0; step < steps; ++step) {
    perfbuild::BlockBuilder b;
    b.PerfTime(1000000 + step * 1000).PerfFreq(1000).PerfTime100nSec(100000000ll + step * 10000000ll);
    if (shape.object == kThread) {
      // The parents: 300 Process instances.
      auto& parent = b.Object(kProcess).PerfTime(1000 + step).PerfFreq(1000).Counter(1000, PERF_COUNTER_RAWCOUNT);
      for (int p = 0; p < 300; ++p) parent.Instance(U16("proc" + std::to_string(p)), {1});
    }
    auto& o = b.Object(shape.object).PerfTime(1000 + step).PerfFreq(1000);
    for (int c = 0; c < shape.counters; ++c) o.Counter(1000 + 2 * c, kTypes[c % 6]);
    for (int i = 0; i < shape.instances; ++i) {
      std::vector<std::uint64_t> v;
      for (int c = 0; c < shape.counters; ++c) v.push_back(static_cast<std::uint64_t>(1000 * step + i + c));
      if (shape.object == kThread)
        o.Instance(U16(std::to_string(i % 10)), v, kProcess, static_cast<std::uint32_t>(i / 10));
      else
        o.Instance(U16("process_" + std::to_string(i)), v);
    }
    blocks.push_back(b.Build());
  }
  return blocks;
}

void Run(const Shape& shape) {
  perfbuild::NameList names = {{kProcess, "Process"}, {kThread, "Thread"}};
  for (int c = 0; c < shape.counters; ++c) names.emplace_back(1000 + 2 * c, "Counter " + std::to_string(c));
  const int steps = 4;
  std::vector<std::vector<std::uint8_t>> blocks = Blocks(shape, steps);
  perfbuild::MemoryPerfSource source(names, blocks[0]);
  CPerfName table(&source);
  std::vector<CPerfBlock> views(steps);
  std::vector<CPerfObject> objects(steps);
  for (int s = 0; s < steps; ++s) {
    views[s].Attach(blocks[s].data(), blocks[s].size());
    CObjectWalker walker(views[s]);
    walker.Find(shape.object, &objects[s]);
  }
  CSnapCatalog catalogue;
  catalogue.Build(&table, views[0]);

  // Row: origin 64, sample 4, row 4, time stamp 16, ASCII name 64 at 88,
  // UTF-8 name 392 at 152, then the counters in 4- and 8-byte cells.
  std::string header = std::to_string(shape.counters + 2) + " 20 1 " +
                       (shape.object == kThread ? "Thread" : "Process") + " (" +
                       std::to_string(shape.counters + 2) + " _INSTANCE_, _INSTANCE_";
  std::string sizes, offsets = "88 152", scales = "0 0", types = "3 4";
  std::uint32_t at = 544;
  std::string widths = "64 392";
  for (int c = 0; c < shape.counters; ++c) {
    header += ", Counter " + std::to_string(c);
    int type = c % 3 == 0 ? 2 : (c % 3 == 1 ? 6 : 100);
    std::uint32_t w = type == 2 ? 4 : 8;
    widths += " " + std::to_string(w);
    offsets += " " + std::to_string(at);
    scales += c % 5 == 0 ? " 0.000976563" : " 1";
    types += " " + std::to_string(type);
    at += w;
  }
  header += " )";
  sizes = std::to_string(at) + " " + widths;
  CSample sample(0);
  std::u16string h = U16(header), sz = U16(sizes), of = U16(offsets), sc = U16(scales), ty = U16(types);
  if (sample.ProcessRawSampleDescription(h.c_str(), sz.c_str(), of.c_str(), sc.c_str(), ty.c_str(),
                                         u"4 _ORIGIN_ , _SAMPLE_ , _ROW_ , _TIMESTAMP_", u"64 4 4 16",
                                         u"0 64 68 72") != kSampleOk ||
      sample.ConvertNamesToNumbers(catalogue, table) != kSampleOk) {
    std::printf("%s: description refused: %s\n", shape.label, sample.DescriptionError().c_str());
    return;
  }
  sample.SetUtcToLocal(FixedOffsetUtcToLocal(0));
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(shape.instances) * at);

  // Warm up: the rows exist, as in the steady state.
  sample.Update(views[0], objects[0]);
  double update = 0, copy = 0;
  std::size_t bytes = 0;
  for (int i = 0; i < shape.iterations; ++i) {
    int s = 1 + i % (steps - 1);
    auto t0 = Clock::now();
    sample.Update(views[s], objects[s]);
    auto t1 = Clock::now();
    bytes = sample.CopyRows(buffer.data(), buffer.size(), static_cast<std::uint32_t>(i + 1));
    auto t2 = Clock::now();
    update += std::chrono::duration<double, std::micro>(t1 - t0).count();
    copy += std::chrono::duration<double, std::micro>(t2 - t1).count();
  }
  double n = shape.iterations;
  std::printf("%-8s %5d instances x %2d counters, row %4u bytes: Update %9.1f us  CopyRows %9.1f us  "
              "total %9.1f us  (%zu rows, %zu bytes)\n",
              shape.label, shape.instances, shape.counters, at, update / n, copy / n, (update + copy) / n,
              sample.RowCount(), bytes);
}

}  // namespace

int main() {
  Run({"Process", kProcess, 300, 30, 200});
  Run({"Thread", kThread, 3000, 12, 40});
  return 0;
}
