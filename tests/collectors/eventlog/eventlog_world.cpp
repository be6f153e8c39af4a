#include "tests/collectors/eventlog/eventlog_world.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <sstream>

#include "collectors/eventlog/evt_api.h"
#include "framework/cfw.h"
#include "host/table_binding.h"
#include "support/fields.h"

namespace evtest {

long long Row::Int(const std::string& name) const {
  std::size_t at = line.find("\"" + name + "\":");
  return at == std::string::npos ? -999999999 : std::strtoll(line.c_str() + at + name.size() + 3, nullptr, 10);
}

std::string Row::Text(const std::string& name) const {
  std::size_t at = line.find("\"" + name + "\":\"");
  if (at == std::string::npos) return "<missing>";
  std::string text;
  for (at += name.size() + 4; at < line.size() && line[at] != '"'; ++at) {
    if (line[at] == '\\' && at + 1 < line.size()) ++at;
    text.push_back(line[at]);
  }
  return text;
}

void SetEnv(const char* name, const char* value) { SetEnvironmentVariableA(name, value); }

std::string TempPath(const std::string& name) {
  char dir[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, dir);
  return std::string(dir) + "\\evt_" + name;
}

std::string WindowsPath(const std::string& linuxPath) {
  std::string w = "Z:" + linuxPath;
  for (char& c : w)
    if (c == '/') c = '\\';
  return w;
}

bool WaitUntil(const std::function<bool()>& condition, int milliseconds) {
  for (int waited = 0; waited < milliseconds; waited += 20) {
    if (condition()) return true;
    Sleep(20);
  }
  return condition();
}

namespace {

int Loader() {
  std::string origin = "TESTNODE";
  origin.resize(64, ' ');
  SetOriginNodeName(origin.data(), 64);
  RegisterTable("NTLOGINFO");
  RegisterTable("NTEVTLOG");
  return 0;
}

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> out;
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

}  // namespace

AgentRun::AgentRun(const std::string& requests, bool exitWhenDone) : exitWhenDone_(exitWhenDone) {
  static int runs = 0;
  std::string base = TempPath("run" + std::to_string(++runs));
  output_ = base + ".jsonl";
  DeleteFileA(output_.c_str());
  std::ofstream(base + ".requests") << requests;
  SetEnv("OSM_REQUESTS", (base + ".requests").c_str());
  SetEnv("OSM_OUTPUT", output_.c_str());
  SetEnv("OSM_FRAMEWORK_LOG", (base + ".log").c_str());
  SetEnv("OSM_EXIT_WHEN_DONE", exitWhenDone ? "Y" : nullptr);
  DCF_RegisterAgentLoader(&Loader);
  thread_ = std::thread([] {
    char name[] = "mx_agent", empty[] = "";
    char* argv[] = {name, empty, nullptr};
    cfwmain(1, argv);
  });
}

AgentRun::~AgentRun() { Stop(); }

void AgentRun::Stop() {
  if (!thread_.joinable()) return;
  if (!exitWhenDone_) DCF_Shutdown(1);
  thread_.join();
}

std::vector<Row> AgentRun::Rows(const std::string& request) const {
  std::vector<Row> rows;
  std::string tag = "\"request\":\"" + request + "\"";
  for (const std::string& l : Lines(output_))
    if (l.find("\"record\":\"row\"") != std::string::npos && l.find(tag) != std::string::npos) rows.push_back(Row{l});
  return rows;
}

bool AgentRun::WaitRows(const std::string& request, std::size_t count) const {
  return WaitUntil([&] { return Rows(request).size() >= count; });
}

bool AgentRun::Answered(const std::string& request) const {
  std::string tag = "\"record\":\"answered\",\"request\":\"" + request + "\"";
  for (const std::string& l : Lines(output_))
    if (l.find(tag) != std::string::npos) return true;
  return false;
}

evtw::Event Event(std::uint32_t number, std::uint32_t eventId, std::uint16_t type) {
  evtw::Event e;
  e.recordNumber = number;
  e.timeGenerated = e.timeWritten = static_cast<std::uint32_t>(std::time(nullptr));
  e.eventId = eventId;
  e.eventType = type;
  e.source = u"OsmNoSuchSource";
  return e;
}

InjectedLog::InjectedLog(const char* logName) : name_(logName), store_(std::make_shared<osm::evl::RecordStore>()) {
  osm::evl::InstallRecordStore(logName, store_);
}

InjectedLog::~InjectedLog() { osm::evl::InstallRecordStore(name_.c_str(), nullptr); }

// The fake new interface -----------------------------------------------------

namespace {

struct FakeHandle {
  enum Kind { kSubscription, kQuery, kEvent, kContext, kMetadata } kind;
  std::size_t cursor = 0;  // subscription: next index; query: next of order
  std::vector<std::size_t> order;
  std::size_t index = 0;  // event
};

struct FakeLog {
  std::mutex lock;
  std::vector<FakeEvent> events;
  HANDLE signal = nullptr;
};
FakeLog& Fake() {
  static FakeLog* f = new FakeLog();
  return *f;
}

FakeHandle* H(EVT_HANDLE h) { return static_cast<FakeHandle*>(h); }
FakeHandle* NewHandle(FakeHandle::Kind kind) {
  FakeHandle* h = new FakeHandle();
  h->kind = kind;
  return h;
}

EVT_HANDLE WINAPI FakeSubscribe(EVT_HANDLE, HANDLE signal, LPCWSTR, LPCWSTR, EVT_HANDLE, PVOID, EVT_SUBSCRIBE_CALLBACK,
                                DWORD) {
  FakeLog& f = Fake();
  std::lock_guard<std::mutex> g(f.lock);
  f.signal = signal;
  FakeHandle* h = NewHandle(FakeHandle::kSubscription);
  h->cursor = f.events.size();
  return h;
}

EVT_HANDLE WINAPI FakeQuery(EVT_HANDLE, LPCWSTR, LPCWSTR, DWORD) {
  FakeLog& f = Fake();
  std::lock_guard<std::mutex> g(f.lock);
  FakeHandle* h = NewHandle(FakeHandle::kQuery);
  for (std::size_t i = f.events.size(); i > 0; --i) h->order.push_back(i - 1);
  return h;
}

BOOL WINAPI FakeNext(EVT_HANDLE set, DWORD, EVT_HANDLE* events, DWORD, DWORD, PDWORD returned) {
  FakeLog& f = Fake();
  std::lock_guard<std::mutex> g(f.lock);
  FakeHandle* h = H(set);
  std::size_t index;
  if (h->kind == FakeHandle::kSubscription && h->cursor < f.events.size()) {
    index = h->cursor++;
  } else if (h->kind == FakeHandle::kQuery && h->cursor < h->order.size()) {
    index = h->order[h->cursor++];
  } else {
    *returned = 0;
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  FakeHandle* e = NewHandle(FakeHandle::kEvent);
  e->index = index;
  events[0] = e;
  *returned = 1;
  return TRUE;
}

BOOL WINAPI FakeClose(EVT_HANDLE h) {
  delete H(h);
  return TRUE;
}

EVT_HANDLE WINAPI FakeContext(DWORD, LPCWSTR*, DWORD) { return NewHandle(FakeHandle::kContext); }

BOOL WINAPI FakeRender(EVT_HANDLE, EVT_HANDLE event, DWORD, DWORD size, PVOID buffer, PDWORD used, PDWORD count) {
  FakeLog& f = Fake();
  std::lock_guard<std::mutex> g(f.lock);
  const FakeEvent& e = f.events[H(event)->index];
  const DWORD n = 7;
  std::size_t need = n * sizeof(EVT_VARIANT) + (e.computer.size() + e.provider.size() + 2) * sizeof(wchar_t) +
                     e.sid.size();
  *used = static_cast<DWORD>(need);
  if (size < need) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memset(buffer, 0, need);
  EVT_VARIANT* v = static_cast<EVT_VARIANT*>(buffer);
  BYTE* tail = static_cast<BYTE*>(buffer) + n * sizeof(EVT_VARIANT);
  auto text = [&tail](const std::wstring& s) {
    wchar_t* at = reinterpret_cast<wchar_t*>(tail);
    std::memcpy(at, s.c_str(), (s.size() + 1) * sizeof(wchar_t));
    tail += (s.size() + 1) * sizeof(wchar_t);
    return at;
  };
  v[0].Type = EvtVarTypeFileTime;
  v[0].FileTimeVal = e.fileTime;
  v[1].Type = EvtVarTypeUInt16;
  v[1].UInt16Val = e.eventId;
  v[2].Type = EvtVarTypeString;
  v[2].StringVal = text(e.computer);
  v[4].Type = EvtVarTypeString;
  v[4].StringVal = text(e.provider);
  v[3].Type = e.sid.empty() ? EvtVarTypeNull : EvtVarTypeSid;
  if (!e.sid.empty()) {
    std::memcpy(tail, e.sid.data(), e.sid.size());
    v[3].SidVal = tail;
  }
  v[5].Type = EvtVarTypeByte;
  v[5].ByteVal = e.level;
  v[6].Type = EvtVarTypeUInt64;
  v[6].UInt64Val = e.recordId;
  *count = n;
  return TRUE;
}

EVT_HANDLE WINAPI FakeMetadata(EVT_HANDLE, LPCWSTR, LPCWSTR, LCID, DWORD) {
  return NewHandle(FakeHandle::kMetadata);
}

BOOL WINAPI FakeFormat(EVT_HANDLE, EVT_HANDLE event, DWORD, DWORD, PEVT_VARIANT, DWORD flag, DWORD size,
                       LPWSTR buffer, PDWORD used) {
  FakeLog& f = Fake();
  std::lock_guard<std::mutex> g(f.lock);
  const FakeEvent& e = f.events[H(event)->index];
  std::wstring text;
  if (flag == EvtFormatMessageEvent) text = e.description;
  if (flag == EvtFormatMessageTask) text = e.task;
  if (flag == EvtFormatMessageKeyword)
    for (const std::wstring& k : e.keywords) text += k + L'\0';
  if (text.empty()) {
    SetLastError(15027);
    return FALSE;
  }
  DWORD chars = static_cast<DWORD>(text.size() + 1);  // sizes count characters
  *used = chars;
  if (size < chars) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(buffer, text.c_str(), chars * sizeof(wchar_t));
  return TRUE;
}

}  // namespace

void InstallFakeEvtInterface() {
  {
    std::lock_guard<std::mutex> g(Fake().lock);  // a fresh log, no subscription yet
    Fake().events.clear();
    Fake().signal = nullptr;
  }
  osm::evl::EvtEntryTable t;
  t.subscribe = &FakeSubscribe;
  t.close = &FakeClose;
  t.query = &FakeQuery;
  t.next = &FakeNext;
  t.createRenderContext = &FakeContext;
  t.render = &FakeRender;
  t.openPublisherMetadata = &FakeMetadata;
  t.formatMessage = &FakeFormat;
  osm::evl::InstallEvtEntries(t);
}

void RemoveFakeEvtInterface() { osm::evl::InstallEvtEntries(osm::evl::EvtEntryTable()); }

void AppendFakeEvent(const FakeEvent& e) {
  FakeLog& f = Fake();
  std::lock_guard<std::mutex> g(f.lock);
  f.events.push_back(e);
  if (f.signal) SetEvent(f.signal);
}

}  // namespace evtest

namespace evtest {
bool FakeSubscribed() {
  std::lock_guard<std::mutex> g(Fake().lock);
  return Fake().signal != nullptr;
}
}  // namespace evtest
