// The tables the agent registers, in order, and the sample description each
// uses, chosen by the Windows version and the web server's major version.
#pragma once

#include <vector>

struct PlatformVersion {
  int major = 0;        // Windows major version
  int minor = 0;        // Windows minor version
  int productType = 1;  // 1 workstation, 2 domain controller, 3 server
  int iisMajor = 0;     // web server major version, 0 when absent
};

struct TableRegistration {
  const char* table;  // upper-case table name
  int resourceId;     // first string id of the sample description, 0 for none
  int fixedDataId;    // fixed-data description id, 0 for none
  int fixedCount;     // fixed-data items announced with the description
};

// Every table whose condition holds on this platform, in registration order.
std::vector<TableRegistration> SelectTables(const PlatformVersion& v);
