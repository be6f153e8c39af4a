#include "perfclient/osmclient.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "framework/ras1.h"
#include "host/messages.h"

IOsmKount* g_osmKount = nullptr;
int g_osmGlobalInterval = 5;

namespace {

const char kEyeCatcher[] = "OsmSampleBfr";

// Writes text and the code text of hr to the error stream.
void ErrorWithCode(const char* text, HRESULT hr) {
  char code[48];
  FormatCodeText(hr, code, sizeof code);
  std::fprintf(stderr, "%s%s\n", text, code);
  std::fflush(stderr);
}

}  // namespace

OsmSampleBfr* OsmTableSampleBuffer(const char* table) {
  static std::mutex lock;
  static std::map<std::string, std::unique_ptr<OsmSampleBfr>> records;
  std::lock_guard<std::mutex> guard(lock);
  std::unique_ptr<OsmSampleBfr>& slot = records[table ? table : ""];
  if (!slot) slot.reset(new OsmSampleBfr());
  return slot.get();
}

void FormatCodeText(HRESULT hr, char* text, std::size_t size) {
  std::snprintf(text, size, "0x%08lx (%ld)", static_cast<unsigned long>(hr), static_cast<long>(hr));
}

OsmSampleBfr::OsmSampleBfr()
    : nVersion(3),
      hSample(0),
      hMutex(nullptr),
      nBufferSize(0),
      nRowSize(0),
      nBufferUsed(0),
      nRowsInBuffer(0),
      nRowsUsed(0),
      pBuffer(nullptr),
      ulResult(S_OK),
      bCtrObject(0) {
  std::memset(szEyeBall, 0, sizeof szEyeBall);
  std::memcpy(szEyeBall, kEyeCatcher, sizeof kEyeCatcher);
  std::memset(szSysName, 0, sizeof szSysName);
  std::memset(szTblName, 0, sizeof szTblName);
}

OsmSampleBfr::~OsmSampleBfr() {
  delete[] pBuffer;
  if (hMutex) CloseHandle(hMutex);
}

void OsmSampleBfr::Resize(long long bytes) {
  delete[] pBuffer;
  pBuffer = nullptr;
  nBufferSize = 0;
  nRowsInBuffer = 0;
  nBufferUsed = 0;
  nRowsUsed = 0;
  if (bytes < 1) {
    nRowSize = 0;
    return;
  }
  if (nRowSize == 0) nRowSize = bytes > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<UINT>(bytes);
  unsigned long long rows = (static_cast<unsigned long long>(bytes) + nRowSize - 1) / nRowSize;
  unsigned long long total = rows * nRowSize;
  if (total > 0x7FFFFFFFull) {
    std::fprintf(stderr, "Exception raised: Memory allocation failure!\n");
    return;
  }
  pBuffer = new (std::nothrow) BYTE[static_cast<std::size_t>(total)]();
  if (!pBuffer) {
    std::fprintf(stderr, "Exception raised: Memory allocation failure!\n");
    return;
  }
  nRowsInBuffer = static_cast<UINT>(rows);
  nBufferSize = static_cast<UINT>(total);
}

bool OsmSampleBfr::CreateMutex(const char* tableName) {
  char name[128];
  std::snprintf(name, sizeof name, "%08lX.%s.%s", static_cast<unsigned long>(GetCurrentProcessId()),
                tableName ? tableName : "", kEyeCatcher);
  HANDLE h = ::CreateMutexA(nullptr, TRUE, name);
  DWORD error = GetLastError();
  if (h && error == ERROR_ALREADY_EXISTS) {
    std::fprintf(stderr, "Mutex %s already exists.\n", name);
    CloseHandle(h);
    return false;
  }
  if (!h) {
    if (error == ERROR_INVALID_HANDLE)
      std::fprintf(stderr, "Invalid handle %p returned for %s\n", static_cast<void*>(h), name);
    else
      std::fprintf(stderr, "Unable to create mutex.  Error code: %lu\n", static_cast<unsigned long>(error));
    return false;
  }
  if (!ReleaseMutex(h)) {
    std::fprintf(stderr, "Unable to release mutex with handle: %p Error code: %lu\n", static_cast<void*>(h),
                 static_cast<unsigned long>(GetLastError()));
  }
  hMutex = h;
  return true;
}

