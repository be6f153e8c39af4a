// The table reference, rendered from the row catalogue.
#include "tables/reference.h"

#include <cstdio>
#include <cstring>

#include "tables/metric_columns.h"

namespace osm {
namespace {

struct Summary {
  const char* table;
  const char* text;
};

// What the rows of each table describe, one sentence each.
const Summary kSummaries[] = {
    {"NTPAGEFILE",
     "Paging files: one row per instance of the \"Paging File\" performance object, with its "
     "current and peak usage in percent."},
    {"NTPROCSSR",
     "Processors: one row per instance of the \"Processor\" performance object, the \"_Total\" "
     "instance included, with privileged, user, interrupt and DPC time percentages and the "
     "interrupt and DPC rates."},
    {"NTPROCRSUM",
     "A single row that summarises the processor sample: the busiest and the least busy "
     "processor, the differences between them, and the process that uses most processor time."},
    {"WTLOGCLDSK",
     "Logical disks: one row per instance of the \"LogicalDisk\" performance object (drive "
     "letters, volumes mounted without a letter, \"_Total\"), with disk time, transfer and queue "
     "counters and free space, completed with the volume's total size, its used percentage and "
     "the number of the physical disk that holds it."},
    {"WTMEMORY",
     "Memory: the counters of the \"Memory\" performance object as 32-bit values, in bytes and "
     "in kilobytes, completed with percentages and totals computed from the physical memory "
     "size."},
    {"NTMEMORY",
     "Memory: the counters of the \"Memory\" performance object with 64-bit byte counts, "
     "completed with percentages and totals computed from the physical memory size."},
    {"WTOBJECTS",
     "Kernel objects: the numbers of events, mutexes, processes, sections, semaphores and "
     "threads from the \"Objects\" performance object."},
    {"WTPHYSDSK",
     "Physical disks: one row per instance of the \"PhysicalDisk\" performance object, with "
     "disk time percentages, transfer sizes, rates and queue lengths, and the disk number taken "
     "from the instance name."},
    {"WTPROCESS",
     "Processes: one row per instance of the \"Process\" performance object as 32-bit values, "
     "completed with the owning account, the executable's path, the processor time averaged "
     "over all processors and the number of processes running the same executable."},
    {"NTPROCESS",
     "Processes: one row per instance of the \"Process\" performance object with 64-bit "
     "values, completed with the owning account, the executable's path, the processor time "
     "averaged over all processors and the number of processes running the same executable."},
    {"PROCESSIO",
     "Process input and output: one row per instance of the \"Process\" performance object "
     "with its I/O byte and operation rates and the executable's path."},
    {"NTREDIRECT",
     "The redirector, the client side of file sharing: the counters of the \"Redirector\" "
     "performance object (bytes, packets, reads, writes, connections and server sessions), "
     "with the byte rate related to the fastest network interface."},
    {"WTTHREAD",
     "Threads: one row per instance of the \"Thread\" performance object with its process and "
     "thread ids, processor time percentages, context switches, priorities, start address, "
     "state and wait reason."},
    {"WTSYSTEM",
     "The system as a whole: the counters of the \"System\" performance object (processor "
     "totals, file operation rates, context switches, system calls, up time), completed with "
     "up time in days, memory and paging-file sizes and the processor queue excess, and "
     "carrying the system's identity (user name, operating system type and version, network "
     "addresses, processor count and type, page size)."},
    {"NETWRKIN",
     "Network interfaces: one row per instance of the \"Network Interface\" performance object "
     "as 32-bit values, completed with the bandwidth utilisation and one IPv4, global IPv6 or "
     "link-local IPv6 address of the interface."},
    {"NTNETWRKIN",
     "Network interfaces: one row per instance of the \"Network Interface\" performance object "
     "with 64-bit values, completed with the bandwidth utilisation and one IPv4, global IPv6 or "
     "link-local IPv6 address of the interface."},
    {"NETSEGMT",
     "Network segments: one row per instance of the \"Network Segment\" performance object "
     "with the segment's utilisation, the bytes and frames received and the broadcast and "
     "multicast frames."},
    {"UDPSTATS",
     "UDP statistics: datagram rates, receive errors and datagrams for no port, from the "
     "\"UDP\" or \"UDPv4\" performance object."},
    {"TCPSTATS",
     "TCP statistics: connection counts, failures and resets, and segment rates including "
     "retransmissions, from the \"TCP\" or \"TCPv4\" performance object."},
    {"IPSTATS",
     "IP statistics: datagram rates, discards and errors, fragmentation and reassembly, from "
     "the \"IP\" or \"IPv4\" performance object, completed with the percentage of received "
     "datagrams that arrived as fragments."},
    {"ICMPSTAT",
     "ICMP statistics from the \"ICMP\" performance object: message rates and errors, and the "
     "messages of each type received and sent."},
    {"INDEXSVC",
     "The indexing service: one row per instance of the \"Indexing Service\" performance "
     "object with document, index, merge and query counts."},
    {"INDEXSVCF",
     "The indexing service filter: one row per instance of the \"Indexing Service Filter\" "
     "performance object with the binding time and the indexing speeds."},
    {"HTTPCNDX",
     "Content indexing of the web server: active and total queries, queued and rejected "
     "requests and cache use, from the \"HTTP Content Index\" or \"Http Indexing Service\" "
     "performance object."},
    {"ACTSRVPG",
     "Active Server Pages: request, session, script error, template cache, script engine and "
     "transaction counters of the \"Active Server Pages\" performance object."},
    {"IISSTATS",
     "Global web server counters of the \"Internet Information Services Global\" performance "
     "object: asynchronous I/O bandwidth and requests, and the object and file handle cache."},
    {"HTTPSRVC",
     "The HTTP service of web servers before version 4 (\"HTTP Service\" performance object): "
     "connections, bytes and files transferred, CGI, ISAPI and method requests, and anonymous "
     "and other users."},
    {"FTPSTATS",
     "The FTP server of web servers before version 4 (\"FTP Server\" performance object): bytes "
     "and files transferred, connections, logon attempts, and anonymous and other users."},
    {"GOPHRSVC",
     "The Gopher service (\"Gopher Service\" performance object): bytes, files, searches and "
     "directory listings sent, connections, and anonymous and other users."},
    {"WEBSVC",
     "Web sites: one row per instance of the \"Web Service\" performance object with "
     "connections, bytes and files transferred, requests per method as totals and rates, users "
     "and asynchronous I/O requests."},
    {"FTPSVC",
     "FTP sites: one row per instance of the \"FTP Service\" performance object with bytes and "
     "files transferred, connections, logon attempts, and anonymous and other users."},
    {"NNTPCMD",
     "NNTP commands: one row per instance of the \"NNTP Commands\" performance object with the "
     "count and rate of each command, logon attempts and logon failures."},
    {"NNTPSRV",
     "NNTP server: one row per instance of the \"NNTP Server\" performance object with article, "
     "byte, control message, connection, feed and user counters."},
    {"SMTPSRV",
     "SMTP server: one row per instance of the \"SMTP Server\" performance object with message, "
     "byte, recipient, queue, connection, DNS query and routing counters."},
    {"MSMQIS",
     "Message queuing information store: access, errors returned to applications, replication "
     "and synchronisation requests, from the \"MSMQ IS\" performance object."},
    {"MSMQQUE",
     "Message queues: one row per instance of the \"MSMQ Queue\" performance object with the "
     "bytes and messages in the queue and in its journal queue."},
    {"MSMQSVC",
     "The message queuing service (\"MSMQ Service\" performance object): incoming and outgoing "
     "messages, the bytes and messages in all queues, and the IP and IPX sessions."},
    {"MSMQSESS",
     "Message queuing sessions: one row per instance of the \"MSMQ Sessions\" or \"MSMQ "
     "Session\" performance object with incoming and outgoing bytes and messages, as totals "
     "and rates."},
    {"JOBOBJ",
     "Job objects: one row per instance of the \"Job Object\" performance object with processor "
     "time percentages, period and total processor times, the page rate and the process "
     "counts."},
    {"JOBOBJD",
     "Processes in job objects: one row per instance of the \"Job Object Details\" performance "
     "object as 32-bit values, with processor time, I/O, page faults, memory, priority, thread "
     "and handle counts."},
    {"NTJOBOBJD",
     "Processes in job objects: one row per instance of the \"Job Object Details\" performance "
     "object with 64-bit values, with processor time, I/O, page faults, memory, priority, "
     "thread and handle counts."},
    {"DHCPSRV",
     "The DHCP server (\"DHCP Server\" performance object): the rates of each DHCP message "
     "type, packets received, expired and dropped as duplicates, queue lengths and the time "
     "per packet."},
    {"DNSMEMORY",
     "Memory use of the DNS server (\"DNS\" performance object): caching, database node, "
     "Nbstat, record flow, TCP and UDP message memory."},
    {"DNSZONET",
     "Zone transfers of the DNS server (\"DNS\" performance object): AXFR and IXFR requests, "
     "responses and successes, notifications, and zone transfer requests, successes and "
     "failures."},
    {"DNSDYNUPD",
     "Dynamic updates of the DNS server (\"DNS\" performance object): updates received, queued, "
     "rejected, timed out and written to the database, and secure updates."},
    {"DNSQUERY",
     "Queries of the DNS server (\"DNS\" performance object): recursive queries and their "
     "failures and time-outs, and the TCP, UDP and total queries received and responses sent."},
    {"DNSWINS",
     "WINS lookups of the DNS server (\"DNS\" performance object): lookups and reverse lookups "
     "received and the responses sent."},
    {"PRINTQ",
     "Print queues: one row per instance of the \"Print Queue\" performance object with jobs, "
     "pages and bytes printed, spooling, references and errors."},
    {"WTSERVER",
     "The server service, the serving side of file sharing: the counters of the \"Server\" "
     "performance object (throughput, errors, logons, open files, pool use, sessions), "
     "completed with the ended sessions, the errored-out session percentage and the byte rate "
     "related to the fastest network interface."},
    {"WTSERVERQ",
     "Server work queues: one row per instance of the \"Server Work Queues\" performance object "
     "as 32-bit values, with threads, work items, clients, queue length and byte and operation "
     "rates."},
    {"NTSERVERQ",
     "Server work queues: one row per instance of the \"Server Work Queues\" performance object "
     "with 64-bit byte and operation rates, threads, work items, clients and queue length."},
    {"NTFLCHG",
     "File changes: one row per change reported in a watched directory, optionally narrowed to "
     "one file, with the file's size, attributes and times and the kinds of change the watch "
     "looks for."},
    {"NTFLTREND",
     "File trends: for a watched file, one row per sample with its size, times and attributes, "
     "the growth of its size over the last hour, the last interval, on average and in total, "
     "how full its disk is and how soon the free space would be used up."},
    {"NTLOGINFO",
     "Event logs: one row per supported event log describing the log file: its size against "
     "its configured maximum, its record count, its retention and its path."},
    {"NTEVTLOG",
     "Event log records: one row per record of a monitored event log, with the log, the "
     "record's times, source, type, category, user, computer, event id and description."},
    {"NTPRINTER",
     "Printers known to the print spooler, local printers and printer connections: one row "
     "per printer with its names, port, driver, comment, location, settings, status and jobs."},
    {"NTPRTJOB",
     "Print jobs: one row per job queued on a printer, with the document, owner, machine, "
     "status, priority, position, size, pages and submission time."},
    {"NTSERVICE",
     "Windows services: one row per Win32 service known to the service control manager, with "
     "its display name, state, start type, executable, account, load order group and name."},
    {"NTSVCDEP",
     "Service dependencies: one row per dependency of a Win32 service."},
    {"NTDEVICE",
     "Device drivers: one row per driver known to the service control manager, with its "
     "display name, state, start type, executable, driver object name, load order group and "
     "name."},
    {"NTDEVDEP",
     "Driver dependencies: one row per dependency of a device driver."},
    {"WTREGISTRY",
     "Registry values named in request filters: one row per monitored value, given by root "
     "key and path, with its type and its value as text or as a number."},
    {"NTNETWPORT",
     "Network ports in use: one row per TCP connection or listener and per UDP endpoint, with "
     "protocol, local and remote ports and addresses, the service name of the local port, the "
     "TCP state and the host names found by reverse lookup."},
    {"NTPROCINFO",
     "Processors as WMI reports them: one row per processor with its device id, address and "
     "data widths, clock speeds, L2 cache size, load, socket, name, manufacturer, description, "
     "power management support, processor id and version."},
    {"NTBIOSINFO",
     "The BIOS as WMI reports it: version, description, manufacturer, release date and serial "
     "number."},
    {"NTCOMPINFO",
     "The computer product as WMI reports it: description, identifying number, name, UUID, "
     "vendor and version, with the node's host name and fully qualified domain name."},
    {"NTIPADDR",
     "IP addresses: one row per unicast address of every network adapter, with the adapter's "
     "name, the address's DNS name, its IP version and the adapter's hardware address."},
    {"NTMNTPT",
     "Mount points: one row per volume mounted in a folder of another volume, with the drive "
     "that holds the folder, the mounted volume's name and whether the mount point can be "
     "read."},
    {"OSMRASPT",
     "Remote access ports: one row per instance of the \"RAS Port\" performance object with "
     "bytes and frames received and transmitted, compression and errors."},
    {"OSMRASTOT",
     "Remote access totals from the \"RAS Total\" performance object: bytes and frames "
     "received and transmitted, compression, errors and connections."},
    {"NTCACHE",
     "The file system cache: the counters of the \"Cache\" performance object (copy, data map, "
     "fast, MDL and pin reads, flushes, lazy writes, read aheads and hit percentages), "
     "completed with hit percentages smoothed over successive samples."},
    {"OSMWDGCAP",
     "Capabilities of each agent the local watchdog manages: its static configuration, such as "
     "process name, paths, start, stop, status and configuration scripts, check frequency, "
     "service name, dependencies, restart limit and memory and processor thresholds."},
    {"OSMWDGMGMT",
     "Management state of each agent the local watchdog manages, with its type, service name, "
     "version and build."},
    {"OSMWDGSTAT",
     "Run-time status of each agent process the local watchdog manages: process id, memory and "
     "processor use, thread and handle counts, page faults, command line, restarts and user."},
    {"OSMWDGALRT",
     "Alerts raised by the local watchdog about the agents it manages, kept for 24 hours."},
};

std::string Number(long long value) {
  char text[32];
  std::snprintf(text, sizeof text, "%lld", value);
  return text;
}

std::string LowerCase(const char* text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool HasSamples(const TableDef& table) { return table.samples[0].id != 0; }

std::string JsonString(const char* text) {
  return "\"" + JsonEscape(text == nullptr ? "" : text) + "\"";
}

// A markdown table cell: pipes escaped, and text kept literal in a code span.
std::string CodeCell(const char* text) {
  std::string out = "`";
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == '|') out += '\\';
    out += *p;
  }
  return out + "`";
}

void AppendSampleLine(std::string& md, const TableDef& table) {
  if (!HasSamples(table)) {
    md += "- Sample source: none; the table's collector builds the rows itself.\n";
    return;
  }
  md += "- Sample source: ";
  bool first = true;
  for (const SampleDef& s : table.samples) {
    if (s.id == 0) continue;
    if (!first) md += "; ";
    first = false;
    md += "description " + Number(s.id) + ", performance object \"" + s.object + "\"";
    if (s.when != nullptr && s.when[0] != '\0') md += std::string(" (") + s.when + ")";
  }
  md += ".\n";
  md += "- Fixed-data description " + Number(table.fixedData) + "; initial row capacity " +
        Number(table.initialCapacity) + ".\n";
}

std::string LowerName(const char* name) {
  std::string out(name);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// How the table appears on the metrics endpoint (tables/metric_columns.h).
void AppendMetricsLine(std::string& md, const TableDef& table) {
  const std::string prefix = MetricPrefix(table);
  std::string labels = "`node`", info, omitted;
  for (const std::string& name : MetricLabelAttributes(table)) labels += ", `" + LowerName(name.c_str()) + "`";
  for (std::uint32_t i = 0; i < table.attrCount; ++i) {
    const AttrDef& a = table.attrs[i];
    MetricRole role = MetricRoleOf(table, a);
    if (role == MetricRole::kInfo) info += (info.empty() ? "`" : ", `") + LowerName(a.name) + "`";
    if (role == MetricRole::kOmitted) omitted += (omitted.empty() ? "" : ", ") + std::string(a.name);
  }
  md += "- Metrics: `" + prefix + "_<attribute>` for the other integer attributes, labelled " + labels;
  if (!info.empty()) md += "; `" + prefix + "_info` with " + info;
  if (!omitted.empty()) md += "; left out: " + omitted;
  md += ".\n";
}

// Bytes of the record that no attribute covers, as a sentence ("" when none).
std::string UnusedBytes(const TableDef& table) {
  std::string ranges;
  std::size_t count = 0;
  auto add = [&](unsigned from, unsigned to) {
    if (count++ > 0) ranges += ", ";
    ranges += Number(from) + " to " + Number(to);
  };
  unsigned end = 0;
  for (std::uint32_t i = 0; i < table.attrCount; ++i) {
    const AttrDef& a = table.attrs[i];
    if (a.offset > end) add(end, a.offset - 1u);
    if (a.offset + a.width > end) end = a.offset + a.width;
  }
  if (table.rowSize > end) add(end, table.rowSize - 1u);
  if (count == 0) return "";
  return std::string(count == 1 ? "Bytes " : "Byte ranges ") + ranges +
         " of the record belong to no attribute.\n\n";
}

}  // namespace

const char* AttrTypeName(std::uint16_t type) {
  switch (type) {
    case kAttrInt32: return "int32";
    case kAttrText: return "text";
    case kAttrUtf8: return "utf8";
    case kAttrInt64: return "int64";
    default: return "?";
  }
}

const char* TableSummary(const char* tableName) {
  if (tableName == nullptr) return "";
  for (const Summary& s : kSummaries) {
    if (std::strcmp(s.table, tableName) == 0) return s.text;
  }
  return "";
}

std::string JsonEscape(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\u%04x", c);
          out += hex;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

std::string TablesJson(const TableDef* const* tables, std::size_t count) {
  std::string js = "[";
  for (std::size_t t = 0; t < count; ++t) {
    const TableDef& table = *tables[t];
    js += t == 0 ? "\n" : ",\n";
    js += "  {\n";
    js += "    \"table\": " + JsonString(table.name) + ",\n";
    js += "    \"agentClass\": " + JsonString(table.agentClass) + ",\n";
    js += "    \"summary\": " + JsonString(TableSummary(table.name)) + ",\n";
    js += "    \"rowSize\": " + Number(table.rowSize) + ",\n";
    js += "    \"attributeCount\": " + Number(table.attrCount) + ",\n";
    js += "    \"samples\": [";
    std::size_t n = 0;
    for (const SampleDef& s : table.samples) {
      if (s.id == 0) continue;
      js += n++ == 0 ? "\n" : ",\n";
      js += "      {\"id\": " + Number(s.id) + ", \"object\": " + JsonString(s.object) +
            ", \"condition\": " + JsonString(s.when) + "}";
    }
    js += n == 0 ? "],\n" : "\n    ],\n";
    js += "    \"fixedData\": " + (table.fixedData != 0 ? Number(table.fixedData) : "null") +
          ",\n";
    js += "    \"initialCapacity\": " +
          (table.initialCapacity != 0 ? Number(table.initialCapacity) : "null") + ",\n";
    js += "    \"attributes\": [";
    for (std::uint32_t i = 0; i < table.attrCount; ++i) {
      const AttrDef& a = table.attrs[i];
      js += i == 0 ? "\n" : ",\n";
      js += "      {\"index\": " + Number(i) + ", \"name\": " + JsonString(a.name) +
            ", \"type\": \"" + AttrTypeName(a.type) + "\", \"typeCode\": " + Number(a.type) +
            ", \"width\": " + Number(a.width) + ", \"offset\": " + Number(a.offset) +
            ", \"source\": " + JsonString(a.source) + "}";
    }
    js += table.attrCount == 0 ? "]\n" : "\n    ]\n";
    js += "  }";
  }
  js += count == 0 ? "]\n" : "\n]\n";
  return js;
}

std::string TablesMarkdown(const TableDef* const* tables, std::size_t count) {
  std::string md;
  md += "# Table reference\n\n";
  md += "<!-- Generated by `osmtables --markdown`; edit tables/catalogue.inc and "
        "tables/reference.cpp, not this file. -->\n\n";
  md += "The agent describes its data as " + Number(static_cast<long long>(count)) +
        " tables. Each row of a table is a fixed-layout record; every attribute has a name "
        "(upper case, as conditions and reports address it), a type, a width and an offset in "
        "bytes from the start of the record. Types: `int32` and `int64` are signed integers in "
        "the machine's byte order; `text` is a fixed-width field of single-byte text and "
        "`utf8` a fixed-width field of UTF-8 text, both padded with blanks and without "
        "terminator.\n\n";
  md += "Tables filled from a performance object name their sample description(s) and list, "
        "per attribute, what the counter service writes there: a fixed-data field such as "
        "`_ORIGIN_` or `_TIMESTAMP_`, the instance name `_INSTANCE_`, or a counter name. "
        "`*factor` marks a scale factor; `A | B` gives the counter of the first and of the "
        "second description; `_ZVALUE_; X` means the fixed-data field and the counter are both "
        "written at that offset. \"collector\" marks attributes that the table's collector "
        "fills itself. Tables without sample description are built by their collector.\n\n";
  md += "The metrics endpoint (see the README) serves each exported table's integer attributes as "
        "gauges named `osm_<table>_<attribute>` in lower case, labelled with `node` (the origin "
        "node) and the table's identifying attributes, and its other text attributes as labels of "
        "one `osm_<table>_info` family with the value 1. The \"Metrics\" line of each table names "
        "its labels and what is left out; a value of -1 is never exported.\n\n";
  md += "| Table | Rows |\n|---|---|\n";
  for (std::size_t t = 0; t < count; ++t) {
    const TableDef& table = *tables[t];
    md += std::string("| [") + table.name + "](#" + LowerCase(table.name) + ") | " +
          TableSummary(table.name) + " |\n";
  }
  for (std::size_t t = 0; t < count; ++t) {
    const TableDef& table = *tables[t];
    md += std::string("\n## ") + table.name + "\n\n";
    md += std::string(TableSummary(table.name)) + "\n\n";
    md += std::string("- Agent class `") + table.agentClass + "`; row size " +
          Number(table.rowSize) + " bytes, " + Number(table.attrCount) + " attributes.\n";
    AppendSampleLine(md, table);
    AppendMetricsLine(md, table);
    md += "\n";
    md += UnusedBytes(table);
    const bool sourced = HasSamples(table);
    md += sourced ? "| # | Attribute | Type | Width | Offset | Source |\n|---|---|---|---|---|---|\n"
                  : "| # | Attribute | Type | Width | Offset |\n|---|---|---|---|---|\n";
    for (std::uint32_t i = 0; i < table.attrCount; ++i) {
      const AttrDef& a = table.attrs[i];
      md += "| " + Number(i) + " | " + a.name + " | " + AttrTypeName(a.type) + " | " +
            Number(a.width) + " | " + Number(a.offset) + " |";
      if (sourced) {
        md += " ";
        md += a.source[0] == '\0' ? std::string("collector") : CodeCell(a.source);
        md += " |";
      }
      md += "\n";
    }
  }
  return md;
}

}  // namespace osm
