#include "perfsvc/perf_walkers.h"

#include <algorithm>

namespace osmperf {

bool HasPerfSignature(const std::uint8_t* data, std::size_t size) {
  if (data == nullptr) return false;
  static const std::uint8_t kWide[8] = {'P', 0, 'E', 0, 'R', 0, 'F', 0};
  if (size >= 8 && std::equal(kWide, kWide + 8, data)) return true;
  return size >= 4 && data[0] == 'P' && data[1] == 'E' && data[2] == 'R' && data[3] == 'F';
}

bool CPerfBlock::Attach(const std::uint8_t* data, std::size_t size) {
  *this = CPerfBlock();
  if (!HasPerfSignature(data, size) || size < pdb::kSize) return false;
  ByteSpan all(data, size);
  all.ReadU32(pdb::kTotalByteLength, &totalByteLength_);
  all.ReadU32(pdb::kHeaderLength, &headerLength_);
  all.ReadU32(pdb::kNumObjectTypes, &numObjectTypes_);
  all.ReadI64(pdb::kPerfTime, &perfTime_);
  all.ReadI64(pdb::kPerfFreq, &perfFreq_);
  all.ReadI64(pdb::kPerfTime100nSec, &perfTime100nSec_);
  std::uint16_t* st[8] = {&systemTime_.wYear, &systemTime_.wMonth, &systemTime_.wDayOfWeek,
                          &systemTime_.wDay, &systemTime_.wHour, &systemTime_.wMinute,
                          &systemTime_.wSecond, &systemTime_.wMilliseconds};
  for (int i = 0; i < 8; ++i) all.ReadU16(pdb::kSystemTime + 2 * static_cast<std::size_t>(i), st[i]);
  bytes_ = ByteSpan(data, std::min<std::size_t>(size, totalByteLength_));
  valid_ = true;
  return true;
}

bool CPerfObject::Parse(ByteSpan block, std::size_t at) {
  *this = CPerfObject();
  if (!block.Contains(at, pot::kSize)) return false;
  ByteSpan h = block.Sub(at, pot::kSize);
  h.ReadU32(pot::kTotalByteLength, &totalByteLength);
  if (totalByteLength < pot::kSize) return false;
  h.ReadU32(pot::kDefinitionLength, &definitionLength);
  h.ReadU32(pot::kHeaderLength, &headerLength);
  h.ReadU32(pot::kObjectNameTitleIndex, &nameIndex);
  h.ReadU32(pot::kNumCounters, &numCounters);
  h.ReadI32(pot::kNumInstances, &numInstances);
  h.ReadU32(pot::kCodePage, &codePage);
  h.ReadI64(pot::kPerfTime, &perfTime);
  h.ReadI64(pot::kPerfFreq, &perfFreq);
  offset = at;
  bytes = block.Sub(at, std::min<std::size_t>(totalByteLength, block.size - at));
  if (definitionLength > bytes.size) definitionLength = static_cast<std::uint32_t>(bytes.size);
  return true;
}

bool CObjectWalker::At(std::size_t offset) {
  if (!block_.Valid() || visited_ >= block_.NumObjectTypes()) return false;
  if (!current_.Parse(block_.Bytes(), offset)) return false;
  ++visited_;
  return true;
}

bool CObjectWalker::First() {
  visited_ = 0;
  return At(block_.HeaderLength());
}

bool CObjectWalker::Next() {
  if (visited_ == 0) return false;
  std::size_t next = current_.offset + current_.totalByteLength;
  if (next < current_.offset) return false;
  return At(next);
}

bool CObjectWalker::Find(std::uint32_t index, CPerfObject* out) {
  for (bool ok = First(); ok; ok = Next()) {
    if (current_.nameIndex == index) {
      *out = current_;
      return true;
    }
  }
  return false;
}

bool CCounterWalker::At(std::size_t offset) {
  if (visited_ >= object_.numCounters) return false;
  ByteSpan defs = object_.bytes.Sub(0, object_.definitionLength);
  if (!defs.Contains(offset, pcd::kSize)) return false;
  ByteSpan d = defs.Sub(offset, pcd::kSize);
  std::uint32_t byteLength = 0;
  d.ReadU32(pcd::kByteLength, &byteLength);
  if (byteLength < pcd::kSize) return false;
  d.ReadU32(pcd::kCounterNameTitleIndex, &current_.nameIndex);
  d.ReadU32(pcd::kCounterType, &current_.type);
  d.ReadU32(pcd::kCounterSize, &current_.size);
  d.ReadU32(pcd::kCounterOffset, &current_.offset);
  offset_ = offset;
  byteLength_ = byteLength;
  ++visited_;
  return true;
}

bool CCounterWalker::First() {
  visited_ = 0;
  return At(object_.headerLength);
}

bool CCounterWalker::Next() {
  if (visited_ == 0) return false;
  return At(offset_ + byteLength_);
}

bool ReadCounterValue(ByteSpan counterBlock, const CPerfCounterDef& def, std::uint64_t* value) {
  std::size_t n = std::min<std::uint32_t>(def.size, 8u);
  return counterBlock.ReadLE(def.offset, n, value);
}

std::u16string CPerfInstance::Name() const {
  std::u16string out;
  out.reserve(name.size / 2);
  for (std::size_t i = 0; i + 1 < name.size; i += 2)
    out.push_back(static_cast<char16_t>(name.data[i] | (name.data[i + 1] << 8)));
  return out;
}

namespace {

// The counter block at offset of the object, cut to its ByteLength; empty
// when it does not fit.
ByteSpan CounterBlockAt(const CPerfObject& object, std::size_t offset) {
  std::uint32_t length = 0;
  if (!object.bytes.ReadU32(offset + pcb::kByteLength, &length)) return ByteSpan();
  if (length < pcb::kSize) return ByteSpan();
  return object.bytes.Sub(offset, length);
}

}  // namespace

CInstanceWalker::CInstanceWalker(const CPerfObject& object) : object_(object) {
  std::size_t data = object.definitionLength;
  if (data >= object.bytes.size || object.totalByteLength == object.definitionLength) {
    kind_ = Kind::None;
    return;
  }
  std::size_t room = object.bytes.size - data;
  if (object.numInstances == kPerfNoInstances || object.numInstances == 0) {
    kind_ = CounterBlockAt(object, data).size != 0 ? Kind::Single : Kind::Refused;
    count_ = kind_ == Kind::Single ? 1 : 0;
    return;
  }
  // Every instance needs at least its definition and a counter block header,
  // so a count that cannot fit is refused before anyone allocates for it.
  if (object.numInstances < 0 ||
      static_cast<std::size_t>(object.numInstances) > room / (pid::kSize + pcb::kSize)) {
    kind_ = Kind::Refused;
    return;
  }
  kind_ = Kind::Many;
  count_ = static_cast<std::uint32_t>(object.numInstances);
}

bool CInstanceWalker::At(std::size_t offset) {
  if (visited_ >= count_) return false;
  current_ = CPerfInstance();
  if (kind_ == Kind::Single) {
    current_.counterBlock = CounterBlockAt(object_, offset);
    if (current_.counterBlock.size == 0) return false;
    ++visited_;
    return true;
  }
  if (kind_ != Kind::Many || !object_.bytes.Contains(offset, pid::kSize)) return false;
  ByteSpan h = object_.bytes.Sub(offset, pid::kSize);
  std::uint32_t byteLength = 0, nameOffset = 0, nameLength = 0;
  h.ReadU32(pid::kByteLength, &byteLength);
  if (byteLength < pid::kSize || !object_.bytes.Contains(offset, byteLength)) return false;
  h.ReadU32(pid::kParentObjectTitleIndex, &current_.parentObjectIndex);
  h.ReadU32(pid::kParentObjectInstance, &current_.parentInstance);
  h.ReadI32(pid::kUniqueID, &current_.uniqueId);
  h.ReadU32(pid::kNameOffset, &nameOffset);
  h.ReadU32(pid::kNameLength, &nameLength);
  std::size_t block = offset + byteLength;
  current_.counterBlock = CounterBlockAt(object_, block);
  if (current_.counterBlock.size == 0) return false;
  // The name lies inside the instance definition and inside NameLength; it
  // ends at its first NUL or at the end of that window.
  ByteSpan def = object_.bytes.Sub(offset, byteLength);
  if (nameOffset >= pid::kSize && nameOffset < def.size) {
    std::size_t window = std::min<std::size_t>(nameLength, def.size - nameOffset) & ~std::size_t(1);
    ByteSpan raw = def.Sub(nameOffset, window);
    std::size_t n = 0;
    while (n + 1 < raw.size && (raw.data[n] | raw.data[n + 1]) != 0) n += 2;
    current_.name = raw.Sub(0, n);
  }
  current_.offset = offset;
  next_ = block + current_.counterBlock.size;
  ++visited_;
  return true;
}

bool CInstanceWalker::First() {
  visited_ = 0;
  return At(object_.definitionLength);
}

bool CInstanceWalker::Next() {
  if (visited_ == 0 || kind_ != Kind::Many) return false;
  return At(next_);
}

}  // namespace osmperf
