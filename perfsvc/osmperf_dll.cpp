// Entry points of osmperf.dll.
#include "perfsvc/osmperf_server.h"

#include <windows.h>

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    osmperf::OsmSetModule(instance);
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
  return osmperf::OsmDllGetClassObject(clsid, iid, out);
}

STDAPI DllCanUnloadNow() { return osmperf::OsmDllCanUnloadNow(); }

STDAPI DllRegisterServer() { return osmperf::OsmDllRegisterServer(); }

STDAPI DllUnregisterServer() { return osmperf::OsmDllUnregisterServer(); }

}  // extern "C"
