// The metrics exposition writer.
#include "framework/exposition.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "framework/jsonrows.h"

namespace cfw {
namespace {

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

std::string Trim(const std::string& s) {
  std::size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return std::string();
  std::size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

// The q value of one media range's parameters ("version=1.0.0;q=0.5"), 1 by default.
double Quality(const std::string& params) {
  std::size_t at = 0;
  while (at < params.size()) {
    std::size_t end = params.find(';', at);
    if (end == std::string::npos) end = params.size();
    std::string p = Trim(params.substr(at, end - at));
    if (p.size() > 2 && (p[0] == 'q' || p[0] == 'Q') && p[1] == '=') return std::atof(p.c_str() + 2);
    at = end + 1;
  }
  return 1.0;
}

void AppendEscapedByte(std::string* out, char c) {
  switch (c) {
    case '\\': out->append("\\\\"); break;
    case '"': out->append("\\\""); break;
    case '\n': out->append("\\n"); break;
    default: out->push_back(c);
  }
}

void AppendLatin1(std::string* out, unsigned char c) {
  out->push_back(static_cast<char>(0xC0 | (c >> 6)));
  out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
}

void AppendValue(std::string* out, long long value) {
  char buf[24];
  std::to_chars_result r = std::to_chars(buf, buf + sizeof buf, value);
  out->append(buf, r.ptr);
}

void AppendValue(std::string* out, double value) {
  if (std::isnan(value)) {
    out->append("NaN");
  } else if (std::isinf(value)) {
    out->append(value > 0 ? "+Inf" : "-Inf");
  } else if (value == std::floor(value) && std::fabs(value) < 1e15) {
    AppendValue(out, static_cast<long long>(value));
  } else {
    char buf[40];
    for (int precision = 1; precision <= 17; ++precision) {
      std::snprintf(buf, sizeof buf, "%.*g", precision, value);
      if (std::strtod(buf, nullptr) == value) break;
    }
    out->append(buf);
  }
}

}  // namespace

ExpoFormat NegotiateFormat(const std::string& accept) {
  double openMetrics = 0, text = 0;
  std::size_t at = 0;
  while (at < accept.size()) {
    std::size_t end = accept.find(',', at);
    if (end == std::string::npos) end = accept.size();
    std::string range = accept.substr(at, end - at);
    at = end + 1;
    std::size_t semi = range.find(';');
    std::string type = Lower(Trim(range.substr(0, semi)));
    double q = semi == std::string::npos ? 1.0 : Quality(range.substr(semi + 1));
    if (type == "application/openmetrics-text" && q > openMetrics) openMetrics = q;
    if (type == "text/plain" && q > text) text = q;
  }
  return openMetrics > 0 && openMetrics >= text ? ExpoFormat::kOpenMetrics : ExpoFormat::kText;
}

const char* ContentType(ExpoFormat format) {
  return format == ExpoFormat::kOpenMetrics ? "application/openmetrics-text; version=1.0.0; charset=utf-8"
                                            : "text/plain; version=0.0.4; charset=utf-8";
}

std::string MetricName(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 1);
  if (!text.empty() && text[0] >= '0' && text[0] <= '9') out.push_back('_');
  for (char c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    out.push_back(ok ? c : '_');
  }
  return out;
}

void AppendLabel(std::string* labels, const char* name, const char* bytes, std::size_t size, TextCode code) {
  if (!labels->empty()) labels->push_back(',');
  labels->append(name);
  labels->append("=\"");
  const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes);
  bool utf8 = code == TextCode::kUtf8 || HoldsUtf8(bytes, size);
  for (std::size_t i = 0; i < size;) {
    if (p[i] < 0x80) {
      AppendEscapedByte(labels, bytes[i]);
      ++i;
    } else if (!utf8) {
      AppendLatin1(labels, p[i]);
      ++i;
    } else if (std::size_t n = Utf8SequenceLength(p + i, size - i)) {
      labels->append(bytes + i, n);
      i += n;
    } else {
      labels->append("\xEF\xBF\xBD");  // U+FFFD
      ++i;
    }
  }
  labels->push_back('"');
}

void AppendLabel(std::string* labels, const char* name, const std::string& value) {
  AppendLabel(labels, name, value.data(), value.size(), TextCode::kUtf8);
}

Exposition::Exposition(ExpoFormat format) : format_(format) {}

void Exposition::Family(const std::string& name, FamilyType type, const std::string& help) {
  family_ = name;
  type_ = type;
  help_ = help;
  headerPending_ = true;
}

void Exposition::BeginSample(const std::string& labels, const char* suffix) {
  bool om = format_ == ExpoFormat::kOpenMetrics;
  if (headerPending_) {
    headerPending_ = false;
    std::string name = family_;
    if (!om && type_ == FamilyType::kCounter) name += "_total";
    if (!om && type_ == FamilyType::kInfo) name += "_info";
    out_.append("# HELP ").append(name).push_back(' ');
    for (char c : help_) {
      if (c == '\\') out_.append("\\\\");
      else if (c == '\n') out_.append("\\n");
      else if (c == '"' && om) out_.append("\\\"");
      else out_.push_back(c);
    }
    const char* type = "gauge";
    if (type_ == FamilyType::kCounter) type = "counter";
    if (type_ == FamilyType::kSummary) type = "summary";
    if (type_ == FamilyType::kInfo && om) type = "info";
    out_.append("\n# TYPE ").append(name).append(" ").append(type).push_back('\n');
  }
  out_.append(family_);
  if (type_ == FamilyType::kCounter) out_.append("_total");
  if (type_ == FamilyType::kInfo) out_.append("_info");
  out_.append(suffix);
  if (!labels.empty()) out_.append("{").append(labels).push_back('}');
  out_.push_back(' ');
}

void Exposition::Sample(const std::string& labels, long long value, const char* suffix) {
  BeginSample(labels, suffix);
  AppendValue(&out_, value);
  out_.push_back('\n');
}

void Exposition::Sample(const std::string& labels, double value, const char* suffix) {
  BeginSample(labels, suffix);
  AppendValue(&out_, value);
  out_.push_back('\n');
}

std::string Exposition::Finish() {
  if (format_ == ExpoFormat::kOpenMetrics) out_.append("# EOF\n");
  std::string text;
  text.swap(out_);
  return text;
}

}  // namespace cfw