bool OsmSampleBfr::Lock() {
  if (!hMutex) {
    std::fprintf(stderr, "No serialization handle established for this resource.\n");
    return false;
  }
  DWORD rc = WaitForSingleObject(hMutex, 5000);
  if (rc == WAIT_OBJECT_0) return true;
  if (rc == WAIT_FAILED)
    std::fprintf(stderr, "Wait for resource failed.  Extended error code from GetLastError(): %lu\n",
                 static_cast<unsigned long>(GetLastError()));
  else if (rc == WAIT_TIMEOUT)
    std::fprintf(stderr, "Timed out waiting for resource.\n");
  else if (rc == WAIT_ABANDONED) {
    // We own the mutex now; the rows may be half written, but they are
    // rewritten by the next copy. Keep the ownership so that Unlock matches.
    std::fprintf(stderr, "Resourse's owning thread terminated without releasing the resource.\n");
    std::fprintf(stderr, "Serialization failed.\n");
    ReleaseMutex(hMutex);
    return false;
  }
  std::fprintf(stderr, "Serialization failed.\n");
  return false;
}

void OsmSampleBfr::Unlock() {
  if (!hMutex) {
    std::fprintf(stderr, "Invalid mutex handle: %p\n", static_cast<void*>(hMutex));
    return;
  }
  if (!ReleaseMutex(hMutex))
    std::fprintf(stderr, "Unable to release mutex with handle: %p Error code: %lu\n", static_cast<void*>(hMutex),
                 static_cast<unsigned long>(GetLastError()));
}

void OsmSampleBfr::Dump(std::FILE* stream) const {
  std::fprintf(stream, "szEyeBall....: %.16s\n", szEyeBall);
  std::fprintf(stream, "nVersion.....: %d\n", nVersion);
  std::fprintf(stream, "hSample......: 0x%08llx\n", static_cast<unsigned long long>(hSample));
  std::fprintf(stream, "hMutex.......: 0x%08llx\n", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(hMutex)));
  std::fprintf(stream, "nBufferSize..: %u\n", nBufferSize);
  std::fprintf(stream, "nRowSize.....: %u\n", nRowSize);
  std::fprintf(stream, "nBufferUsed..: %u\n", nBufferUsed);
  std::fprintf(stream, "nRowsInBuffer: %u\n", nRowsInBuffer);
  std::fprintf(stream, "nRowsUsed....: %u\n", nRowsUsed);
  std::fprintf(stream, "pBuffer......: %p\n", static_cast<void*>(pBuffer));
  std::fprintf(stream, "ulResult.....: 0x%08lx\n", static_cast<unsigned long>(ulResult));
  std::fprintf(stream, "bCtrObject...: %d\n", bCtrObject);
  std::fprintf(stream, "szSysName....: %s\n", szSysName);
  std::fprintf(stream, "szTblName....: %.32s\n", szTblName);
}

HRESULT OsmDescribeSampleFixedData(OSMSAMPLE sample, const char* name, const void* data, UINT length) {
  RAS1_UNIT("OsmDescribeSampleFixedData");
  if (!g_osmKount) return E_POINTER;
  RAS1_TRACE(RAS1_FLOW, "Describing fixed data %s (%u bytes) for sample 0x%llx", name ? name : "", length,
             static_cast<unsigned long long>(sample));
  HRESULT hr = g_osmKount->DescribeSampleFixedData(sample, name, data, length);
  RAS1_TRACE(RAS1_DETAIL, "DescribeSampleFixedData returned 0x%08lx", static_cast<unsigned long>(hr));
  return hr;
}

