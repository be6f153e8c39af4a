#include "collectors/eventlog/evt_api.h"

#include <cctype>
#include <mutex>
#include <string>

#include "framework/ras1.h"

namespace osm {
namespace evl {
namespace {

struct Entries {
  std::mutex lock;
  bool loaded = false;
  EvtEntryTable table;
};
Entries& State() {
  static Entries* e = new Entries();  // used by log manager threads until exit
  return *e;
}

template <class F>
void Load(HMODULE module, const char* name, F* slot) {
  *slot = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

EvtEntryTable LoadLibraryTable() {
  RAS1_UNIT("EvtEntries");
  EvtEntryTable t;
  HMODULE m = LoadLibraryW(L"Wevtapi.dll");
  if (m == nullptr) {
    RAS1_TRACE(RAS1_FLOW, "Wevtapi.dll not found; the classic event log interface is used");
    return t;
  }
  Load(m, "EvtSubscribe", &t.subscribe);
  Load(m, "EvtClose", &t.close);
  Load(m, "EvtQuery", &t.query);
  Load(m, "EvtNext", &t.next);
  Load(m, "EvtCreateRenderContext", &t.createRenderContext);
  Load(m, "EvtRender", &t.render);
  Load(m, "EvtOpenPublisherMetadata", &t.openPublisherMetadata);
  Load(m, "EvtFormatMessage", &t.formatMessage);
  if (!t.Complete()) {
    RAS1_TRACE(RAS1_FLOW, "Wevtapi.dll lacks an entry point; the classic event log interface is used");
    t = EvtEntryTable();
  }
  // The library stays loaded for the life of the process.
  return t;
}

}  // namespace

const EvtEntryTable& EvtEntries() {
  Entries& e = State();
  std::lock_guard<std::mutex> guard(e.lock);
  if (!e.loaded) {
    e.table = LoadLibraryTable();
    e.loaded = true;
  }
  return e.table;
}

void InstallEvtEntries(const EvtEntryTable& table) {
  Entries& e = State();
  std::lock_guard<std::mutex> guard(e.lock);
  e.table = table.Complete() ? table : EvtEntryTable();
  e.loaded = true;
}

bool NewInterfaceInUse() {
  const char* setting = BSS1_GetEnv("OSM_EVENTLOG_API", 0);
  if (setting) {
    std::string s(setting);
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (s == "classic") return false;
  }
  return EvtEntries().Complete();
}

}  // namespace evl
}  // namespace osm
