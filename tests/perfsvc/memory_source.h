// An in-memory performance data source for tests, fuzzers and benchmarks:
// serves a name list and a block (or a queue of blocks) as the registry would.
#pragma once

#include "perfsvc/perf_source.h"
#include "tests/perfsvc/perf_block_builder.h"

#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace perfbuild {

class MemoryPerfSource : public osmperf::IPerfDataSource {
 public:
  MemoryPerfSource() = default;
  MemoryPerfSource(NameList names, std::vector<std::uint8_t> block)
      : names_(std::move(names)), block_(std::move(block)) {}

  void SetNames(NameList names) { names_ = std::move(names); }
  void SetBlock(std::vector<std::uint8_t> block) { block_ = std::move(block); }
  // Overrides "Last Counter"/"Last Help" (by default the largest index).
  void SetLastIndexes(std::uint32_t counter, std::uint32_t help) {
    lastCounter_ = counter;
    lastHelp_ = help;
    fixedLast_ = true;
  }
  // Fails the stage given with code (None: no failure).
  void FailAt(osmperf::PerfSourceStage stage, long code) {
    failStage_ = stage;
    failCode_ = code;
  }
  // Answers kErrorMoreData until the buffer holds at least this many bytes
  // (0: the block's own size), reporting no needed size.
  void RequireBuffer(std::uint32_t bytes) { required_ = bytes; }
  // Always answers kErrorMoreData.
  void AlwaysMoreData(bool on) { alwaysMore_ = on; }

  int queries = 0;
  std::string lastRequest;

  const char* Name() const override { return "memory"; }
  long QueryLastIndexes(std::uint32_t* lastCounter, std::uint32_t* lastHelp,
                        osmperf::PerfSourceStage* stage) override {
    using osmperf::PerfSourceStage;
    for (PerfSourceStage s : {PerfSourceStage::Connect, PerfSourceStage::OpenPerflib,
                              PerfSourceStage::LastCounter, PerfSourceStage::LastHelp})
      if (Fails(s, stage)) return failCode_;
    std::uint32_t largest = 0;
    for (const auto& n : names_)
      if (n.first > largest) largest = n.first;
    *lastCounter = fixedLast_ ? lastCounter_ : largest;
    *lastHelp = fixedLast_ ? lastHelp_ : largest;
    return 0;
  }
  long QueryCounterNames(std::u16string* multiString, osmperf::PerfSourceStage* stage) override {
    if (Fails(osmperf::PerfSourceStage::ReadCounterNames, stage)) return failCode_;
    *multiString = MultiString<std::u16string>();
    return 0;
  }
  long QueryCounterText(std::string* multiString, osmperf::PerfSourceStage* stage) override {
    if (Fails(osmperf::PerfSourceStage::ReadCounterText, stage)) return failCode_;
    *multiString = MultiString<std::string>();
    return 0;
  }
  long QueryData(const char* request, std::uint8_t* buffer, std::uint32_t* size) override {
    ++queries;
    lastRequest = request;
    if (failStage_ == osmperf::PerfSourceStage::QueryData) return failCode_;
    std::uint32_t needed = static_cast<std::uint32_t>(block_.size());
    if (required_ > needed) needed = required_;
    if (alwaysMore_ || *size < needed) {
      *size = 0;
      return osmperf::kErrorMoreData;
    }
    if (!block_.empty()) std::memcpy(buffer, block_.data(), block_.size());
    *size = static_cast<std::uint32_t>(block_.size());
    return 0;
  }

 private:
  bool Fails(osmperf::PerfSourceStage at, osmperf::PerfSourceStage* stage) const {
    if (failStage_ != at) return false;
    *stage = at;
    return true;
  }
  // Index, name, index, name, ..., then an empty string, as Perflib lists them.
  template <typename Text>
  Text MultiString() const {
    Text out;
    for (const auto& n : names_) {
      for (char c : std::to_string(n.first) + '\0' + n.second) out.push_back(static_cast<unsigned char>(c));
      out.push_back(0);
    }
    out.push_back(0);
    return out;
  }

  NameList names_;
  std::vector<std::uint8_t> block_;
  bool fixedLast_ = false;
  std::uint32_t lastCounter_ = 0, lastHelp_ = 0;
  osmperf::PerfSourceStage failStage_ = osmperf::PerfSourceStage::None;
  long failCode_ = 0;
  std::uint32_t required_ = 0;
  bool alwaysMore_ = false;
};

}  // namespace perfbuild
