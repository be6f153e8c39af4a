#include "collectors/perf/service_app_values.h"

#include <cstdlib>
#include <cstring>

#include "collectors/perf/perf_values.h"

namespace osm {
namespace perf {

namespace {

struct SmtpFields {
  RowField retrievedTotal, retrievedRate, pickupQueue;
  SmtpFields()
      : retrievedTotal(FieldOf("SMTPSRV", "MSGRETTOT")),
        retrievedRate(FieldOf("SMTPSRV", "MSGRETSEC")),
        pickupQueue(FieldOf("SMTPSRV", "DIRPICQLEN")) {}
};

struct PrintQueueFields {
  RowField jobErrors, notReady, outOfPaper, avgJobErrors, avgNotReady, avgOutOfPaper;
  PrintQueueFields()
      : jobErrors(FieldOf("PRINTQ", "JOBERR")),
        notReady(FieldOf("PRINTQ", "NRERROR")),
        outOfPaper(FieldOf("PRINTQ", "OUTPAPER")),
        avgJobErrors(FieldOf("PRINTQ", "AVGJOBERRS")),
        avgNotReady(FieldOf("PRINTQ", "AVGNRERRS")),
        avgOutOfPaper(FieldOf("PRINTQ", "AVGOOPERRS")) {}
};

bool IsPadding(char c) { return c == ' ' || c == '\0'; }

}  // namespace

void MarkWebServiceRow(char* row) {
  static const RowField resident = FieldOf("WEBSVC", "SYSCRBYTE");
  SetInt32(row, resident, -1);
}

bool SmtpRetrievedUnavailable(int major, int minor, int productType) {
  bool server = productType == 2 || productType == 3;
  return major >= 5 && (minor == 0 || minor == 2) && !(major == 6 && server);
}

void MarkSmtpRow(char* row, bool retrievedUnavailable, bool serverKeyFound) {
  static const SmtpFields f;
  if (retrievedUnavailable) {
    SetInt32(row, f.retrievedTotal, -1);
    SetInt32(row, f.retrievedRate, -1);
  }
  if (!serverKeyFound) SetInt32(row, f.pickupQueue, -1);
}

bool UpTimeDaysOf(const char* systemRows, std::size_t count, std::size_t rowSize, std::int32_t* days) {
  static const RowField upTime = FieldOf("WTSYSTEM", "SYSUPTIME");
  if (systemRows == nullptr || count == 0 || rowSize < static_cast<std::size_t>(upTime.offset) + upTime.width)
    return false;
  *days = GetInt32(systemRows, upTime) / 60 / 60 / 24;
  return true;
}

void CompletePrintQueueRow(char* row, std::int32_t days) {
  static const PrintQueueFields f;
  float d = static_cast<float>(days < 1 ? 1 : days);
  SetInt32(row, f.avgJobErrors, RoundHalfUp(static_cast<float>(GetInt32(row, f.jobErrors)) / d));
  SetInt32(row, f.avgNotReady, RoundHalfUp(static_cast<float>(GetInt32(row, f.notReady)) / d));
  SetInt32(row, f.avgOutOfPaper, RoundHalfUp(static_cast<float>(GetInt32(row, f.outOfPaper)) / d));
}

bool CompletesLongQueueNames(const char* osVersion, std::size_t width) {
  std::string text;
  if (osVersion) {
    const void* end = std::memchr(osVersion, '\0', width);
    text.assign(osVersion, end ? static_cast<const char*>(end) - osVersion : width);
  }
  return std::atoi(text.c_str()) < 6;
}

std::string FullShortQueueName(const char* row) {
  static const RowField shortName = FieldOf("MSMQQUE", "QUEINST");
  const char* name = row + shortName.offset;
  std::size_t length = shortName.width;
  while (length > 0 && IsPadding(name[length - 1])) --length;
  if (length + 1 < shortName.width) return std::string();
  return std::string(name, length);
}

void CompleteQueueName(char* row, const std::string& shortName, const std::vector<std::string>& active) {
  static const RowField longName = FieldOf("MSMQQUE", "QUEINSTLG");
  const std::string* found = nullptr;
  for (const std::string& name : active)
    if (name.find(shortName) != std::string::npos) found = &name;
  std::string text = found ? *found : std::string("INACTIVE");
  if (text.size() > longName.width) text.resize(longName.width);
  char* field = row + longName.offset;
  std::memset(field, ' ', longName.width);
  std::memcpy(field, text.data(), text.size());
}

}  // namespace perf
}  // namespace osm
