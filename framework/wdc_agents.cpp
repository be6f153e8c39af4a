#include "framework/wdc_agents.h"

#include <cctype>
#include <cstdlib>

namespace wdc {
namespace {

enum class KeyKind { kText, kNumber, kChoice };

// The words a choice key accepts and the number each stands for.
struct Choice {
  const char* word;
  int value;
};
const Choice kKinds[] = {{"process", kManageProcess}, {"service", kManageService}, {nullptr, 0}};
const Choice kUnits[] = {{"KB", kUnitKB}, {"MB", kUnitMB}, {"GB", kUnitGB}, {nullptr, 0}};
const Choice kYesNo[] = {{"yes", 1}, {"no", 0}, {nullptr, 0}};

// The keys of a capability file, as data: where each value goes and its range
// or choices.
struct Key {
  const char* name;
  KeyKind kind;
  std::string AgentCapability::*text;
  int AgentCapability::*number;
  std::int64_t AgentCapability::*wide;
  std::int64_t low, high;
  const Choice* choices;
};

const Key kKeys[] = {
    {"Name", KeyKind::kText, &AgentCapability::name, nullptr, nullptr, 0, 0, nullptr},
    {"Process", KeyKind::kText, &AgentCapability::process, nullptr, nullptr, 0, 0, nullptr},
    {"Kind", KeyKind::kChoice, nullptr, &AgentCapability::kind, nullptr, 0, 0, kKinds},
    {"Service", KeyKind::kText, &AgentCapability::service, nullptr, nullptr, 0, 0, nullptr},
    {"Start", KeyKind::kText, &AgentCapability::start, nullptr, nullptr, 0, 0, nullptr},
    {"Stop", KeyKind::kText, &AgentCapability::stop, nullptr, nullptr, 0, 0, nullptr},
    {"Status", KeyKind::kText, &AgentCapability::status, nullptr, nullptr, 0, 0, nullptr},
    {"Id", KeyKind::kText, &AgentCapability::id, nullptr, nullptr, 0, 0, nullptr},
    {"Path", KeyKind::kText, &AgentCapability::path, nullptr, nullptr, 0, 0, nullptr},
    {"Config", KeyKind::kText, &AgentCapability::config, nullptr, nullptr, 0, 0, nullptr},
    {"Depends", KeyKind::kText, &AgentCapability::depends, nullptr, nullptr, 0, 0, nullptr},
    {"Version", KeyKind::kText, &AgentCapability::version, nullptr, nullptr, 0, 0, nullptr},
    {"Build", KeyKind::kText, &AgentCapability::build, nullptr, nullptr, 0, 0, nullptr},
    {"AgentType", KeyKind::kNumber, nullptr, &AgentCapability::agentType, nullptr, 0, 7, nullptr},
    {"CheckFrequency", KeyKind::kNumber, nullptr, &AgentCapability::checkFrequency, nullptr, 1, 86400, nullptr},
    {"MaxRestarts", KeyKind::kNumber, nullptr, &AgentCapability::maxRestarts, nullptr, 0, 1000, nullptr},
    {"MemoryThreshold", KeyKind::kNumber, nullptr, nullptr, &AgentCapability::memoryThreshold, 0,
     std::int64_t(1) << 40, nullptr},
    {"MemoryUnit", KeyKind::kChoice, nullptr, &AgentCapability::memoryUnit, nullptr, 0, 0, kUnits},
    {"CpuThreshold", KeyKind::kNumber, nullptr, nullptr, &AgentCapability::cpuThreshold, 0, 100, nullptr},
    {"Managed", KeyKind::kChoice, nullptr, &AgentCapability::managed, nullptr, 0, 0, kYesNo},
};

std::string Trim(const std::string& s) {
  std::size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return std::string();
  return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

bool ParseNumber(const std::string& text, std::int64_t low, std::int64_t high, std::int64_t* out) {
  if (text.empty() || text.size() > 15) return false;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  std::int64_t v = std::strtoll(text.c_str(), nullptr, 10);
  if (v < low || v > high) return false;
  *out = v;
  return true;
}

// Applies one value; false when it is not acceptable for the key.
bool Apply(const Key& key, const std::string& value, AgentCapability* cap) {
  if (key.kind == KeyKind::kText) {
    cap->*key.text = value;
    return true;
  }
  if (key.kind == KeyKind::kChoice) {
    for (const Choice* c = key.choices; c->word; ++c) {
      if (SameText(value, c->word)) {
        cap->*key.number = c->value;
        return true;
      }
    }
    return false;
  }
  std::int64_t v = 0;
  if (!ParseNumber(value, key.low, key.high, &v)) return false;
  if (key.number) cap->*key.number = static_cast<int>(v);
  else cap->*key.wide = v;
  return true;
}

std::string BaseName(const std::string& fileName) {
  std::size_t slash = fileName.find_last_of("\\/");
  std::string base = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
  std::size_t dot = base.rfind('.');
  return dot == std::string::npos || dot == 0 ? base : base.substr(0, dot);
}

}  // namespace

std::int64_t AgentCapability::MemoryThresholdBytes() const {
  int shift = memoryUnit == kUnitKB ? 10 : memoryUnit == kUnitGB ? 30 : 20;
  return memoryThreshold << shift;
}

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

bool SameImageName(const std::string& a, const std::string& b) {
  auto stem = [](const std::string& s) {
    return s.size() > 4 && SameText(s.substr(s.size() - 4), ".exe") ? s.substr(0, s.size() - 4) : s;
  };
  return !a.empty() && SameText(stem(a), stem(b));
}

bool ParseCapability(const std::string& text, const std::string& fileName, AgentCapability* out,
                     std::vector<std::string>* problems) {
  AgentCapability cap;
  cap.file = fileName;
  auto problem = [&](std::size_t line, const std::string& why) {
    problems->push_back(line ? fileName + "(" + std::to_string(line) + "): " + why : fileName + ": " + why);
  };
  std::size_t lineNo = 0, at = 0;
  while (at <= text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = Trim(text.substr(at, end - at));
    at = end + 1;
    ++lineNo;
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    std::size_t eq = line.find('=');
    if (eq == std::string::npos) {
      problem(lineNo, "no '=' in the line");
      continue;
    }
    std::string name = Trim(line.substr(0, eq)), value = Trim(line.substr(eq + 1));
    const Key* key = nullptr;
    for (const Key& k : kKeys)
      if (SameText(k.name, name)) key = &k;
    if (key == nullptr) problem(lineNo, "unknown key " + name);
    else if (!Apply(*key, value, &cap)) problem(lineNo, "bad value for " + name + ": " + value);
  }
  if (cap.id.empty()) cap.id = BaseName(fileName);
  bool usable = true;
  auto require = [&](bool present, const char* what) {
    if (!present) {
      problem(0, std::string("no ") + what);
      usable = false;
    }
  };
  require(!cap.name.empty(), "Name");
  require(!cap.process.empty(), "Process");
  if (cap.kind == kManageService) require(!cap.service.empty(), "Service");
  else require(!cap.start.empty(), "Start");
  if (usable) *out = cap;
  return usable;
}

}  // namespace wdc
