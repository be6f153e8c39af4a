// The local watchdog's knowledge of one supervised agent: its capability file.
//
// A capability file is plain text, one "Key = Value" per line; blank lines and
// lines starting with '#' or ';' are ignored, keys are matched in any case.
//   Name             agent name (required)
//   Process          image name of its process, e.g. uxagent.exe (required)
//   Kind             "process" (the watchdog runs Start) or "service" (the
//                    service manager runs Service); default process
//   Service          service name (required for Kind service)
//   Start            command line that starts a process agent (required for
//                    Kind process)
//   Stop             command line that stops it; default: end the process
//   Status           command line whose exit code 0 says it runs; default:
//                    the process (or the service) is looked at directly
//   Id               subagent id; default: the file name without extension
//   Path, Config, Depends, Version, Build   shown in the tables only
//   AgentType        0 to 7, the agent's type number; default 0
//   CheckFrequency   seconds between health checks, 1 to 86400; default 60
//   MaxRestarts      automatic restarts within 24 hours, 0 to 1000; default 4
//   MemoryThreshold  working set above which an alert is raised; 0 (the
//                    default) for none
//   MemoryUnit       KB, MB (default) or GB
//   CpuThreshold     processor percent (of the whole machine) above which
//                    an alert is raised, 0 to 100; 0 (the default) for none
//   Managed          yes (default) or no: whether the watchdog supervises it
// No platform calls: the platform side reads the files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wdc {

// How the watchdog controls an agent (its manage type).
enum ManageType { kManageProcess = 0, kManageService = 1 };
// Memory threshold units.
enum MemoryUnit { kUnitKB = 10, kUnitMB = 20, kUnitGB = 30 };

struct AgentCapability {
  std::string file;           // file name the capability came from
  std::int64_t fileTime = 0;  // its modification time, seconds since 1970 (UTC)
  std::string id, name, process, service, start, stop, status, path, config, depends, version, build;
  int kind = kManageProcess;
  int agentType = 0;
  int checkFrequency = 60;
  int maxRestarts = 4;
  std::int64_t memoryThreshold = 0;
  int memoryUnit = kUnitMB;
  std::int64_t cpuThreshold = 0;
  int managed = 1;  // 1 supervised from the start, 0 not

  // The memory threshold in bytes, 0 for none.
  std::int64_t MemoryThresholdBytes() const;
};

// Parses the text of the capability file named fileName (used for the default
// id). Every problem is appended to *problems as "FILE(LINE): reason" or
// "FILE: reason". Returns false when the agent cannot be supervised (a
// required key is missing); unknown keys and bad values are problems only.
bool ParseCapability(const std::string& text, const std::string& fileName, AgentCapability* out,
                     std::vector<std::string>* problems);

// True when image names a process image of the capability: the same name in
// any letter case, with or without ".exe".
bool SameImageName(const std::string& a, const std::string& b);
// ASCII case-insensitive equality.
bool SameText(const std::string& a, const std::string& b);

}  // namespace wdc
