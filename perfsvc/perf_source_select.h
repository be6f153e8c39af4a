// Which performance data source the counter service reads.
//
//   OSM_PERF_SOURCE      environment variable: registry, file or system
//   osmperf.ini          [osmperf] PerfSource=registry|file|system
//
// The environment variable wins over the profile. Without either setting the
// service keeps its default: the file source when OSM_PERFDATA_FILE is set,
// otherwise the registry. "file" reads OSM_PERFDATA_FILE and
// OSM_PERFNAMES_FILE; "system" assembles the data from platform interfaces.
#pragma once

#include "perfsvc/perf_source.h"

#include <memory>
#include <string>

namespace osmperf {

enum class PerfSourceKind { Default, Registry, File, System, Invalid };

// A setting value, without regard to case or surrounding blanks; empty gives
// Default, an unknown word Invalid.
PerfSourceKind ParsePerfSourceKind(const std::string& value);

// The configured source kind; *origin (optional) tells where it came from
// ("OSM_PERF_SOURCE", "osmperf.ini" or "" for none) and *value the text.
PerfSourceKind ConfiguredPerfSourceKind(std::string* origin = nullptr, std::string* value = nullptr,
                                        const char* profile = "osmperf.ini");

// The source the setting asks for, or null when there is no valid setting
// (the caller then keeps its default). An invalid value, and "system" for a
// remote computer, are reported on the error stream and in the trace and
// count as no setting.
std::unique_ptr<IPerfDataSource> CreateConfiguredPerfSource(const char* computerName,
                                                            const char* profile = "osmperf.ini");

}  // namespace osmperf
