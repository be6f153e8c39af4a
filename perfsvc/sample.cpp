#include "perfsvc/sample.h"

#include "framework/nlsxlat.h"
#include "framework/ras1.h"
#include "perfsvc/perf_name.h"
#include "perfsvc/perf_text.h"
#include "support/fields.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <map>
#include <new>

namespace osmperf {

// ---------------------------------------------------------------- time zones

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<std::int64_t>(yoe) + era * 400 + (*m <= 2);
}

std::int64_t SecondsOf(const PerfSystemTime& t) {
  return DaysFromCivil(t.wYear, t.wMonth, t.wDay) * 86400 + t.wHour * 3600 + t.wMinute * 60 + t.wSecond;
}

bool PlausibleTime(const PerfSystemTime& t) {
  return t.wYear >= 1601 && t.wYear <= 30827 && t.wMonth >= 1 && t.wMonth <= 12 && t.wDay >= 1 &&
         t.wDay <= 31 && t.wHour < 24 && t.wMinute < 60 && t.wSecond < 60 && t.wMilliseconds < 1000;
}

PerfSystemTime FromSeconds(std::int64_t seconds, std::uint16_t millis) {
  std::int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
  std::int64_t rest = seconds - days * 86400;
  std::int64_t y;
  unsigned m, d;
  CivilFromDays(days, &y, &m, &d);
  PerfSystemTime out;
  out.wYear = static_cast<std::uint16_t>(y);
  out.wMonth = static_cast<std::uint16_t>(m);
  out.wDay = static_cast<std::uint16_t>(d);
  out.wDayOfWeek = static_cast<std::uint16_t>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  out.wHour = static_cast<std::uint16_t>(rest / 3600);
  out.wMinute = static_cast<std::uint16_t>((rest / 60) % 60);
  out.wSecond = static_cast<std::uint16_t>(rest % 60);
  out.wMilliseconds = millis;
  return out;
}

std::mutex g_defaultConverterLock;
UtcToLocalFn g_defaultConverter;

UtcToLocalFn DefaultConverter() {
  std::lock_guard<std::mutex> guard(g_defaultConverterLock);
  if (g_defaultConverter) return g_defaultConverter;
  return UtcToLocalFn(&RuntimeUtcToLocal);
}

}  // namespace

bool RuntimeUtcToLocal(const PerfSystemTime& utc, PerfSystemTime* local) {
  if (!PlausibleTime(utc)) return false;
  std::time_t t = static_cast<std::time_t>(SecondsOf(utc));
  std::tm tm{};
#ifdef _WIN32
  if (localtime_s(&tm, &t) != 0) return false;
#else
  if (localtime_r(&t, &tm) == nullptr) return false;
#endif
  local->wYear = static_cast<std::uint16_t>(tm.tm_year + 1900);
  local->wMonth = static_cast<std::uint16_t>(tm.tm_mon + 1);
  local->wDay = static_cast<std::uint16_t>(tm.tm_mday);
  local->wDayOfWeek = static_cast<std::uint16_t>(tm.tm_wday);
  local->wHour = static_cast<std::uint16_t>(tm.tm_hour);
  local->wMinute = static_cast<std::uint16_t>(tm.tm_min);
  local->wSecond = static_cast<std::uint16_t>(tm.tm_sec);
  local->wMilliseconds = utc.wMilliseconds;
  return true;
}

UtcToLocalFn FixedOffsetUtcToLocal(int minutesEast) {
  return [minutesEast](const PerfSystemTime& utc, PerfSystemTime* local) {
    if (!PlausibleTime(utc)) return false;
    *local = FromSeconds(SecondsOf(utc) + static_cast<std::int64_t>(minutesEast) * 60, utc.wMilliseconds);
    return true;
  };
}

void SetDefaultUtcToLocal(UtcToLocalFn converter) {
  std::lock_guard<std::mutex> guard(g_defaultConverterLock);
  g_defaultConverter = std::move(converter);
}

