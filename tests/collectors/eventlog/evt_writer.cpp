#include "tests/collectors/eventlog/evt_writer.h"

#include <fstream>

namespace evtw {
namespace {

void Add16(std::vector<std::uint8_t>& b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Add32(std::vector<std::uint8_t>& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void AddText(std::vector<std::uint8_t>& b, const std::u16string& s) {
  for (char16_t c : s) Add16(b, static_cast<std::uint16_t>(c));
  Add16(b, 0);
}

}  // namespace

void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::vector<std::uint8_t> Sid(std::uint8_t authority, const std::vector<std::uint32_t>& subs) {
  std::vector<std::uint8_t> s = {1, static_cast<std::uint8_t>(subs.size()), 0, 0, 0, 0, 0, authority};
  for (std::uint32_t v : subs) Add32(s, v);
  return s;
}

std::vector<std::uint8_t> Record(const Event& e) {
  std::vector<std::uint8_t> b(56, 0);
  AddText(b, e.source);
  AddText(b, e.computer);
  while (b.size() % 4) b.push_back(0);
  std::uint32_t sidOffset = static_cast<std::uint32_t>(b.size());
  b.insert(b.end(), e.sid.begin(), e.sid.end());
  std::uint32_t stringOffset = static_cast<std::uint32_t>(b.size());
  for (const std::u16string& s : e.strings) AddText(b, s);
  std::uint32_t dataOffset = static_cast<std::uint32_t>(b.size());
  b.insert(b.end(), e.data.begin(), e.data.end());
  while (b.size() % 4) b.push_back(0);
  Add32(b, 0);  // the closing length, filled below
  std::uint32_t length = static_cast<std::uint32_t>(b.size());
  Put32(b, 0, length);
  Put32(b, 4, 0x654c664c);
  Put32(b, 8, e.recordNumber);
  Put32(b, 12, e.timeGenerated);
  Put32(b, 16, e.timeWritten);
  Put32(b, 20, e.eventId);
  b[24] = static_cast<std::uint8_t>(e.eventType);
  b[25] = static_cast<std::uint8_t>(e.eventType >> 8);
  b[26] = static_cast<std::uint8_t>(e.strings.size());
  b[27] = static_cast<std::uint8_t>(e.strings.size() >> 8);
  b[28] = static_cast<std::uint8_t>(e.category);
  b[29] = static_cast<std::uint8_t>(e.category >> 8);
  Put32(b, 36, stringOffset);
  Put32(b, 40, static_cast<std::uint32_t>(e.sid.size()));
  Put32(b, 44, e.sid.empty() ? 0 : sidOffset);
  Put32(b, 48, static_cast<std::uint32_t>(e.data.size()));
  Put32(b, 52, dataOffset);
  Put32(b, length - 4, length);
  return b;
}

std::vector<std::uint8_t> BackupFile(const std::vector<std::vector<std::uint8_t>>& records, std::uint32_t oldest,
                                     std::uint32_t wrapAt) {
  std::vector<std::uint8_t> area;
  for (const auto& r : records) area.insert(area.end(), r.begin(), r.end());
  std::uint32_t current = oldest + static_cast<std::uint32_t>(records.size());
  std::vector<std::uint8_t> eof;
  for (std::uint32_t v : {40u, 0x11111111u, 0x22222222u, 0x33333333u, 0x44444444u}) Add32(eof, v);
  std::vector<std::uint8_t> file(48, 0);
  std::uint32_t start = 48, end;
  if (wrapAt == 0) {
    file.insert(file.end(), area.begin(), area.end());
    end = static_cast<std::uint32_t>(file.size());
    Add32(eof, start);
    Add32(eof, end);
    Add32(eof, current);
    Add32(eof, oldest);
    Add32(eof, 40);
    file.insert(file.end(), eof.begin(), eof.end());
  } else {
    // Ring of area + eof + slack bytes; the records begin wrapAt bytes
    // before its end.
    std::size_t ringSize = area.size() + 40 + 64;
    std::vector<std::uint8_t> ring(ringSize, 0);
    std::size_t first = ringSize - wrapAt;
    for (std::size_t i = 0; i < area.size(); ++i) ring[(first + i) % ringSize] = area[i];
    std::size_t eofAt = (first + area.size()) % ringSize;
    start = static_cast<std::uint32_t>(48 + first);
    end = static_cast<std::uint32_t>(48 + eofAt);
    Add32(eof, start);
    Add32(eof, end);
    Add32(eof, current);
    Add32(eof, oldest);
    Add32(eof, 40);
    for (std::size_t i = 0; i < eof.size(); ++i) ring[(eofAt + i) % ringSize] = eof[i];
    file.insert(file.end(), ring.begin(), ring.end());
  }
  Put32(file, 0, 48);
  Put32(file, 4, 0x654c664c);
  Put32(file, 8, 1);
  Put32(file, 12, 1);
  Put32(file, 16, start);
  Put32(file, 20, end);
  Put32(file, 24, current);
  Put32(file, 28, oldest);
  Put32(file, 32, static_cast<std::uint32_t>(file.size()));
  Put32(file, 36, wrapAt ? 2 : 0);
  Put32(file, 40, 604800);
  Put32(file, 44, 48);
  return file;
}

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace evtw
