// Feeds arbitrary bytes through the event record walker (as a read buffer),
// the backup-file reader, and the formatted-event rules a record reaches.
#include "collectors/eventlog/evt_event.h"
#include "collectors/eventlog/evt_record.h"

#include <cstddef>
#include <cstdlib>
#include <cstdint>
#include <vector>

namespace {

void Touch(const osm::evl::RecordView& v) {
  // Every part the agent reads of a record; the sanitizers see any over-read.
  osm::evl::FormattedEvent e;
  osm::evl::ClearEvent(&e);
  std::u16string source = v.Source(), computer = v.Computer();
  std::vector<OsmWChar> wide(source.begin(), source.end());
  wide.push_back(0);
  osm::evl::SetWide(e.source, osm::evl::kSourceWidth, wide.data(), wide.size());
  std::vector<OsmWChar> host(computer.begin(), computer.end());
  host.push_back(0);
  osm::evl::SetWide(e.computer, osm::evl::kComputerWidth, osm::evl::HostPart(host.data(), host.size()));
  for (std::uint32_t at : v.StringOffsets()) {
    std::uint32_t n = 0;
    while (v.bytes[at + 2 * n] | v.bytes[at + 2 * n + 1]) ++n;
    std::u16string s = v.Text(at, n);
    std::vector<OsmWChar> w(s.begin(), s.end());
    w.push_back(0);
    (void)osm::evl::HighestInsert(w.data());
  }
  if (v.sidLength) (void)osm::evl::SidKey(v.bytes + v.sidOffset, v.sidLength);
  (void)osm::evl::DuplicateKey(e);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A private copy of exactly size bytes, so that reading one past it is caught.
  std::vector<std::uint8_t> bytes(data, data + size);
  osm::evl::RecordWalker walk(bytes.data(), bytes.size());
  osm::evl::RecordView v;
  while (walk.Next(&v)) Touch(v);
  osm::evl::EvtFileContents file = osm::evl::ParseEvtFile(bytes.data(), bytes.size());
  for (const auto& record : file.records) {
    if (osm::evl::ParseRecord(record.data(), record.size(), &v) != osm::evl::RecordStatus::kOk) std::abort();
    Touch(v);
  }
  return 0;
}