void OsmStartInterface(OsmSampleBfr* record, UINT descriptionId, UINT fixedDataId, const char* fixedName,
                       const void* fixedData, UINT fixedLength, UINT fixedCount) {
  RAS1_UNIT("OsmStartInterface");
  if (!g_osmKount) {
    record->bCtrObject = 0;
    record->Resize(0);
    std::fprintf(stderr, "Interface is not initialized.  Unable to process.\n");
    RAS1_ALWAYS("Interface is not initialized.  Unable to process.");
    return;
  }
  OSMSAMPLE sample = 0;
  HRESULT hr = g_osmKount->DescribeSampleI(descriptionId, fixedDataId, 0, 0, 0, fixedCount, &sample);
  if (FAILED(hr) && hr != E_ACCESSDENIED) {
    record->bCtrObject = 0;
    record->Resize(0);
    ErrorWithCode("Unable to describe the sample for this report.  DescribeSampleI() returned: ", hr);
    char code[32];
    std::snprintf(code, sizeof code, "0x%08lx", static_cast<unsigned long>(hr));
    RAS1_ALWAYS("Unable to describe the sample for this report.  DescribeSampleI() returned: %s [%.8lx]", code,
                static_cast<unsigned long>(hr));
    return;
  }
  if (!sample) {
    std::fprintf(stderr, "Sample is not initialized.  Unable to process.\n");
    RAS1_ALWAYS("Sample is not initialized.  Unable to process.");
    return;
  }
  record->bCtrObject = hr == S_OK ? 1 : 0;
  if (!record->bCtrObject) record->Resize(0);  // the object is not present on this computer
  record->hSample = sample;
  if (fixedData) {
    // The system name is the first blank-delimited word of the fixed data.
    const char* bytes = static_cast<const char*>(fixedData);
    std::size_t n = 0;
    while (n < fixedLength && n < sizeof record->szSysName - 1 && bytes[n] != ' ' && bytes[n] != '\0') ++n;
    std::memcpy(record->szSysName, bytes, n);
    record->szSysName[n] = '\0';
    HRESULT fixed = g_osmKount->DescribeSampleFixedData(sample, fixedName, fixedData, fixedLength);
    if (FAILED(fixed)) {
      ErrorWithCode("WARNING:  Sample description may be incomplete.  DescribeSampleFixedData() returned: ", fixed);
      char code[32];
      std::snprintf(code, sizeof code, "0x%08lx", static_cast<unsigned long>(fixed));
      RAS1_ALWAYS("WARNING:  Sample description may be incomplete.  DescribeSampleFixedData() returned: %s [%.8lx]",
                  code, static_cast<unsigned long>(fixed));
    }
  }
}

