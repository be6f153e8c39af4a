#include "perfsvc/osmkounter.h"

#include "framework/cfw.h"
#include "framework/nlsxlat.h"
#include "framework/ras1.h"
#include "perfsvc/osmkthrd.h"
#include "perfsvc/perf_name.h"
#include "perfsvc/perf_registry_source.h"
#include "perfsvc/perf_snap.h"
#include "perfsvc/perf_text.h"
#include "perfsvc/sample.h"

#include <objbase.h>

#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <vector>

namespace osmperf {

namespace {

std::atomic<long> g_components{0};
std::atomic<long> g_serverLocks{0};

// Description strings are US-ASCII; the sample reads UTF-16.
std::u16string AsciiToUtf16(const char* text) {
  std::size_t length = std::strlen(text);
  std::vector<unsigned char> bytes(length * 2 + 2);
  std::size_t written = 0;
  NLS2_TranslateString(NLS2_CS_ASCII, text, length, NLS2_CS_UTF16LE, bytes.data(), bytes.size(), &written,
                       nullptr);
  std::u16string out;
  out.reserve(written / 2);
  for (std::size_t i = 0; i + 1 < written; i += 2)
    out.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
  return out;
}

// A catalogue name in the ANSI code page ("" for a missing name).
std::string AnsiName(const char16_t* name) {
  if (name == nullptr || *name == 0) return std::string();
  std::wstring wide(name, name + Length16(name));
  int n = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()), &out[0], n, nullptr, nullptr);
  return out;
}

bool Present(const char* s) { return s != nullptr && *s != 0; }

// Index array, name pointer array and name block for a listing, all
// allocated with CoTaskMemAlloc. The block holds every name with its
// terminator and one closing null byte.
struct Listing {
  DWORD* indexes = nullptr;
  DWORD* counts = nullptr;
  char** names = nullptr;
  char* block = nullptr;
  std::size_t blockSize = 0;

  bool Allocate(std::size_t n, const std::vector<std::string>& texts, bool withCounts) {
    blockSize = 1;
    for (const std::string& t : texts) blockSize += t.size() + 1;
    std::size_t slots = n > 0 ? n : 1;
    indexes = static_cast<DWORD*>(CoTaskMemAlloc(slots * sizeof(DWORD)));
    if (withCounts) counts = static_cast<DWORD*>(CoTaskMemAlloc(slots * sizeof(DWORD)));
    names = static_cast<char**>(CoTaskMemAlloc(slots * sizeof(char*)));
    block = static_cast<char*>(CoTaskMemAlloc(blockSize));
    if (indexes == nullptr || (withCounts && counts == nullptr) || names == nullptr || block == nullptr) {
      Free();
      return false;
    }
    char* p = block;
    for (std::size_t i = 0; i < texts.size(); ++i) {
      names[i] = p;
      std::memcpy(p, texts[i].c_str(), texts[i].size() + 1);
      p += texts[i].size() + 1;
    }
    *p = 0;
    return true;
  }
  void Free() {
    CoTaskMemFree(indexes);
    CoTaskMemFree(counts);
    CoTaskMemFree(names);
    CoTaskMemFree(block);
    indexes = counts = nullptr;
    names = nullptr;
    block = nullptr;
  }
};

UINT ClampUint(std::uint64_t v) {
  return v > std::numeric_limits<UINT>::max() ? std::numeric_limits<UINT>::max() : static_cast<UINT>(v);
}

}  // namespace

long OsmComponentCount() { return g_components.load(); }
long OsmServerLockCount() { return g_serverLocks.load(); }
void OsmLockServer(bool lock) {
  if (lock)
    ++g_serverLocks;
  else if (g_serverLocks.load() > 0)
    --g_serverLocks;
}

// ---------------------------------------------------------------- CUnknown

CUnknown::CUnknown(IUnknown* outer)
    : outer_(outer != nullptr ? outer
                              : reinterpret_cast<IUnknown*>(static_cast<INondelegatingUnknown*>(this))) {
  ++g_components;
}

