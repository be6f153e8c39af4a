// The few platform calls of the framework: host name and default folder.
#include <cstring>
#include <string>

#include "framework/cfw.h"
#include "framework/cfw_runtime.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

std::string HostName() {
#ifdef _WIN32
  char name[256];
  DWORD size = sizeof name;
  if (GetComputerNameExA(ComputerNameDnsHostname, name, &size) && size > 0) return std::string(name, size);
  size = sizeof name;
  if (GetComputerNameA(name, &size) && size > 0) return std::string(name, size);
  return "localhost";
#else
  char name[256] = {0};
  if (gethostname(name, sizeof name - 1) == 0 && name[0]) return name;
  return "localhost";
#endif
}

}  // namespace

int DetermineLocalHost(char* buffer, int width) {
  if (buffer == nullptr || width < 1) return DCF_E_BADARG;
  std::string name = HostName();
  std::size_t n = name.size();
  if (n > static_cast<std::size_t>(width) - 1) n = static_cast<std::size_t>(width) - 1;
  std::memcpy(buffer, name.data(), n);
  buffer[n] = '\0';
  return DCF_OK;
}

const char* DCF_GetNodeSystemName(void) {
  static const std::string* name = new std::string(HostName());
  return name->c_str();
}

namespace cfw {

std::string DefaultFolder() {
#ifdef _WIN32
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::string();
  std::string p(path, n);
  std::size_t slash = p.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
#else
  return std::string();
#endif
}

}  // namespace cfw
