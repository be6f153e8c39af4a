#include "collectors/eventlog/evt_record.h"

namespace osm {
namespace evl {
namespace {

// Length in UTF-16 units of the NUL-terminated text at offset, when its
// terminator lies before limit (record offsets); false otherwise.
bool TerminatedText(const std::uint8_t* record, std::uint32_t offset, std::uint32_t limit, std::uint32_t* units) {
  if (offset % 2 != 0 || offset > limit) return false;
  for (std::uint32_t at = offset; at + 2 <= limit; at += 2) {
    if (record[at] == 0 && record[at + 1] == 0) {
      *units = (at - offset) / 2;
      return true;
    }
  }
  return false;
}

// An offset/length pair inside [kRecordHeaderSize, end).
bool Inside(std::uint32_t offset, std::uint32_t length, std::uint32_t end) {
  return offset >= kRecordHeaderSize && offset <= end && length <= end - offset;
}

const std::uint8_t kEofSignature[16] = {0x11, 0x11, 0x11, 0x11, 0x22, 0x22, 0x22, 0x22,
                                        0x33, 0x33, 0x33, 0x33, 0x44, 0x44, 0x44, 0x44};

// The record area of a backup file: [kEvtHeaderSize, size), read as a ring.
class Ring {
 public:
  Ring(const std::uint8_t* bytes, std::size_t size) : bytes_(bytes), size_(size) {}
  std::size_t Area() const { return size_ - kEvtHeaderSize; }
  std::size_t Advance(std::size_t at, std::size_t n) const {
    std::size_t rel = (at - kEvtHeaderSize + n) % Area();
    return kEvtHeaderSize + rel;
  }
  void Copy(std::size_t at, std::size_t n, std::uint8_t* out) const {
    for (std::size_t i = 0; i < n; ++i) {
      out[i] = bytes_[at];
      at = at + 1 == size_ ? kEvtHeaderSize : at + 1;
    }
  }

