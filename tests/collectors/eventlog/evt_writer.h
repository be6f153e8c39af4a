// Test-side writer of classic event log records and backup files. It keeps
// its own idea of the layout (the platform's EVENTLOGRECORD, ELF_LOGFILE_HEADER
// and ELF_EOF_RECORD) and shares nothing with the production reader.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace evtw {

struct Event {
  std::uint32_t recordNumber = 1;
  std::uint32_t timeGenerated = 0;
  std::uint32_t timeWritten = 0;
  std::uint32_t eventId = 0;
  std::uint16_t eventType = 4;  // information
  std::uint16_t category = 0;
  std::u16string source = u"OsmTest";
  std::u16string computer = u"TESTPC";
  std::vector<std::uint8_t> sid;  // empty: no SID
  std::vector<std::u16string> strings;
  std::vector<std::uint8_t> data;
};

// One record as ReadEventLogW returns it, padded to a multiple of 4 bytes and
// closed by its length.
std::vector<std::uint8_t> Record(const Event& e);

// A SID S-1-auth-sub... in its binary form.
std::vector<std::uint8_t> Sid(std::uint8_t authority, const std::vector<std::uint32_t>& subs);

// A backup file holding the records (oldest first). With wrapAt > 0 the file
// is laid out as a full log that wrapped: the records start wrapAt bytes
// before the end of the file, run past its end and continue after the header.
std::vector<std::uint8_t> BackupFile(const std::vector<std::vector<std::uint8_t>>& records,
                                     std::uint32_t oldest, std::uint32_t wrapAt = 0);

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v);

}  // namespace evtw
