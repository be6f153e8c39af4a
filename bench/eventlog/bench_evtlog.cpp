// The event log pipeline with its caches warm: 100,000 injected records read
// in batches of 1,000 (as a busy log wakes its log manager), formatted with
// their source's message module, user name and category, built into rows and
// shipped as JSON Lines to an open situation. Prints events per second, for a
// registered source and for one whose descriptions are the default texts.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "collectors/eventlog/classic_source.h"
#include "collectors/eventlog/evm_eventlog.h"
#include "framework/cfw_runtime.h"
#include "support/fields.h"
#include "tables/tables.h"
#include "tests/collectors/eventlog/evt_writer.h"

using namespace osm::evl;
using Clock = std::chrono::steady_clock;

namespace {

const int kBatches = 100, kBatch = 1000;
const wchar_t* const kSourceKey = L"System\\CurrentControlSet\\Services\\EventLog\\Application\\OsmBench";

std::vector<std::vector<std::uint8_t>> Batch(std::uint32_t first, const char16_t* source, std::uint32_t eventId) {
  std::vector<std::vector<std::uint8_t>> out;
  for (int i = 0; i < kBatch; ++i) {
    evtw::Event e;
    e.recordNumber = first + static_cast<std::uint32_t>(i);
    e.timeGenerated = e.timeWritten = static_cast<std::uint32_t>(std::time(nullptr));
    e.eventId = eventId;
    e.eventType = 1;
    e.category = 1;
    e.source = source;
    e.sid = evtw::Sid(5, {18});
    e.strings = {u"C:\\data\\file" + std::u16string(1, static_cast<char16_t>(u'0' + i % 10)), u"D:\\backup"};
    out.push_back(evtw::Record(e));
  }
  return out;
}

// Events per second of kBatches passes over fresh batches of the source.
double Measure(RecordStore& store, EventLogRequest& request, const char16_t* source, std::uint32_t eventId,
               std::uint32_t* next) {
  std::vector<std::vector<std::vector<std::uint8_t>>> batches;
  for (int b = 0; b <= kBatches; ++b, *next += kBatch) batches.push_back(Batch(*next, source, eventId));
  store.AppendMany(batches[0]);  // warms the caches
  request.start.lastRecord = SituationCollection(request).newest;
  Clock::duration spent{};
  for (int b = 1; b <= kBatches; ++b) {
    store.AppendMany(batches[b]);
    Clock::time_point start = Clock::now();
    request.start.lastRecord = SituationCollection(request).newest;
    spent += Clock::now() - start;
  }
  double seconds = std::chrono::duration<double>(spent).count();
  return kBatches * kBatch / seconds;
}

}  // namespace

int main() {
  SetEnvironmentVariableA("OSM_EVENTLOG_API", "classic");
  std::string origin(64, ' ');
  SetOriginNodeName(origin.data(), 64);
#ifdef OSM_BENCH_MSGDLL
  std::string dll = std::string("Z:") + OSM_BENCH_MSGDLL;
  for (char& c : dll)
    if (c == '/') c = '\\';
  std::wstring wdll(dll.begin(), dll.end());
  HKEY key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSourceKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) == 0) {
    for (const wchar_t* name : {L"EventMessageFile", L"CategoryMessageFile"})
      RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(wdll.c_str()),
                     static_cast<DWORD>((wdll.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }
#endif
  cfw::OpenOutput("NUL");
  osm_ntevtlog_init();
  TableManager* manager = cfw::FindManager("NTEVTLOG");
  // A report request put on the table's list: it takes the pushed rows like
  // a situation, without a log manager of its own.
  RequestDetail detail = cfw::MakeDetail("OSM", "NTEVTLOG", "bench", 0, DCF_SAMPLE_REPORT);
  ContextInfo context = cfw::NewContext(nullptr);
  dcfa* sink = manager->CreateRequest(detail, context);
  cfw::OpenRequest(sink);
  manager->lock();
  manager->RequestList()->Append(sink);
  manager->unlock();

  auto store = std::make_shared<RecordStore>();
  InstallRecordStore("Application", store);
  EventLogRequest request;
  request.logType = 2;
  MakeCaches(&request);
  std::uint32_t next = 1;
  double registered = Measure(*store, request, u"OsmBench", 0xCFFF03E8, &next);
  double unknown = Measure(*store, request, u"OsmBenchUnknown", 1000, &next);
  std::printf("event log pipeline, %d events per source in batches of %d, caches warm:\n", kBatches * kBatch, kBatch);
  std::printf("  source with a message module: %.0f events/s\n", registered);
  std::printf("  source without one (default description): %.0f events/s\n", unknown);

  DropCaches(&request);
  manager->lock();
  manager->RequestList()->Remove(sink);
  manager->unlock();
  cfw::CloseRequest(sink);
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSourceKey);
  return 0;
}
