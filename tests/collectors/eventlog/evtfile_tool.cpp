// osm_evtfile OUTPUT RECORD...: writes a classic event log backup file for
// the end-to-end test. Each RECORD is "number:eventid:type:age:source:inserts",
// age in seconds before now, inserts separated by '|'.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sstream>
#include <string>

#include "tests/collectors/eventlog/evt_writer.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: osm_evtfile OUTPUT number:eventid:type:age:source:inserts...\n");
    return 2;
  }
  std::vector<std::vector<std::uint8_t>> records;
  std::uint32_t oldest = 0;
  for (int i = 2; i < argc; ++i) {
    std::istringstream in(argv[i]);
    std::string number, id, type, age, source, inserts;
    std::getline(in, number, ':');
    std::getline(in, id, ':');
    std::getline(in, type, ':');
    std::getline(in, age, ':');
    std::getline(in, source, ':');
    std::getline(in, inserts);
    evtw::Event e;
    e.recordNumber = static_cast<std::uint32_t>(std::strtoul(number.c_str(), nullptr, 10));
    e.eventId = static_cast<std::uint32_t>(std::strtoul(id.c_str(), nullptr, 0));
    e.eventType = static_cast<std::uint16_t>(std::atoi(type.c_str()));
    e.timeGenerated = e.timeWritten = static_cast<std::uint32_t>(std::time(nullptr) - std::atol(age.c_str()));
    e.source.assign(source.begin(), source.end());
    std::istringstream parts(inserts);
    std::string part;
    while (std::getline(parts, part, '|')) e.strings.emplace_back(part.begin(), part.end());
    if (oldest == 0) oldest = e.recordNumber;
    records.push_back(evtw::Record(e));
  }
  return evtw::WriteFile(argv[1], evtw::BackupFile(records, oldest ? oldest : 1)) ? 0 : 1;
}
