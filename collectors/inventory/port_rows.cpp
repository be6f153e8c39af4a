#include "collectors/inventory/port_rows.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>

#include "framework/ras1.h"

namespace osm {
namespace inventory {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string Trimmed(const std::string& s) {
  std::size_t a = 0, b = s.size();
  while (a < b && IsBlank(s[a])) ++a;
  while (b > a && IsBlank(s[b - 1])) --b;
  return s.substr(a, b - a);
}

}  // namespace

std::string ServiceNameOfPort(const std::vector<std::string>& lines, const std::string& protocol, int port) {
  std::string key = std::to_string(port) + "/" + protocol;
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const std::string& whole : lines) {
    std::string line = whole.substr(0, whole.find('#'));
    // Only a whole field counts: "23/udp" must not match inside "123/udp".
    for (std::size_t at = line.find(key); at != std::string::npos; at = line.find(key, at + 1)) {
      std::size_t end = at + key.size();
      bool starts = at == 0 || IsBlank(line[at - 1]);
      bool ends = end == line.size() || IsBlank(line[end]);
      if (starts && ends) return Trimmed(line.substr(0, at));
    }
  }
  return std::string();
}

int PortFromNetwork(std::uint32_t field) { return static_cast<int>(((field & 0xFFu) << 8) | ((field >> 8) & 0xFFu)); }

std::string AddressText(const unsigned char* b, bool ipv4) {
  char text[64];
  if (ipv4) {
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  } else {
    unsigned g[8];
    for (int i = 0; i < 8; ++i) g[i] = (static_cast<unsigned>(b[2 * i]) << 8) | b[2 * i + 1];
    std::snprintf(text, sizeof text, "%x:%x:%x:%x:%x:%x:%x:%x", g[0], g[1], g[2], g[3], g[4], g[5], g[6], g[7]);
  }
  return text;
}

std::int32_t TcpStateValue(std::uint32_t state) {
  return state >= 1 && state <= 12 ? static_cast<std::int32_t>(state) : -1;
}

AcceptedFailures ParseAcceptedFailures(const char* text) {
  AcceptedFailures out;
  if (text == nullptr) return out;
  long long value = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') {
      out.source = AcceptedFailures::kInvalid;
      return out;
    }
    if (value < INT_MAX) value = value * 10 + (*p - '0');
  }
  out.value = value > INT_MAX ? INT_MAX : static_cast<int>(value);
  out.source = AcceptedFailures::kSet;
  return out;
}

namespace {

// The reverse lookups of one direction in one sample.
struct Direction {
  const char* nameAttribute;
  const char* countText;  // "localFailureCount <%d>\n"
  int failures = 0;
};

// One lookup into the row's name field, unless the direction gave up.
void LookUp(RAS1_EPB* unit, Direction& d, int accepted, const unsigned char* address, bool ipv4,
            const std::string& addressText, RowRecord& row, const ReverseLookup& lookup, const SecondsClock& clock,
            long long* elapsed) {
  if (d.failures > accepted) return;
  long long start = clock();
  std::string name;
  if (!lookup || !lookup(address, ipv4, &name)) {
    ++d.failures;
    if (RAS1_Mask(unit) & RAS1_ERROR) {
      RAS1_Printf(unit, __LINE__, "ipToHostName failure for IP: %s\n", addressText.c_str());
      RAS1_Printf(unit, __LINE__, d.countText, d.failures);
    }
  } else {
    row.Text(d.nameAttribute, name);
    if (RAS1_Mask(unit) & RAS1_DETAIL) RAS1_Printf(unit, __LINE__, "Hostname: %s\n", name.c_str());
  }
  *elapsed += clock() - start;
  if (RAS1_Mask(unit) & RAS1_DETAIL) RAS1_Printf(unit, __LINE__, "elapsedTime <%d>\n", static_cast<int>(*elapsed));
}

}  // namespace

