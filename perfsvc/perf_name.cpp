#include "perfsvc/perf_name.h"

#include "framework/ras1.h"
#include "perfsvc/perf_text.h"

#include <cstdio>
#include <new>

namespace osmperf {

namespace {

// Reads a decimal index the way _wtoi does: leading digits, anything else ends it.
template <typename Ch>
std::uint64_t LeadingNumber(const Ch* text, std::size_t length) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
    v = v * 10 + static_cast<std::uint64_t>(text[i] - '0');
    if (v > 0xFFFFFFFFull) return 0xFFFFFFFFull + 1;  // saturates above any index
  }
  return v;
}

}  // namespace

// ---------------------------------------------------------------- CPerfName

void CPerfName::Report(const char* message, long code, const IPerfDataSource* source) const {
  RAS1_UNIT("CPerfName");
  std::printf("CPerfName: \t%s\tRC:(%lX)\n", message, static_cast<unsigned long>(code));
  if (code < 0)
    std::printf("Error (%ld):  %s\n", code, source ? source->ErrorText(code).c_str() : "");
  RAS1_TRACE(RAS1_ERROR, "%s RC:(%lX)", message, static_cast<unsigned long>(code));
}

CPerfName::CPerfName(IPerfDataSource* source) {
  RAS1_ENTRY("CPerfName::CPerfName");
  if (source == nullptr) {
    result_ = 4;
    return;
  }
  result_ = LoadLastIndexes(source);
  if (result_ == 0) {
    int names = LoadNames(source);
    if (names == 120) {
      indexTable_.clear();
      indexTable_.shrink_to_fit();
    }
    result_ = names;
  }
}

int CPerfName::LoadLastIndexes(IPerfDataSource* source) {
  PerfSourceStage stage = PerfSourceStage::None;
  long rc = source->QueryLastIndexes(&lastCounter_, &lastHelp_, &stage);
  if (rc != kErrorSuccess) {
    switch (stage) {
      case PerfSourceStage::Connect:
        Report("Unable to connect with remote registry.", rc, source);
        return 4;
      case PerfSourceStage::LastCounter:
        Report("Error retrieving last index:", rc, source);
        return 8;
      case PerfSourceStage::LastHelp:
        Report("Error retrieving perflib value", rc, source);
        return 12;
      default:
        Report("Error opening perflib", rc, source);
        return 4;
    }
  }
  if (lastCounter_ == 0 && lastHelp_ == 0) {
    Report("Last index was zero.\n", 0, source);
    return 16;
  }
  std::uint32_t largest = lastCounter_ > lastHelp_ ? lastCounter_ : lastHelp_;
  if (largest >= kMaxIndexes) {
    Report("Out of memory.\n", 0, source);
    return 120;
  }
  try {
    indexTable_.assign(static_cast<std::size_t>(largest) + 1, nullptr);
  } catch (const std::bad_alloc&) {
    Report("Out of memory.\n", 0, source);
    return 120;
  }
  return 0;
}

int CPerfName::LoadNames(IPerfDataSource* source) {
  RAS1_UNIT("CPerfName::LoadNames");
  if (lastCounter_ == 0) {
    Report("Last Index is zero", 0, source);
    return 16;
  }
  PerfSourceStage stage = PerfSourceStage::None;
  long rc;
  try {
    rc = source->QueryCounterNames(&names_, &stage);
    // Two terminators guard the walk whatever the source returned.
    names_.push_back(u'\0');
    names_.push_back(u'\0');
  } catch (const std::bad_alloc&) {
    Report("Out of memory.", 0, source);
    return 120;
  }
  if (rc != kErrorSuccess) {
    if (stage == PerfSourceStage::ConnectPerfData) {
      Report("Unable to connect to remote registry performance data.", rc, source);
    } else if (stage == PerfSourceStage::OutOfMemory) {
      Report("Out of memory.", rc, source);
      return 120;
    } else {
      Report("Error reading registry for key: Counter 009", rc, source);
    }
    names_.clear();
    return 4;
  }
  const std::size_t n = names_.size();
  std::size_t pos = 0;
  while (pos < n && names_[pos] != 0) {
    const char16_t* indexText = names_.data() + pos;
    std::size_t indexLength = Length16(indexText);
    std::size_t namePos = pos + indexLength + 1;
    if (namePos >= n) break;
    std::uint64_t index = LeadingNumber(indexText, indexLength);
    if (index > lastCounter_) {
      Report("Out of range index encountered", 0, source);
      break;
    }
    const char16_t* name = names_.data() + namePos;
    indexTable_[static_cast<std::size_t>(index)] = name;
    pos = namePos + Length16(name) + 1;
  }
  RAS1_TRACE(RAS1_FLOW, "Loaded names up to index %u from the %s source", lastCounter_,
             source->Name());
  return 0;
}

