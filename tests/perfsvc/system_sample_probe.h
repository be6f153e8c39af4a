// Test helper: reads counters of a performance data block through the
// counter service's own samples (description, name resolution, arithmetic).
#pragma once

#include "perfsvc/perf_name.h"
#include "perfsvc/sample.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace systest {

inline std::u16string U16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// A sample of `object` with one double column (8 bytes) per counter name.
inline std::unique_ptr<osmperf::CSample> MakeSample(const std::string& object,
                                                    const std::vector<std::string>& counters) {
  std::string n = std::to_string(counters.size());
  std::string header = n + " 2 1 " + object + " (" + n;
  std::string sizes = std::to_string(8 * counters.size()), offsets, scales, types;
  for (std::size_t i = 0; i < counters.size(); ++i) {
    header += (i ? " , " : " ") + counters[i];
    sizes += " 8";
    offsets += (i ? " " : "") + std::to_string(8 * i);
    scales += i ? " 1" : "1";
    types += i ? " 100" : "100";
  }
  header += " )";
  std::unique_ptr<osmperf::CSample> s(new osmperf::CSample());
  std::u16string h = U16(header), z = U16(sizes), o = U16(offsets), c = U16(scales), t = U16(types);
  EXPECT_EQ(s->ProcessRawSampleDescription(h.c_str(), z.c_str(), o.c_str(), c.c_str(), t.c_str()),
            osmperf::kSampleOk)
      << header << ": " << s->DescriptionError();
  return s;
}

// Resolves the sample's names; every counter must be known.
inline void Resolve(osmperf::CSample& s, const osmperf::CSnapCatalog& catalogue, const osmperf::CPerfName& names) {
  ASSERT_EQ(s.ConvertNamesToNumbers(catalogue, names), osmperf::kSampleOk);
  ASSERT_TRUE(s.Valid());
  for (const osmperf::SampleColumn& c : s.Columns())
    EXPECT_NE(c.counterIndex, 0u) << std::string(c.name.begin(), c.name.end()) << " is not in the object";
}

// Updates the sample from its object in block; false when the block lacks it.
inline bool Feed(osmperf::CSample& s, const osmperf::CPerfBlock& block) {
  osmperf::CObjectWalker objects(block);
  osmperf::CPerfObject object;
  if (!objects.Find(s.ObjectIndex(), &object)) return false;
  s.Update(block, object);
  return true;
}

inline double Value(const osmperf::CSample& s, std::size_t row, std::size_t column) {
  return s.Row(row).Cell(column).Value();
}

inline std::string RowName(const osmperf::CSample& s, std::size_t row) {
  const std::u16string& n = s.Row(row).Name();
  return std::string(n.begin(), n.end());
}

}  // namespace systest