std::vector<RowRecord> BuildPortRows(const std::vector<Endpoint>& endpoints, const std::vector<std::string>& services,
                                     int accepted, const ReverseLookup& lookup, const SecondsClock& clock) {
  RAS1_UNIT("osm_ntnetwport_agent::TakeSample");
  RAS1_EPB* unit = &RAS1__EPB_;
  RowRecord blank("NTNETWPORT");
  blank.Stamp();
  Direction local{"LOCALNAME", "localFailureCount <%d>\n"};
  Direction remote{"REMOTENAME", "remoteFailureCount <%d>\n"};
  long long elapsed = 0;
  // Four seconds per accepted failure, in 64 bits so that a large setting cannot wrap.
  const long long budget = 4LL * accepted;
  bool timedOut = false;
  std::vector<RowRecord> rows;
  rows.reserve(endpoints.size());
  for (const Endpoint& e : endpoints) {
    RowRecord row = blank;
    row.Text("PROTOCOL", e.protocol).Int32("LOCALPT", e.localPort).Int32("REMOTEPT", e.remotePort);
    row.Text("LOCPTNAM", ServiceNameOfPort(services, e.protocol, e.localPort));
    row.Int32("STATE", e.state);
    std::string localText = AddressText(e.local, e.ipv4);
    row.Text("LOCALADDR", localText);
    if (RAS1_Mask(unit) & RAS1_DETAIL) RAS1_Printf(unit, __LINE__, "Local IP: %s\n", localText.c_str());
    LookUp(unit, local, accepted, e.local, e.ipv4, localText, row, lookup, clock, &elapsed);
    if (e.IsTcp()) {
      std::string remoteText = AddressText(e.remote, e.ipv4);
      row.Text("REMOTEADDR", remoteText);
      if (RAS1_Mask(unit) & RAS1_DETAIL) RAS1_Printf(unit, __LINE__, "Remote IP: %s\n", remoteText.c_str());
      LookUp(unit, remote, accepted, e.remote, e.ipv4, remoteText, row, lookup, clock, &elapsed);
    }
    rows.push_back(row);
    if (!timedOut && elapsed > budget) {
      if (RAS1_Mask(unit) & RAS1_ERROR) RAS1_Printf(unit, __LINE__, "elapsedTime %d\n", static_cast<int>(elapsed));
      local.failures = remote.failures = accepted == INT_MAX ? INT_MAX : accepted + 1;
      timedOut = true;
    }
  }
  if (RAS1_Mask(unit) & RAS1_DETAIL) RAS1_Printf(unit, __LINE__, "AddData Cycle\n");
  bool blankLocal = timedOut || local.failures > accepted;
  bool blankRemote = timedOut || remote.failures > accepted;
  if (!rows.empty()) {
    if (timedOut) {
      if (RAS1_Mask(unit) & RAS1_DETAIL)
        RAS1_Printf(unit, __LINE__,
                    "The localname and remotename will not be displayed because lookup is taking too long to "
                    "complete.\n");
    } else if (RAS1_Mask(unit) & RAS1_ERROR) {
      if (blankLocal)
        RAS1_Printf(unit, __LINE__,
                    "The localname will not be displayed because the reverse lookup failure count <%d> has "
                    "exceeded the number of accepted failures.\n",
                    local.failures);
      if (blankRemote)
        RAS1_Printf(unit, __LINE__,
                    "The remotename will not be displayed because the reverse lookup failure count <%d> has "
                    "exceeded the number of accepted failures.\n",
                    remote.failures);
      if (blankLocal || blankRemote)
        RAS1_Printf(unit, __LINE__,
                    "You can modify the number of accepted failures using the environment variable "
                    "REVERSE_LOOKUP_ACCEPTED_FAILURES.\n");
    }
  }
  for (RowRecord& row : rows) {
    if (blankLocal) row.Text("LOCALNAME", "");
    if (blankRemote) row.Text("REMOTENAME", "");
  }
  return rows;
}

}  // namespace inventory
}  // namespace osm
