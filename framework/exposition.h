// The metrics exposition: Prometheus text format 0.0.4 and OpenMetrics 1.0.
//
// A family is written as its HELP and TYPE lines followed by its samples, one
// per line: name{label="value",...} value. The two formats differ in:
//   - counters: the text format names the family NAME_total, OpenMetrics
//     names it NAME and its samples NAME_total;
//   - info families: a gauge NAME_info in the text format, type "info" named
//     NAME with samples NAME_info in OpenMetrics;
//   - HELP: OpenMetrics also escapes '"';
//   - the end: OpenMetrics ends with "# EOF".
// Label values escape '\', '"' and line feeds, and are always valid UTF-8
// (see TextCode). Values: integers exactly, other numbers in the shortest
// form that reads back the same, NaN, +Inf and -Inf.
//
// This file only transforms text: no threads, no platform calls.
#pragma once

#include <cstddef>
#include <string>

namespace cfw {

enum class ExpoFormat { kText, kOpenMetrics };
enum class FamilyType { kGauge, kCounter, kSummary, kInfo };

// How the bytes of a label value are read.
enum class TextCode {
  kUtf8,    // UTF-8: a byte outside a well-formed sequence becomes U+FFFD
  kRowText  // a text attribute: UTF-8 when all its bytes of 0x80 and above
            // form well-formed UTF-8, otherwise each such byte is the
            // character of that value (as the JSON rows show it)
};

// The format an Accept header asks for: OpenMetrics when it accepts
// application/openmetrics-text at least as much as text/plain, else text.
ExpoFormat NegotiateFormat(const std::string& accept);
// The Content-Type of a format.
const char* ContentType(ExpoFormat format);

// A metric or label name made of [a-z0-9_] (lower case, other characters as
// '_', a leading digit prefixed with '_').
std::string MetricName(const std::string& text);

// Appends name="value" to a comma-separated label list (no braces).
void AppendLabel(std::string* labels, const char* name, const char* bytes, std::size_t size, TextCode code);
void AppendLabel(std::string* labels, const char* name, const std::string& value);

class Exposition {
 public:
  explicit Exposition(ExpoFormat format);
  ExpoFormat Format() const { return format_; }
  // Starts a family. name is the base name: without "_total" for a counter
  // and without "_info" for an info family. Its HELP and TYPE lines are
  // written with its first sample, so a family without samples leaves no trace.
  void Family(const std::string& name, FamilyType type, const std::string& help);
  // A sample of the current family; suffix is "_sum" or "_count" for a
  // summary, otherwise empty. labels as AppendLabel builds them.
  void Sample(const std::string& labels, long long value, const char* suffix = "");
  void Sample(const std::string& labels, double value, const char* suffix = "");
  // Room for about this many more bytes, so a large table grows the text once.
  void Reserve(std::size_t bytes) { out_.reserve(out_.size() + bytes); }
  // The whole text (OpenMetrics: with its "# EOF" line).
  std::string Finish();

 private:
  void BeginSample(const std::string& labels, const char* suffix);
  ExpoFormat format_;
  std::string out_;
  std::string family_;
  std::string help_;
  FamilyType type_ = FamilyType::kGauge;
  bool headerPending_ = false;
};

}  // namespace cfw