 private:
  const std::uint8_t* bytes_;
  std::size_t size_;
};

bool IsEofRecord(const std::uint8_t* p) {
  if (ReadU32(p) != kEvtEofSize || ReadU32(p + 36) != kEvtEofSize) return false;
  for (int i = 0; i < 16; ++i)
    if (p[4 + i] != kEofSignature[i]) return false;
  return true;
}

}  // namespace

const char* RecordStatusText(RecordStatus status) {
  switch (status) {
    case RecordStatus::kOk: return "sound";
    case RecordStatus::kTruncated: return "cut short";
    case RecordStatus::kBadLength: return "bad length";
    case RecordStatus::kBadSignature: return "bad signature";
    case RecordStatus::kBadSource: return "source or computer name not terminated";
    case RecordStatus::kBadSid: return "SID outside the record";
    case RecordStatus::kBadStrings: return "insertion strings outside the record";
    case RecordStatus::kBadData: return "data outside the record";
  }
  return "unknown";
}

std::u16string RecordView::Text(std::uint32_t offset, std::uint32_t units) const {
  std::u16string s;
  s.reserve(units);
  for (std::uint32_t i = 0; i < units; ++i) s.push_back(static_cast<char16_t>(ReadU16(bytes + offset + 2 * i)));
  return s;
}

std::vector<std::uint32_t> RecordView::StringOffsets() const {
  std::vector<std::uint32_t> out;
  std::uint32_t at = stringOffset, units = 0;
  for (std::uint16_t i = 0; i < numStrings; ++i) {
    out.push_back(at);
    if (!TerminatedText(bytes, at, length - 4, &units)) break;  // cannot happen after ParseRecord
    at += 2 * (units + 1);
  }
  return out;
}

RecordStatus ParseRecord(const std::uint8_t* bytes, std::size_t available, RecordView* view) {
  if (bytes == nullptr || available < kRecordHeaderSize) return RecordStatus::kTruncated;
  std::uint32_t length = ReadU32(bytes);
  if (length < kRecordHeaderSize + 4) return RecordStatus::kBadLength;
  if (length > available) return RecordStatus::kTruncated;
  if (ReadU32(bytes + 4) != kRecordSignature) return RecordStatus::kBadSignature;
  if (ReadU32(bytes + length - 4) != length) return RecordStatus::kBadLength;

  RecordView v;
  v.bytes = bytes;
  v.length = length;
  v.recordNumber = ReadU32(bytes + 8);
  v.timeGenerated = ReadU32(bytes + 12);
  v.timeWritten = ReadU32(bytes + 16);
  v.eventId = ReadU32(bytes + 20);
  v.eventType = ReadU16(bytes + 24);
  v.numStrings = ReadU16(bytes + 26);
  v.eventCategory = ReadU16(bytes + 28);
  v.stringOffset = ReadU32(bytes + 36);
  v.sidLength = ReadU32(bytes + 40);
  v.sidOffset = ReadU32(bytes + 44);
  v.dataLength = ReadU32(bytes + 48);
  v.dataOffset = ReadU32(bytes + 52);
  const std::uint32_t end = length - 4;  // the closing Length copy is no content

  v.sourceOffset = static_cast<std::uint32_t>(kRecordHeaderSize);
  if (!TerminatedText(bytes, v.sourceOffset, end, &v.sourceLength)) return RecordStatus::kBadSource;
  v.computerOffset = v.sourceOffset + 2 * (v.sourceLength + 1);
  if (!TerminatedText(bytes, v.computerOffset, end, &v.computerLength)) return RecordStatus::kBadSource;

  if (v.sidLength != 0) {
    // A SID's own size is 8 + 4 * its sub-authority count; GetLengthSid trusts it.
    if (!Inside(v.sidOffset, v.sidLength, end) || v.sidLength < 8 || bytes[v.sidOffset] != 1 ||
        8u + 4u * bytes[v.sidOffset + 1] != v.sidLength)
      return RecordStatus::kBadSid;
  }
  if (v.numStrings != 0) {
    std::uint32_t at = v.stringOffset, units = 0;
    if (at < kRecordHeaderSize) return RecordStatus::kBadStrings;
    for (std::uint16_t i = 0; i < v.numStrings; ++i) {
      if (!TerminatedText(bytes, at, end, &units)) return RecordStatus::kBadStrings;
      at += 2 * (units + 1);
    }
  }
  if (v.dataLength != 0 && !Inside(v.dataOffset, v.dataLength, end)) return RecordStatus::kBadData;
  *view = v;
  return RecordStatus::kOk;
}

bool RecordWalker::Next(RecordView* view) {
  if (status_ != RecordStatus::kOk || offset_ >= size_) return false;
  std::size_t left = size_ - offset_;
  if (left <= kRecordHeaderSize) return false;
  if (ReadU32(bytes_ + offset_) == 0) return false;
  status_ = ParseRecord(bytes_ + offset_, left, view);
  if (status_ != RecordStatus::kOk) return false;
  offset_ += view->length;
  return true;
}

const char* EvtFileStatusText(EvtFileStatus status) {
  switch (status) {
    case EvtFileStatus::kOk: return "sound";
    case EvtFileStatus::kTooSmall: return "too small for a backup file";
    case EvtFileStatus::kBadHeader: return "not a backup file header";
    case EvtFileStatus::kBadOffsets: return "start or end offset outside the file";
    case EvtFileStatus::kDamagedRecord: return "a damaged record";
    case EvtFileStatus::kNoEndRecord: return "no end-of-file record";
  }
  return "unknown";
}

EvtFileContents ParseEvtFile(const std::uint8_t* bytes, std::size_t size) {
  EvtFileContents out;
  if (bytes == nullptr || size < kEvtHeaderSize + kEvtEofSize) {
    out.status = EvtFileStatus::kTooSmall;
    return out;
  }
  if (ReadU32(bytes) != kEvtHeaderSize || ReadU32(bytes + 44) != kEvtHeaderSize ||
      ReadU32(bytes + 4) != kRecordSignature || ReadU32(bytes + 8) != 1 || ReadU32(bytes + 12) != 1) {
    out.status = EvtFileStatus::kBadHeader;
    return out;
  }
  EvtFileHeader& h = out.header;
  h.startOffset = ReadU32(bytes + 16);
  h.endOffset = ReadU32(bytes + 20);
  h.currentRecordNumber = ReadU32(bytes + 24);
  h.oldestRecordNumber = ReadU32(bytes + 28);
  h.maxSize = ReadU32(bytes + 32);
  h.flags = ReadU32(bytes + 36);
  h.retention = ReadU32(bytes + 40);
  if (h.startOffset < kEvtHeaderSize || h.startOffset >= size || h.endOffset < kEvtHeaderSize ||
      h.endOffset >= size) {
    out.status = EvtFileStatus::kBadOffsets;
    return out;
  }

  Ring ring(bytes, size);
  std::size_t at = h.startOffset, consumed = 0;
  std::uint8_t probe[kEvtEofSize];
  std::vector<std::uint8_t> record;
  // Each step consumes at least one record header, so the walk ends after
  // one pass over the area at most.
  while (consumed + kEvtEofSize <= ring.Area()) {
    ring.Copy(at, kEvtEofSize, probe);
    if (IsEofRecord(probe)) return out;
    std::uint32_t length = ReadU32(probe);
    if (length < kRecordHeaderSize + 4 || length > ring.Area() - consumed) {
      out.status = EvtFileStatus::kDamagedRecord;
      return out;
    }
    record.resize(length);
    ring.Copy(at, length, record.data());
    RecordView view;
    if (ParseRecord(record.data(), record.size(), &view) != RecordStatus::kOk) {
      out.status = EvtFileStatus::kDamagedRecord;
      return out;
    }
    out.records.push_back(record);
    at = ring.Advance(at, length);
    consumed += length;
  }
  out.status = EvtFileStatus::kNoEndRecord;
  return out;
}

}  // namespace evl
}  // namespace osm
