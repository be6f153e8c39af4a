#include "collectors/inventory/wmi.h"

#define _WIN32_DCOM
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wbemidl.h>

#include <cstdio>

#include "collectors/inventory/inventory_rows.h"
#include "collectors/inventory/inventory_text.h"

namespace osm {
namespace inventory {

namespace {

// COM for this thread; uninitialised only when the constructor initialised
// it. RPC_E_CHANGED_MODE: the thread is already in another apartment, which
// serves as well and is not ours to leave.
class ComScope {
 public:
  ComScope() : hr_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComScope() {
    if (hr_ == S_OK || hr_ == S_FALSE) CoUninitialize();
  }
  bool Usable() const { return SUCCEEDED(hr_) || hr_ == RPC_E_CHANGED_MODE; }
  HRESULT Result() const { return hr_; }

 private:
  HRESULT hr_;
};

// The WMI pointers of one query, released in reverse order of their making.
struct WmiPointers {
  IWbemLocator* locator = nullptr;
  IWbemServices* services = nullptr;
  IEnumWbemClassObject* instances = nullptr;
  ~WmiPointers() {
    if (instances) instances->Release();
    if (services) services->Release();
    if (locator) locator->Release();
  }
};

class Bstr {
 public:
  explicit Bstr(const wchar_t* text) : b_(SysAllocString(text)) {}
  ~Bstr() { SysFreeString(b_); }
  operator BSTR() const { return b_; }

 private:
  BSTR b_;
};

std::string Integer(long long value) { return std::to_string(value); }

std::string ValueText(const VARIANT& v, const wchar_t* property, RAS1_EPB* unit) {
  switch (v.vt) {
    case VT_BSTR: return NarrowText(v.bstrVal);
    case VT_BOOL: return v.boolVal ? "True" : "False";
    case VT_I1: return Integer(v.cVal);
    case VT_UI1: return Integer(v.bVal);
    case VT_I2: return Integer(v.iVal);
    case VT_UI2: return Integer(v.uiVal);
    case VT_I4: return Integer(v.lVal);
    case VT_UI4: return Integer(v.ulVal);
    case VT_INT: return Integer(v.intVal);
    case VT_UINT: return Integer(v.uintVal);
    case VT_I8: return Integer(v.llVal);
    case VT_UI8: return std::to_string(v.ullVal);
    case VT_ARRAY | VT_BSTR: {
      std::vector<std::string> parts;
      LONG low = 0, high = -1;
      if (v.parray && SUCCEEDED(SafeArrayGetLBound(v.parray, 1, &low)) &&
          SUCCEEDED(SafeArrayGetUBound(v.parray, 1, &high)))
        for (LONG i = low; i <= high; ++i) {
          BSTR element = nullptr;
          if (SUCCEEDED(SafeArrayGetElement(v.parray, &i, &element))) {
            parts.push_back(NarrowText(element));
            SysFreeString(element);
          }
        }
      return JoinWmiTexts(parts);
    }
    default:
      if (RAS1_Mask(unit) & RAS1_DETAIL)
        RAS1_Printf(unit, __LINE__, "Unknow WMI Attribute(%s) Type(%d).\n", NarrowText(property).c_str(),
                    static_cast<int>(v.vt));
      return std::string();
  }
}

bool Failed(HRESULT hr, const char* text, RAS1_EPB* unit) {
  if (SUCCEEDED(hr)) return false;
  if (RAS1_Mask(unit) & RAS1_ERROR) RAS1_Printf(unit, __LINE__, text, static_cast<unsigned>(hr));
  return true;
}

}  // namespace

bool RunWmiQuery(const wchar_t* wql, const std::vector<const wchar_t*>& properties, bool firstOnly,
                 std::vector<std::vector<std::string>>* instances, RAS1_EPB* unit) {
  instances->clear();
  ComScope com;  // outlives every pointer below
  if (!com.Usable()) {
    Failed(com.Result(), "Failed to initialize COM library. Error code: <%x>", unit);
    return false;
  }
  WmiPointers p;
  HRESULT hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                reinterpret_cast<void**>(&p.locator));
  if (Failed(hr, "Failed to create IWbemLocator object. Error code: <%x>", unit)) return false;
  hr = p.locator->ConnectServer(Bstr(L"root\\cimv2"), nullptr, nullptr, nullptr, 0, nullptr, nullptr, &p.services);
  if (Failed(hr, "Could not connect to root\\\\cimv2. Error code: <%x>", unit)) return false;
  hr = CoSetProxyBlanket(p.services, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                         RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
  if (Failed(hr, "Could not set proxy blanket. Error code: <%x>", unit)) return false;
  hr = p.services->ExecQuery(Bstr(L"WQL"), Bstr(wql), WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, &p.instances);
  if (Failed(hr, "WMI Query failed. Error code: <%x>", unit)) return false;

  if (FAILED(p.instances->Reset()) && (RAS1_Mask(unit) & RAS1_ERROR))
    RAS1_Printf(unit, __LINE__, "WMI record Enumerator Reset returned error code.\n");
  for (;;) {
    IWbemClassObject* object = nullptr;
    ULONG got = 0;
    // A generous wait per instance, so that a stuck provider cannot hold the sample for ever.
    hr = p.instances->Next(120000, 1, &object, &got);
    if (hr != WBEM_S_NO_ERROR || got == 0 || object == nullptr) {
      if (object) object->Release();
      break;
    }
    std::vector<std::string> texts;
    for (const wchar_t* property : properties) {
      VARIANT value;
      VariantInit(&value);
      if (SUCCEEDED(object->Get(property, 0, &value, nullptr, nullptr))) {
        texts.push_back(ValueText(value, property, unit));
      } else {
        if (RAS1_Mask(unit) & RAS1_DETAIL)
          RAS1_Printf(unit, __LINE__, "No WMI class attribute %s collection failed\n", NarrowText(property).c_str());
        texts.emplace_back();
      }
      VariantClear(&value);
    }
    object->Release();
    instances->push_back(texts);
    if (firstOnly) break;
  }
  if (instances->empty() && (RAS1_Mask(unit) & RAS1_DETAIL))
    RAS1_Printf(unit, __LINE__, "No WMI Object Instances Available.\n");
  return true;
}

}  // namespace inventory
}  // namespace osm
