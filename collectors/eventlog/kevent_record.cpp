// KEventRecord: one classic record formatted with the message modules its
// source registered.
#include <cstring>
#include <new>
#include <stdexcept>

#include "collectors/eventlog/kevent_log.h"
#include "framework/ras1.h"
#include "resources/resource_ids.h"
#include "support/hashmap.h"

namespace osm {
namespace evl {
namespace {

const DWORD kLanguage = 1024;
const std::size_t kRegistryBuffer = 8192;

WText ToW(const std::u16string& s) { return WText(s.begin(), s.end()); }

// A REG_SZ or REG_EXPAND_SZ value, ended at its returned length; empty when
// absent or of another type.
bool ReadText(HKEY key, const wchar_t* name, WText* out) {
  RAS1_UNIT("KEventRecord::ReadRegistryText");
  if (key == nullptr) return false;
  wchar_t buffer[kRegistryBuffer / sizeof(wchar_t) + 1];
  DWORD type = 0, size = kRegistryBuffer;
  LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  if (rc == ERROR_MORE_DATA) {
    RAS1_TRACE(RAS1_ERROR, "RegQueryValueEx()  Insufficient buffer.\tRequired Buffer Size:  %d",
               static_cast<int>(size));
    return false;
  }
  if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
  buffer[size / sizeof(wchar_t)] = 0;  // a value stored without its terminator
  if (type == REG_SZ) {
    *out = buffer;
    return true;
  }
  wchar_t expanded[kRegistryBuffer];
  DWORD n = ExpandEnvironmentStringsW(buffer, expanded, static_cast<DWORD>(kRegistryBuffer / sizeof(wchar_t)));
  if (n == 0 || n > kRegistryBuffer / sizeof(wchar_t)) return false;
  *out = expanded;
  return true;
}

HKEY OpenKey(const WText& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return nullptr;
  return key;
}

void CloseKey(HKEY key) {
  RAS1_UNIT("KEventRecord::LookUpMessageFiles");
  if (key == nullptr) return;
  LONG rc = RegCloseKey(key);
  if (rc != ERROR_SUCCESS)
    RAS1_TRACE(RAS1_ERROR, "WIN32 API Error:  %s RC: %d (%#.8x).  <%s>", "RegCloseKey", static_cast<int>(rc),
               static_cast<unsigned>(rc), "");
}

// A message of a module by id, without inserts and line breaks; empty when
// the module lacks it. Trailing blanks (the broken line ends) are dropped.
bool ModuleMessage(HMODULE module, DWORD id, WText* text, DWORD* error) {
  wchar_t* buffer = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                               FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                           module, id, kLanguage, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  *error = n ? 0 : GetLastError();
  if (n == 0 || buffer == nullptr) return false;
  *text = buffer;
  LocalFree(buffer);
  while (!text->empty() && (text->back() == L' ' || text->back() == L'\r' || text->back() == L'\n')) text->pop_back();
  return true;
}

// Formats a template with the record's insertion strings. The argument array
// has an entry for every insert the template can name, so a template that
// names more inserts than the record carries reads empty strings for them.
bool Insert(const WText& templ, const std::vector<WText>& strings, WText* out) {
  std::size_t count = strings.size();
  std::size_t named = static_cast<std::size_t>(HighestInsert(templ.c_str()));
  if (named > count) count = named;
  std::vector<DWORD_PTR> args(count + 1, reinterpret_cast<DWORD_PTR>(L""));
  for (std::size_t i = 0; i < strings.size(); ++i) args[i] = reinterpret_cast<DWORD_PTR>(strings[i].c_str());
  wchar_t* buffer = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                               FORMAT_MESSAGE_MAX_WIDTH_MASK,
                           templ.c_str(), 0, kLanguage, reinterpret_cast<wchar_t*>(&buffer), 0,
                           reinterpret_cast<va_list*>(args.data()));
  if (n == 0 || buffer == nullptr) return false;
  *out = buffer;
  LocalFree(buffer);
  while (!out->empty() && out->back() == L' ') out->pop_back();
  return true;
}

// The computer's name and the two default templates do not change while the
// process runs; they are read once.
struct DefaultTexts {
  WText computer;
  WText templates[2];  // local, remote; empty when the resource is missing
  bool module = false;
};
const DefaultTexts& Defaults() {
  static const DefaultTexts texts = [] {
    DefaultTexts t;
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 2];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (GetComputerNameW(name, &size)) t.computer.assign(name, size);
    HMODULE self = GetModuleHandleW(nullptr);
    t.module = self != nullptr;
    const UINT ids[2] = {IDS_EVENT_DEFAULT_LOCAL, IDS_EVENT_DEFAULT_REMOTE};
    wchar_t templ[2048];
    for (int i = 0; i < 2 && self; ++i) {
      int n = LoadStringW(self, ids[i], templ, 2048);
      if (n > 0) t.templates[i].assign(templ, static_cast<std::size_t>(n));
    }
    return t;
  }();
  return texts;
}

WText DefaultMessage(std::uint32_t eventId, const WText& source, const WText& computer) {
  RAS1_UNIT("KEventRecord::DefaultMessage");
  const DefaultTexts& d = Defaults();
  bool isLocal = !d.computer.empty() && computer == d.computer;
  RAS1_TRACE(RAS1_DETAIL,
             isLocal ? "Requesting local system's default message." : "Requesting remote system's default message.");
  if (!d.module)
    throw std::runtime_error("runtime_error:  GetModuleHandle() was unable to allocate a handle to this module.");
  const WText& templ = d.templates[isLocal ? 0 : 1];
  if (templ.empty())
    throw std::runtime_error("runtime_error:  LoadString() was unable to access a string resource.");
  wchar_t id[16];
  swprintf(id, 16, L"%u", static_cast<unsigned>(eventId & 0xFFFF));
  DWORD_PTR args[2] = {reinterpret_cast<DWORD_PTR>(id), reinterpret_cast<DWORD_PTR>(source.c_str())};
  wchar_t text[4096];
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                           templ.c_str(), 0, kLanguage, text, 4096, reinterpret_cast<va_list*>(args));
  return n ? WText(text, n) : WText();
}

}  // namespace

