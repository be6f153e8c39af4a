// The new event log interface (Wevtapi.dll), loaded at run time. The agent
// uses it when the library offers all eight entry points it needs and the
// setting OSM_EVENTLOG_API is not "classic"; otherwise every log is read
// through the classic interface. A log read from a record store or a backup
// file always uses the classic interface.
#pragma once

#include <windows.h>
#include <winevt.h>

namespace osm {
namespace evl {

struct EvtEntryTable {
  decltype(&::EvtSubscribe) subscribe = nullptr;
  decltype(&::EvtClose) close = nullptr;
  decltype(&::EvtQuery) query = nullptr;
  decltype(&::EvtNext) next = nullptr;
  decltype(&::EvtCreateRenderContext) createRenderContext = nullptr;
  decltype(&::EvtRender) render = nullptr;
  decltype(&::EvtOpenPublisherMetadata) openPublisherMetadata = nullptr;
  decltype(&::EvtFormatMessage) formatMessage = nullptr;
  bool Complete() const {
    return subscribe && close && query && next && createRenderContext && render && openPublisherMetadata &&
           formatMessage;
  }
};

// The process's table: Wevtapi.dll's entry points, all null when any is
// missing. Loaded on first use.
const EvtEntryTable& EvtEntries();
// Replaces the table (a program or test that serves the interface itself);
// an incomplete table turns the new interface off.
void InstallEvtEntries(const EvtEntryTable& table);
// True when the new interface is used (complete table, setting not "classic").
bool NewInterfaceInUse();

}  // namespace evl
}  // namespace osm
