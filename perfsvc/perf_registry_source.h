// Performance data and counter names from the Windows registry:
// HKEY_PERFORMANCE_DATA, the Perflib keys and HKEY_PERFORMANCE_TEXT.
// Windows only.
#pragma once

#include "perfsvc/perf_snap.h"
#include "perfsvc/perf_source.h"
#include "perfsvc/sample.h"

#include <memory>
#include <string>

namespace osmperf {

class CRegistryPerfSource : public IPerfDataSource {
 public:
  // computerName null or empty: the local computer.
  explicit CRegistryPerfSource(const char* computerName = nullptr);
  ~CRegistryPerfSource() override;
  CRegistryPerfSource(const CRegistryPerfSource&) = delete;
  CRegistryPerfSource& operator=(const CRegistryPerfSource&) = delete;

  const char* Name() const override { return "registry"; }
  long QueryLastIndexes(std::uint32_t* lastCounter, std::uint32_t* lastHelp,
                        PerfSourceStage* stage) override;
  long QueryCounterNames(std::u16string* multiString, PerfSourceStage* stage) override;
  long QueryCounterText(std::string* multiString, PerfSourceStage* stage) override;
  long QueryData(const char* request, std::uint8_t* buffer, std::uint32_t* size) override;
  std::string ErrorText(long code) const override;

  // Reads of a name value give up after this many growing attempts.
  static constexpr int kMaxNameAttempts = 16;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The source the service uses: the one OSM_PERF_SOURCE or osmperf.ini
// names (perf_source_select.h); without that setting the file source when
// OSM_PERFDATA_FILE is set, otherwise the registry of computerName (null:
// the local computer).
std::unique_ptr<IPerfDataSource> OsmCreatePerfSource(const char* computerName);

// UTC to local time with the system's time-zone rules, fetched once.
UtcToLocalFn WindowsUtcToLocal();

// The working set of the own process, for the leak check.
bool OsmWorkingSetBytes(std::uint64_t* bytes);

}  // namespace osmperf
