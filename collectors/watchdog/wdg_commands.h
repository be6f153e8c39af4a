// The take-action commands of the watchdog, read from their text:
//   WDM_Start_Agent "AGENT" "PROCESS" ["INSTANCE"] [RESET]
//   WDM_Stop_Agent  "AGENT" "PROCESS" [PID]
//   WDM_Start_Manage "AGENT"
//   WDM_Stop_Manage  "AGENT"
// The keyword is looked for only before the first double quote, so that no
// argument can choose the command. Arguments are the texts between pairs of
// double quotes; the scan ends at the first missing quote or empty argument.
// RESET and PID are read from the text after the last argument. No platform
// calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace osm {
namespace wdg {

enum class CommandType { kUnknown = 0, kStartAgent = 1, kStopAgent = 2, kStartManage = 3, kStopManage = 4 };

struct QuotedArguments {
  std::vector<std::string> args;
  std::string trailing;  // what follows the last closing quote
};
QuotedArguments ScanQuoted(const std::string& text);

struct Command {
  CommandType type = CommandType::kUnknown;
  bool valid = false;
  std::string agent, process, instance;
  int reset = 0;          // start: 1 resets the agent's restart count
  std::int64_t pid = 0;   // stop: 0 for whatever process runs
  std::string problem;    // why it is refused (for the trace)
};
Command ParseCommand(const std::string& text);

extern const char kInvalidInput[];  // "Invalid input."
extern const char kCallFailed[];    // the watchdog refused or failed
// The message of a command carried out.
const char* SuccessMessage(CommandType type);

}  // namespace wdg
}  // namespace osm
