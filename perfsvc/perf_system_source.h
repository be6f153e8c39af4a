// Performance data assembled from the platform's own interfaces, for systems
// whose performance registry publishes no objects (Wine, stripped-down
// installations). Windows only.
//
// Each query reads the processor times, memory status, kernel counters,
// process and thread list, volumes, page files, network interfaces and
// protocol statistics that the asked-for objects need, and lays them out as
// a PERF_DATA_BLOCK with the counter types Windows gives these counters. The
// counter names come from the source's own name table (sysperf::NameTable).
#pragma once

#include "perfsvc/perf_source.h"
#include "perfsvc/perf_system_objects.h"

#include <cstdint>
#include <memory>
#include <string>

namespace osmperf {

class CSystemPerfSource : public IPerfDataSource {
 public:
  // Reads the platform once to learn which counters it really maintains.
  CSystemPerfSource();
  ~CSystemPerfSource() override;
  CSystemPerfSource(const CSystemPerfSource&) = delete;
  CSystemPerfSource& operator=(const CSystemPerfSource&) = delete;

  const char* Name() const override { return "system"; }
  long QueryLastIndexes(std::uint32_t* lastCounter, std::uint32_t* lastHelp,
                        PerfSourceStage* stage) override;
  long QueryCounterNames(std::u16string* multiString, PerfSourceStage* stage) override;
  long QueryCounterText(std::string* multiString, PerfSourceStage* stage) override;
  long QueryData(const char* request, std::uint8_t* buffer, std::uint32_t* size) override;
  std::string ErrorText(long code) const override;

  const sysperf::SystemSupply& Supply() const;

  // A block that did not fit is kept this long for the caller's retry with
  // a larger buffer, so the retry sees the same data.
  static constexpr std::uint32_t kRetryKeepMs = 2000;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The block header and the platform readings that the objects of `wanted`
// need (an empty list reads the header only).
sysperf::SystemReadings ReadSystem(const std::vector<std::uint32_t>& wanted);

}  // namespace osmperf
