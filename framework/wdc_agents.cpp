#include "framework/wdc_agents.h"

#include <cctype>
#include <cstdlib>

namespace wdc {
namespace {

enum class KeyKind { kText, kNumber, kKind, kUnit, kYesNo };

// The keys of a capability file, as data: where each value goes and its range.
struct Key {
  const char* name;
  KeyKind kind;
  std::string AgentCapability::*text;
  int AgentCapability::*number;
  std::int64_t AgentCapability::*wide;
  std::int64_t low, high;
};

const Key kKeys[] = {
    {"Name", KeyKind::kText, &AgentCapability::name, nullptr, nullptr, 0, 0},
    {"Process", KeyKind::kText, &AgentCapability::process, nullptr, nullptr, 0, 0},
    {"Kind", KeyKind::kKind, nullptr, nullptr, nullptr, 0, 0},
    {"Service", KeyKind::kText, &AgentCapability::service, nullptr, nullptr, 0, 0},
    {"Start", KeyKind::kText, &AgentCapability::start, nullptr, nullptr, 0, 0},
    {"Stop", KeyKind::kText, &AgentCapability::stop, nullptr, nullptr, 0, 0},
    {"Status", KeyKind::kText, &AgentCapability::status, nullptr, nullptr, 0, 0},
    {"Id", KeyKind::kText, &AgentCapability::id, nullptr, nullptr, 0, 0},
    {"Path", KeyKind::kText, &AgentCapability::path, nullptr, nullptr, 0, 0},
    {"Config", KeyKind::kText, &AgentCapability::config, nullptr, nullptr, 0, 0},
    {"Depends", KeyKind::kText, &AgentCapability::depends, nullptr, nullptr, 0, 0},
    {"Version", KeyKind::kText, &AgentCapability::version, nullptr, nullptr, 0, 0},
    {"Build", KeyKind::kText, &AgentCapability::build, nullptr, nullptr, 0, 0},
    {"AgentType", KeyKind::kNumber, nullptr, &AgentCapability::agentType, nullptr, 0, 7},
    {"CheckFrequency", KeyKind::kNumber, nullptr, &AgentCapability::checkFrequency, nullptr, 1, 86400},
    {"MaxRestarts", KeyKind::kNumber, nullptr, &AgentCapability::maxRestarts, nullptr, 0, 1000},
    {"MemoryThreshold", KeyKind::kNumber, nullptr, nullptr, &AgentCapability::memoryThreshold, 0,
     std::int64_t(1) << 40},
    {"MemoryUnit", KeyKind::kUnit, nullptr, nullptr, nullptr, 0, 0},
    {"CpuThreshold", KeyKind::kNumber, nullptr, nullptr, &AgentCapability::cpuThreshold, 0, 100},
    {"Managed", KeyKind::kYesNo, nullptr, nullptr, nullptr, 0, 0},
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
  switch (key.kind) {
    case KeyKind::kText:
      cap->*key.text = value;
      return true;
    case KeyKind::kNumber: {
      std::int64_t v = 0;
      if (!ParseNumber(value, key.low, key.high, &v)) return false;
      if (key.number) cap->*key.number = static_cast<int>(v);
      else cap->*key.wide = v;
      return true;
    }
    case KeyKind::kKind:
      if (SameText(value, "process")) cap->kind = kManageProcess;
      else if (SameText(value, "service")) cap->kind = kManageService;
      else return false;
      return true;
    case KeyKind::kUnit:
      if (SameText(value, "KB")) cap->memoryUnit = kUnitKB;
      else if (SameText(value, "MB")) cap->memoryUnit = kUnitMB;
      else if (SameText(value, "GB")) cap->memoryUnit = kUnitGB;
      else return false;
      return true;
    case KeyKind::kYesNo:
      if (SameText(value, "yes")) cap->managed = true;
      else if (SameText(value, "no")) cap->managed = false;
      else return false;
      return true;
  }
  return false;
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
