#include "collectors/files/watch_spec.h"

#include <cstring>

#include "framework/nlsxlat.h"

namespace osm {
namespace files {

const ChangeKind kChangeKinds[8] = {
    {"CFILENAME", 0x1},   {"CDIRNAME", 0x2},  {"CATTRIB", 0x4}, {"CSIZE", 0x8},
    {"CLASTWRITE", 0x10}, {"CLASTACCES", 0x20}, {"CCREATE", 0x40}, {"CSECURITY", 0x100},
};

namespace {

const std::size_t kSingleByteWidth = 260;
const std::size_t kUtf8Width = 392;

std::string Cut(const char* value, std::size_t width) {
  std::string s(value ? value : "");
  return s.size() > width ? s.substr(0, width) : s;
}

std::string Utf8ToSingleByte(const std::string& utf8) {
  char out[kSingleByteWidth];
  std::size_t written = 0;
  NLS2_TranslateString(NLS2_CS_UTF8, utf8.data(), utf8.size(), NLS2_CS_ASCII, out, sizeof out, &written, nullptr);
  return std::string(out, written);
}

std::string TrimRight(const std::string& s) {
  std::size_t n = s.size();
  while (n > 0 && s[n - 1] == ' ') --n;
  return s.substr(0, n);
}

bool IsYes(char c) { return c == 'y' || c == 'Y'; }

// One filter row as it is read: the single-byte and U-forms apart until the
// row closes.
struct RowReader {
  WatchSpec spec;
  bool hasDir = false, hasUdir = false, hasFile = false, hasUfile = false;
  std::string dirValue, fileValue;

  void Take(const FilterInfo& e) {
    const char* col = e.colName;
    const char* text = e.text ? e.text : "";
    if (std::strcmp(col, "UWATCHDIR") == 0) {
      spec.udir = Cut(text, kUtf8Width);
      spec.dir = Utf8ToSingleByte(spec.udir);
      hasUdir = true;
    } else if (std::strcmp(col, "UWATCHFILE") == 0) {
      spec.ufile = Cut(text, kUtf8Width);
      spec.file = Utf8ToSingleByte(spec.ufile);
      hasUfile = true;
    } else if (std::strcmp(col, "WATCHDIR") == 0) {
      dirValue = Cut(text, kSingleByteWidth);
      hasDir = true;
    } else if (std::strcmp(col, "WATCHFILE") == 0) {
      fileValue = Cut(text, kSingleByteWidth);
      hasFile = true;
    } else if (std::strcmp(col, "WATCHTREE") == 0) {
      spec.watchTree = text[0] ? text[0] : ' ';
    } else if (std::strcmp(col, "MONITORALL") == 0) {
      spec.monitorAll = text[0] ? text[0] : ' ';
    } else if (std::strcmp(col, "SAMPNUM") == 0 && e.valLen == 4 && e.value) {
      std::memcpy(&spec.sampleCount, e.value, 4);
      spec.hasSampleCount = true;
    } else {
      for (int k = 0; k < 8; ++k)
        if (std::strcmp(col, kChangeKinds[k].attribute) == 0) spec.kinds[k] = text[0] ? text[0] : ' ';
    }
  }

  // The finished watch; false when the row named no directory.
  bool Close(RAS1_EPB* unit) {
    bool traced = unit && (RAS1_Mask(unit) & RAS1_ERROR);
    if (hasUdir && hasDir && traced)
      RAS1_Printf(unit, __LINE__, "Found UWATCHDIR and WATCHDIR filters. Ignoring WATCHDIR filter.\n");
    if (hasUfile && hasFile && traced)
      RAS1_Printf(unit, __LINE__, "Found UWATCHFILE and WATCHFILE filters. Ignoring WATCHFILE filter.\n");
    if (!hasUdir && hasDir) spec.dir = spec.udir = dirValue;
    if (!hasUfile && hasFile) spec.file = spec.ufile = fileValue;
    if (!TrimRight(spec.udir).empty()) return true;
    if (traced)
      RAS1_Printf(unit, __LINE__,
                  "UWATCHDIR/UWATCHFILE filter was not provided. There is nothing to monitor. Ignoring this "
                  "situation.\n");
    return false;
  }
};

}  // namespace

std::vector<WatchSpec> ReadWatchSpecs(const std::vector<FilterInfo>& entries, RAS1_EPB* unit) {
  std::vector<WatchSpec> specs;
  RowReader row;
  bool open = false;
  for (const FilterInfo& e : entries) {
    if (e.colName == nullptr) continue;
    if (std::strcmp(e.colName, "PARMA") == 0) {
      if (open && row.Close(unit)) specs.push_back(row.spec);
      row = RowReader();
      open = false;
      continue;
    }
    if (unit && (RAS1_Mask(unit) & RAS1_DETAIL))
      RAS1_Printf(unit, __LINE__, "PARM[%s] = <%s>.\n", e.colName, e.text ? e.text : "");
    row.Take(e);
    open = true;
  }
  if (open && row.Close(unit)) specs.push_back(row.spec);
  return specs;
}

std::vector<FilterInfo> FilterEntries(dcfa& request) {
  std::vector<FilterInfo> entries;
  request.ResetFilterIndex();
  while (const FilterInfo* e = request.GetFilterInfo()) entries.push_back(*e);
  request.ResetFilterIndex();
  return entries;
}

std::uint32_t ChangeFilterMask(const WatchSpec& w) {
  if (IsYes(w.monitorAll)) return kAllChangeKinds;
  std::uint32_t mask = 0;
  for (int k = 0; k < 8; ++k)
    if (IsYes(w.kinds[k])) mask |= kChangeKinds[k].bit;
  return mask;
}

bool WatchesSubtree(const WatchSpec& w) { return IsYes(w.watchTree); }

bool WatchesOneFile(const WatchSpec& w) { return !FileName(w).empty(); }

std::string DirectoryPath(const WatchSpec& w) {
  std::string path = TrimRight(w.udir);
  if (path.empty() || (path.back() != '\\' && path.back() != '/')) path.push_back('\\');
  return path;
}

std::string FileName(const WatchSpec& w) { return TrimRight(w.ufile); }

}  // namespace files
}  // namespace osm