// ---------------------------------------------------------------- parsing

namespace {

// Splits text the way wcstok does: leading delimiters are skipped, a token
// runs to the next delimiter, which is consumed.
class Tokenizer {
 public:
  explicit Tokenizer(std::u16string text) : text_(std::move(text)) {}
  bool Next(const char16_t* delimiters, std::u16string* token) {
    auto isDelim = [delimiters](char16_t c) {
      for (const char16_t* d = delimiters; *d; ++d)
        if (*d == c) return true;
      return false;
    };
    while (pos_ < text_.size() && isDelim(text_[pos_])) ++pos_;
    if (pos_ >= text_.size()) return false;
    std::size_t start = pos_;
    while (pos_ < text_.size() && !isDelim(text_[pos_])) ++pos_;
    *token = text_.substr(start, pos_ - start);
    if (pos_ < text_.size()) ++pos_;
    return true;
  }

 private:
  std::u16string text_;
  std::size_t pos_ = 0;
};

const char16_t kBlanks[] = u" \t";

// Reads a number like _wtoi: leading blanks, a sign, decimal digits; anything
// else ends it, and no digits read as 0. Saturates far outside 32 bits.
std::int64_t ReadInt(const std::u16string& token) {
  std::size_t i = 0;
  while (i < token.size() && (token[i] == u' ' || token[i] == u'\t')) ++i;
  bool negative = false;
  if (i < token.size() && (token[i] == u'-' || token[i] == u'+')) negative = token[i++] == u'-';
  std::int64_t v = 0;
  for (; i < token.size() && token[i] >= u'0' && token[i] <= u'9'; ++i) {
    v = v * 10 + (token[i] - u'0');
    if (v > 0xFFFFFFFFFFll) v = 0xFFFFFFFFFFll;
  }
  return negative ? -v : v;
}

// Reads a decimal floating-point number with a decimal point, whatever the
// process locale is (and without touching it). A malformed token reads as 0.
bool ReadDouble(const std::u16string& token, double* value) {
  std::string narrow;
  for (char16_t c : token) {
    if (c > 0x7F) break;
    narrow.push_back(static_cast<char>(c));
  }
  const char* begin = narrow.c_str();
  const char* end = begin + narrow.size();
  if (begin != end && *begin == '+') ++begin;
  double v = 0.0;
  std::from_chars_result r = std::from_chars(begin, end, v, std::chars_format::general);
  if (r.ec == std::errc::result_out_of_range) return false;
  if (r.ec != std::errc()) v = 0.0;
  if (!std::isfinite(v)) return false;
  *value = v;
  return true;
}

std::u16string Text(const char16_t* s) { return s ? std::u16string(s) : std::u16string(); }

bool Blank(const char16_t* s) {
  if (s == nullptr) return true;
  for (; *s; ++s)
    if (*s != u' ' && *s != u'\t') return false;
  return true;
}

}  // namespace

// ---------------------------------------------------------------- CSampleRow

CSampleRow::CSampleRow(CSample* sample, std::u16string name, const std::vector<SampleColumn>& columns)
    : name_(std::move(name)) {
  cells_.reserve(columns.size());
  for (const SampleColumn& c : columns)
    cells_.emplace_back(sample, this, c.counterIndex, c.offset, c.width, c.type, c.scale);
}

// ---------------------------------------------------------------- CSample

CSample::CSample(std::uint32_t fixedDataCount, std::uint32_t intervalSeconds)
    : interval_(intervalSeconds), fixedCount_(fixedDataCount) {
  complete_ = fixedDataCount == 0;
}

std::int32_t CSample::Malformed(const std::string& why) {
  RAS1_UNIT("ProcessRawSampleDescription");
  error_ = why;
  RAS1_TRACE(RAS1_ERROR, "Description refused: %s", why.c_str());
  return kSampleFail;
}