CUnknown::~CUnknown() { --g_components; }

HRESULT CUnknown::NondelegatingQueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown)) {
    *out = static_cast<INondelegatingUnknown*>(this);
    NondelegatingAddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG CUnknown::NondelegatingAddRef() { return static_cast<ULONG>(++refCount_); }

ULONG CUnknown::NondelegatingRelease() {
  long n = --refCount_;
  if (n == 0) {
    FinalRelease();
    delete this;
    return 0;
  }
  return static_cast<ULONG>(n);
}

HRESULT CUnknown::FinishQI(IUnknown* itf, void** out) {
  *out = itf;
  itf->AddRef();
  return S_OK;
}

// ---------------------------------------------------------------- COsmKounter

HRESULT COsmKounter::CreateInstance(IUnknown* outer, CUnknown** out) {
  *out = new (std::nothrow) COsmKounter(outer);
  return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

COsmKounter::COsmKounter(IUnknown* outer) : CUnknown(outer) {
  RAS1_UNIT("COsmKounter::COsmKounter");
  if (BSS1_GetEnv("DCFA_NODETYPE", 0) == nullptr) DCF_SetNodeType("nt");
  DetermineLocalHost(hostName_, static_cast<int>(sizeof hostName_));
  RAS1_TRACE(RAS1_FLOW, "Counter object created on host '%s'", hostName_);
}

COsmKounter::~COsmKounter() {
  if (initialised_) Terminate();
}

HRESULT COsmKounter::NondelegatingQueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IOsmKount)) return FinishQI(static_cast<IOsmKount*>(this), out);
  return CUnknown::NondelegatingQueryInterface(iid, out);
}

HRESULT COsmKounter::Initialize(int intervalSeconds, BYTE costly, LPCSTR computerName) {
  RAS1_ENTRY("COsmKounter::Initialize");
  if (initialised_) return E_ABORT;
  if (intervalSeconds < 1) return E_INVALIDARG;
  computerName_[0] = 0;
  if (Present(computerName)) {
    char local[MAX_COMPUTERNAME_LENGTH + 1] = {0};
    DWORD size = sizeof local;
    if (!GetComputerNameA(local, &size)) return static_cast<HRESULT>(GetLastError() | 0x80040000u);
    if (_stricmp(computerName, local) != 0) {
      std::strncpy(computerName_, computerName, 15);
      computerName_[15] = 0;
    }
  }
  try {
    source_ = OsmCreatePerfSource(computerName_[0] != 0 ? computerName_ : nullptr);
    names_.reset(new CPerfName(source_.get()));
    if (!names_->Loaded()) {
      RAS1_TRACE(RAS1_ERROR, "No counter names: result %d", names_->Result());
      names_.reset();
      source_.reset();
      return E_UNEXPECTED;
    }
    catalogue_.reset(new CSnapCatalog);
    thread_.reset(new osmkthrd(intervalSeconds, costly != 0, computerName_, source_.get(), names_.get(),
                               catalogue_.get()));
  } catch (const std::bad_alloc&) {
    thread_.reset();
    catalogue_.reset();
    names_.reset();
    source_.reset();
    return E_OUTOFMEMORY;
  }
  if (!thread_->Start()) {
    // Not initialised: a caller must not go on as if the service ran.
    RAS1_TRACE(RAS1_ERROR, "The support thread is not running after its start-up");
    thread_.reset();
    catalogue_.reset();
    names_.reset();
    source_.reset();
    return E_FAIL;
  }
  initialised_ = true;
  RAS1_TRACE(RAS1_FLOW, "Initialised: interval %d s, costly %d, computer '%s'", intervalSeconds, costly,
             computerName_[0] ? computerName_ : "(local)");
  return S_OK;
}

std::shared_ptr<CSample> COsmKounter::Find(OSMSAMPLE handle) const {
  return thread_ ? thread_->FindSample(static_cast<std::uintptr_t>(handle)) : nullptr;
}

