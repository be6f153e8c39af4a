// The service-application tables' own values: the counters WEBSVC and
// SMTPSRV mark unavailable, the errors per day of up time of PRINTQ and the
// long queue names of MSMQQUE. No platform calls: the Windows side reads the
// version, the registry, the System sample and the message-queuing runtime.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace osm {
namespace perf {

// WEBSVC: "System Code Resident Bytes" (SYSCRBYTE) is -1 in every row.
void MarkWebServiceRow(char* row);

// SMTPSRV: the retrieved-message counters are not maintained on Windows
// x.0 and x.2 from 5 on, except by Windows 6 servers and domain controllers
// (product type 2 or 3).
bool SmtpRetrievedUnavailable(int major, int minor, int productType);
// Sets MSGRETTOT and MSGRETSEC to -1 when retrievedUnavailable, and
// DIRPICQLEN to -1 when the web server's performance key was not found.
void MarkSmtpRow(char* row, bool retrievedUnavailable, bool serverKeyFound);

// PRINTQ: the whole days of up time (SYSUPTIME / 86400, truncated) of the
// first WTSYSTEM row. False for a sample of no rows, which has no up time.
bool UpTimeDaysOf(const char* systemRows, std::size_t count, std::size_t rowSize, std::int32_t* days);
// AVGJOBERRS, AVGNRERRS and AVGOOPERRS: the error counts per day, rounded
// half up; fewer days than 1 count as 1.
void CompletePrintQueueRow(char* row, std::int32_t days);

// MSMQQUE: long names are completed only below Windows 6, read from the
// identity record's version text ("5.2").
bool CompletesLongQueueNames(const char* osVersion, std::size_t width);
// The short name (QUEINST without trailing blanks) when it fills the field
// to its last or last but one byte and so may have been cut; empty otherwise.
std::string FullShortQueueName(const char* row);
// Writes QUEINSTLG: the last active name that contains shortName, or
// "INACTIVE" when none does; blank padded, cut at the field's width.
void CompleteQueueName(char* row, const std::string& shortName, const std::vector<std::string>& active);

}  // namespace perf
}  // namespace osm