std::int32_t CSample::ProcessRawSampleDescription(const char16_t* header, const char16_t* sizes,
                                                  const char16_t* offsets, const char16_t* scales,
                                                  const char16_t* types, const char16_t* fixedHeader,
                                                  const char16_t* fixedSizes,
                                                  const char16_t* fixedOffsets) {
  RAS1_ENTRY("ProcessRawSampleDescription");
  error_.clear();
  columns_.clear();
  pseudo_.clear();
  objectName_.clear();
  objectFlag_ = 0;
  rowSize_ = 0;
  timestampOffset_ = rowOffset_ = sampleOffset_ = -1;
  std::u16string token;

  // 1. Header. The last ")" acts as a comma; only commas delimit names, so
  // names may hold blanks and parentheses.
  std::uint32_t n = 0;
  if (!Blank(header)) {
    std::u16string h = Text(header);
    std::size_t close = h.rfind(u')');
    if (close != std::u16string::npos) h[close] = u',';
    Tokenizer t(h);
    if (!t.Next(kBlanks, &token)) return Malformed("header: column count missing");
    std::int64_t count = ReadInt(token);
    if (count < 0 || count > kMaxColumns) return Malformed("header: bad column count");
    n = static_cast<std::uint32_t>(count);
    if (!t.Next(kBlanks, &token)) return Malformed("header: row count missing");
    if (!t.Next(kBlanks, &token)) return Malformed("header: object flag missing");
    objectFlag_ = ReadInt(token) != 0 ? 1 : 0;
    if (!t.Next(u"(", &token)) return Malformed("header: object name missing");
    objectName_ = Trim(token);
    if (!t.Next(kBlanks, &token)) return Malformed("header: inner column count missing");
    if (ReadInt(token) != count) return Malformed("header: the two column counts differ");
    columns_.resize(n);
    for (std::uint32_t i = 0; i < n; ++i) {
      if (!t.Next(u",", &token)) return Malformed("header: fewer column names than columns");
      columns_[i].name = Trim(token);
    }
  }

  // 2.-5. Sizes, offsets, scales, types.
  if (!Blank(sizes)) {
    Tokenizer t(Text(sizes));
    if (!t.Next(kBlanks, &token)) return Malformed("sizes: row size missing");
    std::int64_t row = ReadInt(token);
    if (row < 0 || row > kMaxRowSize) return Malformed("sizes: bad row size");
    rowSize_ = static_cast<std::uint32_t>(row);
    for (std::uint32_t i = 0; i < n; ++i) {
      if (!t.Next(kBlanks, &token)) return Malformed("sizes: width missing");
      std::int64_t w = ReadInt(token);
      if (w < 0 || w > kMaxRowSize) return Malformed("sizes: bad width");
      columns_[i].width = static_cast<std::uint32_t>(w);
    }
  } else if (n > 0) {
    return Malformed("sizes missing");
  }
  if (n > 0) {
    if (Blank(offsets) || Blank(scales) || Blank(types)) return Malformed("offsets, scales or types missing");
    Tokenizer to(Text(offsets)), ts(Text(scales)), tt(Text(types));
    for (std::uint32_t i = 0; i < n; ++i) {
      SampleColumn& c = columns_[i];
      if (!to.Next(kBlanks, &token)) return Malformed("offsets: offset missing");
      std::int64_t o = ReadInt(token);
      if (o < 0 || o > kMaxRowSize) return Malformed("offsets: bad offset");
      c.offset = static_cast<std::uint32_t>(o);
      if (!ts.Next(kBlanks, &token)) return Malformed("scales: scale missing");
      if (!ReadDouble(token, &c.scale)) return Malformed("scales: scale out of range");
      if (!tt.Next(kBlanks, &token)) return Malformed("types: type missing");
      std::int64_t type = ReadInt(token);
      if (type < -0x7FFFFFFF || type > 0x7FFFFFFF) return Malformed("types: bad type");
      c.type = static_cast<int>(type);
      if (!IsNameColumn(c.type) && c.width > 8) return Malformed("a numeric column is wider than 8 bytes");
      if (static_cast<std::uint64_t>(c.offset) + c.width > rowSize_)
        return Malformed("a column lies outside the row");
    }
  }

  // 6. Pseudo-columns.
  if (!Blank(fixedHeader)) {
    std::u16string fh = Text(fixedHeader);
    Tokenizer t(fh);
    if (!t.Next(kBlanks, &token)) return Malformed("fixed header: count missing");
    std::int64_t m = ReadInt(token);
    if (m < 0 || m > kMaxPseudoColumns) return Malformed("fixed header: bad count");
    pseudo_.resize(static_cast<std::size_t>(m));
    for (PseudoColumn& p : pseudo_) {
      if (!t.Next(u",)", &token)) return Malformed("fixed header: fewer names than announced");
      p.name = Trim(token);
    }
    if (!Blank(fixedSizes)) {
      Tokenizer ws(Text(fixedSizes));
      for (PseudoColumn& p : pseudo_) {
        if (!ws.Next(kBlanks, &token)) return Malformed("fixed sizes: width missing");
        std::int64_t w = ReadInt(token);
        if (w < 0 || w > kMaxRowSize) return Malformed("fixed sizes: bad width");
        p.width = static_cast<std::uint32_t>(w);
      }
    }
    if (!Blank(fixedOffsets)) {
      Tokenizer os(Text(fixedOffsets));
      for (PseudoColumn& p : pseudo_) {
        if (!os.Next(kBlanks, &token)) return Malformed("fixed offsets: offset missing");
        std::int64_t o = ReadInt(token);
        if (o < 0 || o > kMaxRowSize) return Malformed("fixed offsets: bad offset");
        p.offset = static_cast<std::uint32_t>(o);
      }
    }
    for (const PseudoColumn& p : pseudo_) {
      if (static_cast<std::uint64_t>(p.offset) + p.width > rowSize_)
        return Malformed("a pseudo-column lies outside the row");
      if (EqualsNoCase(p.name, u"_TIMESTAMP_")) {
        timestampOffset_ = static_cast<int>(p.offset);
        timestampWidth_ = p.width;
      } else if (EqualsNoCase(p.name, u"_ROW_")) {
        rowOffset_ = static_cast<int>(p.offset);
        rowWidth_ = p.width;
      } else if (EqualsNoCase(p.name, u"_SAMPLE_")) {
        sampleOffset_ = static_cast<int>(p.offset);
        sampleWidth_ = p.width;
      }
    }
  }

  // 7. Fixed-data slots.
  complete_ = fixedCount_ == 0 || fixed_.size() >= fixedCount_;
  fixed_.reserve(fixedCount_ < kMaxPseudoColumns ? fixedCount_ : kMaxPseudoColumns);
  RAS1_TRACE(RAS1_DETAIL, "Object '%s': %u columns, %u pseudo-columns, row size %u",
             ToUtf8(objectName_).c_str(), n, static_cast<unsigned>(pseudo_.size()), rowSize_);
  return kSampleOk;
}

