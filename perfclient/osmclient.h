// The agent's side of the counter service: the one process-wide IOsmKount
// pointer, the per-table sample buffer record, and the calls that describe a
// table's sample and copy its current rows.
//
// Locking: several framework threads may sample the same table at once, and a
// copy may Resize the record's buffer. Every use of a record's buffer — the
// copy by OsmKountInterface and the collector's reading of the rows — happens
// under the record's mutex. Collectors hold an OsmSampleBfrLock for the whole
// fetch-and-read; OsmKountInterface takes the same (recursive) mutex itself.
#pragma once

#include <windows.h>

#include <cstdio>

#include "perfsvc/osmkount.h"

class OsmSampleBfr {
 public:
  OsmSampleBfr();
  ~OsmSampleBfr();
  OsmSampleBfr(const OsmSampleBfr&) = delete;
  OsmSampleBfr& operator=(const OsmSampleBfr&) = delete;

  // Frees the old buffer and allocates a zero-filled one for at least bytes.
  void Resize(long long bytes);
  // Creates the record's named mutex: <pid as 8 hex digits>.<tableName>.OsmSampleBfr
  bool CreateMutex(const char* tableName);
  // Waits up to 5000 ms for the mutex; false (with a message) when it fails.
  bool Lock();
  void Unlock();
  void Dump(std::FILE* stream) const;

  char szEyeBall[16];
  int nVersion;
  OSMSAMPLE hSample;
  HANDLE hMutex;
  UINT nBufferSize;
  UINT nRowSize;
  UINT nBufferUsed;
  UINT nRowsInBuffer;
  UINT nRowsUsed;
  BYTE* pBuffer;
  HRESULT ulResult;
  int bCtrObject;
  char szSysName[64 + 1];  // 64 characters and their terminator
  char szTblName[32];
};

// Holds a record's mutex for a scope; owns() tells whether it was obtained.
class OsmSampleBfrLock {
 public:
  explicit OsmSampleBfrLock(OsmSampleBfr& record) : record_(record), owns_(record.Lock()) {}
  ~OsmSampleBfrLock() {
    if (owns_) record_.Unlock();
  }
  bool owns() const { return owns_; }
  OsmSampleBfrLock(const OsmSampleBfrLock&) = delete;
  OsmSampleBfrLock& operator=(const OsmSampleBfrLock&) = delete;

 private:
  OsmSampleBfr& record_;
  bool owns_;
};

// The sample buffer record of a table (one per table name, created on first
// use, living for the process).
OsmSampleBfr* OsmTableSampleBuffer(const char* table);

// The process-wide counter object (null until created) and sampling interval.
extern IOsmKount* g_osmKount;
extern int g_osmGlobalInterval;

// Describes the table's sample to the counter service (at table start-up).
void OsmStartInterface(OsmSampleBfr* record, UINT descriptionId, UINT fixedDataId, const char* fixedName,
                       const void* fixedData, UINT fixedLength, UINT fixedCount);
HRESULT OsmDescribeSampleFixedData(OSMSAMPLE sample, const char* name, const void* data, UINT length);
// Copies the sample's current rows into the record's buffer.
HRESULT OsmKountInterface(OsmSampleBfr* record);

// The counter class from its ProgID (string 5009), re-registering the server
// once when the ProgID is unknown; GUID_NULL when that fails too.
CLSID GetClassId();
// Loads the server by file name (string 5008) and calls its DllRegisterServer.
bool RegIt();

// "0x%08x (%ld)": the code text used in messages on the error stream.
void FormatCodeText(HRESULT hr, char* text, std::size_t size);
