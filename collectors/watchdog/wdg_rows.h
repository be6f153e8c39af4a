// The row records of the watchdog tables, filled from the watchdog's agent
// entries and alerts, and the mappings its numbers take on the way. No
// platform calls.
#pragma once

#include <cstdint>
#include <string>

#include "framework/wdc.h"
#include "tables/catalogue.h"

namespace osm {
namespace wdg {

// Value mappings (anything not listed maps to 0).
int MapAgentType(int agentType);
int MapOperationalStatus(int status);
int MapManageType(int manageType);
int MapMemoryUnit(int unit);
int MapAlertState(int status);
// The MESSAGE of an alert: false (with *why, the trace text) when the alert
// makes no row.
bool MapAlertMessage(int messageId, int managedState, std::int32_t* message, std::string* why);

const TableDef& CapTable();    // OSMWDGCAP
const TableDef& MgmtTable();   // OSMWDGMGMT
const TableDef& StatTable();   // OSMWDGSTAT
const TableDef& AlertTable();  // OSMWDGALRT

// The CYYMMDDHHMMSSmmm stamp (local time, milliseconds 000) of seconds since 1970.
void StampOfTime(std::int64_t seconds, char* target16);

// Each begins with the origin node name and the current time stamp.
void FillCapRow(char* row, const WDC_AgentEntry& e);
void FillMgmtRow(char* row, const WDC_AgentEntry& e);
// address and host: the machine's numeric address and host name.
void FillStatRow(char* row, const WDC_AgentEntry& e, const std::string& address, const std::string& host);
// false (with *why) when the alert's message id has no row.
bool FillAlertRow(char* row, const WDC_Alert& alert, std::string* why);

// The framework log's message id of a watchdog record: "K", the record's
// product code, "WDM" and the number padded with zeros to three digits.
std::string LogMessageId(const std::string& product, int number);

}  // namespace wdg
}  // namespace osm