KEventRecord::KEventRecord(const RecordView& record, const char* logName, const EventLogRequest& request)
    : record_(record), logName_(logName), request_(request), source_(ToW(record.Source())) {
  for (std::uint32_t at : record.StringOffsets()) {
    std::uint32_t n = 0;
    // Terminated inside the record: the parser checked it.
    while (record.bytes[at + 2 * n] != 0 || record.bytes[at + 2 * n + 1] != 0) ++n;
    strings_.push_back(ToW(record.Text(at, n)));
  }
  LookUpMessageFiles();
}

KEventRecord::~KEventRecord() {
  if (categoryModule_ != nullptr && !categoryCached_) FreeLibrary(categoryModule_);
}

HMODULE KEventRecord::LoadModule(const WText& path, bool* cached) {
  RAS1_UNIT("KEventRecord::LoadModule");
  *cached = false;
  std::string key = Narrow(path.c_str(), 1028);
  if (request_.modules) {
    if (HMODULE h = static_cast<HMODULE>(request_.modules->Get(key.c_str()))) {
      RAS1_TRACE(RAS1_DETAIL, "Using hashed hMessageFile handleKey: '%s'\n", key.c_str());
      *cached = true;
      return h;
    }
  }
  HMODULE h = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (h == nullptr || request_.modules == nullptr) return h;
  char* ownedKey = new (std::nothrow) char[key.size() + 1];
  if (ownedKey == nullptr) return h;
  std::memcpy(ownedKey, key.c_str(), key.size() + 1);
  if (!request_.modules->Put(ownedKey, h)) {
    delete[] ownedKey;
    return h;
  }
  RAS1_TRACE(RAS1_DETAIL, "Hashing hMessageFile handleKey: '%s'\n", key.c_str());
  *cached = true;
  return h;
}

void KEventRecord::LookUpMessageFiles() {
  RAS1_UNIT("KEventRecord::LookUpMessageFiles");
  SourceFiles files;
  auto cached = request_.sources ? request_.sources->find(source_) : SourceCache::iterator();
  if (request_.sources && cached != request_.sources->end()) {
    files = cached->second;
  } else {
    files = ReadSourceFiles();
    if (request_.sources) (*request_.sources)[source_] = files;
  }
  eventFiles_ = files.eventFiles;
  eventFilesFound_ = !eventFiles_.empty();
  categoryFile_ = files.categoryFile;
  if (files.category) {
    bool inCache = false;
    categoryModule_ = LoadModule(categoryFile_, &inCache);
    categoryCached_ = inCache;
    if (inCache) RAS1_TRACE(RAS1_DETAIL, "Using m_hCategoryMessageFile handleKey: '%ls'\n", categoryFile_.c_str());
  }
}