HRESULT COsmKounter::CreateSample(const char* const strings[8], UINT intervalSeconds, UINT fixedCount,
                                  OSMSAMPLE* out) {
  *out = 0;
  // Empty strings count as absent.
  const char* args[8];
  for (int i = 0; i < 8; ++i) args[i] = Present(strings[i]) ? strings[i] : nullptr;
  std::unique_ptr<CSample> created;
  if (osmperf::CreateSample(args, fixedCount, intervalSeconds, *catalogue_, *names_, &created) == kSampleFail ||
      !created)
    return E_FAIL;
  std::shared_ptr<CSample> sample;
  try {
    sample = std::shared_ptr<CSample>(std::move(created));
  } catch (const std::bad_alloc&) {
    return E_FAIL;
  }
  OSMSAMPLE handle = reinterpret_cast<OSMSAMPLE>(sample.get());
  if (sample->Complete()) {
    if (thread_->AddSample(sample) != 0) return E_FAIL;
  } else {
    try {
      std::lock_guard<std::mutex> guard(pendingLock_);
      pending_[handle] = sample;
    } catch (const std::bad_alloc&) {
      return E_FAIL;
    }
  }
  *out = handle;
  return sample->Valid() ? S_OK : E_ACCESSDENIED;
}

HRESULT COsmKounter::DescribeSampleI(UINT descriptionId, UINT fixedDataId, UINT, UINT intervalSeconds, UINT,
                                     UINT fixedCount, OSMSAMPLE* sample) {
  RAS1_ENTRY("COsmKounter::DescribeSampleI");
  if (!initialised_) return E_PENDING;
  if (sample == nullptr) return E_POINTER;
  *sample = 0;
  HMODULE exe = GetModuleHandleA(nullptr);
  if (exe == nullptr) {
    DWORD error = GetLastError();
    std::printf("Error (%lX):  %s\n", static_cast<unsigned long>(error), source_->ErrorText(error).c_str());
    return E_UNEXPECTED;
  }
  std::vector<std::string> texts(8);
  const char* strings[8] = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
  int count = fixedDataId != 0 ? 8 : 5;
  for (int i = 0; i < count; ++i) {
    UINT id = i < 5 ? descriptionId + static_cast<UINT>(i) : fixedDataId + static_cast<UINT>(i - 5);
    char buffer[4096];
    int n = LoadStringA(exe, id, buffer, static_cast<int>(sizeof buffer));
    if (n <= 0) {
      RAS1_TRACE(RAS1_ERROR, "String %u missing, error %lu", id, static_cast<unsigned long>(GetLastError()));
      return E_INVALIDARG;
    }
    texts[static_cast<std::size_t>(i)].assign(buffer, static_cast<std::size_t>(n));
    strings[i] = texts[static_cast<std::size_t>(i)].c_str();
  }
  return CreateSample(strings, intervalSeconds, fixedCount, sample);
}

HRESULT COsmKounter::DescribeSample(LPCSTR header, LPCSTR sizes, LPCSTR offsets, LPCSTR scales, LPCSTR types,
                                    LPCSTR fixedHeader, LPCSTR fixedSizes, LPCSTR fixedOffsets, UINT,
                                    UINT intervalSeconds, UINT, UINT fixedCount, OSMSAMPLE* sample) {
  RAS1_ENTRY("COsmKounter::DescribeSample");
  if (!initialised_) return E_PENDING;
  if (sample == nullptr) return E_POINTER;
  *sample = 0;
  if (Present(header) && !(Present(sizes) && Present(offsets) && Present(scales) && Present(types)))
    return E_INVALIDARG;
  if (Present(fixedHeader) && !(Present(fixedSizes) && Present(fixedOffsets))) return E_INVALIDARG;
  const char* strings[8] = {header, sizes, offsets, scales, types, fixedHeader, fixedSizes, fixedOffsets};
  return CreateSample(strings, intervalSeconds, fixedCount, sample);
}

