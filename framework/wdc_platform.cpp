#include "framework/wdc_platform.h"

#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <vector>

namespace wdc {
namespace {

std::wstring Wide(const std::string& text, UINT codePage = CP_UTF8) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
  return out;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
  return out;
}

std::string Failure(const char* call) { return std::string(call) + " failed, error " + std::to_string(GetLastError()); }

// An owned handle, closed with Close.
template <class H, BOOL(WINAPI* Close)(H)>
class Owned {
 public:
  explicit Owned(H h = nullptr) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  ~Owned() {
    if (h_) Close(h_);
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  H get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  H h_;
};
typedef Owned<HANDLE, CloseHandle> Handle;
typedef Owned<SC_HANDLE, CloseServiceHandle> ServiceHandle;

std::int64_t Ticks(const FILETIME& t) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}

// Starts a command line with no console and no standard handles of ours, so
// that an agent never holds the watchdog's streams.
bool Launch(const std::string& command, PROCESS_INFORMATION* pi, std::string* error) {
  std::wstring line = Wide(command);
  std::vector<wchar_t> buffer(line.begin(), line.end());
  buffer.push_back(L'\0');
  STARTUPINFOW si;
  ZeroMemory(&si, sizeof si);
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP,
                      nullptr, nullptr, &si, pi)) {
    *error = Failure("CreateProcess");
    return false;
  }
  return true;
}

// Runs a command to its end (at most 30 s); its exit code, or -1.
long RunToEnd(const std::string& command, std::string* error) {
  PROCESS_INFORMATION pi;
  if (!Launch(command, &pi, error)) return -1;
  Handle process(pi.hProcess), thread(pi.hThread);
  DWORD code = 0;
  if (WaitForSingleObject(pi.hProcess, 30000) != WAIT_OBJECT_0 || !GetExitCodeProcess(pi.hProcess, &code)) {
    *error = "the command did not end within 30 s: " + command;
    return -1;
  }
  return static_cast<long>(code);
}

// The process listed with the image name: pid itself when it is one, else the
// first one; 0 when none runs.
PROCESSENTRY32W FindProcess(const std::string& image, std::uint32_t pid) {
  PROCESSENTRY32W found;
  ZeroMemory(&found, sizeof found);
  Handle snap(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snap) return found;
  PROCESSENTRY32W pe;
  pe.dwSize = sizeof pe;
  for (BOOL more = Process32FirstW(snap.get(), &pe); more; more = Process32NextW(snap.get(), &pe)) {
    if (!SameImageName(Utf8(pe.szExeFile), image)) continue;
    if (found.th32ProcessID == 0 || pe.th32ProcessID == pid) found = pe;
    if (pe.th32ProcessID == pid) break;
  }
  return found;
}

std::string AccountOf(HANDLE process) {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &raw)) return std::string();
  Handle token(raw);
  std::vector<unsigned char> buffer(256);
  DWORD size = 0;
  if (!GetTokenInformation(raw, TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()), &size)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return std::string();
    buffer.resize(size);
    if (!GetTokenInformation(raw, TokenUser, buffer.data(), size, &size)) return std::string();
  }
  wchar_t name[256], domain[256];
  DWORD nameSize = 256, domainSize = 256;
  SID_NAME_USE use;
  if (!LookupAccountSidW(nullptr, reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, name, &nameSize, domain,
                         &domainSize, &use))
    return std::string();
  return Utf8(name);
}

// Reads what the platform lets us read of a process that was found running;
// false only when it turns out to have ended. A process we may not open still
// runs: its figures stay 0.
bool ReadFigures(std::uint32_t pid, ProcessFigures* f) {
  HANDLE raw = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (!raw) raw = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  Handle h(raw);
  if (!h) return true;
  DWORD code = 0;
  if (GetExitCodeProcess(h.get(), &code) && code != STILL_ACTIVE) return false;
  PROCESS_MEMORY_COUNTERS pmc;
  if (GetProcessMemoryInfo(h.get(), &pmc, sizeof pmc)) {
    f->workingSet = static_cast<std::int64_t>(pmc.WorkingSetSize);
    f->virtualSize = static_cast<std::int64_t>(pmc.PagefileUsage);
    f->pageFaults = pmc.PageFaultCount;
  }
  FILETIME created, exited, kernel, user, now;
  if (GetProcessTimes(h.get(), &created, &exited, &kernel, &user)) {
    f->kernelTime = Ticks(kernel);
    f->userTime = Ticks(user);
  }
  GetSystemTimeAsFileTime(&now);
  f->sampledAt = Ticks(now);
  DWORD handles = 0;
  if (GetProcessHandleCount(h.get(), &handles)) f->handles = handles;
  f->userName = AccountOf(h.get());
  return true;
}

