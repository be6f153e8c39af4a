#include "collectors/watchdog/wdg_commands.h"

#include <cstdlib>

namespace osm {
namespace wdg {
namespace {

// Keywords in the order they are tried: "WDM_Start_Agent" also catches
// "WDM_Start_Agent_Inst".
const struct {
  const char* keyword;
  CommandType type;
} kKeywords[] = {
    {"WDM_Start_Agent", CommandType::kStartAgent},
    {"WDM_Stop_Agent", CommandType::kStopAgent},
    {"WDM_Start_Manage", CommandType::kStartManage},
    {"WDM_Stop_Manage", CommandType::kStopManage},
};

// Characters no agent, process or instance name may hold (the start command
// allows the first four only in agent names, as before).
const char kNameSpecials[] = "\\/:*?\"<>|";
const char kAgentSpecials[] = "!?\"*";

bool Holds(const std::string& text, const char* specials) { return text.find_first_of(specials) != std::string::npos; }

// The number after the trailing text's first blank (the whole text when it
// has none, so that a number written right after the quote is not lost).
std::string TrailingNumber(const std::string& trailing) {
  std::size_t blank = trailing.find(' ');
  return blank == std::string::npos ? trailing : trailing.substr(blank + 1);
}

}  // namespace

const char kInvalidInput[] = "Invalid input.";
const char kCallFailed[] = "An error occurred. Please check the event log for details.";

const char* SuccessMessage(CommandType type) {
  switch (type) {
    case CommandType::kStartAgent: return "Agent starting";
    case CommandType::kStopAgent: return "Agent stopping";
    case CommandType::kStartManage: return "Agent now managed.";
    case CommandType::kStopManage: return "Agent no longer managed.";
    default: return kInvalidInput;
  }
}

QuotedArguments ScanQuoted(const std::string& text) {
  QuotedArguments out;
  std::size_t pos = 0;
  while (true) {
    std::size_t open = text.find('"', pos);
    if (open == std::string::npos) break;
    std::size_t close = text.find('"', open + 1);
    if (close == std::string::npos || close == open + 1) break;
    out.args.push_back(text.substr(open + 1, close - open - 1));
    pos = close + 1;
  }
  out.trailing = text.substr(pos);
  return out;
}

Command ParseCommand(const std::string& text) {
  Command c;
  std::string head = text.substr(0, text.find('"'));
  for (const auto& k : kKeywords) {
    if (head.find(k.keyword) != std::string::npos) {
      c.type = k.type;
      break;
    }
  }
  QuotedArguments q = ScanQuoted(text);
  auto refuse = [&c](const char* why) {
    c.problem = why;
    return c;
  };
  switch (c.type) {
    case CommandType::kUnknown:
      return refuse("Unknown command.\n");
    case CommandType::kStartAgent: {
      if (q.args.size() < 2) return refuse("Invalid input. An agent and a process name are required.\n");
      c.agent = q.args[0];
      c.process = q.args[1];
      if (q.args.size() > 2) c.instance = q.args[2];
      if (Holds(c.agent, kAgentSpecials)) return refuse("Invalid input. Agent name contains special characters.\n");
      if (Holds(c.process, kNameSpecials) || Holds(c.instance, kNameSpecials))
        return refuse("Invalid input. Process name contains special characters.\n");
      std::string number = TrailingNumber(q.trailing);
      c.reset = std::atoi(number.empty() ? "0" : number.c_str());
      break;
    }
    case CommandType::kStopAgent: {
      if (q.args.size() < 2) return refuse("Invalid input. An agent and a process name are required.\n");
      c.agent = q.args[0];
      c.process = q.args[1];
      if (Holds(c.agent, kNameSpecials) || Holds(c.process, kNameSpecials))
        return refuse("Invalid input. Process name contains special characters.\n");
      std::string number = TrailingNumber(q.trailing);
      for (char ch : number)
        if (ch < '0' || ch > '9') return refuse("Invalid input. Process ID contains something other than digits.\n");
      std::size_t first = number.find_first_not_of('0');
      if (first != std::string::npos && number.size() - first > 7)
        return refuse("Invalid input. Process ID is out of range.\n");
      c.pid = number.empty() ? 0 : std::atoll(number.c_str());
      break;
    }
    case CommandType::kStartManage:
    case CommandType::kStopManage:
      if (q.args.empty()) return refuse("Invalid input. An agent name is required.\n");
      c.agent = q.args[0];
      if (Holds(c.agent, kNameSpecials)) return refuse("Invalid input. Agent name contains special characters.\n");
      break;
  }
  c.valid = true;
  return c;
}

}  // namespace wdg
}  // namespace osm