const char16_t* CPerfName::Name(std::uint32_t index) const {
  if (indexTable_.empty()) return nullptr;
  if (index > lastCounter_) {
    Report("Out of range index encountered.", 0, nullptr);
    return nullptr;
  }
  return indexTable_[index];
}

std::uint32_t CPerfName::FindIndex(const std::u16string& name) const {
  for (std::size_t i = 1; i < indexTable_.size() && i <= lastCounter_; ++i)
    if (indexTable_[i] != nullptr && EqualsNoCase(name, indexTable_[i]))
      return static_cast<std::uint32_t>(i);
  return 0;
}

// ---------------------------------------------------------------- CSnapCatalog

const char16_t* CSnapCatalog::NameOf(std::uint32_t index) const {
  if (names_ == nullptr || index > names_->LastCounter()) return nullptr;
  return names_->Name(index);
}

int CSnapCatalog::Build(const CPerfName* names, const CPerfBlock& block) {
  RAS1_UNIT("CSnapCatalog::Build");
  std::lock_guard<std::mutex> guard(lock_);
  names_ = names;
  int added = 0;
  CObjectWalker objects(block);
  for (bool ok = objects.First(); ok && added < kMaxNewObjectsPerBuild; ok = objects.Next()) {
    const CPerfObject& object = objects.Current();
    if (PositionLocked(object.nameIndex) >= 0) continue;
    CatalogEntry entry;
    entry.objectIndex = object.nameIndex;
    CCounterWalker counters(object);
    for (bool c = counters.First(); c; c = counters.Next())
      entry.counters.push_back(counters.Current().nameIndex);
    entries_.push_back(std::move(entry));
    ++added;
  }
  RAS1_TRACE(RAS1_FLOW, "Catalogue holds %u objects (%d new)",
             static_cast<unsigned>(entries_.size()), added);
  return added;
}

int CSnapCatalog::PositionLocked(std::uint32_t objectIndex) const {
  for (std::size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].objectIndex == objectIndex) return static_cast<int>(i);
  return -1;
}

int CSnapCatalog::Position(std::uint32_t objectIndex) const {
  std::lock_guard<std::mutex> guard(lock_);
  return PositionLocked(objectIndex);
}

std::size_t CSnapCatalog::Size() const {
  std::lock_guard<std::mutex> guard(lock_);
  return entries_.size();
}

std::vector<CatalogEntry> CSnapCatalog::Entries() const {
  std::lock_guard<std::mutex> guard(lock_);
  return entries_;
}

bool CSnapCatalog::Find(std::uint32_t objectIndex, CatalogEntry* entry) const {
  std::lock_guard<std::mutex> guard(lock_);
  int p = PositionLocked(objectIndex);
  if (p < 0) return false;
  *entry = entries_[static_cast<std::size_t>(p)];
  return true;
}

std::uint32_t CSnapCatalog::LookupObject(const std::u16string& name) const {
  std::lock_guard<std::mutex> guard(lock_);
  for (const CatalogEntry& e : entries_)
    if (EqualsNoCase(name, NameOf(e.objectIndex))) return e.objectIndex;
  return 0;
}

std::uint32_t CSnapCatalog::LookupCounter(std::uint32_t objectIndex, const std::u16string& name) const {
  std::lock_guard<std::mutex> guard(lock_);
  int p = PositionLocked(objectIndex);
  if (p < 0) return 0;
  for (std::uint32_t index : entries_[static_cast<std::size_t>(p)].counters)
    if (index != 0 && EqualsNoCase(name, NameOf(index))) return index;
  return 0;
}

