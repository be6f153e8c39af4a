// COsmKounter: the counter service's one COM class, with its IUnknown base
// CUnknown. The agent creates one instance, initialises it, describes one
// sample per table and copies the samples' rows through IOsmKount.
#pragma once

#include "perfsvc/osmkount.h"

#include <windows.h>
#include <unknwn.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace osmperf {

class CPerfName;
class CSample;
class CSnapCatalog;
class IPerfDataSource;
class osmkthrd;

// The IUnknown that does not delegate to an outer object (same slot layout
// as IUnknown).
struct INondelegatingUnknown {
  virtual HRESULT STDMETHODCALLTYPE NondelegatingQueryInterface(REFIID iid, void** out) = 0;
  virtual ULONG STDMETHODCALLTYPE NondelegatingAddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE NondelegatingRelease() = 0;
};

// Live components of the module (every CUnknown) and LockServer count.
long OsmComponentCount();
long OsmServerLockCount();
void OsmLockServer(bool lock);

class CUnknown : public INondelegatingUnknown {
 public:
  // outer: the controlling unknown when aggregated, else null.
  explicit CUnknown(IUnknown* outer);
  HRESULT STDMETHODCALLTYPE NondelegatingQueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE NondelegatingAddRef() override;
  ULONG STDMETHODCALLTYPE NondelegatingRelease() override;
  virtual ~CUnknown();
  virtual HRESULT Init() { return S_OK; }
  // Before deletion: releases made while destroying are harmless.
  virtual void FinalRelease() { refCount_ = 1; }

 protected:
  IUnknown* OuterUnknown() const { return outer_; }
  // Gives the interface pointer, AddRef'ed.
  static HRESULT FinishQI(IUnknown* itf, void** out);

 private:
  std::atomic<long> refCount_{1};
  IUnknown* outer_;
};

class COsmKounter : public CUnknown, public IOsmKount {
 public:
  // The creator of the class table.
  static HRESULT CreateInstance(IUnknown* outer, CUnknown** out);

  explicit COsmKounter(IUnknown* outer);
  ~COsmKounter() override;

  // IUnknown of the IOsmKount part: delegates to the outer unknown.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    return OuterUnknown()->QueryInterface(iid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return OuterUnknown()->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return OuterUnknown()->Release(); }
  HRESULT STDMETHODCALLTYPE NondelegatingQueryInterface(REFIID iid, void** out) override;

  // IOsmKount
  HRESULT STDMETHODCALLTYPE Initialize(int intervalSeconds, BYTE costly, LPCSTR computerName) override;
  HRESULT STDMETHODCALLTYPE DescribeSampleI(UINT descriptionId, UINT fixedDataId, UINT reserved1,
                                            UINT intervalSeconds, UINT reserved2, UINT fixedCount,
                                            OSMSAMPLE* sample) override;
  HRESULT STDMETHODCALLTYPE DescribeSampleFixedData(OSMSAMPLE sample, LPCSTR name, const void* data,
                                                    UINT length) override;
  HRESULT STDMETHODCALLTYPE DescribeSample(LPCSTR header, LPCSTR sizes, LPCSTR offsets, LPCSTR scales,
                                           LPCSTR types, LPCSTR fixedHeader, LPCSTR fixedSizes,
                                           LPCSTR fixedOffsets, UINT reserved1, UINT intervalSeconds,
                                           UINT reserved2, UINT fixedCount, OSMSAMPLE* sample) override;
  HRESULT STDMETHODCALLTYPE SampleLock(OSMSAMPLE sample, int operation) override;
  HRESULT STDMETHODCALLTYPE SampleRows(OSMSAMPLE sample, UINT* rows) override;
  HRESULT STDMETHODCALLTYPE SampleData(OSMSAMPLE sample, int bufferSize, UINT* bytesNeeded, void* buffer) override;
  HRESULT STDMETHODCALLTYPE SampleLockedData(OSMSAMPLE sample, int bufferSize, UINT* bytesNeeded,
                                             void* buffer) override;
  HRESULT STDMETHODCALLTYPE RemoveSample(OSMSAMPLE sample) override;
  HRESULT STDMETHODCALLTYPE Terminate() override;
  HRESULT STDMETHODCALLTYPE GetSampleCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE Reserved14() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SampleRescan(OSMSAMPLE sample) override;
  HRESULT STDMETHODCALLTYPE ObjectList(UINT* count, UINT* bytes, DWORD** objectIndexes, DWORD** counterCounts,
                                       char*** names, char** nameBlock, BYTE rescan) override;
  HRESULT STDMETHODCALLTYPE CounterList(DWORD objectIndex, UINT* count, UINT* bytes, DWORD** counterIndexes,
                                        char*** names, char** nameBlock) override;
  HRESULT STDMETHODCALLTYPE ChangeSample(OSMSAMPLE sample, int intervalSeconds) override;
  HRESULT STDMETHODCALLTYPE SetGlobalTime(int intervalSeconds) override;
  HRESULT STDMETHODCALLTYPE GetGlobalTime(UINT* seconds) override;
  HRESULT STDMETHODCALLTYPE SuspendSampling() override;
  HRESULT STDMETHODCALLTYPE ResumeSampling() override;
  HRESULT STDMETHODCALLTYPE Reserved23() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved24() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved25() override { return E_NOTIMPL; }

  // The sample number the next copy gets.
  UINT NextSampleNumber() const { return sampleNumber_.load() + 1; }

 private:
  // Creates a sample from the eight description strings (ASCII; the fixed
  // ones may be null) and hands it over when complete.
  HRESULT CreateSample(const char* const strings[8], UINT intervalSeconds, UINT fixedCount, OSMSAMPLE* out);
  // The sample of a handle in the support thread's list, or null.
  std::shared_ptr<CSample> Find(OSMSAMPLE handle) const;
  // Waits for the sample's first update. S_OK, E_PENDING when sampling is
  // suspended meanwhile, E_FAIL when the support thread is gone.
  HRESULT WaitReady(CSample* sample);
  // A private snapshot of the control objects rebuilds the catalogue.
  void Rescan(const char* who);
  HRESULT LockSample(CSample* sample);
  HRESULT UnlockSample(CSample* sample);

  char computerName_[16] = {0};
  bool initialised_ = false;
  std::unique_ptr<IPerfDataSource> source_;
  std::unique_ptr<CPerfName> names_;
  std::unique_ptr<CSnapCatalog> catalogue_;
  std::unique_ptr<osmkthrd> thread_;
  std::atomic<std::uint32_t> sampleNumber_{0};

  // Samples waiting for their fixed data, and the owners of sample locks
  // taken through SampleLock.
  mutable std::mutex pendingLock_;
  std::map<OSMSAMPLE, std::shared_ptr<CSample>> pending_;
  struct LockOwner {
    DWORD thread = 0;
    int depth = 0;
  };
  std::map<CSample*, LockOwner> lockOwners_;
  char hostName_[64] = {0};
};

}  // namespace osmperf
