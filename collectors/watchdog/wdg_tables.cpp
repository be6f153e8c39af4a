// OSMWDGCAP, OSMWDGMGMT and OSMWDGSTAT: one row per agent the watchdog
// supervises, read through its agent iterator at each sample. OSMWDGALRT:
// alerts reach situations as events; a report gives the cached alerts of the
// last 24 hours.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "collectors/perf/system_identity.h"
#include "collectors/watchdog/wdg_rows.h"
#include "collectors/watchdog/wdg_service.h"
#include "tables/tables.h"

namespace {

using osm::wdg::QueryService;

std::string Trimmed(const char* field, std::size_t width) {
  std::string s(field, width);
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

// Walks the agents and hands one row per agent to the request. With
// skipDuplicates an agent whose subagent id was already given is left out.
template <class Fill>
int SampleAgents(osm::TableBase* request, bool capabilities, bool skipDuplicates, Fill fill) {
  RAS1_UNIT("osm_osmwdg_agent::TakeSample");
  WDC_QueryService* service = QueryService();
  if (service == nullptr) {
    RAS1_TRACE(RAS1_ERROR, "Failed to initialize Query service");
    std::fprintf(stderr, "Failed to initialize Query service\n");
    return 0;
  }
  WDC_AgentIterator* it = service->getAgentIterator(capabilities);
  if (it == nullptr) {
    RAS1_TRACE(RAS1_ERROR, "WDG iterator error r: no iterator");
    return 0;
  }
  std::vector<WDC_UString> seen;
  std::vector<char> row(request->Table().rowSize);
  WDC_AgentEntry entry;
  int status = 0;
  while (service->getNextAgentEntry(it, &entry)) {
    if (skipDuplicates) {
      if (std::find(seen.begin(), seen.end(), entry.subagentId) != seen.end()) {
        RAS1_TRACE(RAS1_DETAIL, "Found an instance dup.. skipping entry");
        continue;
      }
      RAS1_TRACE(RAS1_DETAIL, "Not a dup.. adding entry");
      seen.push_back(entry.subagentId);
    }
    fill(row.data(), entry);
    if (status == 0) status = request->AddData(row.data(), 1);
  }
  service->releaseAgentIterator(it);
  return status;
}

}  // namespace

class osm_osmwdgcap_agent : public osm_osmwdgcap_base {
 public:
  using osm_osmwdgcap_base::osm_osmwdgcap_base;
  int TakeSample() override { return SampleAgents(this, true, true, osm::wdg::FillCapRow); }
};

class osm_osmwdgmgmt_agent : public osm_osmwdgmgmt_base {
 public:
  using osm_osmwdgmgmt_base::osm_osmwdgmgmt_base;
  int TakeSample() override { return SampleAgents(this, false, true, osm::wdg::FillMgmtRow); }
};

class osm_osmwdgstat_agent : public osm_osmwdgstat_base {
 public:
  using osm_osmwdgstat_base::osm_osmwdgstat_base;
  int TakeSample() override {
    const osm::perf::SystemIdentity& id = osm::perf::SystemIdentityRecord();
    std::string address = Trimmed(id.networkAddress, sizeof id.networkAddress);
    std::string host = DCF_GetNodeSystemName();
    return SampleAgents(this, false, false, [&](char* row, const WDC_AgentEntry& e) {
      osm::wdg::FillStatRow(row, e, address, host);
    });
  }
};

class osm_osmwdgalrt_agent : public osm_osmwdgalrt_base {
 public:
  using osm_osmwdgalrt_base::osm_osmwdgalrt_base;
  int TakeSample() override {
    RAS1_UNIT("osm_osmwdgalrt_agent::TakeSample");
    if (detail.sampleType != DCF_SAMPLE_REPORT) {
      RAS1_TRACE(RAS1_ERROR, "TakeSample invoked for sample type exception. Invalid call.");
      return 0;
    }
    int status = 0;
    osm::wdg::Alerts().ForEachKept([&](const std::string& row) {
      if (status == 0) status = AddData(row.data(), 1);
    });
    return status;
  }
};

OSM_AGENT(osmwdgcap, osm_osmwdgcap_agent)
OSM_AGENT(osmwdgmgmt, osm_osmwdgmgmt_agent)
OSM_AGENT(osmwdgstat, osm_osmwdgstat_agent)
OSM_AGENT(osmwdgalrt, osm_osmwdgalrt_agent)
