// IOsmKount: the custom vtable interface of the counter service's COM class
// COsmKounter, shared by the server (osmperf.dll) and its one client (the
// agent). No type library, no dispatch: methods return HRESULTs, slot order is
// fixed and must never change.
#pragma once

#include <windows.h>
#include <unknwn.h>

// {9A487EC2-9A47-11D0-8F6E-F44D6C000000}
inline const IID IID_IOsmKount = {0x9A487EC2, 0x9A47, 0x11D0, {0x8F, 0x6E, 0xF4, 0x4D, 0x6C, 0x00, 0x00, 0x00}};
// {9A487EC4-9A47-11D0-8F6E-F44D6C000000}
inline const CLSID CLSID_OsmKounter = {0x9A487EC4, 0x9A47, 0x11D0, {0x8F, 0x6E, 0xF4, 0x4D, 0x6C, 0x00, 0x00, 0x00}};

#define OSMKOUNT_FRIENDLY_NAME "Velmor Counter Support for NT"
#define OSMKOUNT_PROGID "Velmor.OSMSRV.KOUNTER1.2"
#define OSMKOUNT_PROGID_INDEPENDENT "Velmor.OSMSRV.KOUNTER1"

// CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER
#define OSMKOUNT_CLSCTX 23

// Sample handles are opaque values owned by the server.
typedef UINT_PTR OSMSAMPLE;

enum { OSMKOUNT_LOCK = 1, OSMKOUNT_UNLOCK = 2 };

struct IOsmKount : public IUnknown {
  // slot 3
  virtual HRESULT STDMETHODCALLTYPE Initialize(int intervalSeconds, BYTE costly, LPCSTR computerName) = 0;
  // slot 4
  virtual HRESULT STDMETHODCALLTYPE DescribeSampleI(UINT descriptionId, UINT fixedDataId, UINT reserved1,
                                                    UINT intervalSeconds, UINT reserved2, UINT fixedCount,
                                                    OSMSAMPLE* sample) = 0;
  // slot 5
  virtual HRESULT STDMETHODCALLTYPE DescribeSampleFixedData(OSMSAMPLE sample, LPCSTR name, const void* data,
                                                            UINT length) = 0;
  // slot 6
  virtual HRESULT STDMETHODCALLTYPE DescribeSample(LPCSTR header, LPCSTR sizes, LPCSTR offsets, LPCSTR scales,
                                                   LPCSTR types, LPCSTR fixedHeader, LPCSTR fixedSizes,
                                                   LPCSTR fixedOffsets, UINT reserved1, UINT intervalSeconds,
                                                   UINT reserved2, UINT fixedCount, OSMSAMPLE* sample) = 0;
  // slot 7
  virtual HRESULT STDMETHODCALLTYPE SampleLock(OSMSAMPLE sample, int operation) = 0;
  // slot 8
  virtual HRESULT STDMETHODCALLTYPE SampleRows(OSMSAMPLE sample, UINT* rows) = 0;
  // slot 9
  virtual HRESULT STDMETHODCALLTYPE SampleData(OSMSAMPLE sample, int bufferSize, UINT* bytesNeeded,
                                               void* buffer) = 0;
  // slot 10
  virtual HRESULT STDMETHODCALLTYPE SampleLockedData(OSMSAMPLE sample, int bufferSize, UINT* bytesNeeded,
                                                     void* buffer) = 0;
  // slot 11
  virtual HRESULT STDMETHODCALLTYPE RemoveSample(OSMSAMPLE sample) = 0;
  // slot 12
  virtual HRESULT STDMETHODCALLTYPE Terminate() = 0;
  // slot 13
  virtual HRESULT STDMETHODCALLTYPE GetSampleCount(UINT* count) = 0;
  // slot 14
  virtual HRESULT STDMETHODCALLTYPE Reserved14() = 0;
  // slot 15
  virtual HRESULT STDMETHODCALLTYPE SampleRescan(OSMSAMPLE sample) = 0;
  // slot 16: every array is CoTaskMemAlloc'ed and owned by the caller.
  virtual HRESULT STDMETHODCALLTYPE ObjectList(UINT* count, UINT* bytes, DWORD** objectIndexes,
                                               DWORD** counterCounts, char*** names, char** nameBlock,
                                               BYTE rescan) = 0;
  // slot 17: every array is CoTaskMemAlloc'ed and owned by the caller.
  virtual HRESULT STDMETHODCALLTYPE CounterList(DWORD objectIndex, UINT* count, UINT* bytes,
                                                DWORD** counterIndexes, char*** names, char** nameBlock) = 0;
  // slot 18
  virtual HRESULT STDMETHODCALLTYPE ChangeSample(OSMSAMPLE sample, int intervalSeconds) = 0;
  // slot 19
  virtual HRESULT STDMETHODCALLTYPE SetGlobalTime(int intervalSeconds) = 0;
  // slot 20
  virtual HRESULT STDMETHODCALLTYPE GetGlobalTime(UINT* seconds) = 0;
  // slot 21
  virtual HRESULT STDMETHODCALLTYPE SuspendSampling() = 0;
  // slot 22
  virtual HRESULT STDMETHODCALLTYPE ResumeSampling() = 0;
  // slots 23 to 25
  virtual HRESULT STDMETHODCALLTYPE Reserved23() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved24() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved25() = 0;
};