SourceFiles KEventRecord::ReadSourceFiles() {
  RAS1_UNIT("KEventRecord::LookUpMessageFiles");
  SourceFiles files;
  WText logPath = Widen("System\\CurrentControlSet\\Services\\EventLog\\") + Widen(logName_.c_str());
  HKEY logKey = OpenKey(logPath);
  if (logKey == nullptr) {
    // A log read from a backup file may have no key here; its events get
    // the default texts.
    RAS1_TRACE(RAS1_DETAIL, "RegOpenKeyEx failed for the %s log; no message files", logName_.c_str());
    return files;
  }
  WText primary;
  bool hasPrimary = ReadText(logKey, L"PrimaryModule", &primary);
  CloseKey(logKey);
  HKEY sourceKey = OpenKey(logPath + L"\\" + source_);
  HKEY primaryKey = hasPrimary ? OpenKey(logPath + L"\\" + primary) : nullptr;
  if (!ReadText(sourceKey, L"EventMessageFile", &files.eventFiles))
    ReadText(primaryKey, L"EventMessageFile", &files.eventFiles);
  files.category = ReadText(sourceKey, L"CategoryMessageFile", &files.categoryFile) ||
                   ReadText(primaryKey, L"CategoryMessageFile", &files.categoryFile);
  CloseKey(sourceKey);
  CloseKey(primaryKey);
  return files;
}

WText KEventRecord::CategoryText() {
  RAS1_UNIT("KEventRecord::CategoryText");
  unsigned n = record_.eventCategory;
  if (n == 0) return Widen("None");
  WText text = Widen("(") + Widen(std::to_string(n).c_str()) + Widen(")");
  if (categoryModule_ == nullptr) return text;
  WText found;
  DWORD error = 0;
  if (ModuleMessage(categoryModule_, n, &found, &error)) return found;
  RAS1_TRACE(RAS1_DETAIL, "Category %d (%#.08x) not found in %ls\n", static_cast<int>(n), n, categoryFile_.c_str());
  return text + Widen(" Not found");
}

WText KEventRecord::DescriptionText() {
  RAS1_UNIT("KEventRecord::DescriptionText");
  WText found;
  bool located = false;
  for (const WText& file : SplitFileList(eventFiles_)) {
    bool cached = false;
    HMODULE module = LoadModule(file, &cached);
    if (module == nullptr) continue;  // modules that cannot be loaded are skipped
    DWORD error = 0;
    located = ModuleMessage(module, record_.eventId, &found, &error);
    if (!located && error != ERROR_MR_MID_NOT_FOUND && error != ERROR_RESOURCE_TYPE_NOT_FOUND &&
        error != ERROR_RESOURCE_LANG_NOT_FOUND)
      RAS1_TRACE(RAS1_ERROR, "FormatMessage() unexpected error.  Error code %d.\n", static_cast<int>(error));
    if (!cached) FreeLibrary(module);
    if (located) break;
  }
  if (located) {
    WText inserted;
    if (!strings_.empty() && Insert(found, strings_, &inserted)) return inserted;
    if (!strings_.empty()) RAS1_TRACE(RAS1_ERROR, "FormatMessage failed with the insertion strings");
    return found;
  }
  return DefaultDescription(eventFiles_, DefaultMessage(record_.eventId, source_, ToW(record_.Computer())), strings_);
}

void KEventRecord::ResolveUser(FormattedEvent* e) {
  if (record_.sidLength == 0) return;  // stays "N/A"
  WText name;
  AccountName(record_.bytes + record_.sidOffset, record_.sidLength, request_.users, true, &name);
  SetWide(e->user, kUserWidth, name);  // a longer name is cut to the field
}

bool KEventRecord::Format(FormattedEvent* e) {
  ClearEvent(e);
  SetWide(e->source, kSourceWidth, source_);
  SetWide(e->computer, kComputerWidth, ToW(record_.Computer()));
  e->eventId = record_.eventId & 0xFFFF;
  SetNarrow(e->type, kTypeWidth, ClassicTypeText(record_.eventType));
  SetWide(e->category, kCategoryWidth, CategoryText());
  ResolveUser(e);
  e->recordNumber = record_.recordNumber;
  e->timeWritten = record_.timeWritten;
  // Suppressed duplicates never reach the costly description.
  if (!CheckDuplicate(request_.duplicates, request_.threshold, e)) return false;
  SetWide(e->description, kDescriptionWidth, DescriptionText());
  FlattenWhitespace(e->description);
  return true;
}

}  // namespace evl
}  // namespace osm
