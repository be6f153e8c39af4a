#include "collectors/watchdog/wdg_service.h"

#include <atomic>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "collectors/watchdog/wdg_commands.h"
#include "collectors/watchdog/wdg_rows.h"
#include "framework/nlsxlat.h"
#include "framework/ras1.h"
#include "tables/tables.h"

namespace osm {
namespace wdg {
namespace {

std::atomic<WDC_QueryService*> g_service{nullptr};

std::string Utf8Text(const WDC_UString& text, std::size_t limit) {
  std::string out(limit, '\0');
  std::size_t written = 0;
  NLS2_TranslateString(NLS2_CS_UTF16LE, text.data(), text.size() * sizeof(WDC_UChar), NLS2_CS_UTF8, &out[0], limit,
                       &written, nullptr);
  out.resize(written);
  return out;
}

class WDG_AlertListener : public WDC_AlertListener {
 public:
  void alertNotification(const WDC_Alert& alert) override {
    RAS1_UNIT("osm_osmwdgalrt_agent::alertListener");
    std::vector<char> bytes(AlertTable().rowSize);
    char* row = bytes.data();
    std::string why;
    if (!FillAlertRow(row, alert, &why)) {
      RAS1_TRACE(RAS1_ERROR, "%s", why.c_str());
      RAS1_TRACE(RAS1_ERROR, "Failed to form proper pure event.");
      return;
    }
    int rc = EventArrived_osm_osmwdgalrt(row, 1);
    RAS1_TRACE(RAS1_DETAIL, "osm_osmwdgalrt_agent::alertListener  sent pure event.%d", rc);
    Alerts().Add(row, bytes.size());
  }
};

class WDG_LogListener : public WDC_LogListener {
 public:
  void logNotification(const WDC_LogRecord& record) override {
    RAS1_UNIT("WDG_LogListener::logNotification");
    std::string id = LogMessageId(record.productCode, record.messageNumber);
    RAS1_TRACE(RAS1_DETAIL, "Message id is: %s", id.c_str());
    DCFA_insert_log(id.c_str(), Utf8Text(record.text, 255).c_str(), "WDL");
  }
};

WDG_AlertListener g_alertListener;
WDG_LogListener g_logListener;

// The watchdog call of a valid command; true when it was carried out.
bool Carry(WDC_QueryService* s, const Command& c) {
  RAS1_UNIT("TakeAction");
  WDC_UString agent = WDC_u_strFromUTF8(c.agent.c_str());
  switch (c.type) {
    case CommandType::kStartAgent:
      RAS1_TRACE(RAS1_DETAIL, "Inside WDM_Start_Agent \n");
      RAS1_TRACE(RAS1_DETAIL, "Start agent: %s, reset: %d, proc %s, inst %s\n", c.agent.c_str(), c.reset,
                  c.process.c_str(), c.instance.c_str());
      return s->startAgent(agent, c.reset, WDC_u_strFromUTF8(c.process.c_str()), WDC_u_strFromUTF8(c.instance.c_str()));
    case CommandType::kStopAgent:
      RAS1_TRACE(RAS1_DETAIL, "Inside WDM_Stop_Agent \n");
      RAS1_TRACE(RAS1_DETAIL, "Stop agent: %s, process: %s\t%d \n", c.agent.c_str(), c.process.c_str(),
                  static_cast<int>(c.pid));
      return s->stopAgent(agent, WDC_u_strFromUTF8(c.process.c_str()), static_cast<int>(c.pid));
    case CommandType::kStartManage:
      RAS1_TRACE(RAS1_DETAIL, "Inside WDM_Start_Manage \n");
      return s->startManagingAgent(agent);
    case CommandType::kStopManage:
      RAS1_TRACE(RAS1_DETAIL, "Inside WDM_Stop_Manage \n");
      return s->stopManagingAgent(agent);
    default:
      return false;
  }
}

// The agent side offers itself to the watchdog layer when it is linked in.
struct Offering {
  Offering() { WDC_OfferClient(&StartWatchdog, &StopWatchdog); }
} g_offering;

}  // namespace

AlertCache& Alerts() {
  static AlertCache* cache = [] {
    RAS1_UNIT("AlertCache");
    RAS1_TRACE(RAS1_DETAIL, "mutex created");
    return new AlertCache([] { return static_cast<std::int64_t>(std::time(nullptr)); });
  }();
  return *cache;
}

WDC_QueryService* QueryService() { return g_service; }
WDC_AlertListener& AlertListener() { return g_alertListener; }
WDC_LogListener& LogListener() { return g_logListener; }

int StartWatchdog(const char* product) {
  RAS1_UNIT("StartWatchdog");
  WDC_QueryService* s = WDC_QueryService::initQueryService();
  g_service = s;
  Alerts();  // the cache and its lock exist before any alert can arrive
  if (s->registerAlertListener(&g_alertListener)) RAS1_TRACE(RAS1_DETAIL, "Registered alert listener successfully");
  else RAS1_TRACE(RAS1_ERROR, "Failed to register alert listener.");
  if (s->registerLogListener(&g_logListener)) RAS1_TRACE(RAS1_DETAIL, "Registered log listener successfully");
  else RAS1_TRACE(RAS1_ERROR, "Failed to register log listener.");
  s->startQueryService();
  DCF_RegisterCommandCallback(product, &TakeAction);
  return 0;
}

void StopWatchdog(int release) {
  RAS1_UNIT("StopWatchdog");
  WDC_QueryService* s = g_service;
  if (s == nullptr) return;
  if (s->deregisterAlertListener(&g_alertListener)) RAS1_TRACE(RAS1_DETAIL, "De-registered alert successfully");
  else RAS1_TRACE(RAS1_DETAIL, "Failed to deregister alert listener.");
  if (s->deregisterLogListener(&g_logListener)) RAS1_TRACE(RAS1_DETAIL, "De-registered log listener successfully");
  else RAS1_TRACE(RAS1_DETAIL, "Failed to deregister log listener.");
  s->releaseQueryService(release != 0);
}

int TakeAction(DcfaAutomationCapsule* capsule) {
  RAS1_UNIT("TakeAction");
  RAS1_TRACE(RAS1_DETAIL, "Incoming TakeAction command: %s\n", capsule->Command());
  Command c = ParseCommand(capsule->Command());
  RAS1_TRACE(RAS1_DETAIL, "TakeAction command type: %d\n", static_cast<int>(c.type));
  int rc = 1;
  if (!c.valid) {
    RAS1_TRACE(RAS1_ERROR, "%s", c.problem.c_str());
    capsule->SetResults(-1);
    capsule->SetMessage(kInvalidInput);
  } else if (WDC_QueryService* s = g_service; s && Carry(s, c)) {
    capsule->SetResults(0);
    capsule->SetMessage(SuccessMessage(c.type));
    rc = 0;
  } else {
    capsule->SetResults(-1);
    capsule->SetMessage(kCallFailed);
  }
  capsule->Request()->FinishedAutomationCommand(capsule);
  return rc;
}

}  // namespace wdg
}  // namespace osm