std::int32_t CSample::ConvertNamesToNumbers(const CSnapCatalog& catalogue, const CPerfName& names) {
  RAS1_ENTRY("ConvertNamesToNumbers");
  for (SampleColumn& c : columns_) c.counterIndex = 0;
  if (objectFlag_ == 0) {
    objectIndex_ = 0;
    objectIndexText_ = "0";
    return kSampleOk;
  }
  // Prefer the index the catalogue holds; a name registered under several
  // indexes resolves to one that snapshots really return.
  std::uint32_t index = catalogue.LookupObject(objectName_);
  bool inCatalogue = index != 0;
  if (index == 0) {
    if (RAS1_LEVEL() & RAS1_DETAIL) {
      for (std::uint32_t i = 1; i <= names.LastCounter(); ++i) {
        const char16_t* name = names.Name(i);
        if (name != nullptr) RAS1_TRACE(RAS1_DETAIL, "Perfmon name: <%s>", PrintName(name).c_str());
      }
    }
    index = names.FindIndex(objectName_);
  }
  objectIndex_ = index;
  objectIndexText_ = std::to_string(index);
  if (index == 0) {
    RAS1_TRACE(RAS1_ERROR, "Object not found: <%s>", ToUtf8(objectName_).c_str());
    valid_ = false;
    return kSampleAccessDenied;
  }
  for (SampleColumn& c : columns_) {
    if (IsNameColumn(c.type)) continue;
    c.counterIndex = inCatalogue ? catalogue.LookupCounter(index, c.name) : 0;
    if (c.counterIndex != 0)
      RAS1_TRACE(RAS1_DETAIL, "Counter found: <%s>", ToUtf8(c.name).c_str());
    else
      RAS1_TRACE(RAS1_DETAIL, "Counter missing: <%s>", ToUtf8(c.name).c_str());
  }
  if (!inCatalogue) valid_ = false;
  return kSampleOk;
}

