// Trace and environment services: configuration, trace file, environment.
#include "framework/ras1.h"

#include <chrono>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#if defined(__linux__)
#include <sys/syscall.h>
#else
#include <functional>
#include <thread>
#endif
#endif

std::atomic<unsigned> RAS1_Generation{1u};

namespace {

struct Rule {
  std::string unit;  // empty: every unit
  bool prefix = false;
  unsigned mask = 0;
};

struct TraceState {
  std::mutex configLock;
  bool configured = false;
  std::vector<Rule> rules;

  std::mutex fileLock;
  std::FILE* file = nullptr;
  bool toStderr = false;
  bool destinationChosen = false;
  std::string path;
  unsigned long long written = 0;
  unsigned long long lines = 0;  // written since start, all files
  unsigned long long maxSize = 16ull * 1024 * 1024;
};

TraceState& State() {
  static TraceState* state = new TraceState();  // outlives static destructors
  return *state;
}

bool ParseLevels(const std::string& text, unsigned* mask) {
  unsigned m = 0;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('+', start);
    if (end == std::string::npos) end = text.size();
    std::string word = text.substr(start, end - start);
    for (char& c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (word == "NONE" || word == "OFF") {
    } else if (word == "ERROR") {
      m |= RAS1_ERROR;
    } else if (word == "FLOW") {
      m |= RAS1_FLOW;
    } else if (word == "DETAIL") {
      m |= RAS1_DETAIL;
    } else if (word == "EVENT") {
      m |= RAS1_EVENT;
    } else if (word == "ALL") {
      m |= RAS1_ALL;
    } else {
      return false;
    }
    start = end + 1;
  }
  *mask = m;
  return true;
}

// Parses the configuration; unreadable items are skipped.
std::vector<Rule> ParseConfig(const char* spec) {
  std::vector<Rule> rules;
  Rule deflt;
  deflt.mask = RAS1_ERROR;
  rules.push_back(deflt);
  if (!spec) return rules;
  std::string s(spec);
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ',' || s[i] == ';' || std::isspace(static_cast<unsigned char>(s[i])))) ++i;
    std::size_t j = i;
    while (j < s.size() && s[j] != ',' && s[j] != ';' && !std::isspace(static_cast<unsigned char>(s[j]))) ++j;
    if (j > i) {
      std::string item = s.substr(i, j - i);
      Rule r;
      std::string levels = item;
      std::size_t eq = item.find('=');
      if (eq != std::string::npos) {
        r.unit = item.substr(0, eq);
        levels = item.substr(eq + 1);
        if (!r.unit.empty() && r.unit.back() == '*') {
          r.prefix = true;
          r.unit.pop_back();
        }
      }
      if ((eq == std::string::npos || !r.unit.empty() || r.prefix) && ParseLevels(levels, &r.mask))
        rules.push_back(r);
    }
    i = j;
  }
  return rules;
}

unsigned ThreadId() {
#ifdef _WIN32
  return static_cast<unsigned>(GetCurrentThreadId());
#elif defined(__linux__)
  return static_cast<unsigned>(syscall(SYS_gettid));
#else
  return static_cast<unsigned>(std::hash<std::thread::id>()(std::this_thread::get_id()));
#endif
}

std::string DefaultPath() {
#ifdef _WIN32
  char module[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, module, sizeof module);
  if (n == 0 || n >= sizeof module) return "osm.trc";
  std::string p(module, n);
  std::size_t dot = p.find_last_of('.');
  std::size_t slash = p.find_last_of("\\/");
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) p.resize(dot);
  return p + ".trc";
#else
  return "osm.trc";
#endif
}

// Opens the destination if needed; called with fileLock held.
std::FILE* Destination(TraceState& st) {
  if (st.toStderr) return stderr;
  if (st.file) return st.file;
  if (!st.destinationChosen) {
    st.destinationChosen = true;
    const char* env = std::getenv("BSL_RAS1_FILE");
    if (env && *env) st.path = env;
    else st.path = DefaultPath();
    const char* max = std::getenv("BSL_RAS1_MAXSIZE");
    if (max && *max) {
      unsigned long long v = std::strtoull(max, nullptr, 10);
      if (v >= 4096) st.maxSize = v;
    }
    if (st.path == "stderr") {
      st.toStderr = true;
      return stderr;
    }
  }
  st.file = std::fopen(st.path.c_str(), "ab");
  if (st.file) {
    std::fseek(st.file, 0, SEEK_END);
    long pos = std::ftell(st.file);
    st.written = pos > 0 ? static_cast<unsigned long long>(pos) : 0;
  }
  return st.file;
}

void Rotate(TraceState& st) {
  std::fclose(st.file);
  st.file = nullptr;
  std::string old = st.path + ".1";
  std::remove(old.c_str());
  std::rename(st.path.c_str(), old.c_str());
  st.written = 0;
}

