// Classic event log records (EVENTLOGRECORD) and event log backup files
// (.evt), read from byte buffers. No platform headers: the buffers come from
// ReadEventLogW, from a backup file, or from a test, and are never trusted.
//
// Record layout (little-endian, as the platform writes it):
//    0 Length   4 Reserved ("LfLe")   8 RecordNumber  12 TimeGenerated
//   16 TimeWritten  20 EventID  24 EventType(16)  26 NumStrings(16)
//   28 EventCategory(16)  30 ReservedFlags(16)  32 ClosingRecordNumber
//   36 StringOffset  40 UserSidLength  44 UserSidOffset  48 DataLength
//   52 DataOffset   56 source name, computer name (UTF-16, NUL-terminated),
//   then the SID, the insertion strings and the data; the last four bytes
//   repeat Length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace osm {
namespace evl {

const std::size_t kRecordHeaderSize = 56;
const std::uint32_t kRecordSignature = 0x654c664cu;  // "LfLe"

// Why a record was refused; kOk for a sound one.
enum class RecordStatus {
  kOk,
  kTruncated,      // fewer bytes than the header or than Length
  kBadLength,      // Length below the header size, or its closing copy differs
  kBadSignature,
  kBadSource,      // source or computer name not terminated inside the record
  kBadSid,         // SID outside the record, or its own size disagrees
  kBadStrings,     // insertion strings outside the record or not terminated
  kBadData         // binary data outside the record
};
const char* RecordStatusText(RecordStatus status);

// Where the parts of one validated record lie. Offsets are from the start
// of the record; text lengths are in UTF-16 units without the terminator.
struct RecordView {
  const std::uint8_t* bytes = nullptr;
  std::uint32_t length = 0;
  std::uint32_t recordNumber = 0;
  std::uint32_t timeGenerated = 0;
  std::uint32_t timeWritten = 0;
  std::uint32_t eventId = 0;
  std::uint16_t eventType = 0;
  std::uint16_t numStrings = 0;
  std::uint16_t eventCategory = 0;
  std::uint32_t sourceOffset = 0, sourceLength = 0;
  std::uint32_t computerOffset = 0, computerLength = 0;
  std::uint32_t sidOffset = 0, sidLength = 0;  // sidLength 0: no SID
  std::uint32_t stringOffset = 0;              // first insertion string
  std::uint32_t dataOffset = 0, dataLength = 0;

  // The text at offset (UTF-16LE), copied out.
  std::u16string Text(std::uint32_t offset, std::uint32_t units) const;
  std::u16string Source() const { return Text(sourceOffset, sourceLength); }
  std::u16string Computer() const { return Text(computerOffset, computerLength); }
  // Offsets of the insertion strings (each NUL-terminated inside the record).
  std::vector<std::uint32_t> StringOffsets() const;
};

// Validates the record at bytes (available bytes readable there) and
// describes it. Every offset and length is checked against the record and
// the record against available, so a view never reaches past either.
RecordStatus ParseRecord(const std::uint8_t* bytes, std::size_t available, RecordView* view);

// Walks the records of one read buffer, as ReadEventLogW fills it. A buffer
// ends when fewer than kRecordHeaderSize + 1 bytes remain, at a zero Length,
// or at the first damaged record (status() tells which).
class RecordWalker {
 public:
  RecordWalker(const std::uint8_t* bytes, std::size_t size) : bytes_(bytes), size_(size) {}
  // The next record, or false at the end of the buffer.
  bool Next(RecordView* view);
  RecordStatus status() const { return status_; }
  std::size_t offset() const { return offset_; }

 private:
  const std::uint8_t* bytes_;
  std::size_t size_;
  std::size_t offset_ = 0;
  RecordStatus status_ = RecordStatus::kOk;
};

// A classic event log backup file: the 48-byte header, the records from
// StartOffset (wrapping from the end of the file to just after the header)
// up to the 40-byte end-of-file record.
struct EvtFileHeader {
  std::uint32_t startOffset = 0, endOffset = 0;
  std::uint32_t currentRecordNumber = 0, oldestRecordNumber = 0;
  std::uint32_t maxSize = 0, flags = 0, retention = 0;
};

enum class EvtFileStatus {
  kOk,
  kTooSmall,        // shorter than a header and an end-of-file record
  kBadHeader,       // sizes, signature or version wrong
  kBadOffsets,      // start or end outside the record area
  kDamagedRecord,   // a record failed ParseRecord; the records before it are kept
  kNoEndRecord      // the records ran through the whole area without an end record
};
const char* EvtFileStatusText(EvtFileStatus status);

struct EvtFileContents {
  EvtFileStatus status = EvtFileStatus::kOk;
  EvtFileHeader header;
  // Each record's bytes, oldest first, made contiguous when they wrapped.
  std::vector<std::vector<std::uint8_t>> records;
};

const std::size_t kEvtHeaderSize = 48;
const std::size_t kEvtEofSize = 40;

// Reads a backup file's bytes. Records read before a damaged one are kept
// (status kDamagedRecord), so a file cut while being written still yields
// what it holds.
EvtFileContents ParseEvtFile(const std::uint8_t* bytes, std::size_t size);

// Little-endian field readers shared with the writers of this folder.
inline std::uint32_t ReadU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint16_t ReadU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

}  // namespace evl
}  // namespace osm