HRESULT COsmKounter::DescribeSampleFixedData(OSMSAMPLE handle, LPCSTR name, const void* data, UINT length) {
  RAS1_ENTRY("COsmKounter::DescribeSampleFixedData");
  std::shared_ptr<CSample> sample;
  {
    std::lock_guard<std::mutex> guard(pendingLock_);
    auto it = pending_.find(handle);
    if (it != pending_.end()) sample = it->second;
  }
  if (!sample) {
    // A complete sample takes no more fixed data; any other handle is unknown.
    if (Find(handle)) return E_INVALIDARG;
    return E_HANDLE;
  }
  std::u16string wideName = AsciiToUtf16(name != nullptr ? name : "");
  if (!sample->AddFixedData(wideName.c_str(), data, data != nullptr ? length : 0)) return E_INVALIDARG;
  if (sample->Complete()) {
    {
      std::lock_guard<std::mutex> guard(pendingLock_);
      pending_.erase(handle);
    }
    if (!thread_ || thread_->AddSample(sample) != 0) return E_FAIL;
  }
  return S_OK;
}

HRESULT COsmKounter::WaitReady(CSample* sample) {
  while (!sample->WaitReadyFor(200)) {
    if (!thread_ || !thread_->Running()) return E_FAIL;
    if (thread_->Suspended()) return E_PENDING;
  }
  return S_OK;
}

HRESULT COsmKounter::LockSample(CSample* sample) {
  HRESULT hr = WaitReady(sample);
  if (FAILED(hr)) return hr;
  try {
    sample->Lock();
    std::lock_guard<std::mutex> guard(pendingLock_);
    LockOwner& owner = lockOwners_[sample];
    owner.thread = GetCurrentThreadId();
    ++owner.depth;
  } catch (...) {
    return E_FAIL;
  }
  return S_OK;
}

HRESULT COsmKounter::UnlockSample(CSample* sample) {
  {
    std::lock_guard<std::mutex> guard(pendingLock_);
    auto it = lockOwners_.find(sample);
    // Only the thread that holds the lock may release it.
    if (it == lockOwners_.end() || it->second.depth == 0 || it->second.thread != GetCurrentThreadId())
      return E_FAIL;
    if (--it->second.depth == 0) lockOwners_.erase(it);
  }
  sample->Unlock();
  return S_OK;
}

HRESULT COsmKounter::SampleLock(OSMSAMPLE handle, int operation) {
  std::shared_ptr<CSample> sample = Find(handle);
  if (!sample) return E_HANDLE;
  if (!sample->Valid()) return E_ACCESSDENIED;
  if (operation == OSMKOUNT_LOCK) return LockSample(sample.get());
  if (operation == OSMKOUNT_UNLOCK) return UnlockSample(sample.get());
  return E_INVALIDARG;
}

HRESULT COsmKounter::SampleRows(OSMSAMPLE handle, UINT* rows) {
  std::shared_ptr<CSample> sample = Find(handle);
  if (!sample) return E_HANDLE;
  if (rows == nullptr) return E_POINTER;
  std::lock_guard<COsmLock> guard(sample->RowLock());
  *rows = ClampUint(sample->RowCount());
  return S_OK;
}

HRESULT COsmKounter::SampleData(OSMSAMPLE handle, int bufferSize, UINT* bytesNeeded, void* buffer) {
  if (!initialised_) return E_ABORT;
  std::shared_ptr<CSample> sample = Find(handle);
  if (!sample) return E_HANDLE;
  if (thread_->Suspended()) return E_PENDING;
  if (!sample->Valid()) return E_ACCESSDENIED;
  if (bytesNeeded == nullptr) return E_POINTER;
  HRESULT hr = WaitReady(sample.get());
  if (FAILED(hr)) return hr;
  std::lock_guard<COsmLock> guard(sample->RowLock());
  std::uint64_t needed = static_cast<std::uint64_t>(sample->RowCount()) * sample->RowSize();
  *bytesNeeded = ClampUint(needed);
  if (needed == 0) return S_OK;
  if (bufferSize < 0 || static_cast<std::uint64_t>(bufferSize) < needed) return E_OUTOFMEMORY;
  if (buffer == nullptr) return E_POINTER;
  std::uint32_t number = sampleNumber_.fetch_add(1) + 1;
  sample->CopyRows(buffer, static_cast<std::size_t>(needed), number);
  return S_OK;
}

