// The byte-level core of the framework: conditions, the requests file and
// the JSON Lines encoding.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "framework/condition.h"
#include "framework/jsonrows.h"
#include "framework/requests.h"

namespace {

using cfw::kOpEQ;
using cfw::kOpGE;
using cfw::kOpGT;
using cfw::kOpLE;
using cfw::kOpLT;
using cfw::kOpNE;

TEST(Condition, TextComparesWithinWidthIgnoringTrailingPadding) {
  const char field[8] = {'C', ':', ' ', ' ', '\0', ' ', '\0', '\0'};
  EXPECT_TRUE(cfw::TextMeets(field, 8, kOpEQ, "C:"));
  EXPECT_TRUE(cfw::TextMeets(field, 8, kOpEQ, "C:  "));
  EXPECT_FALSE(cfw::TextMeets(field, 8, kOpNE, "C:"));
  EXPECT_TRUE(cfw::TextMeets(field, 8, kOpLT, "D:"));
  EXPECT_TRUE(cfw::TextMeets(field, 8, kOpGT, "C"));   // longer is greater
  EXPECT_TRUE(cfw::TextMeets(field, 8, kOpLE, "C:"));
  EXPECT_FALSE(cfw::TextMeets(field, 8, kOpEQ, "c:"));  // case matters
  // A field filled to its width has no terminator; nothing past it is read.
  const char full[4] = {'A', 'B', 'C', 'D'};
  EXPECT_TRUE(cfw::TextMeets(full, 4, kOpEQ, "ABCD"));
  EXPECT_FALSE(cfw::TextMeets(full, 3, kOpEQ, "ABCD"));
  // Bytes compare unsigned: 0xE9 sorts after 'z'.
  const char accented[2] = {'\xE9', ' '};
  EXPECT_TRUE(cfw::TextMeets(accented, 2, kOpGT, "z"));
  EXPECT_FALSE(cfw::TextMeets(field, 8, 42, "C:"));  // unknown operator
}

TEST(Condition, NumbersCompareAsSignedAndRejectNonNumbers) {
  EXPECT_TRUE(cfw::NumberMeets(-5, kOpLT, "3"));
  EXPECT_TRUE(cfw::NumberMeets(7, kOpGE, "+7"));
  EXPECT_TRUE(cfw::NumberMeets(INT64_MIN, kOpEQ, "-9223372036854775808"));
  EXPECT_TRUE(cfw::NumberMeets(INT64_MAX, kOpEQ, "9223372036854775807"));
  EXPECT_FALSE(cfw::NumberMeets(0, kOpEQ, "9223372036854775808"));  // out of range
  EXPECT_FALSE(cfw::NumberMeets(12, kOpEQ, "12s"));
  EXPECT_FALSE(cfw::NumberMeets(0, kOpNE, ""));
  EXPECT_FALSE(cfw::NumberMeets(0, kOpNE, "-"));
  EXPECT_EQ(kOpGE, cfw::ParseOperator("ge"));
  EXPECT_EQ(0, cfw::ParseOperator("=="));
  EXPECT_STREQ("illegal", cfw::OperatorName(9));
}

// A lookup with one table: NAME text 16, UNAME utf8 24, COUNT int32, TOTAL int64.
const std::vector<cfw::AttributeView>* Lookup(const std::string& table) {
  static const std::vector<cfw::AttributeView> attrs = {
      {"NAME", 9, 16}, {"UNAME", 12, 24}, {"COUNT", 3, 4}, {"TOTAL", 13, 8}};
  return table == "OSMTEST" ? &attrs : nullptr;
}

TEST(Requests, ReadsEveryKindWithConditionRows) {
  std::string text =
      "# comment\n"
      "\n"
      "report R1 osmtest\r\n"
      "  report R2 OSMTEST every 60 where name eq \"a \"\"b\"\"\" and COUNT GT -3\n"
      "situation S1 OSMTEST every 5 where COUNT GE 10 OR NAME EQ \"C:\\temp\" AND TOTAL LT 9000000000\n"
      "event E1 OSMTEST\n"
      "action A1 nt WDM_Start_Agent \"agent one\" \"proc\"  1  \n"
      "export X1 OSMTEST every 30 where COUNT GT 0\n";
  cfw::ParsedRequests p = cfw::ParseRequests(text, Lookup);
  ASSERT_TRUE(p.problems.empty()) << p.problems[0].message;
  ASSERT_EQ(6u, p.requests.size());

  const cfw::ParsedRequest& r1 = p.requests[0];
  EXPECT_EQ(3, r1.line);
  EXPECT_EQ(cfw::RequestKind::kReport, r1.kind);
  EXPECT_EQ("OSMTEST", r1.table);
  EXPECT_EQ(0, r1.interval);
  EXPECT_TRUE(r1.condition.empty());

  const cfw::ParsedRequest& r2 = p.requests[1];
  EXPECT_EQ(60, r2.interval);
  ASSERT_EQ(1u, r2.condition.size());
  ASSERT_EQ(2u, r2.condition[0].size());
  EXPECT_EQ("NAME", r2.condition[0][0].attribute);
  EXPECT_EQ("a \"b\"", r2.condition[0][0].value);
  EXPECT_EQ(9, r2.condition[0][0].type);
  EXPECT_EQ(-3, r2.condition[0][1].number);

  const cfw::ParsedRequest& s1 = p.requests[2];
  EXPECT_EQ(1, cfw::SampleTypeOf(s1.kind));
  ASSERT_EQ(2u, s1.condition.size());
  EXPECT_EQ(1u, s1.condition[0].size());
  ASSERT_EQ(2u, s1.condition[1].size());
  EXPECT_EQ("C:\\temp", s1.condition[1][0].value);  // backslashes are plain
  EXPECT_EQ(9000000000LL, s1.condition[1][1].number);

  EXPECT_EQ(4, cfw::SampleTypeOf(p.requests[3].kind));
  const cfw::ParsedRequest& a1 = p.requests[4];
  EXPECT_EQ(cfw::RequestKind::kAction, a1.kind);
  EXPECT_EQ("NT", a1.product);
  EXPECT_EQ("WDM_Start_Agent \"agent one\" \"proc\"  1", a1.command);
  const cfw::ParsedRequest& x1 = p.requests[5];
  EXPECT_EQ(cfw::RequestKind::kExport, x1.kind);
  EXPECT_EQ(3, cfw::SampleTypeOf(x1.kind));  // sampled as a report
  EXPECT_EQ(30, x1.interval);
}

TEST(Requests, BadLinesAreReportedWithTheirLineAndSkipped) {
  struct Case {
    const char* line;
    const char* message;  // a part of the expected message
  } cases[] = {
      {"report R1 NOSUCH", "unknown table NOSUCH"},
      {"report R1 OSMTEST where SIZE EQ 1", "unknown attribute SIZE"},
      {"report R1 OSMTEST where COUNT IS 1", "bad operator 'IS'"},
      {"report R1 OSMTEST where COUNT EQ \"1\"", "COUNT is an integer attribute"},
      {"report R1 OSMTEST where NAME EQ abc", "values are integers or quoted texts"},
      {"report R1 OSMTEST where NAME EQ 12", "NAME is a text attribute"},
      {"report R1 OSMTEST where COUNT EQ 2147483648", "out of range"},
      {"report R1 OSMTEST where NAME EQ \"12345678901234567\"", "longer than its width (16 bytes)"},
      {"report R1 OSMTEST where NAME EQ \"abc", "missing closing quote"},
      {"report R1 OSMTEST where COUNT EQ 1 AND", "condition ends with AND"},
      {"report R1 OSMTEST where COUNT EQ 1 COUNT EQ 2", "expected AND or OR"},
      {"report R1 OSMTEST where COUNT EQ", "incomplete condition term"},
      {"report R1 OSMTEST every 0", "'every' needs a number of seconds"},
      {"report R1 OSMTEST every 2147484", "'every' needs a number of seconds"},
      {"situation S1 OSMTEST where COUNT EQ 1", "a situation needs an interval"},
      {"situation S1 OSMTEST every 5", "a situation needs a condition"},
      {"event E1 OSMTEST every 5", "an event request takes no interval"},
      {"query Q1 OSMTEST", "unknown request kind 'query'"},
      {"report bad/name OSMTEST", "bad request name"},
      {"action A1 NT", "an action needs a command"},
      {"export X1 OSMTEST", "an export needs an interval"},
  };
  for (const Case& c : cases) {
    std::string text = std::string("report OK1 OSMTEST\n") + c.line + "\nreport OK2 OSMTEST\n";
    cfw::ParsedRequests p = cfw::ParseRequests(text, Lookup);
    ASSERT_EQ(1u, p.problems.size()) << c.line;
    EXPECT_EQ(2, p.problems[0].line) << c.line;
    EXPECT_NE(std::string::npos, p.problems[0].message.find(c.message))
        << c.line << " gave: " << p.problems[0].message;
    ASSERT_EQ(2u, p.requests.size()) << c.line;  // the good lines are served
    EXPECT_EQ("OK2", p.requests[1].name);
  }
  cfw::ParsedRequests dup = cfw::ParseRequests("report X OSMTEST\nreport X OSMTEST\n", Lookup);
  ASSERT_EQ(1u, dup.problems.size());
  EXPECT_EQ("req.txt(2): request name X is already used", cfw::FormatProblem("req.txt", dup.problems[0]));
  dup = cfw::ParseRequests("export X OSMTEST every 5\nexport Y osmtest every 9\n", Lookup);
  ASSERT_EQ(1u, dup.problems.size());
  EXPECT_EQ("table OSMTEST is already exported by X", dup.problems[0].message);
}

TEST(Requests, FilesWrittenByWindowsEditors) {
  // UTF-8 with a byte-order mark, and UTF-16 in both byte orders; the value
  // "\u00e9t\u00e9" is two-byte UTF-8 from one UTF-16 unit per letter.
  const std::string latin1 = "report R1 OSMTEST\r\nreport R2 OSMTEST where NAME EQ \"\xE9t\xE9\"\r\n";
  std::string le("\xFF\xFE", 2), be("\xFE\xFF", 2);
  for (char c : latin1) {
    le += std::string{c, '\0'};
    be += std::string{'\0', c};
  }
  const std::string utf8 = "\xEF\xBB\xBFreport R1 OSMTEST\r\nreport R2 OSMTEST where NAME EQ \"\xC3\xA9t\xC3\xA9\"\r\n";
  for (const std::string& file : {utf8, le, be}) {
    cfw::ParsedRequests p = cfw::ParseRequests(file, Lookup);
    ASSERT_EQ(0u, p.problems.size()) << p.problems[0].message;
    ASSERT_EQ(2u, p.requests.size());
    EXPECT_EQ("R1", p.requests[0].name);
    EXPECT_EQ("\xC3\xA9t\xC3\xA9", p.requests[1].condition[0][0].value);
  }
}

std::string Text(const char* bytes, std::size_t n, bool utf8) {
  std::string out;
  cfw::AppendJsonText(&out, bytes, n, utf8);
  return out;
}

TEST(JsonRows, EscapesControlCharactersQuotesAndInvalidBytes) {
  const char controls[] = {'a', '"', '\\', '\n', '\r', '\t', '\x01', '\x1f', '\x7f', '\0', 'z'};
  EXPECT_EQ("a\\\"\\\\\\n\\r\\t\\u0001\\u001f\\u007f\\u0000z", Text(controls, sizeof controls, false));
  // ASCII text: a byte of 0x80 or more is the character of that value.
  EXPECT_EQ("caf\xC3\xA9", Text("caf\xE9", 4, false));
  EXPECT_EQ("\xC3\xBF\xC2\x80", Text("\xFF\x80", 2, false));
  // UTF-8 text: well-formed sequences pass, every stray byte is U+FFFD.
  EXPECT_EQ("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", Text("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", 14, true));
  const std::string bad = "\xEF\xBF\xBD";
  EXPECT_EQ(bad + "x", Text("\xFFx", 2, true));
  EXPECT_EQ(bad + bad, Text("\xC0\x80", 2, true));             // overlong
  EXPECT_EQ(bad + bad + bad, Text("\xED\xA0\x80", 3, true));   // surrogate
  EXPECT_EQ("ab" + bad + bad, Text("ab\xE2\x82", 4, true));    // cut at the field end
  EXPECT_EQ(bad + bad + bad + bad, Text("\xF4\x90\x80\x80", 4, true));  // above U+10FFFF
}

TEST(JsonRows, RowDecodesEveryAttributeThroughItsDescriptor) {
  AttributeInfo attrs[] = {{"name", 0, 8, DCF_ATTR_TEXT},
                           {"uname", 8, 6, DCF_ATTR_UTF8},
                           {"count", 14, 4, DCF_ATTR_INT32},
                           {"total", 18, 8, DCF_ATTR_INT64},
                           {"beyond", 24, 8, DCF_ATTR_INT64}};
  cfw::RowLayout layout(28, attrs, 5);
  char row[28];
  std::memcpy(row, "a\"b  \0\0 ", 8);
  std::memcpy(row + 8, "\xC3\xA9\xFF   ", 6);
  std::int32_t count = -42;
  std::int64_t total = 9000000000LL;
  std::memcpy(row + 14, &count, 4);  // misaligned on purpose
  std::memcpy(row + 18, &total, 8);
  std::memset(row + 26, 0, 2);
  cfw::RowHeader header{"R1", "report", "OSMTEST", "2025-03-01T10:15:30.250Z"};
  EXPECT_EQ(
      "{\"record\":\"row\",\"request\":\"R1\",\"kind\":\"report\",\"table\":\"OSMTEST\","
      "\"time\":\"2025-03-01T10:15:30.250Z\",\"NAME\":\"a\\\"b\",\"UNAME\":\"\xC3\xA9\xEF\xBF\xBD\","
      "\"COUNT\":-42,\"TOTAL\":9000000000,\"BEYOND\":null}",
      cfw::RowJson(header, layout, row));
  EXPECT_EQ(
      "{\"record\":\"table\",\"table\":\"T\",\"rowsize\":28,\"attributes\":["
      "{\"name\":\"NAME\",\"type\":\"text\",\"code\":9,\"width\":8,\"offset\":0},"
      "{\"name\":\"UNAME\",\"type\":\"utf8\",\"code\":12,\"width\":6,\"offset\":8},"
      "{\"name\":\"COUNT\",\"type\":\"int32\",\"code\":3,\"width\":4,\"offset\":14},"
      "{\"name\":\"TOTAL\",\"type\":\"int64\",\"code\":13,\"width\":8,\"offset\":18},"
      "{\"name\":\"BEYOND\",\"type\":\"int64\",\"code\":13,\"width\":8,\"offset\":24}]}",
      cfw::TableJson("T", layout));
}

TEST(JsonRows, TextAttributeOfWellFormedUtf8IsShownAsThatText) {
  AttributeInfo attrs[] = {{"userid", 0, 12, DCF_ATTR_TEXT}, {"mixed", 12, 8, DCF_ATTR_TEXT}};
  cfw::RowLayout layout(20, attrs, 2);
  char row[20];
  std::memcpy(row, "PC\\J\xC3\xBCrgen  ", 12);
  std::memcpy(row + 12, "\xE9 \xC3\xA9    ", 8);  // one stray byte: every byte is its own character
  cfw::RowHeader header{"R", "report", "T", "t"};
  std::string json = cfw::RowJson(header, layout, row);
  EXPECT_NE(std::string::npos, json.find("\"USERID\":\"PC\\\\J\xC3\xBCrgen\"")) << json;
  EXPECT_NE(std::string::npos, json.find("\"MIXED\":\"\xC3\xA9 \xC3\x83\xC2\xA9\"")) << json;
}

TEST(JsonRows, FormatsUtcWithMilliseconds) {
  using namespace std::chrono;
  EXPECT_EQ("1970-01-01T00:00:00.000Z", cfw::FormatUtc(system_clock::time_point()));
  // 2024-02-29T23:59:59.999Z is 1709251199999 ms after the epoch.
  EXPECT_EQ("2024-02-29T23:59:59.999Z",
            cfw::FormatUtc(system_clock::time_point(duration_cast<system_clock::duration>(
                milliseconds(1709251199999LL)))));
}

}  // namespace