class Win32Control : public AgentControl {
 public:
  bool Start(const AgentCapability& agent, std::uint32_t* pid, std::string* error) override {
    *pid = 0;
    if (agent.kind == kManageService) {
      ServiceHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT)), svc(Open(scm, agent, error));
      if (!svc) return false;
      if (!StartServiceW(svc.get(), 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
        *error = Failure("StartService");
        return false;
      }
      SERVICE_STATUS_PROCESS s;
      DWORD size = 0;
      if (QueryServiceStatusEx(svc.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&s), sizeof s, &size))
        *pid = s.dwProcessId;
      return true;
    }
    PROCESS_INFORMATION pi;
    if (!Launch(agent.start, &pi, error)) return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    *pid = pi.dwProcessId;
    return true;
  }

  bool Stop(const AgentCapability& agent, std::uint32_t pid, std::string* error) override {
    if (agent.kind == kManageService) {
      ServiceHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT)), svc(Open(scm, agent, error));
      if (!svc) return false;
      SERVICE_STATUS s;
      if (!ControlService(svc.get(), SERVICE_CONTROL_STOP, &s) && GetLastError() != ERROR_SERVICE_NOT_ACTIVE) {
        *error = Failure("ControlService");
        return false;
      }
      return true;
    }
    if (!agent.stop.empty()) {
      long code = RunToEnd(agent.stop, error);
      if (code != 0 && error->empty()) *error = "the stop command ended with " + std::to_string(code);
      return code == 0;
    }
    Handle h(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    if (!h || !TerminateProcess(h.get(), 1)) {
      *error = Failure("TerminateProcess");
      return false;
    }
    WaitForSingleObject(h.get(), 5000);
    return true;
  }

  ProcessFigures Probe(const AgentCapability& agent, std::uint32_t pid) override {
    ProcessFigures f;
    if (agent.kind == kManageService) {
      std::string error;
      ServiceHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT)), svc(Open(scm, agent, &error));
      SERVICE_STATUS_PROCESS s;
      DWORD size = 0;
      // The service manager's word decides; the process only gives figures.
      if (svc && QueryServiceStatusEx(svc.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&s), sizeof s, &size) &&
          s.dwCurrentState != SERVICE_STOPPED && s.dwCurrentState != SERVICE_STOP_PENDING) {
        f.running = true;
        f.pid = s.dwProcessId;
        if (f.pid != 0) ReadFigures(f.pid, &f);
      }
      if (svc) f.commandLine = BinaryPath(svc.get());
    } else {
      PROCESSENTRY32W pe = FindProcess(agent.process, pid);
      if (pe.th32ProcessID != 0) {
        f.pid = pe.th32ProcessID;
        f.running = ReadFigures(f.pid, &f);
        f.threads = pe.cntThreads;
      }
      f.commandLine = agent.start;
    }
    if (!agent.status.empty()) {
      std::string error;
      f.running = RunToEnd(agent.status, &error) == 0;
    }
    return f;
  }

  int Processors() override {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return static_cast<int>(info.dwNumberOfProcessors);
  }

 private:
  static SC_HANDLE Open(const ServiceHandle& scm, const AgentCapability& agent, std::string* error) {
    if (!scm) {
      *error = Failure("OpenSCManager");
      return nullptr;
    }
    SC_HANDLE svc = OpenServiceW(scm.get(), Wide(agent.service).c_str(),
                                 SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG);
    if (!svc) *error = Failure("OpenService");
    return svc;
  }

  static std::string BinaryPath(SC_HANDLE svc) {
    DWORD size = 0;
    QueryServiceConfigW(svc, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size ? size : 1);
    if (!QueryServiceConfigW(svc, reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data()), size, &size))
      return std::string();
    const wchar_t* path = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data())->lpBinaryPathName;
    return path ? Utf8(path) : std::string();
  }
};

}  // namespace

std::unique_ptr<AgentControl> MakePlatformControl() { return std::unique_ptr<AgentControl>(new Win32Control()); }

std::vector<CapabilityFile> ReadCapabilityFiles(const std::string& folder, bool* found) {
  std::vector<CapabilityFile> files;
  std::wstring dir = Wide(folder, CP_ACP);
  DWORD attributes = GetFileAttributesW(dir.c_str());
  *found = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  if (!*found) return files;
  WIN32_FIND_DATAW fd;
  HANDLE search = FindFirstFileW((dir + L"\\*.cap").c_str(), &fd);
  if (search == INVALID_HANDLE_VALUE) return files;
  do {
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    Handle file(CreateFileW((dir + L"\\" + fd.cFileName).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) continue;
    CapabilityFile f;
    f.name = Utf8(fd.cFileName);
    f.time = (Ticks(fd.ftLastWriteTime) - 116444736000000000LL) / 10000000;
    char chunk[4096];
    DWORD got = 0;
    while (f.text.size() < 65536 && ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr) && got > 0)
      f.text.append(chunk, got);
    files.push_back(f);
  } while (FindNextFileW(search, &fd));
  FindClose(search);
  std::sort(files.begin(), files.end(),
            [](const CapabilityFile& a, const CapabilityFile& b) { return a.name < b.name; });
  return files;
}

const OsFacts& PlatformOs() {
  static const OsFacts facts = [] {
    OsFacts f;
    OSVERSIONINFOW v;
    ZeroMemory(&v, sizeof v);
    v.dwOSVersionInfoSize = sizeof v;
    f.name = "Windows";
    if (GetVersionExW(&v)) {
      f.type = static_cast<int>(v.dwPlatformId);
      f.version = std::to_string(v.dwMajorVersion) + "." + std::to_string(v.dwMinorVersion) + "." +
                  std::to_string(v.dwBuildNumber);
    }
    return f;
  }();
  return facts;
}

}  // namespace wdc