HRESULT COsmKounter::SampleLockedData(OSMSAMPLE handle, int bufferSize, UINT* bytesNeeded, void* buffer) {
  if (FAILED(SampleLock(handle, OSMKOUNT_LOCK))) return E_FAIL;
  HRESULT hr = SampleData(handle, bufferSize, bytesNeeded, buffer);
  if (FAILED(SampleLock(handle, OSMKOUNT_UNLOCK)) && SUCCEEDED(hr)) return E_FAIL;
  return hr;
}

HRESULT COsmKounter::RemoveSample(OSMSAMPLE handle) {
  std::shared_ptr<CSample> sample = Find(handle);
  if (!sample) return E_INVALIDARG;
  {
    std::lock_guard<std::mutex> guard(pendingLock_);
    lockOwners_.erase(sample.get());
  }
  return thread_->RemoveSample(sample.get());
}

HRESULT COsmKounter::Terminate() {
  RAS1_ENTRY("COsmKounter::Terminate");
  if (!initialised_) return S_OK;
  if (thread_) thread_->Terminate();
  initialised_ = false;
  thread_.reset();
  {
    std::lock_guard<std::mutex> guard(pendingLock_);
    pending_.clear();
    lockOwners_.clear();
  }
  catalogue_.reset();
  names_.reset();
  source_.reset();
  return S_OK;
}

HRESULT COsmKounter::GetSampleCount(UINT* count) {
  if (!initialised_) return E_PENDING;
  if (count == nullptr) return E_POINTER;
  *count = thread_->SampleCount();
  return S_OK;
}

void COsmKounter::Rescan(const char* who) {
  RAS1_UNIT("COsmKounter::Rescan");
  std::uint32_t initial = thread_->FinalTotalByteLength();
  CPerfSnap snap(source_.get(), initial != 0 ? initial : 102400, 30720);
  const std::string& list = thread_->SnapControlObjects();
  std::fprintf(stderr, "%s with Snap Control Objects=%s\n", who, list.c_str());
  RAS1_TRACE(RAS1_FLOW, "%s with Snap Control Objects='%s'", who, list.c_str());
  if (snap.Snap(list.c_str())) catalogue_->Rebuild(snap.Block());
}

HRESULT COsmKounter::SampleRescan(OSMSAMPLE handle) {
  if (!initialised_) return E_PENDING;
  std::shared_ptr<CSample> sample = Find(handle);
  if (!sample) return E_HANDLE;
  if (sample->Valid()) return E_INVALIDARG;
  try {
    Rescan("SampleRescan");
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  std::lock_guard<COsmLock> guard(sample->RowLock());
  sample->SetValid(true);
  std::int32_t rc = sample->ConvertNamesToNumbers(*catalogue_, *names_);
  if (rc != kSampleOk || !sample->Valid()) {
    sample->SetValid(false);
    return E_ACCESSDENIED;
  }
  return S_OK;
}

HRESULT COsmKounter::ObjectList(UINT* count, UINT* bytes, DWORD** objectIndexes, DWORD** counterCounts,
                                char*** names, char** nameBlock, BYTE rescan) {
  if (count) *count = 0;
  if (bytes) *bytes = 0;
  if (objectIndexes) *objectIndexes = nullptr;
  if (counterCounts) *counterCounts = nullptr;
  if (names) *names = nullptr;
  if (nameBlock) *nameBlock = nullptr;
  if (!initialised_) return E_PENDING;
  if (!count || !bytes || !objectIndexes || !counterCounts || !names || !nameBlock) return E_POINTER;
  Listing listing;
  try {
    if (rescan) Rescan("ObjectList");
    std::vector<CatalogEntry> entries = catalogue_->Entries();
    if (entries.empty()) return E_PENDING;
    std::vector<std::string> texts;
    texts.reserve(entries.size());
    for (const CatalogEntry& e : entries) texts.push_back(AnsiName(names_->Name(e.objectIndex)));
    if (!listing.Allocate(entries.size(), texts, true)) return E_OUTOFMEMORY;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      listing.indexes[i] = entries[i].objectIndex;
      listing.counts[i] = static_cast<DWORD>(entries[i].counters.size());
    }
    *count = static_cast<UINT>(entries.size());
    *bytes = static_cast<UINT>(listing.blockSize);
  } catch (const std::bad_alloc&) {
    listing.Free();
    return E_OUTOFMEMORY;
  } catch (...) {
    listing.Free();
    return E_FAIL;
  }
  *objectIndexes = listing.indexes;
  *counterCounts = listing.counts;
  *names = listing.names;
  *nameBlock = listing.block;
  return S_OK;
}

