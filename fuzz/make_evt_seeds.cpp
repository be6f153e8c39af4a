// Writes the seeds of fuzz_evtrecord: read buffers and backup files, plain
// and wrapped. Usage: osm_fuzz_evtseeds <fuzz/seeds/evtrecord directory>.
#include "tests/collectors/eventlog/evt_writer.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: osm_fuzz_evtseeds DIRECTORY\n");
    return 2;
  }
  std::string dir = argv[1];
  std::vector<std::vector<std::uint8_t>> records;
  for (std::uint32_t n = 1; n <= 3; ++n) {
    evtw::Event e;
    e.recordNumber = n;
    e.eventId = 1000 + n;
    e.strings.assign(n, u"insert");
    if (n == 2) e.sid = evtw::Sid(5, {21, 500});
    if (n == 3) e.data = {9, 8, 7, 6, 5};
    records.push_back(evtw::Record(e));
  }
  std::vector<std::uint8_t> buffer;
  for (const auto& r : records) buffer.insert(buffer.end(), r.begin(), r.end());
  bool ok = evtw::WriteFile(dir + "/buffer", buffer) && evtw::WriteFile(dir + "/record", records[1]) &&
            evtw::WriteFile(dir + "/backup", evtw::BackupFile(records, 1)) &&
            evtw::WriteFile(dir + "/backup-wrapped", evtw::BackupFile(records, 1, 30));
  return ok ? 0 : 1;
}
