// A do-nothing IOsmKount for tests: every slot answers as an idle counter
// service would. Tests derive from it and override the slots they drive.
#pragma once

#include "perfsvc/osmkount.h"

class KountTestBase : public IOsmKount {
 public:
  virtual ~KountTestBase() = default;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = this;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE Initialize(int, BYTE, LPCSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DescribeSampleI(UINT, UINT, UINT, UINT, UINT, UINT, OSMSAMPLE*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE DescribeSampleFixedData(OSMSAMPLE, LPCSTR, const void*, UINT) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DescribeSample(LPCSTR, LPCSTR, LPCSTR, LPCSTR, LPCSTR, LPCSTR, LPCSTR, LPCSTR, UINT, UINT,
                                           UINT, UINT, OSMSAMPLE*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SampleLock(OSMSAMPLE, int) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SampleRows(OSMSAMPLE, UINT* rows) override {
    *rows = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SampleData(OSMSAMPLE, int, UINT* needed, void*) override {
    *needed = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SampleLockedData(OSMSAMPLE s, int size, UINT* needed, void* buffer) override {
    return SampleData(s, size, needed, buffer);
  }
  HRESULT STDMETHODCALLTYPE RemoveSample(OSMSAMPLE) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Terminate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetSampleCount(UINT*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Reserved14() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SampleRescan(OSMSAMPLE) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ObjectList(UINT*, UINT*, DWORD**, DWORD**, char***, char**, BYTE) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE CounterList(DWORD, UINT*, UINT*, DWORD**, char***, char**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ChangeSample(OSMSAMPLE, int) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetGlobalTime(int) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetGlobalTime(UINT*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SuspendSampling() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ResumeSampling() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Reserved23() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved24() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved25() override { return E_NOTIMPL; }
};
