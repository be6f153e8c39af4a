// Views and walkers over one PERF_DATA_BLOCK held in a byte buffer.
//
// Nothing here trusts the data: every record is bounded by the bytes the query
// returned and by its enclosing record (block, object, instance, counter
// block). A record that does not fit ends the walk; it is never read past.
#pragma once

#include "perfsvc/perf_bytes.h"
#include "perfsvc/perf_layout.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace osmperf {

// Same fields as SYSTEMTIME.
struct PerfSystemTime {
  std::uint16_t wYear = 0, wMonth = 0, wDayOfWeek = 0, wDay = 0;
  std::uint16_t wHour = 0, wMinute = 0, wSecond = 0, wMilliseconds = 0;
};

// True when the first 8 bytes are UTF-16 "PERF" or the first 4 ASCII "PERF".
bool HasPerfSignature(const std::uint8_t* data, std::size_t size);

// The header of a data block and the span its objects live in.
class CPerfBlock {
 public:
  // Reads the header. False when the bytes are not a data block (bad
  // signature or a header that does not fit).
  bool Attach(const std::uint8_t* data, std::size_t size);
  bool Valid() const { return valid_; }

  // The block, cut to min(TotalByteLength, bytes returned).
  ByteSpan Bytes() const { return bytes_; }
  std::uint32_t TotalByteLength() const { return totalByteLength_; }
  std::uint32_t HeaderLength() const { return headerLength_; }
  std::uint32_t NumObjectTypes() const { return numObjectTypes_; }
  std::int64_t PerfTime() const { return perfTime_; }
  std::int64_t PerfFreq() const { return perfFreq_; }
  std::int64_t PerfTime100nSec() const { return perfTime100nSec_; }
  const PerfSystemTime& SystemTime() const { return systemTime_; }

 private:
  bool valid_ = false;
  ByteSpan bytes_;
  std::uint32_t totalByteLength_ = 0, headerLength_ = 0, numObjectTypes_ = 0;
  std::int64_t perfTime_ = 0, perfFreq_ = 0, perfTime100nSec_ = 0;
  PerfSystemTime systemTime_;
};

// One PERF_OBJECT_TYPE record.
struct CPerfObject {
  std::size_t offset = 0;       // from the start of the block
  ByteSpan bytes;               // the record, cut to the block
  std::uint32_t totalByteLength = 0;
  std::uint32_t definitionLength = 0;  // cut to the record
  std::uint32_t headerLength = 0;
  std::uint32_t nameIndex = 0;  // ObjectNameTitleIndex
  std::uint32_t numCounters = 0;
  std::int32_t numInstances = 0;
  std::uint32_t codePage = 0;
  std::int64_t perfTime = 0;
  std::int64_t perfFreq = 0;

  // Reads the record at offset of the block; false when its header does not
  // fit or its TotalByteLength is smaller than the header.
  bool Parse(ByteSpan block, std::size_t offset);
};

// Walks the objects of a block: next = current + TotalByteLength, at most
// NumObjectTypes of them, only while a whole header begins inside the block.
class CObjectWalker {
 public:
  explicit CObjectWalker(const CPerfBlock& block) : block_(block) {}
  bool First();
  bool Next();
  const CPerfObject& Current() const { return current_; }
  std::uint32_t Visited() const { return visited_; }
  // The first object whose ObjectNameTitleIndex is index.
  bool Find(std::uint32_t index, CPerfObject* out);

 private:
  bool At(std::size_t offset);
  const CPerfBlock& block_;
  CPerfObject current_;
  std::uint32_t visited_ = 0;
};

// One PERF_COUNTER_DEFINITION.
struct CPerfCounterDef {
  std::uint32_t nameIndex = 0;  // CounterNameTitleIndex
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  std::uint32_t offset = 0;     // within the counter block
};

// Walks the counter definitions of one object (first at HeaderLength, next at
// current + ByteLength, NumCounters of them, inside DefinitionLength).
class CCounterWalker {
 public:
  explicit CCounterWalker(const CPerfObject& object) : object_(object) {}
  bool First();
  bool Next();
  const CPerfCounterDef& Current() const { return current_; }
  std::uint32_t Visited() const { return visited_; }

 private:
  bool At(std::size_t offset);
  const CPerfObject& object_;
  CPerfCounterDef current_;
  std::size_t offset_ = 0;
  std::uint32_t byteLength_ = 0;
  std::uint32_t visited_ = 0;
};

// Reads min(def.size, 8) bytes of a counter from its counter block; false
// when they do not lie inside the block.
bool ReadCounterValue(ByteSpan counterBlock, const CPerfCounterDef& def, std::uint64_t* value);

// One instance of an object (or the single pseudo-instance of an object
// without instances).
struct CPerfInstance {
  std::size_t offset = 0;            // of the PERF_INSTANCE_DEFINITION in the object (0 for the pseudo-instance)
  ByteSpan counterBlock;             // the PERF_COUNTER_BLOCK, cut to its ByteLength
  std::uint32_t parentObjectIndex = 0;
  std::uint32_t parentInstance = 0;
  std::int32_t uniqueId = 0;
  ByteSpan name;                     // UTF-16LE bytes up to the first NUL, inside NameLength
  std::u16string Name() const;
};

// Walks the instances of one object.
class CInstanceWalker {
 public:
  enum class Kind {
    None,    // no instance data at all (TotalByteLength == DefinitionLength)
    Single,  // PERF_NO_INSTANCES (or 0 with a counter block): one pseudo-instance
    Many,    // NumInstances instances
    Refused  // counts or lengths that cannot fit the object
  };
  explicit CInstanceWalker(const CPerfObject& object);
  Kind GetKind() const { return kind_; }
  // The instance count the object claims (1 for Single, 0 for None/Refused).
  std::uint32_t Count() const { return count_; }
  bool First();
  bool Next();
  const CPerfInstance& Current() const { return current_; }
  std::uint32_t Visited() const { return visited_; }

 private:
  bool At(std::size_t offset);
  const CPerfObject& object_;
  Kind kind_ = Kind::None;
  std::uint32_t count_ = 0;
  CPerfInstance current_;
  std::size_t next_ = 0;
  std::uint32_t visited_ = 0;
};

}  // namespace osmperf