// Writes one finished line under the file lock, so lines never interleave.
void WriteOwn(const std::string& out) {
  TraceState& st = State();
  std::lock_guard<std::mutex> guard(st.fileLock);
  std::FILE* f = Destination(st);
  if (!f) return;
  std::fwrite(out.data(), 1, out.size(), f);
  std::fflush(f);
  ++st.lines;
  if (f != stderr) {
    st.written += out.size();
    if (st.written > st.maxSize) Rotate(st);
  }
}

#ifdef _WIN32
typedef void (*LineWriter)(const char* line, std::size_t length);

// The executable's writer when this copy is another module's (osmperf.dll in
// osmagent.exe): lines of both then share one lock and one open file, which
// rotation can rename. Null in the executable itself or when it has none.
LineWriter ProcessWriter() {
  static const LineWriter writer = [] {
    FARPROC p = GetProcAddress(GetModuleHandleA(nullptr), "RAS1_ProcessWriteLine");
    LineWriter w = reinterpret_cast<LineWriter>(reinterpret_cast<void*>(p));
    return w == &RAS1_ProcessWriteLine ? nullptr : w;
  }();
  return writer;
}
#endif

void WriteLine(RAS1_EPB* unit, int line, const char* text, std::size_t length) {
  using namespace std::chrono;
  auto now = system_clock::now();
  std::time_t secs = system_clock::to_time_t(now);
  int millis = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  std::tm tmv{};
#ifdef _WIN32
  localtime_s(&tmv, &secs);
#else
  localtime_r(&secs, &tmv);
#endif
  char head[160];
  int h = std::snprintf(head, sizeof head, "%04d-%02d-%02d %02d:%02d:%02d.%03d [%08x] %.*s(%d) ",
                        tmv.tm_year + 1900, tmv.tm_mon + 1, tmv.tm_mday, tmv.tm_hour, tmv.tm_min,
                        tmv.tm_sec, millis, ThreadId(), static_cast<int>(unit->nameLength > 80 ? 80 : unit->nameLength),
                        unit->name, line);
  if (h < 0) h = 0;
  if (static_cast<std::size_t>(h) >= sizeof head) h = sizeof head - 1;
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r')) --length;

  std::string out;
  out.reserve(static_cast<std::size_t>(h) + length + 1);
  out.append(head, static_cast<std::size_t>(h));
  out.append(text, length);
  out.push_back('\n');
#ifdef _WIN32
  if (LineWriter writer = ProcessWriter()) {
    writer(out.data(), out.size());
    return;
  }
#endif
  WriteOwn(out);
}

void VPrint(RAS1_EPB* unit, int line, const char* format, va_list args) {
  char small[1024];
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return;
  if (static_cast<std::size_t>(n) < sizeof small) {
    WriteLine(unit, line, small, static_cast<std::size_t>(n));
    return;
  }
  std::vector<char> big(static_cast<std::size_t>(n) + 1);
  std::vsnprintf(big.data(), big.size(), format, args);
  WriteLine(unit, line, big.data(), static_cast<std::size_t>(n));
}

}  // namespace

unsigned RAS1_Sync(RAS1_EPB* unit) {
  TraceState& st = State();
  std::lock_guard<std::mutex> guard(st.configLock);
  unsigned g = unit->generation->load(std::memory_order_acquire);
  if (!st.configured) {
    st.configured = true;
    st.rules = ParseConfig(std::getenv("BSL_RAS1"));
  }
  unsigned mask = 0;
  std::string name(unit->name, unit->nameLength);
  for (const Rule& r : st.rules) {
    if (r.unit.empty() && !r.prefix) mask = r.mask;
    else if (r.prefix ? name.compare(0, r.unit.size(), r.unit) == 0 : name == r.unit) mask = r.mask;
  }
  unit->mask.store(mask, std::memory_order_relaxed);
  unit->cachedGeneration.store(g, std::memory_order_release);
  return mask;
}

void RAS1_InitUnit(RAS1_EPB* unit, const char* name, std::size_t nameLength) {
  unit->name = name;
  unit->nameLength = nameLength;
  unit->line = 0;
  unit->generation = &RAS1_Generation;
  unit->mask.store(0, std::memory_order_relaxed);
  unit->cachedGeneration.store(0, std::memory_order_release);  // never a live generation
}

void RAS1_Configure(const char* spec) {
  TraceState& st = State();
  std::lock_guard<std::mutex> guard(st.configLock);
  st.rules = ParseConfig(spec);
  st.configured = true;
  RAS1_Generation.fetch_add(1, std::memory_order_acq_rel);
}

