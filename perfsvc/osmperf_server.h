// The in-process server around COsmKounter: class table, class factory,
// registration, and the bodies of the four exports of osmperf.dll.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <string>

namespace osmperf {

class CUnknown;

// One class the module serves.
struct OsmClassEntry {
  const CLSID* clsid;
  HRESULT (*create)(IUnknown* outer, CUnknown** out);
  const char* friendlyName;
  const char* progId;             // versioned
  const char* independentProgId;  // version independent
};
extern const OsmClassEntry kOsmClassTable[];
extern const int kOsmClassCount;

class CFactory : public IClassFactory {
 public:
  explicit CFactory(const OsmClassEntry* entry) : entry_(entry) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;
  virtual ~CFactory() = default;

 private:
  long refCount_ = 1;
  const OsmClassEntry* entry_;
};

// The module whose path registration writes (the DLL; the executable when
// the server is linked into a program).
void OsmSetModule(HMODULE module);
HMODULE OsmModule();

// The braced CLSID text of StringFromCLSID.
std::string OsmClsidText(const CLSID& clsid);

// Writes or deletes the keys of every class below root (HKEY_CLASSES_ROOT
// for the exports). S_OK, or SELFREG_E_CLASS when the registry refuses a
// write or a deletion.
HRESULT OsmRegisterServer(HKEY root, const char* modulePath);
HRESULT OsmUnregisterServer(HKEY root);

// The export bodies.
HRESULT OsmDllGetClassObject(REFCLSID clsid, REFIID iid, void** out);
HRESULT OsmDllCanUnloadNow();
HRESULT OsmDllRegisterServer();
HRESULT OsmDllUnregisterServer();

}  // namespace osmperf