std::uint32_t CSnapCatalog::SelectObject(std::uint32_t objectIndex) {
  std::lock_guard<std::mutex> guard(lock_);
  selected_ = PositionLocked(objectIndex);
  counterCursor_ = 0;
  return selected_ < 0 ? 0
                       : static_cast<std::uint32_t>(entries_[static_cast<std::size_t>(selected_)].counters.size());
}

std::uint32_t CSnapCatalog::FirstCounter(const char16_t** name) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    counterCursor_ = 0;
  }
  return NextCounter(name);
}

std::uint32_t CSnapCatalog::NextCounter(const char16_t** name) {
  std::lock_guard<std::mutex> guard(lock_);
  if (name) *name = nullptr;
  if (selected_ < 0) return 0;
  const CatalogEntry& e = entries_[static_cast<std::size_t>(selected_)];
  if (counterCursor_ >= e.counters.size()) return 0;
  std::uint32_t index = e.counters[counterCursor_++];
  if (name) *name = NameOf(index);
  return index;
}

std::uint32_t CSnapCatalog::FirstObject(const char16_t** name) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    objectCursor_ = 0;
  }
  return NextObject(name);
}

std::uint32_t CSnapCatalog::NextObject(const char16_t** name) {
  std::lock_guard<std::mutex> guard(lock_);
  if (name) *name = nullptr;
  if (objectCursor_ >= entries_.size()) return 0;
  std::uint32_t index = entries_[objectCursor_++].objectIndex;
  if (name) *name = NameOf(index);
  return index;
}

// ---------------------------------------------------------------- first object list

const char* const kBuiltInObjects[] = {
    "Paging File", "Processor", "LogicalDisk", "Memory", "Objects", "PhysicalDisk", "Process",
    "System", "RAS Port", "RAS Total", "Network Interface", "Network Segment", "UDP", "TCP", "IP",
    "ICMP", "HTTP", "HTTP Content Index", "Active Server Pages", "Gopher Service", "FTP Server",
    "Internet Information Services Global", "MSMQ IS", "MSMQ Service", "MSMQ Queue", "UDPv4",
    "Cache", "MSMQ Sessions", "MSMQ Session", "Job Object", "Job Object Details", "FTP Service",
    "Web Service", "Content Index", "Content Index Filter", "NNTP Commands", "NNTP Server",
    "SMTP Server", "DHCP Server", "DNS", "Indexing Service", "Print Queue",
    "Http Indexing Service", "Web Service", "Indexing Service Filter", "Thread", "Server",
    "Server Work Queues", "IPv4", "TCPv4", "Redirector"};
const std::size_t kBuiltInObjectCount = sizeof(kBuiltInObjects) / sizeof(kBuiltInObjects[0]);

std::string FirstObjectList::Text() const {
  std::string text;
  for (std::uint32_t index : indexes) {
    text += std::to_string(index);
    text += ' ';
  }
  return text;
}

bool BuildFirstObjectList(IPerfDataSource* source, FirstObjectList* out) {
  return BuildFirstObjectList(source, BSS1_GetEnv("NT_EXCLUDE_PERF_OBJS", 0), out);
}