HRESULT OsmKountInterface(OsmSampleBfr* record) {
  RAS1_UNIT("OsmKountInterface");
  if (!g_osmKount) {
    std::fprintf(stderr, "Interface is not initialized.  Unable to process.\n");
    RAS1_ALWAYS("Interface is not initialized.  Unable to process.");
    return record->pBuffer ? record->ulResult : E_ACCESSDENIED;
  }
  // The copy may resize the buffer: it runs under the record's mutex, which the
  // calling collector normally holds already (the mutex is recursive).
  OsmSampleBfrLock guard(*record);
  if (!guard.owns()) return E_FAIL;

  if (record->bCtrObject) {
    bool copied = false;
    if (record->pBuffer) {
      UINT needed = 0;
      HRESULT hr = g_osmKount->SampleLockedData(record->hSample, static_cast<int>(record->nBufferSize), &needed,
                                                record->pBuffer);
      record->ulResult = hr;
      if (SUCCEEDED(hr)) {
        record->nBufferUsed = needed;
        record->nRowsUsed = record->nRowSize ? needed / record->nRowSize : 0;
        copied = true;
      }
    }
    if (!copied) {
      HRESULT hr = g_osmKount->SampleLock(record->hSample, OSMKOUNT_LOCK);
      record->ulResult = hr;
      if (FAILED(hr)) {
        ErrorWithCode("Unable to lock sample.  SampleLock() returned: ", hr);
        RAS1_ALWAYS("Unable to lock sample.  SampleLock() returned: %d [%.8lx]", static_cast<int>(hr),
                    static_cast<unsigned long>(hr));
      } else {
        UINT rows = 0;
        hr = g_osmKount->SampleRows(record->hSample, &rows);
        record->ulResult = hr;
        if (FAILED(hr)) {
          ErrorWithCode("Unable to determine number of rows in sample.  SampleRows() returned: ", hr);
          RAS1_ALWAYS("Unable to determine number of rows in sample.  SampleRows() returned: %d [%.8lx]",
                      static_cast<int>(hr), static_cast<unsigned long>(hr));
        } else {
          if (rows > record->nRowsInBuffer)
            record->Resize(static_cast<long long>(record->nRowSize) * static_cast<long long>(rows));
          if (record->pBuffer) {
            UINT needed = 0;
            hr = g_osmKount->SampleData(record->hSample, static_cast<int>(record->nBufferSize), &needed,
                                        record->pBuffer);
            record->ulResult = hr;
            if (FAILED(hr)) {
              ErrorWithCode("Unable to collect sample data.  SampleData() returned: ", hr);
              RAS1_ALWAYS("Unable to collect sample data.  SampleData() returned: %d [%.8lx]", static_cast<int>(hr),
                          static_cast<unsigned long>(hr));
            } else {
              record->nRowsUsed = record->nRowSize ? needed / record->nRowSize : 0;
              record->nBufferUsed = needed;
            }
          }
        }
        HRESULT unlock = g_osmKount->SampleLock(record->hSample, OSMKOUNT_UNLOCK);
        if (FAILED(unlock)) {
          ErrorWithCode("Unable to unlock sample.  SampleLock() returned: ", unlock);
          RAS1_ALWAYS("Unable to unlock sample.  SampleLock() returned: %d [%.8lx]", static_cast<int>(unlock),
                      static_cast<unsigned long>(unlock));
        }
      }
    }
  }
  return record->pBuffer ? record->ulResult : E_ACCESSDENIED;
}

bool RegIt() {
  RAS1_UNIT("RegIt");
  char file[MAX_PATH];
  LoadAgentString(5008, file, sizeof file);
  RAS1_TRACE(RAS1_FLOW, "Attempting to register DLL: %s", file);
  HMODULE module = LoadLibraryA(file);
  if (!module) {
    Message0(10106);
    return false;
  }
  typedef HRESULT(STDAPICALLTYPE * RegisterFn)();
  RegisterFn reg = reinterpret_cast<RegisterFn>(reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")));
  if (!reg) {
    Message0(10107);
    return false;
  }
  reg();  // the library stays loaded
  return true;
}

CLSID GetClassId() {
  RAS1_UNIT("GetClassId");
  char progId[128];
  LoadAgentString(5009, progId, sizeof progId);
  wchar_t wide[128];
  MultiByteToWideChar(CP_ACP, 0, progId, -1, wide, 128);
  CLSID clsid = GUID_NULL;
  for (int attempt = 0; attempt < 2; ++attempt) {
    RAS1_TRACE(RAS1_DETAIL, "GetClassId: Retrieving CLSID from ProgID.");
    if (SUCCEEDED(CLSIDFromProgID(wide, &clsid))) {
      RAS1_TRACE(RAS1_DETAIL, "CLSIDFromProgID() successful.");
      RAS1_TRACE(RAS1_DETAIL, "ProgID: %s", progId);
      RAS1_TRACE(RAS1_DETAIL, "CLSID: {%.8lX-%.4X-%.4X-%.2X%.2X-%.2X%.2X%.2X%.2X%.2X%.2X}",
                 static_cast<unsigned long>(clsid.Data1), clsid.Data2, clsid.Data3, clsid.Data4[0], clsid.Data4[1],
                 clsid.Data4[2], clsid.Data4[3], clsid.Data4[4], clsid.Data4[5], clsid.Data4[6], clsid.Data4[7]);
      return clsid;
    }
    if (attempt == 0) {
      if (RegIt()) RAS1_TRACE(RAS1_DETAIL, "DLL re-registration successful.");
      else RAS1_TRACE(RAS1_DETAIL, "DLL re-registration failed.");
    }
  }
  RAS1_TRACE(RAS1_ERROR, "Exhausted all retry attempts.");
  return GUID_NULL;
}
