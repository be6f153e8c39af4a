// Feeds arbitrary bytes, as a performance data block, through the snapshot
// validation, the walkers, the catalogue, sample Update and CopyRows.
#include "framework/ras1.h"
#include "fuzz/perf_fuzz_world.h"
#include "perfsvc/perf_name.h"
#include "perfsvc/perf_snap.h"
#include "perfsvc/sample.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Serves the fuzz input as the block and the fixed names.
class InputSource : public osmperf::IPerfDataSource {
 public:
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  const char* Name() const override { return "fuzz"; }
  long QueryLastIndexes(std::uint32_t* c, std::uint32_t* h, osmperf::PerfSourceStage*) override {
    *c = *h = 64;
    return 0;
  }
  long QueryCounterNames(std::u16string* s, osmperf::PerfSourceStage*) override {
    s->clear();
    for (const auto& n : perffuzz::Names()) {
      std::string i = std::to_string(n.first);
      s->append(i.begin(), i.end());
      s->push_back(0);
      s->append(n.second.begin(), n.second.end());
      s->push_back(0);
    }
    s->push_back(0);
    return 0;
  }
  long QueryCounterText(std::string* s, osmperf::PerfSourceStage*) override {
    s->clear();
    return 0;
  }
  long QueryData(const char*, std::uint8_t* buffer, std::uint32_t* capacity) override {
    if (size > *capacity) {
      *capacity = static_cast<std::uint32_t>(size);
      return osmperf::kErrorMoreData;
    }
    if (size) std::memcpy(buffer, data, size);
    *capacity = static_cast<std::uint32_t>(size);
    return 0;
  }
};

}  // namespace

// Malformed input is the normal case here: keep the trace file quiet.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  RAS1_Configure("NONE");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace osmperf;
  static InputSource source;
  static CPerfName names(&source);
  if (size > 1 << 20) return 0;
  source.data = data;
  source.size = size;
  CPerfSnap snap(&source, 256, 256);
  if (!snap.Snap("2 14 20")) return 0;
  const CPerfBlock& block = snap.Block();
  CSnapCatalog catalogue;
  catalogue.Build(&names, block);

  for (const perffuzz::Description& d : perffuzz::Descriptions()) {
    CSample sample(d.text[5] ? 1 : 0);
    if (sample.ProcessRawSampleDescription(d.text[0], d.text[1], d.text[2], d.text[3], d.text[4], d.text[5],
                                           d.text[6], d.text[7]) != kSampleOk)
      std::abort();  // the fixed descriptions are well formed
    sample.AddFixedData(u"_ORIGIN_", "fuzz", 4);
    sample.SetUtcToLocal(FixedOffsetUtcToLocal(-300));
    sample.ConvertNamesToNumbers(catalogue, names);
    CObjectWalker objects(block);
    CPerfObject object;
    if (!objects.Find(sample.ObjectIndex(), &object)) {
      sample.MarkObjectMissing();
      continue;
    }
    for (int pass = 0; pass < 2; ++pass) {
      sample.Update(block, object);
      // A buffer of exactly the rows, so that any write past it is caught.
      std::size_t bytes = sample.RowCount() * sample.RowSize();
      std::unique_ptr<std::uint8_t[]> rows(new std::uint8_t[bytes ? bytes : 1]);
      if (sample.CopyRows(rows.get(), bytes, 1) != bytes) std::abort();
      if (bytes > sample.RowSize()) sample.CopyRows(rows.get(), bytes - 1, 2);
    }
  }
  return 0;
}
