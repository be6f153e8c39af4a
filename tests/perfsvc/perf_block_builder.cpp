#include "perf_block_builder.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace perfbuild {

using namespace layout;

namespace {

// Writes the low `width` bytes of v, little-endian, inside the vector.
void Put(std::vector<std::uint8_t>& b, std::size_t o, std::uint64_t v, int width) {
  b.at(o + width - 1);
  for (int i = 0; i < width; ++i) b[o + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Put16(std::vector<std::uint8_t>& b, std::size_t o, std::uint16_t v) { Put(b, o, v, 2); }
void Put64(std::vector<std::uint8_t>& b, std::size_t o, std::uint64_t v) { Put(b, o, v, 8); }

std::size_t Align(std::size_t v, std::size_t a) { return (v + a - 1) / a * a; }

std::uint32_t SizeOf(const CounterSpec& c) {
  if (c.size != 0) return c.size;
  return (c.type & 0x300u) == 0x100u ? 8u : 4u;
}

// Appends one PERF_COUNTER_BLOCK with the values at the definitions' offsets.
void AppendCounterBlock(std::vector<std::uint8_t>& out, const std::vector<CounterSpec>& counters,
                        const std::vector<std::uint32_t>& offsets, std::uint32_t blockLength,
                        const std::vector<std::uint64_t>& values) {
  std::size_t at = out.size();
  out.resize(at + blockLength, 0);
  Put32(out, at + kCounterBlockByteLength, blockLength);
  for (std::size_t i = 0; i < counters.size() && i < values.size(); ++i) {
    std::uint32_t size = SizeOf(counters[i]);
    for (std::uint32_t k = 0; k < size && k < 8; ++k)
      out[at + offsets[i] + k] = static_cast<std::uint8_t>(values[i] >> (8 * k));
  }
}

}  // namespace

void Put32(std::vector<std::uint8_t>& b, std::size_t o, std::uint32_t v) { Put(b, o, v, 4); }

ObjectSpec& ObjectSpec::Counter(std::uint32_t nameIndex, std::uint32_t type, std::uint32_t size) {
  counters_.push_back({nameIndex, type, size});
  return *this;
}

ObjectSpec& ObjectSpec::Instance(const std::u16string& name, std::vector<std::uint64_t> values,
                                 std::uint32_t parentObject, std::uint32_t parentInstance) {
  mode_ = Mode::Instances;
  instances_.push_back({name, std::move(values), parentObject, parentInstance});
  return *this;
}

ObjectSpec& ObjectSpec::Values(std::vector<std::uint64_t> values) {
  mode_ = Mode::Single;
  single_ = std::move(values);
  return *this;
}

ObjectSpec& ObjectSpec::NoInstanceData() {
  mode_ = Mode::Empty;
  instances_.clear();
  return *this;
}

BlockBuilder& BlockBuilder::SystemTime(int year, int month, int day, int hour, int minute, int second,
                                       int millis, int dayOfWeek) {
  const int v[8] = {year, month, dayOfWeek, day, hour, minute, second, millis};
  for (int i = 0; i < 8; ++i) systemTime_[i] = static_cast<std::uint16_t>(v[i]);
  return *this;
}

ObjectSpec& BlockBuilder::Object(std::uint32_t nameIndex) {
  objects_.emplace_back(nameIndex);
  return objects_.back();
}

BuiltBlock BlockBuilder::BuildWithOffsets() const {
  BuiltBlock built;
  std::vector<std::uint8_t>& out = built.bytes;
  std::size_t nameBytes = (systemName_.size() + 1) * 2;
  std::size_t headerLength = Align(kBlockSize + nameBytes, 8);
  out.assign(headerLength, 0);
  if (asciiSignature_) {
    out[0] = 'P'; out[1] = 'E'; out[2] = 'R'; out[3] = 'F';
  } else {
    const char sig[4] = {'P', 'E', 'R', 'F'};
    for (int i = 0; i < 4; ++i) Put16(out, kBlockSignature + 2 * i, static_cast<std::uint16_t>(sig[i]));
  }
  Put32(out, kBlockLittleEndian, 1);
  Put32(out, kBlockVersion, 1);
  Put32(out, kBlockRevision, 1);
  Put32(out, kBlockHeaderLength, static_cast<std::uint32_t>(headerLength));
  Put32(out, kBlockNumObjectTypes, static_cast<std::uint32_t>(objects_.size()));
  Put32(out, kBlockDefaultObject, objects_.empty() ? 0 : objects_.front().nameIndex_);
  for (int i = 0; i < 8; ++i) Put16(out, kBlockSystemTime + 2 * i, systemTime_[i]);
  Put64(out, kBlockPerfTime, static_cast<std::uint64_t>(perfTime_));
  Put64(out, kBlockPerfFreq, static_cast<std::uint64_t>(perfFreq_));
  Put64(out, kBlockPerfTime100nSec, static_cast<std::uint64_t>(perfTime100nSec_));
  Put32(out, kBlockSystemNameLength, static_cast<std::uint32_t>(nameBytes));
  Put32(out, kBlockSystemNameOffset, static_cast<std::uint32_t>(kBlockSize));
  for (std::size_t i = 0; i < systemName_.size(); ++i) Put16(out, kBlockSize + 2 * i, systemName_[i]);

  for (const ObjectSpec& o : objects_) {
    std::size_t obj = out.size();
    built.objects.push_back(obj);
    built.definitions.emplace_back();
    built.instances.emplace_back();
    built.counterBlocks.emplace_back();
    // Counter offsets inside the counter block, each aligned to its size.
    std::vector<std::uint32_t> offsets;
    std::size_t at = kCounterBlockSize;
    for (const CounterSpec& c : o.counters_) {
      std::uint32_t size = SizeOf(c);
      at = Align(at, size >= 8 ? 8 : (size >= 4 ? 4 : 1));
      offsets.push_back(static_cast<std::uint32_t>(at));
      at += size;
    }
    std::uint32_t blockLength = static_cast<std::uint32_t>(Align(at, 8));
    std::size_t definitionLength = kObjSize + kDefSize * o.counters_.size();
    out.resize(obj + definitionLength, 0);
    Put32(out, obj + kObjDefinitionLength, static_cast<std::uint32_t>(definitionLength));
    Put32(out, obj + kObjHeaderLength, static_cast<std::uint32_t>(kObjSize));
    Put32(out, obj + kObjNameTitleIndex, o.nameIndex_);
    Put32(out, obj + kObjHelpTitleIndex, o.nameIndex_ + 1);
    Put32(out, obj + kObjDetailLevel, 100);
    Put32(out, obj + kObjNumCounters, static_cast<std::uint32_t>(o.counters_.size()));
    Put32(out, obj + kObjDefaultCounter, 0);
    std::int32_t numInstances = o.mode_ == ObjectSpec::Mode::Single
                                    ? -1
                                    : static_cast<std::int32_t>(o.mode_ == ObjectSpec::Mode::Empty ? 0 : o.instances_.size());
    Put32(out, obj + kObjNumInstances, static_cast<std::uint32_t>(numInstances));
    Put32(out, obj + kObjCodePage, 0);
    Put64(out, obj + kObjPerfTime, static_cast<std::uint64_t>(o.perfTime_));
    Put64(out, obj + kObjPerfFreq, static_cast<std::uint64_t>(o.perfFreq_));
    for (std::size_t i = 0; i < o.counters_.size(); ++i) {
      const CounterSpec& c = o.counters_[i];
      std::size_t d = obj + kObjSize + kDefSize * i;
      built.definitions.back().push_back(d);
      Put32(out, d + kDefByteLength, static_cast<std::uint32_t>(kDefSize));
      Put32(out, d + kDefNameTitleIndex, c.nameIndex);
      Put32(out, d + kDefHelpTitleIndex, c.nameIndex + 1);
      Put32(out, d + kDefDetailLevel, 100);
      Put32(out, d + kDefCounterType, c.type);
      Put32(out, d + kDefCounterSize, SizeOf(c));
      Put32(out, d + kDefCounterOffset, offsets[i]);
    }
    if (o.mode_ == ObjectSpec::Mode::Single) {
      built.counterBlocks.back().push_back(out.size());
      AppendCounterBlock(out, o.counters_, offsets, blockLength, o.single_);
    } else if (o.mode_ == ObjectSpec::Mode::Instances) {
      for (const InstanceSpec& inst : o.instances_) {
        std::size_t p = out.size();
        built.instances.back().push_back(p);
        std::size_t nameLength = (inst.name.size() + 1) * 2;
        std::size_t byteLength = Align(kInstSize + nameLength, 8);
        out.resize(p + byteLength, 0);
        Put32(out, p + kInstByteLength, static_cast<std::uint32_t>(byteLength));
        Put32(out, p + kInstParentObjectTitleIndex, inst.parentObject);
        Put32(out, p + kInstParentObjectInstance, inst.parentInstance);
        Put32(out, p + kInstUniqueID, 0xFFFFFFFFu);  // PERF_NO_UNIQUE_ID
        Put32(out, p + kInstNameOffset, static_cast<std::uint32_t>(kInstSize));
        Put32(out, p + kInstNameLength, static_cast<std::uint32_t>(nameLength));
        for (std::size_t k = 0; k < inst.name.size(); ++k) Put16(out, p + kInstSize + 2 * k, inst.name[k]);
        built.counterBlocks.back().push_back(out.size());
        AppendCounterBlock(out, o.counters_, offsets, blockLength, inst.values);
      }
    }
    Put32(out, obj + kObjTotalByteLength, static_cast<std::uint32_t>(out.size() - obj));
  }
  Put32(out, kBlockTotalByteLength, static_cast<std::uint32_t>(out.size()));
  return built;
}

bool WriteNamesFile(const std::string& path, const NameList& names) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (const auto& n : names) out << n.first << '\n' << n.second << '\n';
  return static_cast<bool>(out);
}

bool WriteBlockFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

namespace {

bool ReadNumber(const std::string& token, std::uint64_t* value) {
  if (token.empty()) return false;
  try {
    std::size_t used = 0;
    *value = std::stoull(token, &used, 0);
    return used == token.size();
  } catch (const std::exception&) {
    return false;
  }
}

std::u16string Utf16FromAscii(const std::string& s) {
  std::u16string out;
  for (unsigned char c : s) out.push_back(c);
  return out;
}

}  // namespace

bool ParseBlockDescription(const std::string& text, BlockBuilder* b, NameList* names, std::string* error) {
  std::istringstream in(text);
  std::string line;
  int lineNo = 0;
  ObjectSpec* current = nullptr;
  auto fail = [&](const std::string& why) {
    *error = "line " + std::to_string(lineNo) + ": " + why;
    return false;
  };
  while (std::getline(in, line)) {
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream words(line);
    std::string keyword;
    if (!(words >> keyword) || keyword[0] == '#') continue;
    std::vector<std::string> args;
    std::string w;
    if (keyword == "name") {
      std::uint64_t index;
      if (!(words >> w) || !ReadNumber(w, &index)) return fail("name: index expected");
      std::string rest;
      std::getline(words, rest);
      std::size_t s = rest.find_first_not_of(" \t");
      if (s == std::string::npos) return fail("name: text expected");
      names->emplace_back(static_cast<std::uint32_t>(index), rest.substr(s));
      continue;
    }
    if (keyword == "instance") {
      if (current == nullptr) return fail("instance before any object");
      std::string rest;
      std::getline(words, rest);
      std::size_t q1 = rest.find('"');
      std::size_t q2 = q1 == std::string::npos ? q1 : rest.find('"', q1 + 1);
      if (q2 == std::string::npos) return fail("instance: quoted name expected");
      InstanceSpec inst;
      inst.name = Utf16FromAscii(rest.substr(q1 + 1, q2 - q1 - 1));
      std::istringstream tail(rest.substr(q2 + 1));
      while (tail >> w) args.push_back(w);
      std::size_t i = 0;
      if (!args.empty() && args[0] == "parent") {
        std::uint64_t po, pi;
        if (args.size() < 3 || !ReadNumber(args[1], &po) || !ReadNumber(args[2], &pi))
          return fail("instance: parent OBJECT INSTANCE expected");
        inst.parentObject = static_cast<std::uint32_t>(po);
        inst.parentInstance = static_cast<std::uint32_t>(pi);
        i = 3;
      }
      for (; i < args.size(); ++i) {
        std::uint64_t v;
        if (!ReadNumber(args[i], &v)) return fail("instance: value expected");
        inst.values.push_back(v);
      }
      current->Instance(inst.name, std::move(inst.values), inst.parentObject, inst.parentInstance);
      continue;
    }
    while (words >> w) args.push_back(w);
    std::vector<std::uint64_t> n;
    for (const std::string& a : args) {
      std::uint64_t v;
      if (ReadNumber(a, &v)) n.push_back(v);
    }
    if (keyword == "systemtime") {
      if (args.size() != 7 || n.size() != 7) return fail("systemtime: Y M D h m s ms expected");
      b->SystemTime(int(n[0]), int(n[1]), int(n[2]), int(n[3]), int(n[4]), int(n[5]), int(n[6]));
    } else if (keyword == "perftime" || keyword == "perffreq" || keyword == "perftime100nsec") {
      if (args.size() != 1 || n.size() != 1) return fail(keyword + ": one number expected");
      std::int64_t v = static_cast<std::int64_t>(n[0]);
      if (keyword == "perftime") b->PerfTime(v);
      else if (keyword == "perffreq") b->PerfFreq(v);
      else b->PerfTime100nSec(v);
    } else if (keyword == "object") {
      if (args.empty() || n.empty() || !ReadNumber(args[0], &n[0])) return fail("object: index expected");
      current = &b->Object(static_cast<std::uint32_t>(n[0]));
      for (std::size_t i = 1; i + 1 < args.size(); i += 2) {
        std::uint64_t v;
        if (!ReadNumber(args[i + 1], &v)) return fail("object: number expected after " + args[i]);
        if (args[i] == "perftime") current->PerfTime(static_cast<std::int64_t>(v));
        else if (args[i] == "perffreq") current->PerfFreq(static_cast<std::int64_t>(v));
        else return fail("object: unknown option " + args[i]);
      }
    } else if (keyword == "counter") {
      if (current == nullptr) return fail("counter before any object");
      if (args.size() < 2 || args.size() > 3 || n.size() != args.size()) return fail("counter: INDEX TYPE [SIZE] expected");
      current->Counter(static_cast<std::uint32_t>(n[0]), static_cast<std::uint32_t>(n[1]),
                       args.size() == 3 ? static_cast<std::uint32_t>(n[2]) : 0);
    } else if (keyword == "values") {
      if (current == nullptr) return fail("values before any object");
      if (n.size() != args.size()) return fail("values: numbers expected");
      current->Values(n);
    } else if (keyword == "noinstances") {
      if (current == nullptr) return fail("noinstances before any object");
      current->NoInstanceData();
    } else {
      return fail("unknown keyword " + keyword);
    }
  }
  return true;
}

}  // namespace perfbuild
