#include "collectors/perf/server_values.h"

#include "collectors/perf/perf_values.h"

namespace osm {
namespace perf {

std::int32_t FastestInterfacePercent(std::int64_t bytesPerSecond, const InterfaceBandwidths* interfaces) {
  if (interfaces == nullptr) return -1;
  return RoundHalfUp(static_cast<float>(bytesPerSecond) * 8.0f / interfaces->Fastest() * 100.0f);
}

void CompleteWtServerRow(char* row, const InterfaceBandwidths* interfaces) {
  static const TableDef& t = *FindTable("WTSERVER");
  static const RowField errored = FieldOf(t, "SESSERROUT"), forced = FieldOf(t, "SESSFRCOFF"),
                        loggedOff = FieldOf(t, "SESSLOGOFF"), timedOut = FieldOf(t, "SESSTIMOUT"),
                        ended = FieldOf(t, "TOTENDSESS"), ended8 = FieldOf(t, "TOTENDSES8"),
                        errorPct = FieldOf(t, "ERRSESSPCT"), bytes8 = FieldOf(t, "BYTSTOTSE8"),
                        highest = FieldOf(t, "HIPRCBTSEC");
  std::int64_t total = static_cast<std::int64_t>(GetInt32(row, errored)) + GetInt32(row, forced) +
                       GetInt32(row, loggedOff) + GetInt32(row, timedOut);
  SetInt32(row, ended, SaturateInt32(total));
  SetInt64(row, ended8, total);
  std::int32_t errors = GetInt32(row, errored);
  SetInt32(row, errorPct,
           errors > 0 && total > 0
               ? RoundHalfUp(static_cast<float>(errors) / static_cast<float>(total) * 100.0f)
               : 0);
  // The 64-bit byte rate: the 32-bit one saturates at 2 GB/s.
  SetInt32(row, highest, FastestInterfacePercent(GetInt64(row, bytes8), interfaces));
}

void CompleteNtRedirectRow(char* row, const InterfaceBandwidths* interfaces) {
  static const TableDef& t = *FindTable("NTREDIRECT");
  static const RowField bytes8 = FieldOf(t, "BYTTOTALP8"), commands = FieldOf(t, "CURRCMDS"),
                        highest = FieldOf(t, "HIPRCBTSEC"), perInterface = FieldOf(t, "HICURMOD");
  SetInt32(row, highest, FastestInterfacePercent(GetInt64(row, bytes8), interfaces));
  SetInt32(row, perInterface,
           interfaces && interfaces->Count() > 0
               ? RoundHalfUp(static_cast<float>(GetInt32(row, commands)) / static_cast<float>(interfaces->Count()))
               : -1);
}

void CacheAverages::Advance(char* row) {
  static const TableDef& t = *FindTable("NTCACHE");
  static const RowField hits[4] = {FieldOf(t, "CPRDHPCT"), FieldOf(t, "DMPHTPCT"), FieldOf(t, "MRDHTPCT"),
                                   FieldOf(t, "PRDHTPCT")};
  static const RowField averages[4] = {FieldOf(t, "COPYDYNAVG"), FieldOf(t, "DMAPDYNAVG"), FieldOf(t, "MDLDYNAVG"),
                                       FieldOf(t, "PINDYNAVG")};
  std::lock_guard<std::mutex> guard(lock_);
  for (int i = 0; i < 4; ++i) {
    std::int64_t p = GetInt32(row, hits[i]);
    std::int64_t a = started_ ? averages_[i] : p;
    averages_[i] = static_cast<std::int32_t>((p + a) / 2);  // truncates toward zero
    SetInt32(row, averages[i], averages_[i]);
  }
  started_ = true;
}

}  // namespace perf
}  // namespace osm
