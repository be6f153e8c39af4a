// Feeds arbitrary description strings to the parser; descriptions it accepts
// are resolved, updated from a fixed block and copied into a buffer of
// exactly their rows.
#include "framework/ras1.h"
#include "fuzz/perf_fuzz_world.h"
#include "perfsvc/perf_name.h"
#include "perfsvc/perf_text.h"
#include "perfsvc/sample.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// A block with object 2 (two instances, counters 4, 6, 8) and object 20.
std::vector<std::uint8_t> FixedBlock() {
  // Built by hand with the layout of the core to keep the fuzzer self-contained.
  std::vector<std::uint8_t> b(88, 0);
  auto put32 = [&b](std::size_t at, std::uint32_t v) {
    if (b.size() < at + 4) b.resize(at + 4, 0);
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  const char sig[] = "P\0E\0R\0F\0";
  std::memcpy(b.data(), sig, 8);
  put32(24, 88);  // HeaderLength
  put32(28, 1);   // NumObjectTypes
  put32(36, 2010 | (4u << 16));
  put32(40, 1 | (12u << 16));
  put32(64, 1000);  // PerfFreq
  std::size_t obj = 88;
  const std::uint32_t counters[3][2] = {{4, 0x20510500u}, {6, 0x10410400u}, {8, 0x00010000u}};
  std::size_t defLen = 64 + 40 * 3;
  b.resize(obj + defLen, 0);
  put32(obj + 4, static_cast<std::uint32_t>(defLen));
  put32(obj + 8, 64);
  put32(obj + 12, 2);
  put32(obj + 32, 3);
  put32(obj + 40, 2);
  for (std::uint32_t i = 0; i < 3; ++i) {
    std::size_t d = obj + 64 + 40 * i;
    put32(d, 40);
    put32(d + 4, counters[i][0]);
    put32(d + 28, counters[i][1]);
    put32(d + 32, (counters[i][1] & 0x300u) ? 8 : 4);
    put32(d + 36, 8 + 8 * i);
  }
  for (int inst = 0; inst < 2; ++inst) {
    std::size_t p = b.size();
    put32(p, 32);
    put32(p + 16, 24);
    put32(p + 20, 4);
    b.resize(p + 32, 0);
    b[p + 24] = static_cast<std::uint8_t>('a' + inst);
    std::size_t cb = b.size();
    put32(cb, 32);
    b.resize(cb + 32, 0);
    put32(cb + 8, 1000u * (inst + 1));
    put32(cb + 16, 77);
    put32(cb + 24, 5);
  }
  put32(obj, static_cast<std::uint32_t>(b.size() - obj));
  put32(20, static_cast<std::uint32_t>(b.size()));
  return b;
}

class NamesOnly : public osmperf::IPerfDataSource {
 public:
  const char* Name() const override { return "fuzz"; }
  long QueryLastIndexes(std::uint32_t* c, std::uint32_t* h, osmperf::PerfSourceStage*) override {
    *c = *h = 64;
    return 0;
  }
  long QueryCounterNames(std::u16string* s, osmperf::PerfSourceStage*) override {
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
  long QueryCounterText(std::string*, osmperf::PerfSourceStage*) override { return 1; }
  long QueryData(const char*, std::uint8_t*, std::uint32_t*) override { return 1; }
};

}  // namespace

// Malformed input is the normal case here: keep the trace file quiet.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  RAS1_Configure("NONE");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace osmperf;
  static NamesOnly source;
  static CPerfName names(&source);
  static std::vector<std::uint8_t> bytes = FixedBlock();
  static CPerfBlock block;
  static CSnapCatalog catalogue;
  static bool once = [] {
    block.Attach(bytes.data(), bytes.size());
    catalogue.Build(&names, block);
    return true;
  }();
  (void)once;
  if (size > 65536) return 0;

  // Up to eight strings separated by NUL bytes, each UTF-8.
  std::vector<std::u16string> parts;
  std::string text(reinterpret_cast<const char*>(data), size);
  std::size_t start = 0;
  while (parts.size() < 8) {
    std::size_t end = text.find('\0', start);
    parts.push_back(FromUtf8(text.substr(start, end == std::string::npos ? std::string::npos : end - start), nullptr));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  while (parts.size() < 8) parts.emplace_back();
  const char16_t* p[8];
  for (int i = 0; i < 8; ++i) p[i] = parts[i].empty() && i >= 5 ? nullptr : parts[i].c_str();

  CSample sample(1);
  if (sample.ProcessRawSampleDescription(p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7]) != kSampleOk) return 0;
  sample.AddFixedData(u"_ORIGIN_", "fuzzing", 7);
  sample.SetUtcToLocal(FixedOffsetUtcToLocal(60));
  sample.ConvertNamesToNumbers(catalogue, names);
  CObjectWalker objects(block);
  CPerfObject object;
  if (objects.Find(sample.ObjectIndex(), &object)) {
    sample.Update(block, object);
    sample.Update(block, object);
  }
  std::size_t rowBytes = sample.RowCount() * sample.RowSize();
  std::unique_ptr<std::uint8_t[]> rows(new std::uint8_t[rowBytes ? rowBytes : 1]);
  if (sample.CopyRows(rows.get(), rowBytes, 3) != rowBytes) std::abort();
  return 0;
}