bool CSample::AddFixedData(const char16_t* name, const void* bytes, std::size_t length) {
  RAS1_UNIT("CSample::AddFixedData");
  std::lock_guard<COsmLock> guard(lock_);
  if (fixed_.size() >= fixedCount_) {
    RAS1_TRACE(RAS1_ERROR, "Fixed data item '%s' refused: all %u items already arrived",
               PrintName(name).c_str(), fixedCount_);
    return false;
  }
  FixedDataItem item;
  item.name = Trim(Text(name));
  if (bytes != nullptr && length > 0) {
    const std::uint8_t* p = static_cast<const std::uint8_t*>(bytes);
    item.bytes.assign(p, p + length);
  }
  fixed_.push_back(std::move(item));
  if (fixed_.size() >= fixedCount_) complete_ = true;
  return true;
}

bool CSample::Ready() const {
  std::lock_guard<std::mutex> guard(readyMutex_);
  return ready_;
}

void CSample::SetReady() {
  {
    std::lock_guard<std::mutex> guard(readyMutex_);
    if (ready_) return;
    ready_ = true;
  }
  readyEvent_.notify_all();
}

void CSample::WaitReady() {
  std::unique_lock<std::mutex> guard(readyMutex_);
  readyEvent_.wait(guard, [this] { return ready_; });
}

bool CSample::WaitReadyFor(std::uint32_t milliseconds) {
  std::unique_lock<std::mutex> guard(readyMutex_);
  return readyEvent_.wait_for(guard, std::chrono::milliseconds(milliseconds), [this] { return ready_; });
}

void CSample::Clear() {
  std::lock_guard<COsmLock> guard(lock_);
  rows_.clear();
}

void CSample::MarkObjectMissing() {
  std::lock_guard<COsmLock> guard(lock_);
  rows_.clear();
  updated_ = false;
  missing_ = true;
  SetReady();
}

namespace {

// Difference of two time stamps read from the data, without overflow.
std::int64_t TimeDelta(std::int64_t now, std::int64_t before) {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(now) - static_cast<std::uint64_t>(before));
}

}  // namespace

void CSample::Update(const CPerfBlock& block, const CPerfObject& object) {
  std::lock_guard<COsmLock> guard(lock_);
  SetReady();
  systemTime_ = block.SystemTime();
  times_.perfTimeOld = times_.perfTimeNew;
  times_.perfTimeNew = block.PerfTime();
  times_.perfTimeDelta = TimeDelta(times_.perfTimeNew, times_.perfTimeOld);
  if (object.perfTime != 0) {
    times_.objectTimeOld = times_.objectTimeNew;
    times_.objectTimeNew = object.perfTime;
    times_.objectTimeDelta = TimeDelta(times_.objectTimeNew, times_.objectTimeOld);
  }
  times_.perfTime100nSecOld = times_.perfTime100nSecNew;
  times_.perfTime100nSecNew = block.PerfTime100nSec();
  times_.perfTime100nSecDelta = TimeDelta(times_.perfTime100nSecNew, times_.perfTime100nSecOld);
  times_.perfFreq = block.PerfFreq();
  times_.objectPerfFreq = object.perfFreq;
  UpdateInstances(block, object);
  updated_ = true;
  missing_ = false;
}

