// Builds performance data blocks byte for byte as 64-bit Windows lays them
// out (PERF_DATA_BLOCK, PERF_OBJECT_TYPE, PERF_COUNTER_DEFINITION,
// PERF_INSTANCE_DEFINITION, PERF_COUNTER_BLOCK), and writes the files that
// OSM_PERFDATA_FILE and OSM_PERFNAMES_FILE name.
//
//   perfbuild::BlockBuilder b;
//   b.SystemTime(2010, 4, 12, 6, 14, 21, 500).PerfTime(1000).PerfFreq(10000000);
//   auto& process = b.Object(230).Counter(6, 0x20510500).Counter(180, 0x00010000);
//   process.Instance(u"svchost", {1234567, 42});
//   b.Object(2).Counter(10, 0x00010000).Values({7});   // no instances
//   std::vector<std::uint8_t> bytes = b.Build();
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace perfbuild {

// Offsets and sizes of the 64-bit structures.
namespace layout {
// PERF_DATA_BLOCK
constexpr std::size_t kBlockSignature = 0, kBlockLittleEndian = 8, kBlockVersion = 12,
                      kBlockRevision = 16, kBlockTotalByteLength = 20, kBlockHeaderLength = 24,
                      kBlockNumObjectTypes = 28, kBlockDefaultObject = 32, kBlockSystemTime = 36,
                      kBlockPerfTime = 56, kBlockPerfFreq = 64, kBlockPerfTime100nSec = 72,
                      kBlockSystemNameLength = 80, kBlockSystemNameOffset = 84, kBlockSize = 88;
// PERF_OBJECT_TYPE
constexpr std::size_t kObjTotalByteLength = 0, kObjDefinitionLength = 4, kObjHeaderLength = 8,
                      kObjNameTitleIndex = 12, kObjNameTitle = 16, kObjHelpTitleIndex = 20,
                      kObjHelpTitle = 24, kObjDetailLevel = 28, kObjNumCounters = 32,
                      kObjDefaultCounter = 36, kObjNumInstances = 40, kObjCodePage = 44,
                      kObjPerfTime = 48, kObjPerfFreq = 56, kObjSize = 64;
// PERF_COUNTER_DEFINITION
constexpr std::size_t kDefByteLength = 0, kDefNameTitleIndex = 4, kDefNameTitle = 8,
                      kDefHelpTitleIndex = 12, kDefHelpTitle = 16, kDefDefaultScale = 20,
                      kDefDetailLevel = 24, kDefCounterType = 28, kDefCounterSize = 32,
                      kDefCounterOffset = 36, kDefSize = 40;
// PERF_INSTANCE_DEFINITION
constexpr std::size_t kInstByteLength = 0, kInstParentObjectTitleIndex = 4,
                      kInstParentObjectInstance = 8, kInstUniqueID = 12, kInstNameOffset = 16,
                      kInstNameLength = 20, kInstSize = 24;
// PERF_COUNTER_BLOCK
constexpr std::size_t kCounterBlockByteLength = 0, kCounterBlockSize = 4;
}  // namespace layout

struct CounterSpec {
  std::uint32_t nameIndex = 0;
  std::uint32_t type = 0;
  std::uint32_t size = 0;  // CounterSize; 0 means 4 or 8 by the type's size bits
};

struct InstanceSpec {
  std::u16string name;
  std::vector<std::uint64_t> values;  // one per counter, in definition order
  std::uint32_t parentObject = 0;     // ParentObjectTitleIndex
  std::uint32_t parentInstance = 0;   // ParentObjectInstance
};

class ObjectSpec {
 public:
  explicit ObjectSpec(std::uint32_t nameIndex) : nameIndex_(nameIndex) {}
  ObjectSpec& Counter(std::uint32_t nameIndex, std::uint32_t type, std::uint32_t size = 0);
  ObjectSpec& Instance(const std::u16string& name, std::vector<std::uint64_t> values,
                       std::uint32_t parentObject = 0, std::uint32_t parentInstance = 0);
  // An object without instances (NumInstances = PERF_NO_INSTANCES).
  ObjectSpec& Values(std::vector<std::uint64_t> values);
  // An object with instances that reports none (NumInstances 0, no data).
  ObjectSpec& NoInstanceData();
  ObjectSpec& PerfTime(std::int64_t t) { perfTime_ = t; return *this; }
  ObjectSpec& PerfFreq(std::int64_t f) { perfFreq_ = f; return *this; }

 private:
  friend class BlockBuilder;
  enum class Mode { Instances, Single, Empty };
  std::uint32_t nameIndex_;
  std::int64_t perfTime_ = 0, perfFreq_ = 0;
  Mode mode_ = Mode::Instances;
  std::vector<CounterSpec> counters_;
  std::vector<InstanceSpec> instances_;
  std::vector<std::uint64_t> single_;
};

// Where the records of a built block lie, for tests that corrupt them.
struct BuiltBlock {
  std::vector<std::uint8_t> bytes;
  std::vector<std::size_t> objects;                  // offset of each PERF_OBJECT_TYPE
  std::vector<std::vector<std::size_t>> definitions; // per object: each PERF_COUNTER_DEFINITION
  std::vector<std::vector<std::size_t>> instances;   // per object: each PERF_INSTANCE_DEFINITION
  std::vector<std::vector<std::size_t>> counterBlocks;  // per object: each PERF_COUNTER_BLOCK
};

class BlockBuilder {
 public:
  BlockBuilder& SystemTime(int year, int month, int day, int hour, int minute, int second, int millis,
                           int dayOfWeek = 0);
  BlockBuilder& PerfTime(std::int64_t t) { perfTime_ = t; return *this; }
  BlockBuilder& PerfFreq(std::int64_t f) { perfFreq_ = f; return *this; }
  BlockBuilder& PerfTime100nSec(std::int64_t t) { perfTime100nSec_ = t; return *this; }
  BlockBuilder& SystemName(const std::u16string& name) { systemName_ = name; return *this; }
  // Writes the signature as 4 ASCII bytes instead of UTF-16.
  BlockBuilder& AsciiSignature(bool on) { asciiSignature_ = on; return *this; }

  // Adds an object; the reference stays valid while the builder lives.
  ObjectSpec& Object(std::uint32_t nameIndex);
  std::size_t ObjectCount() const { return objects_.size(); }

  std::vector<std::uint8_t> Build() const { return BuildWithOffsets().bytes; }
  BuiltBlock BuildWithOffsets() const;

 private:
  std::uint16_t systemTime_[8] = {2010, 4, 1, 12, 6, 14, 21, 500};
  std::int64_t perfTime_ = 0, perfFreq_ = 10000000, perfTime100nSec_ = 0;
  std::u16string systemName_ = u"TESTHOST";
  bool asciiSignature_ = false;
  std::deque<ObjectSpec> objects_;
};

// Little-endian field access in a byte vector (for corrupting blocks).
void Put32(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value);

using NameList = std::vector<std::pair<std::uint32_t, std::string>>;  // index, UTF-8 name

// A names file holds an index line then a name line, pair after pair.
bool WriteNamesFile(const std::string& path, const NameList& names);
bool WriteBlockFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

// Reads a block description (the text format of the osm_perfblock tool):
//   # comment
//   name INDEX TEXT...                  a counter or object name
//   systemtime Y M D h m s ms           block SystemTime (UTC)
//   perftime N | perffreq N | perftime100nsec N
//   object INDEX [perftime N] [perffreq N]
//   counter INDEX TYPE [SIZE]           TYPE decimal or 0x hexadecimal
//   instance "NAME" [parent OBJ INST] V1 V2 ...
//   values V1 V2 ...                    the object has no instances
//   noinstances                         the object reports 0 instances
// False with a message naming the line when the text is malformed.
bool ParseBlockDescription(const std::string& text, BlockBuilder* builder, NameList* names,
                           std::string* error);

}  // namespace perfbuild
