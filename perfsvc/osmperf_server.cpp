#include "perfsvc/osmperf_server.h"

#include "framework/ras1.h"
#include "perfsvc/osmkounter.h"

#include <objbase.h>
#include <olectl.h>

#include <cstring>
#include <new>

namespace osmperf {

const OsmClassEntry kOsmClassTable[] = {
    {&CLSID_OsmKounter, &COsmKounter::CreateInstance, OSMKOUNT_FRIENDLY_NAME, OSMKOUNT_PROGID,
     OSMKOUNT_PROGID_INDEPENDENT},
};
const int kOsmClassCount = static_cast<int>(sizeof kOsmClassTable / sizeof kOsmClassTable[0]);

namespace {

HMODULE g_module = nullptr;

// Creates key below root (full access) with value as its default REG_SZ value.
LONG SetKey(HKEY root, const std::string& key, const char* value) {
  HKEY h = nullptr;
  LONG rc = RegCreateKeyExA(root, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &h,
                            nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  rc = RegSetValueExA(h, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                      static_cast<DWORD>(std::strlen(value) + 1));
  RegCloseKey(h);
  return rc;
}

// Deletes key and all its subkeys, deepest first. A key that is not there
// counts as deleted.
LONG DeleteTree(HKEY root, const std::string& key) {
  HKEY h = nullptr;
  LONG rc = RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | KEY_WRITE, &h);
  if (rc == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (rc != ERROR_SUCCESS) return rc;
  for (;;) {
    char child[256];
    DWORD size = sizeof child;
    LONG e = RegEnumKeyExA(h, 0, child, &size, nullptr, nullptr, nullptr, nullptr);
    if (e == ERROR_NO_MORE_ITEMS) break;
    if (e != ERROR_SUCCESS) {
      RegCloseKey(h);
      return e;
    }
    e = DeleteTree(h, child);
    if (e != ERROR_SUCCESS) {
      RegCloseKey(h);
      return e;
    }
  }
  RegCloseKey(h);
  rc = RegDeleteKeyA(root, key.c_str());
  return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

}  // namespace

void OsmSetModule(HMODULE module) { g_module = module; }

HMODULE OsmModule() { return g_module != nullptr ? g_module : GetModuleHandleA(nullptr); }

std::string OsmClsidText(const CLSID& clsid) {
  LPOLESTR wide = nullptr;
  std::string text;
  if (SUCCEEDED(StringFromCLSID(clsid, &wide)) && wide != nullptr) {
    for (const wchar_t* p = wide; *p; ++p) text.push_back(static_cast<char>(*p));
    CoTaskMemFree(wide);
  }
  return text;
}

HRESULT OsmRegisterServer(HKEY root, const char* modulePath) {
  RAS1_ENTRY("DllRegisterServer");
  for (int i = 0; i < kOsmClassCount; ++i) {
    const OsmClassEntry& e = kOsmClassTable[i];
    std::string clsid = OsmClsidText(*e.clsid);
    if (clsid.empty()) return SELFREG_E_CLASS;
    std::string clsidKey = "CLSID\\" + clsid;
    std::string independent = e.independentProgId;
    std::string versioned = e.progId;
    struct {
      std::string key;
      const char* value;
    } keys[] = {
        {clsidKey, e.friendlyName},
        {clsidKey + "\\InprocServer32", modulePath},
        {clsidKey + "\\ProgID", e.progId},
        {clsidKey + "\\VersionIndependentProgID", e.independentProgId},
        {independent, e.friendlyName},
        {independent + "\\CLSID", clsid.c_str()},
        {independent + "\\CurVer", e.progId},
        {versioned, e.friendlyName},
        {versioned + "\\CLSID", clsid.c_str()},
    };
    for (const auto& k : keys) {
      LONG rc = SetKey(root, k.key, k.value);
      if (rc != ERROR_SUCCESS) {
        RAS1_TRACE(RAS1_ERROR, "Unable to write the key '%s', rc=%ld", k.key.c_str(), static_cast<long>(rc));
        return SELFREG_E_CLASS;
      }
    }
  }
  return S_OK;
}

HRESULT OsmUnregisterServer(HKEY root) {
  RAS1_ENTRY("DllUnregisterServer");
  HRESULT result = S_OK;
  for (int i = 0; i < kOsmClassCount; ++i) {
    const OsmClassEntry& e = kOsmClassTable[i];
    std::string clsid = OsmClsidText(*e.clsid);
    if (clsid.empty()) return SELFREG_E_CLASS;
    for (const std::string& key : {std::string("CLSID\\") + clsid, std::string(e.independentProgId),
                                   std::string(e.progId)}) {
      LONG rc = DeleteTree(root, key);
      if (rc != ERROR_SUCCESS) {
        // Go on with the other keys, but say that the removal is incomplete.
        RAS1_TRACE(RAS1_ERROR, "Unable to delete the key '%s', rc=%ld", key.c_str(), static_cast<long>(rc));
        result = SELFREG_E_CLASS;
      }
    }
  }
  return result;
}

// ---------------------------------------------------------------- CFactory

HRESULT CFactory::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG CFactory::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refCount_)); }

ULONG CFactory::Release() {
  long n = InterlockedDecrement(&refCount_);
  if (n == 0) delete this;
  return static_cast<ULONG>(n);
}

HRESULT CFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (outer != nullptr && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  CUnknown* object = nullptr;
  HRESULT hr = entry_->create(outer, &object);
  if (FAILED(hr)) return hr;
  hr = object->Init();
  if (FAILED(hr)) {
    object->NondelegatingRelease();
    return hr;
  }
  hr = object->NondelegatingQueryInterface(iid, out);
  object->NondelegatingRelease();  // the creation reference
  return hr;
}

HRESULT CFactory::LockServer(BOOL lock) {
  OsmLockServer(lock != FALSE);
  return S_OK;
}

// ---------------------------------------------------------------- exports

HRESULT OsmDllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) return E_NOINTERFACE;
  for (int i = 0; i < kOsmClassCount; ++i) {
    if (!IsEqualCLSID(clsid, *kOsmClassTable[i].clsid)) continue;
    CFactory* factory = new (std::nothrow) CFactory(&kOsmClassTable[i]);
    if (factory == nullptr) return E_OUTOFMEMORY;
    *out = static_cast<IClassFactory*>(factory);
    return S_OK;
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT OsmDllCanUnloadNow() {
  return (OsmComponentCount() == 0 && OsmServerLockCount() == 0) ? S_OK : S_FALSE;
}

HRESULT OsmDllRegisterServer() {
  char path[MAX_PATH + 1] = {0};
  DWORD n = GetModuleFileNameA(OsmModule(), path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return SELFREG_E_CLASS;
  return OsmRegisterServer(HKEY_CLASSES_ROOT, path);
}

HRESULT OsmDllUnregisterServer() { return OsmUnregisterServer(HKEY_CLASSES_ROOT); }

}  // namespace osmperf
