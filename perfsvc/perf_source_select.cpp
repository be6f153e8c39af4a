#include "perfsvc/perf_source_select.h"

#include "framework/ras1.h"
#include "perfsvc/perf_file_source.h"
#include "perfsvc/perf_registry_source.h"
#include "perfsvc/perf_system_source.h"

#include <windows.h>

#include <cstdio>

namespace osmperf {

PerfSourceKind ParsePerfSourceKind(const std::string& value) {
  std::size_t first = value.find_first_not_of(" \t");
  if (first == std::string::npos) return PerfSourceKind::Default;
  std::size_t last = value.find_last_not_of(" \t");
  std::string word;
  for (std::size_t i = first; i <= last; ++i) {
    char c = value[i];
    word.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
  }
  if (word == "registry") return PerfSourceKind::Registry;
  if (word == "file") return PerfSourceKind::File;
  if (word == "system") return PerfSourceKind::System;
  return PerfSourceKind::Invalid;
}

PerfSourceKind ConfiguredPerfSourceKind(std::string* origin, std::string* value, const char* profile) {
  std::string from, text;
  const char* env = BSS1_GetEnv("OSM_PERF_SOURCE", 0);
  if (env != nullptr && *env != 0) {
    from = "OSM_PERF_SOURCE";
    text = env;
  } else if (profile != nullptr && *profile != 0) {
    char buffer[64] = {0};
    GetPrivateProfileStringA("osmperf", "PerfSource", "", buffer, sizeof buffer, profile);
    if (buffer[0] != 0) {
      from = "osmperf.ini";
      text = buffer;
    }
  }
  if (origin != nullptr) *origin = from;
  if (value != nullptr) *value = text;
  return ParsePerfSourceKind(text);
}

std::unique_ptr<IPerfDataSource> CreateConfiguredPerfSource(const char* computerName, const char* profile) {
  RAS1_UNIT("CreateConfiguredPerfSource");
  std::string origin, value;
  switch (ConfiguredPerfSourceKind(&origin, &value, profile)) {
    case PerfSourceKind::Default:
      return nullptr;
    case PerfSourceKind::Invalid:
      std::fprintf(stderr, "Performance data source '%s' (%s) is not registry, file or system; ignored.\n",
                   value.c_str(), origin.c_str());
      RAS1_TRACE(RAS1_ERROR, "Performance data source '%s' (%s) is not registry, file or system; ignored",
                 value.c_str(), origin.c_str());
      return nullptr;
    case PerfSourceKind::Registry:
      RAS1_TRACE(RAS1_FLOW, "Performance data from the registry, as %s asks", origin.c_str());
      return std::unique_ptr<IPerfDataSource>(new CRegistryPerfSource(computerName));
    case PerfSourceKind::File: {
      RAS1_TRACE(RAS1_FLOW, "Performance data from files, as %s asks", origin.c_str());
      std::unique_ptr<IPerfDataSource> file = CreateFilePerfSourceFromEnvironment();
      if (file) return file;
      // Asked for explicitly: without a data file every query fails and says so.
      const char* names = BSS1_GetEnv("OSM_PERFNAMES_FILE", 0);
      std::fprintf(stderr, "The file source is selected but OSM_PERFDATA_FILE is not set.\n");
      RAS1_TRACE(RAS1_ERROR, "The file source is selected but OSM_PERFDATA_FILE is not set");
      return std::unique_ptr<IPerfDataSource>(
          new CFilePerfSource(std::string(), names != nullptr ? names : std::string()));
    }
    case PerfSourceKind::System:
      // The platform interfaces describe this computer only: for another
      // computer the setting is ignored rather than answered with local data.
      if (computerName != nullptr && *computerName != 0) {
        std::fprintf(stderr, "The system source reads the local computer only; ignored for '%s'.\n", computerName);
        RAS1_TRACE(RAS1_ERROR, "The system source reads the local computer only; ignored for '%s'", computerName);
        return nullptr;
      }
      RAS1_TRACE(RAS1_FLOW, "Performance data from the platform interfaces, as %s asks", origin.c_str());
      return std::unique_ptr<IPerfDataSource>(new CSystemPerfSource());
  }
  return nullptr;
}

}  // namespace osmperf
