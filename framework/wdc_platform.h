// The platform side of the local watchdog: processes and services through the
// Win32 API, and the capability files on disk. A thin shell; the decisions are
// in wdc_supervisor.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "framework/wdc_supervisor.h"

namespace wdc {

std::unique_ptr<AgentControl> MakePlatformControl();

struct CapabilityFile {
  std::string name;       // file name (UTF-8), no folder
  std::string text;
  std::int64_t time = 0;  // modification time, seconds since 1970
};
// Every "*.cap" file of the folder (UTF-8 path), in name order. *found is
// false when the folder does not exist.
std::vector<CapabilityFile> ReadCapabilityFiles(const std::string& folder, bool* found);

struct OsFacts {
  int type = 0;  // the platform id (2: the Windows NT family)
  std::string name, version;
};
const OsFacts& PlatformOs();

}  // namespace wdc