void RAS1_SetDestination(const char* path) {
  TraceState& st = State();
  std::lock_guard<std::mutex> guard(st.fileLock);
  if (st.file) std::fclose(st.file);
  st.file = nullptr;
  st.toStderr = false;
  st.written = 0;
  if (path) {
    st.destinationChosen = true;
    st.path = path;
    st.toStderr = st.path == "stderr";
  } else {
    st.destinationChosen = false;
  }
}

void RAS1_Close() {
  TraceState& st = State();
  std::lock_guard<std::mutex> guard(st.fileLock);
  if (st.file) std::fclose(st.file);
  st.file = nullptr;
}

unsigned long long RAS1_LinesWritten() {
  TraceState& st = State();
  std::lock_guard<std::mutex> guard(st.fileLock);
  return st.lines;
}

#ifdef _WIN32
void RAS1_ProcessWriteLine(const char* line, std::size_t length) { WriteOwn(std::string(line, length)); }
#endif

void RAS1_Printf(RAS1_EPB* unit, int line, const char* format, ...) {
  va_list args;
  va_start(args, format);
  VPrint(unit, line, format, args);
  va_end(args);
}

void RAS1_Event(RAS1_EPB* unit, int line, int kind, ...) {
  char text[64];
  int n;
  if (kind == RAS1_EV_ENTRY) {
    n = std::snprintf(text, sizeof text, "Entry");
  } else if (kind == RAS1_EV_EXIT_VALUE) {
    va_list args;
    va_start(args, kind);
    long long value = va_arg(args, long long);
    va_end(args);
    n = std::snprintf(text, sizeof text, "Exit: 0x%llX", static_cast<unsigned long long>(value));
  } else {
    n = std::snprintf(text, sizeof text, "Exit");
  }
  WriteLine(unit, line, text, n > 0 ? static_cast<std::size_t>(n) : 0);
}

void RAS1_Dump(RAS1_EPB* unit, int line, const void* address, std::size_t count, int format) {
  (void)format;
  const unsigned char* p = static_cast<const unsigned char*>(address);
  std::string out;
  char buf[96];
  std::snprintf(buf, sizeof buf, "Dump of %zu bytes at %p", count, address);
  out += buf;
  for (std::size_t off = 0; p && off < count; off += 16) {
    int n = std::snprintf(buf, sizeof buf, "\n  %08zx:", off);
    out.append(buf, static_cast<std::size_t>(n));
    std::string ascii;
    for (std::size_t i = 0; i < 16; ++i) {
      if (off + i < count) {
        unsigned char c = p[off + i];
        n = std::snprintf(buf, sizeof buf, " %02X", c);
        out.append(buf, static_cast<std::size_t>(n));
        ascii.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.');
      } else {
        out += "   ";
      }
    }
    out += "  |" + ascii + "|";
  }
  WriteLine(unit, line, out.data(), out.size());
}

// ---------------------------------------------------------------- environment

namespace {
struct EnvStore {
  std::mutex lock;
  std::map<std::string, std::unique_ptr<std::string>> values;
  std::vector<std::unique_ptr<std::string>> retired;  // earlier values stay valid
};
EnvStore& Env() {
  static EnvStore* store = new EnvStore();
  return *store;
}

bool ReadEnvironment(const char* name, std::string* value) {
#ifdef _WIN32
  char small[512];
  DWORD n = GetEnvironmentVariableA(name, small, sizeof small);
  if (n == 0) {
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
    value->clear();  // set, but empty
    return true;
  }
  if (n < sizeof small) {
    value->assign(small, n);
    return true;
  }
  std::vector<char> big(n);
  DWORD m = GetEnvironmentVariableA(name, big.data(), n);
  if (m == 0 || m >= n) return false;
  value->assign(big.data(), m);
  return true;
#else
  const char* v = std::getenv(name);
  if (!v) return false;
  value->assign(v);
  return true;
#endif
}
}  // namespace

const char* BSS1_GetEnv(const char* name, int) {
  if (!name || !*name) return nullptr;
  std::string value;
  if (!ReadEnvironment(name, &value)) return nullptr;
  EnvStore& env = Env();
  std::lock_guard<std::mutex> guard(env.lock);
  auto& slot = env.values[name];
  if (slot && *slot == value) return slot->c_str();
  if (slot) env.retired.push_back(std::move(slot));
  slot.reset(new std::string(value));
  return slot->c_str();
}

int BSS1_PutEnv(const char* assignment) {
  if (!assignment) return -1;
  const char* eq = std::strchr(assignment, '=');
  if (!eq || eq == assignment) return -1;
  std::string name(assignment, static_cast<std::size_t>(eq - assignment));
  const char* value = eq + 1;
#ifdef _WIN32
  // Both the process environment block and the C runtime's copy.
  SetEnvironmentVariableA(name.c_str(), *value ? value : nullptr);
  _putenv_s(name.c_str(), value);
#else
  if (*value) setenv(name.c_str(), value, 1);
  else unsetenv(name.c_str());
#endif
  return 0;
}
