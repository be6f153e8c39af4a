#include "collectors/files/file_facts.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "collectors/files/change_notices.h"
#include "framework/cfw.h"

namespace osm {
namespace files {
namespace {

bool ToLocal(const FILETIME& utc, OsmSystemTime* out, RAS1_EPB* unit) {
  FILETIME local;
  if (!FileTimeToLocalFileTime(&utc, &local)) {
    if (unit && (RAS1_Mask(unit) & RAS1_ERROR))
      RAS1_Printf(unit, __LINE__, "FileTimeToLocalFileTime error %lu", GetLastError());
    return false;
  }
  if (!FileTimeToSystemTime(&local, out)) {
    if (unit && (RAS1_Mask(unit) & RAS1_ERROR))
      RAS1_Printf(unit, __LINE__, "FileTimeToSystemTime error %lu", GetLastError());
    return false;
  }
  return true;
}

FileFacts FactsOf(DWORD attributes, DWORD sizeHigh, DWORD sizeLow, const FILETIME& created, const FILETIME& written,
                  RAS1_EPB* unit) {
  FileFacts f;
  f.found = true;
  f.attributes = attributes;
  f.size = static_cast<std::int64_t>((static_cast<std::uint64_t>(sizeHigh) << 32) | sizeLow);
  ToLocal(created, &f.created, unit);
  ToLocal(written, &f.written, unit);
  return f;
}

FileFacts NotFound() {
  FileFacts f;
  f.attributes = INVALID_FILE_ATTRIBUTES;
  return f;
}

std::wstring ParentOf(const std::wstring& path) {
  std::size_t cut = path.find_last_of(L"\\/");
  return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut + 1);
}

}  // namespace

std::wstring ToWide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

std::wstring PlatformPath(const std::wstring& path) {
  if (path.size() < MAX_PATH || path.compare(0, 4, L"\\\\?\\") == 0) return path;
  // The long form is taken as it is written: only backslashes separate.
  std::wstring p(path);
  std::replace(p.begin(), p.end(), L'/', L'\\');
  if (p.size() > 2 && p[1] == L':' && p[2] == L'\\') return L"\\\\?\\" + p;
  if (p.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + p.substr(2);
  return path;  // relative: the platform resolves it as it can
}

std::wstring PlatformPath(const std::string& utf8) {
  return PlatformPath(ToWide(Utf8ToUtf16(utf8.data(), utf8.size())));
}

FileFacts ExamineFile(const std::wstring& path) {
  RAS1_UNIT("osm::files::ExamineFile");
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(PlatformPath(path).c_str(), GetFileExInfoStandard, &data)) {
    RAS1_TRACE(RAS1_DETAIL, "GetFileAttributesEx error %lu", GetLastError());
    return NotFound();
  }
  return FactsOf(data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow, data.ftCreationTime,
                 data.ftLastWriteTime, &RAS1__EPB_);
}

FileFacts LookUpFile(const std::wstring& target, RAS1_EPB* unit) {
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(PlatformPath(target).c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) {
    if (unit && (RAS1_Mask(unit) & RAS1_DETAIL)) RAS1_Printf(unit, __LINE__, "FindFirstFile error %lu", GetLastError());
    return NotFound();
  }
  if (!FindClose(find) && unit && (RAS1_Mask(unit) & RAS1_ERROR))
    RAS1_Printf(unit, __LINE__, "FindClose error %lu", GetLastError());
  // A directory entry may lag behind a file that is open for writing; the
  // file's own figures are current.
  FileFacts facts = ExamineFile(ParentOf(target) + found.cFileName);
  if (facts.found) return facts;
  return FactsOf(found.dwFileAttributes, found.nFileSizeHigh, found.nFileSizeLow, found.ftCreationTime,
                 found.ftLastWriteTime, unit);
}

DiskFigures DiskOf(const std::wstring& directory, RAS1_EPB* unit) {
  DiskFigures disk;
  ULARGE_INTEGER callerFree, total, free;
  if (GetDiskFreeSpaceExW(PlatformPath(directory).c_str(), &callerFree, &total, &free)) {
    disk.known = true;
    disk.totalBytes = total.QuadPart;
    disk.freeBytes = free.QuadPart;
  } else if (unit && (RAS1_Mask(unit) & RAS1_ERROR)) {
    RAS1_Printf(unit, __LINE__, "GetDiskFreeSpace call failed, error %lu", GetLastError());
  }
  return disk;
}

void ListDirectoriesBelow(const std::wstring& root) {
  std::vector<std::wstring> pending{root};
  while (!pending.empty()) {
    std::wstring dir = pending.back();
    pending.pop_back();
    if (!dir.empty() && dir.back() != L'\\') dir.push_back(L'\\');
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(PlatformPath(dir + L"*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) continue;
    do {
      bool directory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      bool link = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;  // never followed: no cycles
      if (!directory || link || std::wcscmp(entry.cFileName, L".") == 0 || std::wcscmp(entry.cFileName, L"..") == 0)
        continue;
      pending.push_back(dir + entry.cFileName);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
  }
}

const std::string& HostNodeName() {
  static const std::string name = [] {
    char host[65] = {0};
    DetermineLocalHost(host, sizeof host);
    std::string s(host, std::strlen(host));
    s.resize(64, ' ');
    return s;
  }();
  return name;
}

void WriteProgress(const char* agentClass, const char* operation, const char* gap) {
  std::fprintf(stderr, "%s::%s()%sinvoked\n", agentClass, operation, gap);
  std::fflush(stderr);
}

}  // namespace files
}  // namespace osm