bool BuildFirstObjectList(IPerfDataSource* source, const char* exclusions, FirstObjectList* out) {
  RAS1_ENTRY("BuildFirstObjectList");
  *out = FirstObjectList();
  if (source == nullptr) return false;

  PerfSourceStage stage = PerfSourceStage::None;
  long rc = source->QueryLastIndexes(&out->lastCounter, &out->lastHelp, &stage);
  if (rc != kErrorSuccess) {
    if (stage == PerfSourceStage::LastCounter)
      RAS1_TRACE(RAS1_ERROR, "Error retrieving perflib last index, rc=%d", static_cast<int>(rc));
    else if (stage == PerfSourceStage::LastHelp)
      RAS1_TRACE(RAS1_ERROR, "Error retrieving Perflib last help index, rc=%d", static_cast<int>(rc));
    else
      RAS1_TRACE(RAS1_ERROR, "Error opening registry key perflib, rc=%d", static_cast<int>(rc));
    *out = FirstObjectList();
    return false;
  }
  RAS1_TRACE(RAS1_FLOW, "Perflib Last Counter=%d", static_cast<int>(out->lastCounter));
  std::fprintf(stderr, "Perflib Last Counter=%d\n", static_cast<int>(out->lastCounter));
  RAS1_TRACE(RAS1_FLOW, "Perflib Last Help=%d", static_cast<int>(out->lastHelp));
  std::fprintf(stderr, "Perflib Last Help=%d\n", static_cast<int>(out->lastHelp));

  std::string text;
  try {
    rc = source->QueryCounterText(&text, &stage);
  } catch (const std::bad_alloc&) {
    RAS1_TRACE(RAS1_ERROR, "Out of memory, returning...");
    *out = FirstObjectList();
    return false;
  }
  if (rc != kErrorSuccess) {
    if (stage == PerfSourceStage::OutOfMemory)
      RAS1_TRACE(RAS1_ERROR, "Out of memory, returning...");
    else if (stage == PerfSourceStage::Open009)
      RAS1_TRACE(RAS1_ERROR, "Error opening perflib 009 key, rc=%d", static_cast<int>(rc));
    else if (stage == PerfSourceStage::Info009)
      RAS1_TRACE(RAS1_ERROR, "Error reading Perflib 009 info, rc=%d", static_cast<int>(rc));
    else
      RAS1_TRACE(RAS1_ERROR, "Error retrieving Perflib 009 Counter names and indexes");
    *out = FirstObjectList();
    return false;
  }
  text.push_back('\0');
  text.push_back('\0');

  // The wanted objects: the built-in list less the exclusions.
  std::vector<std::string> excluded;
  if (exclusions != nullptr) {
    std::string all(exclusions);
    std::size_t start = 0;
    for (;;) {
      std::size_t comma = all.find(',', start);
      excluded.push_back(all.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  }
  std::vector<std::string> wanted;
  for (std::size_t i = 0; i < kBuiltInObjectCount; ++i) {
    bool skip = false;
    for (const std::string& piece : excluded)
      if (piece == kBuiltInObjects[i]) skip = true;
    if (skip)
      RAS1_TRACE(RAS1_FLOW,
                 "Excluding Performance Object '%s' as requested in NT_EXCLUDE_PERF_OBJS environment variable",
                 kBuiltInObjects[i]);
    else
      wanted.push_back(kBuiltInObjects[i]);
  }

  std::size_t pos = 0;
  const std::size_t n = text.size();
  while (pos < n && text[pos] != 0) {
    const char* indexText = text.c_str() + pos;
    std::size_t indexLength = std::char_traits<char>::length(indexText);
    std::size_t namePos = pos + indexLength + 1;
    if (namePos >= n) break;
    const char* name = text.c_str() + namePos;
    pos = namePos + std::char_traits<char>::length(name) + 1;
    std::uint64_t index = LeadingNumber(indexText, indexLength);
    std::uint32_t index32 = index > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(index);
    if (index32 > out->largestIndex) out->largestIndex = index32;
    bool isWanted = false;
    for (const std::string& w : wanted)
      if (w == name) isWanted = true;
    if (!isWanted) continue;
    if (index == 0 || index > out->lastCounter) {
      RAS1_TRACE(RAS1_ERROR, "Excluding invalid snap counter=='%s'\tIndex=%d", name,
                 static_cast<int>(index32));
      out->corrupt = true;
      continue;
    }
    RAS1_TRACE(RAS1_FLOW, "Perflib 009 snap counter='%s'\tIndex=%d", name, static_cast<int>(index32));
    out->indexes.push_back(index32);
  }
  RAS1_TRACE(RAS1_FLOW, "Perflib 009 Last Counter=%d", static_cast<int>(out->largestIndex));
  std::fprintf(stderr, "Perflib 009 Last Counter=%d\n", static_cast<int>(out->largestIndex));
  return true;
}

}  // namespace osmperf
