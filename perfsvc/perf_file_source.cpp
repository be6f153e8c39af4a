#include "perfsvc/perf_file_source.h"

#include "framework/ras1.h"
#include "perfsvc/perf_text.h"

#include <cstdio>
#include <algorithm>
#include <fstream>
#include <sstream>

namespace osmperf {

namespace {

// Reads a whole file; false when it cannot be opened or is larger than limit.
bool ReadWholeFile(const std::string& path, std::size_t limit, std::string* out, bool* tooLarge) {
  *tooLarge = false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  in.seekg(0, std::ios::end);
  std::streamoff end = in.tellg();
  if (end < 0) return false;
  if (static_cast<unsigned long long>(end) > limit) {
    *tooLarge = true;
    return false;
  }
  in.seekg(0, std::ios::beg);
  out->assign(static_cast<std::size_t>(end), '\0');
  if (end > 0 && !in.read(&(*out)[0], end)) return false;
  return true;
}

bool AllDigits(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

}  // namespace

bool ParseNamesFile(const std::string& bytes, std::vector<PerfNamePair>* pairs, std::string* error) {
  pairs->clear();
  std::size_t pos = 0;
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
  std::vector<std::string> lines;
  while (pos < bytes.size()) {
    std::size_t nl = bytes.find('\n', pos);
    std::string line = bytes.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    if (nl == std::string::npos) break;
    pos = nl + 1;
  }
  // Blank lines are allowed only after the last pair.
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  if (lines.empty()) {
    *error = "the file holds no names";
    return false;
  }
  if (lines.size() % 2 != 0) {
    *error = "line " + std::to_string(lines.size()) + ": index without a name";
    return false;
  }
  for (std::size_t i = 0; i < lines.size(); i += 2) {
    const std::string& idx = lines[i];
    if (!AllDigits(idx) || idx.size() > 8) {
      *error = "line " + std::to_string(i + 1) + ": a decimal index of at most 8 digits expected";
      return false;
    }
    unsigned long value = std::stoul(idx);
    if (value > 0xFFFFFFul) {
      *error = "line " + std::to_string(i + 1) + ": index above 16777215";
      return false;
    }
    if (lines[i + 1].empty()) {
      *error = "line " + std::to_string(i + 2) + ": empty name";
      return false;
    }
    bool ok = true;
    std::u16string name = FromUtf8(lines[i + 1], &ok);
    if (!ok) {
      *error = "line " + std::to_string(i + 2) + ": not valid UTF-8";
      return false;
    }
    if (name.find(u'\0') != std::u16string::npos) {
      *error = "line " + std::to_string(i + 2) + ": name holds a NUL character";
      return false;
    }
    pairs->push_back(PerfNamePair{static_cast<std::uint32_t>(value), std::move(name)});
  }
  return true;
}

CFilePerfSource::CFilePerfSource(std::string dataPath, std::string namesPath)
    : dataPath_(std::move(dataPath)), namesPath_(std::move(namesPath)) {}

long CFilePerfSource::LoadNames(std::vector<PerfNamePair>* pairs, PerfSourceStage* stage) {
  RAS1_UNIT("CFilePerfSource::LoadNames");
  if (namesPath_.empty()) {
    std::fprintf(stderr, "OSM_PERFNAMES_FILE is not set: no counter names for the data file.\n");
    RAS1_TRACE(RAS1_ERROR, "OSM_PERFNAMES_FILE is not set: no counter names for the data file");
    *stage = PerfSourceStage::OpenPerflib;
    return kErrorFileNotFound;
  }
  std::string bytes;
  bool tooLarge = false;
  if (!ReadWholeFile(namesPath_, 64u * 1024u * 1024u, &bytes, &tooLarge)) {
    std::fprintf(stderr, "Counter names file '%s' %s.\n", namesPath_.c_str(),
                 tooLarge ? "is too large" : "cannot be read");
    RAS1_TRACE(RAS1_ERROR, "Counter names file '%s' %s", namesPath_.c_str(),
               tooLarge ? "is too large" : "cannot be read");
    *stage = PerfSourceStage::OpenPerflib;
    return tooLarge ? kErrorInvalidData : kErrorFileNotFound;
  }
  std::string error;
  if (!ParseNamesFile(bytes, pairs, &error)) {
    std::fprintf(stderr, "Counter names file '%s' refused: %s.\n", namesPath_.c_str(), error.c_str());
    RAS1_TRACE(RAS1_ERROR, "Counter names file '%s' refused: %s", namesPath_.c_str(), error.c_str());
    *stage = PerfSourceStage::OpenPerflib;
    return kErrorInvalidData;
  }
  return kErrorSuccess;
}

long CFilePerfSource::QueryLastIndexes(std::uint32_t* lastCounter, std::uint32_t* lastHelp,
                                       PerfSourceStage* stage) {
  std::vector<PerfNamePair> pairs;
  long rc = LoadNames(&pairs, stage);
  if (rc != kErrorSuccess) return rc;
  std::uint32_t largest = 0;
  for (const PerfNamePair& p : pairs)
    if (p.index > largest) largest = p.index;
  *lastCounter = largest;
  *lastHelp = largest;
  return kErrorSuccess;
}

long CFilePerfSource::QueryCounterNames(std::u16string* multiString, PerfSourceStage* stage) {
  std::vector<PerfNamePair> pairs;
  long rc = LoadNames(&pairs, stage);
  if (rc != kErrorSuccess) {
    *stage = PerfSourceStage::ReadCounterNames;
    return rc;
  }
  multiString->clear();
  for (const PerfNamePair& p : pairs) {
    std::string idx = std::to_string(p.index);
    multiString->append(idx.begin(), idx.end());
    multiString->push_back(u'\0');
    multiString->append(p.name);
    multiString->push_back(u'\0');
  }
  multiString->push_back(u'\0');
  return kErrorSuccess;
}

long CFilePerfSource::QueryCounterText(std::string* multiString, PerfSourceStage* stage) {
  std::vector<PerfNamePair> pairs;
  long rc = LoadNames(&pairs, stage);
  if (rc != kErrorSuccess) {
    *stage = PerfSourceStage::ReadCounterText;
    return rc;
  }
  multiString->clear();
  for (const PerfNamePair& p : pairs) {
    multiString->append(std::to_string(p.index));
    multiString->push_back('\0');
    multiString->append(ToUtf8(p.name));
    multiString->push_back('\0');
  }
  multiString->push_back('\0');
  return kErrorSuccess;
}

long CFilePerfSource::QueryData(const char* request, std::uint8_t* buffer, std::uint32_t* size) {
  RAS1_UNIT("CFilePerfSource::QueryData");
  (void)request;
  if (dataPath_.empty()) return kErrorFileNotFound;
  std::string bytes;
  bool tooLarge = false;
  if (!ReadWholeFile(dataPath_, kMaxBlockBytes, &bytes, &tooLarge)) {
    RAS1_TRACE(RAS1_ERROR, "Performance data file '%s' %s", dataPath_.c_str(),
               tooLarge ? "is too large" : "cannot be read");
    return tooLarge ? kErrorInvalidData : kErrorFileNotFound;
  }
  std::uint32_t needed = static_cast<std::uint32_t>(bytes.size());
  if (buffer == nullptr || needed > *size) {
    *size = needed;
    return kErrorMoreData;
  }
  if (needed > 0) std::copy(bytes.begin(), bytes.end(), buffer);
  *size = needed;
  return kErrorSuccess;
}

std::string CFilePerfSource::ErrorText(long code) const {
  switch (code) {
    case kErrorFileNotFound: return "The file cannot be found or read.";
    case kErrorInvalidData: return "The file content is invalid.";
    default: return std::string();
  }
}

std::unique_ptr<IPerfDataSource> CreateFilePerfSourceFromEnvironment() {
  RAS1_UNIT("CreateFilePerfSourceFromEnvironment");
  const char* data = BSS1_GetEnv("OSM_PERFDATA_FILE", 0);
  if (data == nullptr || *data == 0) return nullptr;
  const char* names = BSS1_GetEnv("OSM_PERFNAMES_FILE", 0);
  RAS1_TRACE(RAS1_FLOW, "Performance data from file '%s', names from '%s'", data,
             names != nullptr ? names : "");
  return std::unique_ptr<IPerfDataSource>(
      new CFilePerfSource(data, names != nullptr ? names : std::string()));
}

}  // namespace osmperf
