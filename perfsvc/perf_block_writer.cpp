#include "perfsvc/perf_block_writer.h"

#include "perfsvc/perf_bytes.h"
#include "perfsvc/perf_layout.h"

#include <limits>

namespace osmperf {

namespace {

std::size_t Align8(std::size_t v) { return (v + 7) / 8 * 8; }

void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) { WriteU32LE(&b[at], v); }
void Put64(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v) { WriteU64LE(&b[at], v); }

// Offsets of the counters inside a counter block and the block's length.
std::uint32_t LayCounters(const std::vector<PerfCounterSpec>& counters, std::vector<std::uint32_t>* offsets) {
  std::size_t at = pcb::kSize;
  offsets->clear();
  for (const PerfCounterSpec& c : counters) {
    std::uint32_t bytes = PerfCounterBytes(c);
    std::size_t align = bytes >= 8 ? 8 : (bytes >= 4 ? 4 : 1);
    at = (at + align - 1) / align * align;
    offsets->push_back(static_cast<std::uint32_t>(at));
    at += bytes;
  }
  return static_cast<std::uint32_t>(Align8(at));
}

void AppendCounterBlock(std::vector<std::uint8_t>& out, const std::vector<PerfCounterSpec>& counters,
                        const std::vector<std::uint32_t>& offsets, std::uint32_t length,
                        const std::vector<std::uint64_t>& values) {
  std::size_t at = out.size();
  out.resize(at + length, 0);
  Put32(out, at + pcb::kByteLength, length);
  for (std::size_t i = 0; i < counters.size() && i < values.size(); ++i) {
    std::uint32_t bytes = PerfCounterBytes(counters[i]);
    for (std::uint32_t k = 0; k < bytes && k < 8; ++k)
      out[at + offsets[i] + k] = static_cast<std::uint8_t>(values[i] >> (8 * k));
  }
}

void AppendName(std::vector<std::uint8_t>& out, std::size_t at, const std::u16string& name) {
  for (std::size_t i = 0; i < name.size(); ++i) Put16(out, at + 2 * i, static_cast<std::uint16_t>(name[i]));
}

}  // namespace

std::uint32_t PerfCounterBytes(const PerfCounterSpec& counter) {
  if (counter.size != 0) return counter.size;
  return (counter.type & kSizeMask) == kSizeLarge ? 8u : 4u;
}