namespace {

// One counter definition that feeds columns, with its base when it has one.
struct Binding {
  CPerfCounterDef def;
  bool hasBase = false;
  CPerfCounterDef base;
  std::vector<std::size_t> columns;
};

}  // namespace

void CSample::UpdateInstances(const CPerfBlock& block, const CPerfObject& object) {
  RAS1_UNIT("CSample::Update");
  // Which definitions feed which columns: the same for every row. A cell
  // whose counter index is 0 (a name column or an unresolved one) is never fed.
  std::vector<CPerfCounterDef> defs;
  CCounterWalker counters(object);
  for (bool ok = counters.First(); ok; ok = counters.Next()) defs.push_back(counters.Current());
  std::vector<Binding> bindings;
  for (std::size_t i = 0; i < defs.size(); ++i) {
    Binding b;
    b.def = defs[i];
    if (UsesBaseCounter(defs[i].type) && i + 1 < defs.size()) {
      b.hasBase = true;
      b.base = defs[++i];  // the base is consumed, never matched to a column
    }
    if (b.def.nameIndex == 0) continue;
    for (std::size_t c = 0; c < columns_.size(); ++c)
      if (columns_[c].counterIndex == b.def.nameIndex) b.columns.push_back(c);
    if (!b.columns.empty()) bindings.push_back(std::move(b));
  }

  auto feed = [&](CSampleRow& row, ByteSpan counterBlock) {
    for (const Binding& b : bindings) {
      std::uint64_t raw = 0, baseRaw = 0;
      if (!ReadCounterValue(counterBlock, b.def, &raw)) continue;
      bool hasBase = b.hasBase && ReadCounterValue(counterBlock, b.base, &baseRaw);
      for (std::size_t c : b.columns)
        row.cells_[c].Process(b.def.type, raw, hasBase, b.base.type, baseRaw, times_);
    }
    row.new_ = false;
  };

  CInstanceWalker instances(object);
  switch (instances.GetKind()) {
    case CInstanceWalker::Kind::None:
      rows_.clear();
      return;
    case CInstanceWalker::Kind::Refused:
      RAS1_TRACE(RAS1_ERROR, "Object %u refused: %d instances cannot fit its %u bytes",
                 object.nameIndex, object.numInstances, static_cast<unsigned>(object.bytes.size));
      rows_.clear();
      return;
    case CInstanceWalker::Kind::Single: {
      if (!instances.First()) {
        rows_.clear();
        return;
      }
      // From instances to none: every row goes, so the single row starts
      // with a first reading instead of another instance's raw values.
      if (rows_.size() > 1) rows_.clear();
      if (rows_.empty()) rows_.emplace_back(new CSampleRow(this, std::u16string(), columns_));
      rows_[0]->name_.clear();
      rows_[0]->seen_ = true;
      feed(*rows_[0], instances.Current().counterBlock);
      return;
    }
    case CInstanceWalker::Kind::Many:
      break;
  }

  // Parent instance names, gathered once per parent object.
  std::map<std::uint32_t, std::vector<std::u16string>> parents;
  auto parentName = [&](std::uint32_t parentIndex, std::uint32_t instance) -> const std::u16string* {
    auto it = parents.find(parentIndex);
    if (it == parents.end()) {
      std::vector<std::u16string> names;
      CObjectWalker objects(block);
      CPerfObject parent;
      if (objects.Find(parentIndex, &parent)) {
        CInstanceWalker walk(parent);
        if (walk.GetKind() == CInstanceWalker::Kind::Many)
          for (bool ok = walk.First(); ok; ok = walk.Next()) names.push_back(walk.Current().Name());
      }
      it = parents.emplace(parentIndex, std::move(names)).first;
    }
    return instance < it->second.size() ? &it->second[instance] : nullptr;
  };

  for (auto& row : rows_) row->seen_ = false;
  std::size_t p = 0;
  std::u16string key;
  for (bool ok = instances.First(); ok; ok = instances.Next()) {
    const CPerfInstance& inst = instances.Current();
    key = inst.Name();
    if (inst.parentObjectIndex != 0) {
      // An unresolvable parent leaves the plain instance name.
      const std::u16string* parent = parentName(inst.parentObjectIndex, inst.parentInstance);
      if (parent != nullptr) key = *parent + u'/' + key;
    }
    std::size_t found = rows_.size();
    for (std::size_t j = p; j < rows_.size(); ++j) {
      if (!rows_[j]->seen_ && EqualsNoCase(rows_[j]->name_, key)) {
        found = j;
        break;
      }
    }
    if (found < rows_.size()) {
      std::rotate(rows_.begin() + static_cast<std::ptrdiff_t>(p),
                  rows_.begin() + static_cast<std::ptrdiff_t>(found),
                  rows_.begin() + static_cast<std::ptrdiff_t>(found) + 1);
    } else {
      rows_.emplace(rows_.begin() + static_cast<std::ptrdiff_t>(p), new CSampleRow(this, key, columns_));
    }
    CSampleRow& row = *rows_[p];
    row.seen_ = true;
    ++p;
    feed(row, inst.counterBlock);
  }
  // Rows not seen in this snapshot are all behind p: delete them.
  rows_.resize(p);
}

