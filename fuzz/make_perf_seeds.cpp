// Writes the seed files of the counter service fuzzers:
//   osm_fuzz_perfseeds <repository>/fuzz/seeds
#include "fuzz/perf_fuzz_world.h"
#include "perfsvc/perf_layout.h"
#include "perfsvc/perf_text.h"
#include "tests/perfsvc/perf_block_builder.h"

#include <cstdio>
#include <string>

using namespace osmperf;

namespace {

void Write(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return;
  }
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

std::string Bytes(const std::vector<std::uint8_t>& v) { return std::string(v.begin(), v.end()); }

perfbuild::BlockBuilder World(int instances) {
  perfbuild::BlockBuilder b;
  b.SystemTime(2010, 4, 12, 6, 14, 21, 500).PerfTime(20000).PerfFreq(1000).PerfTime100nSec(200000000);
  auto& parent = b.Object(14).Counter(8, PERF_COUNTER_RAWCOUNT).Counter(22, PERF_COUNTER_QUEUELEN_TYPE)
                     .Counter(7, PERF_RAW_BASE);
  parent.Instance(u"init", {1, 2, 3}).Instance(u"svc", {4, 5, 6});
  auto& proc = b.Object(2).PerfTime(5000).PerfFreq(100);
  proc.Counter(4, PERF_100NSEC_TIMER).Counter(6, PERF_COUNTER_COUNTER).Counter(8, PERF_COUNTER_RAWCOUNT)
      .Counter(10, PERF_COUNTER_LARGE_RAWCOUNT).Counter(12, PERF_RAW_FRACTION).Counter(13, PERF_RAW_BASE)
      .Counter(16, PERF_ELAPSED_TIME).Counter(18, PERF_100NSEC_MULTI_TIMER).Counter(19, PERF_COUNTER_MULTI_BASE);
  for (int i = 0; i < instances; ++i) {
    std::u16string name = u"t" + std::u16string(1, static_cast<char16_t>(u'0' + i % 10));
    proc.Instance(name, {1000u * i, 50u * i, 7, 1ull << 40, 3, 4, 100, 5000, 2}, i % 3 ? 14 : 0,
                  static_cast<std::uint32_t>(i % 3));
  }
  b.Object(20).Counter(8, PERF_COUNTER_RAWCOUNT).Counter(10, PERF_COUNTER_LARGE_RAWCOUNT).Values({9, 10});
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: osm_fuzz_perfseeds <fuzz/seeds directory>\n");
    return 2;
  }
  std::string root = argv[1];
  Write(root + "/perfblock/world_3", Bytes(World(3).Build()));
  Write(root + "/perfblock/world_0", Bytes(World(0).Build()));
  perfbuild::BlockBuilder ascii = World(2);
  ascii.AsciiSignature(true);
  Write(root + "/perfblock/ascii_signature", Bytes(ascii.Build()));
  perfbuild::BlockBuilder empty;
  empty.Object(2).Counter(4, PERF_100NSEC_TIMER).NoInstanceData();
  Write(root + "/perfblock/no_instances", Bytes(empty.Build()));

  int n = 0;
  for (const perffuzz::Description& d : perffuzz::Descriptions()) {
    std::string text;
    for (int i = 0; i < 8; ++i) {
      if (i) text.push_back('\0');
      if (d.text[i]) text += ToUtf8(d.text[i], std::char_traits<char16_t>::length(d.text[i]));
    }
    Write(root + "/perfdesc/description_" + std::to_string(n++), text);
  }
  Write(root + "/perfdesc/no_header", std::string("\0\0\0\0\0" "1 _ROW_\0" "4\0" "0", 16));
  return 0;
}
