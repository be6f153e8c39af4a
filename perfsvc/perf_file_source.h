// Performance data replayed from files.
//
//   OSM_PERFDATA_FILE   a file holding one raw PERF_DATA_BLOCK, exactly as a
//                       performance data query returns it; it is read afresh
//                       at every query, whatever objects are asked for.
//   OSM_PERFNAMES_FILE  the counter names: UTF-8 text, an index line then a
//                       name line, pair after pair (the 009 "Counter" pairs).
//                       The largest index serves as "Last Counter" and
//                       "Last Help". A malformed file is refused.
#pragma once

#include "perfsvc/perf_source.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace osmperf {

struct PerfNamePair {
  std::uint32_t index;
  std::u16string name;
};

// Parses the text of a names file. On failure returns false and describes the
// fault (with its line number) in *error.
bool ParseNamesFile(const std::string& bytes, std::vector<PerfNamePair>* pairs, std::string* error);

class CFilePerfSource : public IPerfDataSource {
 public:
  // Either path may be empty: its queries then fail with kErrorFileNotFound.
  CFilePerfSource(std::string dataPath, std::string namesPath);

  const char* Name() const override { return "file"; }
  long QueryLastIndexes(std::uint32_t* lastCounter, std::uint32_t* lastHelp,
                        PerfSourceStage* stage) override;
  long QueryCounterNames(std::u16string* multiString, PerfSourceStage* stage) override;
  long QueryCounterText(std::string* multiString, PerfSourceStage* stage) override;
  long QueryData(const char* request, std::uint8_t* buffer, std::uint32_t* size) override;
  std::string ErrorText(long code) const override;

  const std::string& DataPath() const { return dataPath_; }
  const std::string& NamesPath() const { return namesPath_; }

  // Largest file accepted as a block.
  static constexpr std::uint32_t kMaxBlockBytes = 256u * 1024u * 1024u;

 private:
  long LoadNames(std::vector<PerfNamePair>* pairs, PerfSourceStage* stage);

  std::string dataPath_;
  std::string namesPath_;
};

// The file source when OSM_PERFDATA_FILE is set (names from
// OSM_PERFNAMES_FILE), else null.
std::unique_ptr<IPerfDataSource> CreateFilePerfSourceFromEnvironment();

}  // namespace osmperf