std::size_t CSample::CopyRows(void* buffer, std::size_t bufferSize, std::uint32_t sampleNumber) {
  RAS1_UNIT("CSample::CopyRows");
  std::lock_guard<COsmLock> guard(lock_);
  if (buffer == nullptr || bufferSize == 0 || rows_.empty() || rowSize_ == 0) return 0;
  std::size_t count = std::min(rows_.size(), bufferSize / rowSize_);
  std::uint8_t* out = static_cast<std::uint8_t*>(buffer);

  // Every write is cut to the row, whatever the description said.
  auto put = [this](std::uint8_t* row, std::size_t offset, const void* src, std::size_t n) {
    if (offset >= rowSize_) return;
    if (n > rowSize_ - offset) n = rowSize_ - offset;
    std::memcpy(row + offset, src, n);
  };

  char stamp[16];
  bool haveStamp = false;
  if (!pseudo_.empty() && timestampOffset_ >= 0) {
    PerfSystemTime local;
    UtcToLocalFn convert = utcToLocal_ ? utcToLocal_ : DefaultConverter();
    if (!convert(systemTime_, &local)) local = systemTime_;
    OsmSystemTime t{};
    t.wYear = local.wYear;
    t.wMonth = local.wMonth;
    t.wDayOfWeek = local.wDayOfWeek;
    t.wDay = local.wDay;
    t.wHour = local.wHour;
    t.wMinute = local.wMinute;
    t.wSecond = local.wSecond;
    t.wMilliseconds = local.wMilliseconds;
    haveStamp = FormatTimestamp(stamp, t, static_cast<int>(sizeof stamp)) == 0;
  }

  for (std::size_t r = 0; r < count; ++r) {
    std::uint8_t* row = out + r * rowSize_;
    const CSampleRow& sampleRow = *rows_[r];
    for (std::size_t c = 0; c < columns_.size(); ++c) {
      const SampleColumn& col = columns_[c];
      if (col.offset >= rowSize_) continue;
      std::size_t width = std::min<std::size_t>(col.width, rowSize_ - col.offset);
      if (IsNameColumn(col.type)) {
        std::memset(row + col.offset, ' ', width);
        // The key is UTF-16 in host order, which is little-endian on every
        // target. The translation never writes more than width bytes and
        // never ends in a cut character.
        const std::u16string& name = sampleRow.name_;
        std::size_t chars = std::min(name.size(), width);
        NLS2_TranslateString(NLS2_CS_UTF16LE, name.data(), chars * 2,
                             col.type == kColumnAsciiName ? NLS2_CS_ASCII : NLS2_CS_UTF8,
                             row + col.offset, width, nullptr, nullptr);
      } else {
        std::uint8_t cell[8];
        sampleRow.cells_[c].WriteCell(cell, 8);
        put(row, col.offset, cell, std::min<std::size_t>(width, 8));
      }
    }
    if (pseudo_.empty()) continue;
    if (haveStamp) put(row, static_cast<std::size_t>(timestampOffset_), stamp, std::min<std::size_t>(timestampWidth_, 16));
    std::uint8_t number[4];
    if (rowOffset_ >= 0) {
      WriteU32LE(number, static_cast<std::uint32_t>(r + 1));
      put(row, static_cast<std::size_t>(rowOffset_), number, std::min<std::size_t>(rowWidth_, 4));
    }
    if (sampleOffset_ >= 0) {
      WriteU32LE(number, sampleNumber);
      put(row, static_cast<std::size_t>(sampleOffset_), number, std::min<std::size_t>(sampleWidth_, 4));
    }
    for (const FixedDataItem& item : fixed_) {
      if (item.bytes.empty()) continue;
      for (const PseudoColumn& p : pseudo_)
        if (EqualsNoCase(p.name, item.name))
          put(row, p.offset, item.bytes.data(), std::min<std::size_t>(p.width, item.bytes.size()));
    }
  }
  RAS1_TRACE(RAS1_DETAIL, "Copied %u rows of %u bytes", static_cast<unsigned>(count), rowSize_);
  return count * rowSize_;
}

