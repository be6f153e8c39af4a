// How each table's attributes appear as metrics.
#include "tables/metric_columns.h"

#include <cstring>
#include <sstream>

namespace osm {
namespace {

// Left out of every table: when and in which order the row was sampled says
// nothing about the thing it describes, and would make a new series each time.
const char* const kAlwaysOmitted[] = {"TIMESTAMP", "SAMPLENO", "ROWNO"};

struct LabelRecord {
  const char* table;
  const char* labels;   // identifying attributes, blank separated, in label order
  const char* omitted;  // further attributes left out (single-byte twins of labels)
};

// Tables not listed here have no identifying attributes (one row).
const LabelRecord kLabels[] = {
    {"NTPAGEFILE", "UINSTCNAME", "INSTCNAME"},
    {"NTPROCSSR", "INSTCNAME", ""},
    {"WTLOGCLDSK", "INSTCNAME", ""},
    {"WTPHYSDSK", "INSTCNAME", ""},
    {"WTPROCESS", "INSTCNAME IDPROCESS", ""},
    {"NTPROCESS", "INSTCNAME IDPROCESS", ""},
    {"PROCESSIO", "INSTCNAME PRCSIOID", ""},
    {"WTTHREAD", "INSTCNAME IDPROCESS IDTHREAD", ""},
    {"NETWRKIN", "UINTFINST", "INTFINST"},
    {"NTNETWRKIN", "UINTFINST", ""},
    {"NETSEGMT", "SEGINST", ""},
    {"INDEXSVC", "UINSTCNAME", "INSTCNAME"},
    {"INDEXSVCF", "UINSTCNAME", "INSTCNAME"},
    {"WEBSVC", "INSTCNAME", ""},
    {"FTPSVC", "INSTCNAME", ""},
    {"NNTPCMD", "INSTCNAME", ""},
    {"NNTPSRV", "INSTCNAME", ""},
    {"SMTPSRV", "INSTCNAME", ""},
    {"MSMQQUE", "QUEINSTLG", "QUEINST"},
    {"MSMQSESS", "SESSNAME", ""},
    {"JOBOBJ", "UINSTCNAME", "INSTCNAME"},
    {"JOBOBJD", "UINSTCNAME", "INSTCNAME"},
    {"NTJOBOBJD", "UINSTCNAME", ""},
    {"PRINTQ", "UINSTCNAME", "INSTCNAME"},
    {"WTSERVERQ", "INSTCNAME", ""},
    {"NTSERVERQ", "INSTCNAME", ""},
    {"NTFLCHG", "UWATCHDIR UWATCHFILE", "WATCHDIR WATCHFILE"},
    {"NTFLTREND", "UWATCHDIR UWATCHFILE", "WATCHDIR WATCHFILE"},
    {"NTLOGINFO", "ULOGNAME", "LOGNAME"},
    {"NTEVTLOG", "ULOGNAME", "LOGNAME"},
    {"NTPRINTER", "UPRTNAME", "PRTNAME"},
    {"NTPRTJOB", "UPRTNAME POSITION", "PRTNAME"},
    {"NTSERVICE", "USRVCNAME", "SRVCNAME"},
    {"NTSVCDEP", "SRVCNAME DEPEND", ""},
    {"NTDEVICE", "DEVNAME", ""},
    {"NTDEVDEP", "DEVNAME DEPEND", ""},
    {"WTREGISTRY", "PATHNAME", ""},
    {"NTNETWPORT", "PROTOCOL LOCALADDR LOCALPT REMOTEADDR REMOTEPT", ""},
    {"NTPROCINFO", "PROCDEVID", ""},
    {"NTIPADDR", "INTFNAME IPADDRESS", ""},
    {"NTMNTPT", "MNTPOINT", ""},
    {"OSMRASPT", "PORT", ""},
    {"OSMWDGCAP", "WDGAGTNAME", ""},
    {"OSMWDGMGMT", "WDGAGTNAME", ""},
    {"OSMWDGSTAT", "WDGAGTNAME", ""},
    {"OSMWDGALRT", "WDGAGTNAME", ""},
};

std::vector<std::string> Words(const char* text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string w;
  while (in >> w) out.push_back(w);
  return out;
}

const LabelRecord* RecordOf(const char* table) {
  for (const LabelRecord& r : kLabels) {
    if (std::strcmp(r.table, table) == 0) return &r;
  }
  return nullptr;
}

bool InWords(const char* words, const char* name) {
  for (const std::string& w : Words(words)) {
    if (w == name) return true;
  }
  return false;
}

const AttrDef* FindAttr(const TableDef& table, const std::string& name) {
  for (std::uint32_t i = 0; i < table.attrCount; ++i) {
    if (name == table.attrs[i].name) return &table.attrs[i];
  }
  return nullptr;
}

}  // namespace

const char* MetricNodeAttribute() { return "ORIGINNODE"; }

std::vector<std::string> MetricLabelAttributes(const TableDef& table) {
  const LabelRecord* r = RecordOf(table.name);
  return r ? Words(r->labels) : std::vector<std::string>();
}

MetricRole MetricRoleOf(const TableDef& table, const AttrDef& attr) {
  if (std::strcmp(attr.name, MetricNodeAttribute()) == 0) return MetricRole::kNode;
  for (const char* o : kAlwaysOmitted) {
    if (std::strcmp(attr.name, o) == 0) return MetricRole::kOmitted;
  }
  if (const LabelRecord* r = RecordOf(table.name)) {
    if (InWords(r->labels, attr.name)) return MetricRole::kLabel;
    if (InWords(r->omitted, attr.name)) return MetricRole::kOmitted;
  }
  return attr.type == kAttrInt32 || attr.type == kAttrInt64 ? MetricRole::kGauge : MetricRole::kInfo;
}

std::string MetricHelp(const TableDef& table, const AttrDef& attr) {
  std::string help = std::string(table.name) + " " + attr.name + ": ";
  if (attr.source[0] == '\0') return help + "computed by the table's collector";
  if (attr.source[0] == '_') return help + "fixed-data field " + attr.source;
  return help + "counter " + attr.source;
}

std::string MetricPrefix(const TableDef& table) {
  std::string out = "osm_";
  for (const char* p = table.name; *p; ++p) {
    out.push_back(*p >= 'A' && *p <= 'Z' ? static_cast<char>(*p - 'A' + 'a') : *p);
  }
  return out;
}

cfw::MetricColumns MetricColumnsOf(const TableDef& table) {
  cfw::MetricColumns columns;
  columns.node = MetricNodeAttribute();
  columns.labels = MetricLabelAttributes(table);
  for (std::uint32_t i = 0; i < table.attrCount; ++i) {
    const AttrDef& a = table.attrs[i];
    if (MetricRoleOf(table, a) == MetricRole::kOmitted) columns.omitted.push_back(a.name);
    columns.help[a.name] = MetricHelp(table, a);
  }
  return columns;
}

std::vector<std::string> MetricDataProblems() {
  std::vector<std::string> problems;
  for (const LabelRecord& r : kLabels) {
    const TableDef* table = FindTable(r.table);
    if (table == nullptr) {
      problems.push_back(r.table);
      continue;
    }
    for (const char* list : {r.labels, r.omitted}) {
      for (const std::string& name : Words(list)) {
        if (FindAttr(*table, name) == nullptr) problems.push_back(std::string(r.table) + "." + name);
      }
    }
  }
  return problems;
}

}  // namespace osm
