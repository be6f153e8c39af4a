// A strict reader of the sample description grammar, for checking the
// string table: it refuses anything malformed instead of reading it as 0.
#pragma once

#include <string>
#include <vector>

namespace osmtest {

struct SampleDescription {
  int columns = 0;
  int rows = 0;        // rows the agent preallocates
  int objectFlag = 0;  // non-zero: reads a performance object
  std::string object;
  std::vector<std::string> names;
  int rowSize = 0;
  std::vector<int> widths;
  std::vector<int> offsets;
  std::vector<double> scales;
  std::vector<int> types;
};

struct FixedDataDescription {
  std::vector<std::string> names;
  std::vector<int> widths;
  std::vector<int> offsets;
};

// Each returns false with a reason in *error when the text does not follow
// the grammar or the counts disagree.
bool ReadSampleDescription(const std::string& header, const std::string& sizes,
                           const std::string& offsets, const std::string& scales,
                           const std::string& types, SampleDescription* out,
                           std::string* error);

bool ReadFixedDataDescription(const std::string& header, const std::string& sizes,
                              const std::string& offsets, FixedDataDescription* out,
                              std::string* error);

}  // namespace osmtest