std::int32_t CreateSample(const char* const strings[8], std::uint32_t fixedDataCount,
                          std::uint32_t intervalSeconds, const CSnapCatalog& catalogue,
                          const CPerfName& names, std::unique_ptr<CSample>* sample) {
  RAS1_ENTRY("CreateSample");
  sample->reset();
  try {
    std::unique_ptr<CSample> created(new CSample(fixedDataCount, intervalSeconds));
    std::u16string wide[8];
    bool present[8];
    for (int i = 0; i < 8; ++i) {
      present[i] = strings[i] != nullptr;
      if (!present[i]) continue;
      std::size_t length = std::strlen(strings[i]);
      wide[i].assign(length, u'\0');
      std::size_t written = 0;
      if (length > 0)
        NLS2_TranslateString(NLS2_CS_ASCII, strings[i], length, NLS2_CS_UTF16LE, &wide[i][0], length * 2,
                             &written, nullptr);
      wide[i].resize(written / 2);
    }
    auto arg = [&](int i) { return present[i] ? wide[i].c_str() : nullptr; };
    if (created->ProcessRawSampleDescription(arg(0), arg(1), arg(2), arg(3), arg(4), arg(5), arg(6), arg(7)) !=
        kSampleOk)
      return kSampleFail;
    if (created->ConvertNamesToNumbers(catalogue, names) == kSampleAccessDenied) created->SetValid(false);
    if (catalogue.Position(created->ObjectIndex()) < 0) created->SetValid(false);
    created->SetIntervalSeconds(intervalSeconds);
    std::int32_t result = created->Valid() ? kSampleOk : kSampleAccessDenied;
    *sample = std::move(created);
    return result;
  } catch (const std::bad_alloc&) {
    RAS1_TRACE(RAS1_ERROR, "Exception Thrown. In ProcessRawSampleDescription(). ");
    return kSampleFail;
  }
}

}  // namespace osmperf
