// The metrics output: the exposition formats, rows as families, the store's
// freshness and the endpoint's answers. Expected texts are written out by
// hand from the two formats, not produced by the writer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "framework/attribute.h"
#include "framework/exposition.h"
#include "framework/metric_rows.h"
#include "framework/metrics_pages.h"
#include "framework/osmtest_table.h"

namespace {

using osmtest::MakeRow;
using std::chrono::seconds;

TEST(Exposition, LabelValuesAreEscapedAndValidUtf8) {
  struct Case {
    const char* bytes;
    cfw::TextCode code;
    const char* expected;
  } cases[] = {
      {"a\"b\\c\nd", cfw::TextCode::kUtf8, "a\\\"b\\\\c\\nd"},
      {"x\xFFy\xE2\x82", cfw::TextCode::kUtf8, "x\xEF\xBF\xBDy\xEF\xBF\xBD\xEF\xBF\xBD"},  // stray, cut
      {"\xC3\xA9t\xC3\xA9", cfw::TextCode::kUtf8, "\xC3\xA9t\xC3\xA9"},
      {"\xE9t\xE9", cfw::TextCode::kRowText, "\xC3\xA9t\xC3\xA9"},        // single-byte text
      {"\xC3\xA9t\xC3\xA9", cfw::TextCode::kRowText, "\xC3\xA9t\xC3\xA9"},  // carrying UTF-8
  };
  for (const Case& c : cases) {
    std::string labels = "k=\"v\"";
    cfw::AppendLabel(&labels, "name", c.bytes, std::strlen(c.bytes), c.code);
    EXPECT_EQ(std::string("k=\"v\",name=\"") + c.expected + "\"", labels) << c.bytes;
  }
  EXPECT_EQ("_9x_y", cfw::MetricName("9X-y"));
}

TEST(Exposition, TextFormatAgainstOpenMetrics) {
  auto render = [](cfw::ExpoFormat format) {
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    cfw::Exposition out(format);
    out.Family("osm_g", cfw::FamilyType::kGauge, "a \\ \"q\"\nb");
    for (double v : {nan, inf, -inf, 0.1, 2.5e-7, -3.0}) out.Sample("", v);
    out.Family("osm_empty", cfw::FamilyType::kGauge, "no samples, no lines");
    out.Family("osm_c", cfw::FamilyType::kCounter, "c");
    out.Sample("t=\"x\"", 9000000000LL);
    out.Family("osm_i", cfw::FamilyType::kInfo, "i");
    out.Sample("v=\"1\"", 1LL);
    out.Family("osm_s", cfw::FamilyType::kSummary, "s");
    out.Sample("", 1.5, "_sum");
    out.Sample("", 2LL, "_count");
    return out.Finish();
  };
  const std::string samples =
      "osm_g NaN\nosm_g +Inf\nosm_g -Inf\nosm_g 0.1\nosm_g 2.5e-07\nosm_g -3\n";
  EXPECT_EQ("# HELP osm_g a \\\\ \"q\"\\nb\n# TYPE osm_g gauge\n" + samples +
                "# HELP osm_c_total c\n# TYPE osm_c_total counter\nosm_c_total{t=\"x\"} 9000000000\n"
                "# HELP osm_i_info i\n# TYPE osm_i_info gauge\nosm_i_info{v=\"1\"} 1\n"
                "# HELP osm_s s\n# TYPE osm_s summary\nosm_s_sum 1.5\nosm_s_count 2\n",
            render(cfw::ExpoFormat::kText));
  EXPECT_EQ("# HELP osm_g a \\\\ \\\"q\\\"\\nb\n# TYPE osm_g gauge\n" + samples +
                "# HELP osm_c c\n# TYPE osm_c counter\nosm_c_total{t=\"x\"} 9000000000\n"
                "# HELP osm_i i\n# TYPE osm_i info\nosm_i_info{v=\"1\"} 1\n"
                "# HELP osm_s s\n# TYPE osm_s summary\nosm_s_sum 1.5\nosm_s_count 2\n# EOF\n",
            render(cfw::ExpoFormat::kOpenMetrics));
}

TEST(Exposition, AcceptHeaderChoosesTheFormat) {
  struct Case {
    const char* accept;
    cfw::ExpoFormat format;
  } cases[] = {
      {"", cfw::ExpoFormat::kText},
      {"*/*", cfw::ExpoFormat::kText},
      {"application/openmetrics-text; version=1.0.0", cfw::ExpoFormat::kOpenMetrics},
      {"application/openmetrics-text;version=1.0.0,application/openmetrics-text;version=0.0.1;q=0.75,"
       "text/plain;version=0.0.4;q=0.5,*/*;q=0.1",
       cfw::ExpoFormat::kOpenMetrics},
      {"text/plain;q=0.9, Application/OpenMetrics-Text;q=0.5", cfw::ExpoFormat::kText},
      {"application/openmetrics-text;q=0", cfw::ExpoFormat::kText},
  };
  for (const Case& c : cases) EXPECT_EQ(c.format, cfw::NegotiateFormat(c.accept)) << c.accept;
}

// The OSMTEST layout: ORIGINNODE, TIMESTAMP, NAME, UNAME, COUNT, TOTAL.
cfw::RowLayout OsmtestLayout() {
  static const AttributeInfo attrs[] = {{"originnode", 0, 32, DCF_ATTR_TEXT}, {"timestamp", 32, 16, DCF_ATTR_TEXT},
                                        {"name", 48, 16, DCF_ATTR_TEXT},      {"uname", 64, 24, DCF_ATTR_UTF8},
                                        {"count", 88, 4, DCF_ATTR_INT32},     {"total", 92, 8, DCF_ATTR_INT64}};
  return cfw::RowLayout(osmtest::kRowSize, attrs, 6);
}

cfw::MetricColumns OsmtestColumns() {
  cfw::MetricColumns columns;
  columns.node = "ORIGINNODE";
  columns.labels = {"UNAME"};
  columns.omitted = {"TIMESTAMP"};
  columns.help["TOTAL"] = "OSMTEST TOTAL: bytes";
  return columns;
}

TEST(MetricRows, LabelsInOrderMinusOneRepeatedRowsAndReservedWords) {
  osmtest::Row blankNode = MakeRow("c\\d\ne", "x\xFFy", -1, -1);
  std::memset(blankNode.data(), ' ', 32);
  std::vector<char> rows = osmtest::Batch({MakeRow("a\"b", "\xC3\xA9t\xC3\xA9", 1, 5), blankNode,
                                           MakeRow("dup", "\xC3\xA9t\xC3\xA9", 7, 7),
                                           MakeRow("\xE9t\xE9", "z", 3, 9000000000LL)});
  cfw::TablePlan plan("OSMTEST", OsmtestLayout(), OsmtestColumns());
  cfw::Exposition out(cfw::ExpoFormat::kText);
  plan.Render(rows.data(), 4, "host", &out);
  const std::string e1 = "{node=\"node1\",uname=\"\xC3\xA9t\xC3\xA9\"}";
  const std::string e4 = "{node=\"node1\",uname=\"z\"}";
  EXPECT_EQ("# HELP osm_osmtest_count_value OSMTEST COUNT\n# TYPE osm_osmtest_count_value gauge\n"
            "osm_osmtest_count_value" + e1 + " 1\nosm_osmtest_count_value" + e4 + " 3\n"
            "# HELP osm_osmtest_total_value OSMTEST TOTAL: bytes\n# TYPE osm_osmtest_total_value gauge\n"
            "osm_osmtest_total_value" + e1 + " 5\nosm_osmtest_total_value" + e4 + " 9000000000\n"
            "# HELP osm_osmtest_info Text attributes of OSMTEST (value 1)\n# TYPE osm_osmtest_info gauge\n"
            "osm_osmtest_info{node=\"node1\",uname=\"\xC3\xA9t\xC3\xA9\",name=\"a\\\"b\"} 1\n"
            "osm_osmtest_info{node=\"host\",uname=\"x\xEF\xBF\xBDy\",name=\"c\\\\d\\ne\"} 1\n"
            "osm_osmtest_info{node=\"node1\",uname=\"z\",name=\"\xC3\xA9t\xC3\xA9\"} 1\n",
            out.Finish());
}

cfw::ExportState Exported(int interval, bool sampled, int sampledAgo, int openedAgo, cfw::TimePoint now) {
  cfw::ExportState s;
  s.request = "x";
  s.table = "OSMTEST";
  s.interval = interval;
  s.sampled = sampled;
  s.lastSample = now - seconds(sampledAgo);
  s.opened = now - seconds(openedAgo);
  return s;
}

TEST(MetricsStore, RowsAgeOutAfterThreeIntervals) {
  cfw::TimePoint now = std::chrono::system_clock::now();
  struct Case {
    bool sampled;
    int sampledAgo, openedAgo;
    bool current, recent;
  } cases[] = {
      {true, 30, 100, true, true},    // three intervals of 10 s: still served
      {true, 31, 100, false, false},  // older: left out, and unhealthy
      {false, 0, 29, false, true},    // not sampled yet, but just opened
      {false, 0, 31, false, false},   // never sampled since long
  };
  for (const Case& c : cases) {
    cfw::ExportState s = Exported(10, c.sampled, c.sampledAgo, c.openedAgo, now);
    EXPECT_EQ(c.current, cfw::RowsCurrent(s, now)) << c.sampledAgo << " " << c.openedAgo;
    EXPECT_EQ(c.recent, cfw::SampledRecently(s, now)) << c.sampledAgo << " " << c.openedAgo;
  }
}

TEST(MetricsPages, RoutesMethodsAndHealth) {
  cfw::TimePoint now = std::chrono::system_clock::now();
  std::vector<char> rows = osmtest::Batch({MakeRow("a", "u", 1, 2)});
  cfw::ExportState fresh = Exported(10, true, 1, 100, now), stale = Exported(10, true, 40, 100, now);
  fresh.plan = stale.plan = std::make_shared<const cfw::TablePlan>("OSMTEST", OsmtestLayout(), OsmtestColumns());
  fresh.rows = stale.rows = std::make_shared<const std::string>(rows.data(), rows.size());
  fresh.rowCount = stale.rowCount = 1;
  cfw::AgentFacts facts;
  facts.counterState = "running";
  auto give = [&facts] { return facts; };
  struct Case {
    const char* method;
    const char* path;
    int status;
    bool body;
  } cases[] = {{"GET", "/metrics", 200, true}, {"HEAD", "/metrics", 200, false}, {"POST", "/metrics", 405, true},
               {"GET", "/", 404, true},        {"GET", "/health", 200, true}};
  for (const Case& c : cases) {
    cfw::HttpAnswer a = cfw::Answer({c.method, c.path, ""}, {fresh}, give, now);
    EXPECT_EQ(c.status, a.status) << c.method << " " << c.path;
    EXPECT_EQ(c.body, a.sendBody) << c.method << " " << c.path;
    EXPECT_FALSE(a.body.empty());
  }
  // A stale table's rows are left out, its own metrics stay.
  std::string text = cfw::MetricsText(cfw::ExpoFormat::kText, {stale}, facts, now);
  EXPECT_EQ(std::string::npos, text.find("osm_osmtest_total_value"));
  EXPECT_NE(std::string::npos, text.find("osm_table_last_sample_timestamp_seconds{table=\"OSMTEST\"}"));
  text = cfw::MetricsText(cfw::ExpoFormat::kText, {fresh}, facts, now);
  EXPECT_NE(std::string::npos, text.find("osm_osmtest_total_value"));

  EXPECT_EQ(503, cfw::Answer({"GET", "/health", ""}, {stale}, give, now).status);  // none sampled recently
  EXPECT_EQ(200, cfw::Answer({"GET", "/health", ""}, {stale, fresh}, give, now).status);
  facts.counterDown = true;
  cfw::HttpAnswer down = cfw::Answer({"GET", "/health", ""}, {fresh}, give, now);
  EXPECT_EQ(503, down.status);
  EXPECT_NE(std::string::npos, down.body.find("\"status\":\"unhealthy\""));
}

TEST(MetricsPages, PathsAreRelativeToThePrefix) {
  struct Case {
    const char* prefix;
    const char* path;
    const char* relative;
  } cases[] = {{"http://127.0.0.1:9182/", "/metrics", "/metrics"},
               {"http://+:80/osm/", "/osm/health", "/health"},
               {"https://host:443/osm", "/osmx/metrics", ""},
               {"http://+:80/osm/", "/other", ""}};
  for (const Case& c : cases) EXPECT_EQ(c.relative, cfw::RelativePath(c.prefix, c.path)) << c.prefix << c.path;
}

}  // namespace