bool WritePerfBlock(const PerfBlockHeader& header, const std::vector<PerfObjectData>& objects,
                    std::vector<std::uint8_t>* result) {
  std::vector<std::uint8_t> out;
  const std::size_t nameBytes = (header.systemName.size() + 1) * 2;
  const std::size_t headerLength = Align8(pdb::kSize + nameBytes);
  out.assign(headerLength, 0);
  const char signature[4] = {'P', 'E', 'R', 'F'};
  for (int i = 0; i < 4; ++i) Put16(out, pdb::kSignature + 2 * i, static_cast<std::uint16_t>(signature[i]));
  Put32(out, pdb::kLittleEndian, 1);
  Put32(out, pdb::kVersion, 1);   // PERF_DATA_VERSION
  Put32(out, pdb::kRevision, 1);  // PERF_DATA_REVISION
  Put32(out, pdb::kHeaderLength, static_cast<std::uint32_t>(headerLength));
  Put32(out, pdb::kNumObjectTypes, static_cast<std::uint32_t>(objects.size()));
  Put32(out, pdb::kDefaultObject, objects.empty() ? 0u : objects.front().index);
  const PerfSystemTime& t = header.systemTime;
  const std::uint16_t fields[8] = {t.wYear, t.wMonth, t.wDayOfWeek, t.wDay,
                                   t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
  for (int i = 0; i < 8; ++i) Put16(out, pdb::kSystemTime + 2 * i, fields[i]);
  Put64(out, pdb::kPerfTime, static_cast<std::uint64_t>(header.perfTime));
  Put64(out, pdb::kPerfFreq, static_cast<std::uint64_t>(header.perfFreq));
  Put64(out, pdb::kPerfTime100nSec, static_cast<std::uint64_t>(header.perfTime100nSec));
  Put32(out, pdb::kSystemNameLength, static_cast<std::uint32_t>(nameBytes));
  Put32(out, pdb::kSystemNameOffset, static_cast<std::uint32_t>(pdb::kSize));
  AppendName(out, pdb::kSize, header.systemName);

  std::vector<std::uint32_t> offsets;
  for (const PerfObjectData& o : objects) {
    const std::size_t obj = out.size();
    const std::uint32_t blockLength = LayCounters(o.counters, &offsets);
    const std::size_t definitionLength = pot::kSize + pcd::kSize * o.counters.size();
    out.resize(obj + definitionLength, 0);
    Put32(out, obj + pot::kDefinitionLength, static_cast<std::uint32_t>(definitionLength));
    Put32(out, obj + pot::kHeaderLength, static_cast<std::uint32_t>(pot::kSize));
    Put32(out, obj + pot::kObjectNameTitleIndex, o.index);
    Put32(out, obj + pot::kObjectHelpTitleIndex, o.index + 1);
    Put32(out, obj + pot::kDetailLevel, o.detailLevel);
    Put32(out, obj + pot::kNumCounters, static_cast<std::uint32_t>(o.counters.size()));
    Put32(out, obj + pot::kDefaultCounter, 0);
    const std::int32_t numInstances =
        o.hasInstances ? static_cast<std::int32_t>(o.instances.size()) : kPerfNoInstances;
    Put32(out, obj + pot::kNumInstances, static_cast<std::uint32_t>(numInstances));
    Put32(out, obj + pot::kCodePage, 0);  // instance names are UTF-16
    Put64(out, obj + pot::kPerfTime, static_cast<std::uint64_t>(o.perfTime));
    Put64(out, obj + pot::kPerfFreq, static_cast<std::uint64_t>(o.perfFreq));
    for (std::size_t i = 0; i < o.counters.size(); ++i) {
      const PerfCounterSpec& c = o.counters[i];
      const std::size_t d = obj + pot::kSize + pcd::kSize * i;
      Put32(out, d + pcd::kByteLength, static_cast<std::uint32_t>(pcd::kSize));
      Put32(out, d + pcd::kCounterNameTitleIndex, c.index);
      Put32(out, d + pcd::kCounterHelpTitleIndex, c.index + 1);
      Put32(out, d + pcd::kDefaultScale, static_cast<std::uint32_t>(c.defaultScale));
      Put32(out, d + pcd::kDetailLevel, c.detailLevel);
      Put32(out, d + pcd::kCounterType, c.type);
      Put32(out, d + pcd::kCounterSize, PerfCounterBytes(c));
      Put32(out, d + pcd::kCounterOffset, offsets[i]);
    }
    if (!o.hasInstances) {
      AppendCounterBlock(out, o.counters, offsets, blockLength, o.values);
    } else {
      for (const PerfInstanceData& inst : o.instances) {
        const std::size_t p = out.size();
        const std::size_t nameLength = (inst.name.size() + 1) * 2;
        const std::size_t byteLength = Align8(pid::kSize + nameLength);
        if (byteLength > std::numeric_limits<std::uint32_t>::max()) return false;
        out.resize(p + byteLength, 0);
        Put32(out, p + pid::kByteLength, static_cast<std::uint32_t>(byteLength));
        Put32(out, p + pid::kParentObjectTitleIndex, inst.parentObject);
        Put32(out, p + pid::kParentObjectInstance, inst.parentInstance);
        Put32(out, p + pid::kUniqueID, static_cast<std::uint32_t>(inst.uniqueId));
        Put32(out, p + pid::kNameOffset, static_cast<std::uint32_t>(pid::kSize));
        Put32(out, p + pid::kNameLength, static_cast<std::uint32_t>(nameLength));
        AppendName(out, p + pid::kSize, inst.name);
        AppendCounterBlock(out, o.counters, offsets, blockLength, inst.values);
      }
    }
    if (out.size() - obj > std::numeric_limits<std::uint32_t>::max()) return false;
    Put32(out, obj + pot::kTotalByteLength, static_cast<std::uint32_t>(out.size() - obj));
  }
  if (out.size() > std::numeric_limits<std::uint32_t>::max()) return false;
  Put32(out, pdb::kTotalByteLength, static_cast<std::uint32_t>(out.size()));
  result->swap(out);
  return true;
}

}  // namespace osmperf