HRESULT COsmKounter::CounterList(DWORD objectIndex, UINT* count, UINT* bytes, DWORD** counterIndexes,
                                 char*** names, char** nameBlock) {
  if (count) *count = 0;
  if (bytes) *bytes = 0;
  if (counterIndexes) *counterIndexes = nullptr;
  if (names) *names = nullptr;
  if (nameBlock) *nameBlock = nullptr;
  if (!initialised_) return E_PENDING;
  if (!count || !bytes || !counterIndexes || !names || !nameBlock) return E_POINTER;
  Listing listing;
  try {
    CatalogEntry entry;
    if (!catalogue_->Find(objectIndex, &entry)) return E_INVALIDARG;
    std::vector<std::string> texts;
    texts.reserve(entry.counters.size());
    for (std::uint32_t c : entry.counters) texts.push_back(AnsiName(names_->Name(c)));
    if (!listing.Allocate(entry.counters.size(), texts, false)) return E_OUTOFMEMORY;
    for (std::size_t i = 0; i < entry.counters.size(); ++i) listing.indexes[i] = entry.counters[i];
    *count = static_cast<UINT>(entry.counters.size());
    *bytes = static_cast<UINT>(listing.blockSize);
  } catch (const std::bad_alloc&) {
    listing.Free();
    return E_OUTOFMEMORY;
  } catch (...) {
    listing.Free();
    return E_FAIL;
  }
  *counterIndexes = listing.indexes;
  *names = listing.names;
  *nameBlock = listing.block;
  return S_OK;
}

HRESULT COsmKounter::ChangeSample(OSMSAMPLE handle, int intervalSeconds) {
  if (!initialised_) return E_PENDING;
  if (intervalSeconds < 0) return E_INVALIDARG;
  std::shared_ptr<CSample> sample = Find(handle);
  if (!sample) return E_INVALIDARG;
  return thread_->ChangeSample(sample.get(), intervalSeconds);
}

HRESULT COsmKounter::SetGlobalTime(int intervalSeconds) {
  if (!initialised_) return E_PENDING;
  if (intervalSeconds < 1) return E_INVALIDARG;
  return thread_->SetGlobalTime(intervalSeconds);
}

HRESULT COsmKounter::GetGlobalTime(UINT* seconds) {
  if (!initialised_) return E_PENDING;
  if (seconds == nullptr) return E_POINTER;
  *seconds = thread_->GlobalSeconds();
  return S_OK;
}

HRESULT COsmKounter::SuspendSampling() {
  if (!initialised_) return E_PENDING;
  thread_->Suspend();
  return S_OK;
}

HRESULT COsmKounter::ResumeSampling() {
  if (!initialised_) return E_PENDING;
  thread_->Resume();
  return S_OK;
}

}  // namespace osmperf
