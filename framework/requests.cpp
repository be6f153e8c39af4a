// Requests file reader.
#include "framework/requests.h"

#include <cctype>
#include <map>
#include <set>
#include <utility>

#include "framework/condition.h"
#include "framework/nlsxlat.h"

namespace cfw {
namespace {

const int kMaxInterval = 2147483;  // seconds; times 1000 still fits an int
const std::size_t kMaxName = 63;

struct Token {
  std::string text;
  bool quoted = false;
  std::size_t start = 0;  // offset of the token in the line
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string Upper(const std::string& s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool Tokenize(const std::string& line, std::vector<Token>* tokens, std::string* error) {
  std::size_t i = 0;
  while (i < line.size()) {
    if (IsBlank(line[i])) {
      ++i;
      continue;
    }
    Token t;
    t.start = i;
    if (line[i] == '"') {
      t.quoted = true;
      ++i;
      bool closed = false;
      while (i < line.size()) {
        if (line[i] == '"') {
          if (i + 1 < line.size() && line[i + 1] == '"') {
            t.text.push_back('"');
            i += 2;
            continue;
          }
          closed = true;
          ++i;
          break;
        }
        t.text.push_back(line[i++]);
      }
      if (!closed) {
        *error = "missing closing quote";
        return false;
      }
      if (i < line.size() && !IsBlank(line[i])) {
        *error = "text follows a closing quote without a blank";
        return false;
      }
    } else {
      while (i < line.size() && !IsBlank(line[i])) t.text.push_back(line[i++]);
    }
    tokens->push_back(t);
  }
  return true;
}

bool ValidName(const std::string& name) {
  if (name.empty() || name.size() > kMaxName) return false;
  for (char c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '.' && c != '-') return false;
  }
  return true;
}

bool ValidTableOrAttribute(const std::string& word) {
  if (word.empty()) return false;
  for (char c : word) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  }
  return true;
}

bool ParseCondition(const std::vector<Token>& tokens, std::size_t pos, ConditionRows* rows,
                    std::string* error) {
  rows->assign(1, {});
  if (pos >= tokens.size()) {
    *error = "'where' needs a condition";
    return false;
  }
  while (true) {
    if (pos + 3 > tokens.size()) {
      *error = "incomplete condition term: expected ATTRIBUTE OPERATOR VALUE";
      return false;
    }
    const Token& attr = tokens[pos];
    const Token& op = tokens[pos + 1];
    const Token& value = tokens[pos + 2];
    if (attr.quoted || !ValidTableOrAttribute(attr.text)) {
      *error = "bad attribute name '" + attr.text + "'";
      return false;
    }
    ConditionTerm term;
    term.attribute = Upper(attr.text);
    term.op = op.quoted ? 0 : ParseOperator(op.text.c_str());
    if (term.op == 0) {
      *error = "bad operator '" + op.text + "' (use EQ, NE, LT, LE, GT or GE)";
      return false;
    }
    term.quoted = value.quoted;
    term.value = value.text;
    if (!value.quoted && !ParseInteger(value.text.c_str(), &term.number)) {
      *error = "bad value '" + value.text + "' for " + term.attribute +
               ": values are integers or quoted texts";
      return false;
    }
    rows->back().push_back(term);
    pos += 3;
    if (pos == tokens.size()) return true;
    std::string joint = tokens[pos].quoted ? std::string() : Upper(tokens[pos].text);
    if (joint == "OR") {
      rows->push_back({});
    } else if (joint != "AND") {
      *error = "expected AND or OR after a term, found '" + tokens[pos].text + "'";
      return false;
    }
    ++pos;
    if (pos == tokens.size()) {
      *error = "condition ends with " + joint;
      return false;
    }
  }
}

// UTF-16 text after its byte-order mark, as UTF-8.
std::string Utf16ToUtf8(const std::string& bytes, bool bigEndian) {
  std::string little = bytes.substr(2);
  if (bigEndian)
    for (std::size_t i = 0; i + 1 < little.size(); i += 2) std::swap(little[i], little[i + 1]);
  std::string out(little.size() / 2 * 3 + 3, '\0');
  std::size_t written = 0;
  NLS2_TranslateString(NLS2_CS_UTF16LE, little.data(), little.size(), NLS2_CS_UTF8, &out[0], out.size(), &written,
                       nullptr);
  out.resize(written);
  return out;
}

// Windows editors write a byte-order mark: UTF-8's is skipped, and UTF-16
// (Notepad's "Unicode") is read as the text it holds.
std::string RequestsText(const std::string& bytes) {
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return bytes.substr(3);
  if (bytes.compare(0, 2, "\xFF\xFE") == 0) return Utf16ToUtf8(bytes, false);
  if (bytes.compare(0, 2, "\xFE\xFF") == 0) return Utf16ToUtf8(bytes, true);
  return bytes;
}

}  // namespace

int SampleTypeOf(RequestKind kind) {
  switch (kind) {
    case RequestKind::kReport:
    case RequestKind::kExport: return 3;
    case RequestKind::kSituation: return 1;
    case RequestKind::kEvent: return 4;
    default: return 0;
  }
}

const char* KindName(RequestKind kind) {
  switch (kind) {
    case RequestKind::kReport: return "report";
    case RequestKind::kSituation: return "situation";
    case RequestKind::kEvent: return "event";
    case RequestKind::kExport: return "export";
    default: return "action";
  }
}

LineResult ParseRequestLine(const std::string& line, ParsedRequest* req, std::string* error) {
  std::size_t first = 0;
  while (first < line.size() && IsBlank(line[first])) ++first;
  if (first == line.size() || line[first] == '#') return LineResult::kEmpty;

  std::vector<Token> tokens;
  if (!Tokenize(line, &tokens, error)) return LineResult::kError;
  ParsedRequest out;
  std::string kind = Upper(tokens[0].text);
  if (tokens[0].quoted) kind.clear();
  if (kind == "REPORT") {
    out.kind = RequestKind::kReport;
  } else if (kind == "SITUATION") {
    out.kind = RequestKind::kSituation;
  } else if (kind == "EVENT") {
    out.kind = RequestKind::kEvent;
  } else if (kind == "EXPORT") {
    out.kind = RequestKind::kExport;
  } else if (kind == "ACTION") {
    out.kind = RequestKind::kAction;
  } else {
    *error = "unknown request kind '" + tokens[0].text + "' (use report, situation, event, export or action)";
    return LineResult::kError;
  }
  if (tokens.size() < 2 || tokens[1].quoted || !ValidName(tokens[1].text)) {
    *error = tokens.size() < 2 ? "missing request name"
                               : "bad request name '" + tokens[1].text +
                                     "' (1 to 63 letters, digits, '_', '.' or '-')";
    return LineResult::kError;
  }
  out.name = tokens[1].text;

  if (out.kind == RequestKind::kAction) {
    if (tokens.size() < 3 || tokens[2].quoted || !ValidTableOrAttribute(tokens[2].text)) {
      *error = "an action needs a product code";
      return LineResult::kError;
    }
    out.product = Upper(tokens[2].text);
    if (tokens.size() < 4) {
      *error = "an action needs a command";
      return LineResult::kError;
    }
    std::size_t end = line.size();
    while (end > tokens[3].start && IsBlank(line[end - 1])) --end;
    out.command = line.substr(tokens[3].start, end - tokens[3].start);
    *req = out;
    return LineResult::kRequest;
  }

  if (tokens.size() < 3 || tokens[2].quoted || !ValidTableOrAttribute(tokens[2].text)) {
    *error = "missing or bad table name";
    return LineResult::kError;
  }
  out.table = Upper(tokens[2].text);
  std::size_t pos = 3;
  bool hasWhere = false;
  while (pos < tokens.size()) {
    std::string word = tokens[pos].quoted ? std::string() : Upper(tokens[pos].text);
    if (word == "EVERY") {
      if (out.kind == RequestKind::kEvent) {
        *error = "an event request takes no interval";
        return LineResult::kError;
      }
      if (out.interval != 0) {
        *error = "interval given twice";
        return LineResult::kError;
      }
      std::int64_t seconds = 0;
      if (pos + 1 >= tokens.size() || tokens[pos + 1].quoted ||
          !ParseInteger(tokens[pos + 1].text.c_str(), &seconds) || seconds < 1 ||
          seconds > kMaxInterval) {
        *error = "'every' needs a number of seconds from 1 to 2147483";
        return LineResult::kError;
      }
      out.interval = static_cast<int>(seconds);
      pos += 2;
    } else if (word == "WHERE") {
      if (!ParseCondition(tokens, pos + 1, &out.condition, error)) return LineResult::kError;
      hasWhere = true;
      pos = tokens.size();
    } else {
      *error = "unexpected '" + tokens[pos].text + "' (expected 'every' or 'where')";
      return LineResult::kError;
    }
  }
  if (out.kind == RequestKind::kExport && out.interval == 0) {
    *error = "an export needs an interval ('every SECONDS')";
    return LineResult::kError;
  }
  if (out.kind == RequestKind::kSituation) {
    if (out.interval == 0) {
      *error = "a situation needs an interval ('every SECONDS')";
      return LineResult::kError;
    }
    if (!hasWhere) {
      *error = "a situation needs a condition ('where ...')";
      return LineResult::kError;
    }
  }
  *req = out;
  return LineResult::kRequest;
}

bool CheckRequest(ParsedRequest* req, const SchemaLookup& lookup, std::string* error) {
  if (req->kind == RequestKind::kAction) return true;
  const std::vector<AttributeView>* attrs = lookup ? lookup(req->table) : nullptr;
  if (attrs == nullptr) {
    *error = "unknown table " + req->table + " (not offered by this agent)";
    return false;
  }
  for (auto& row : req->condition) {
    for (ConditionTerm& term : row) {
      const AttributeView* found = nullptr;
      for (const AttributeView& a : *attrs) {
        if (a.name == term.attribute) {
          found = &a;
          break;
        }
      }
      if (found == nullptr) {
        *error = "unknown attribute " + term.attribute + " in table " + req->table;
        return false;
      }
      term.type = found->type;
      term.width = found->width;
      bool integer = found->type == 3 || found->type == 13;
      if (integer && term.quoted) {
        *error = term.attribute + " is an integer attribute; its value must be a number, not \"" +
                 term.value + "\"";
        return false;
      }
      if (!integer && !term.quoted) {
        *error = term.attribute + " is a text attribute; its value must be a quoted text, not " +
                 term.value;
        return false;
      }
      if (found->type == 3 && (term.number < INT32_MIN || term.number > INT32_MAX)) {
        *error = "value " + term.value + " is out of range for the 32-bit attribute " + term.attribute;
        return false;
      }
      if (!integer && term.value.size() > static_cast<std::size_t>(found->width)) {
        *error = "text value for " + term.attribute + " is longer than its width (" +
                 std::to_string(found->width) + " bytes)";
        return false;
      }
    }
  }
  return true;
}

ParsedRequests ParseRequests(const std::string& file, const SchemaLookup& lookup) {
  const std::string text = RequestsText(file);
  ParsedRequests out;
  std::set<std::string> names;
  std::map<std::string, std::string> exported;  // table, request
  std::size_t start = 0;
  int lineNo = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ParsedRequest req;
    std::string error;
    LineResult r = ParseRequestLine(line, &req, &error);
    if (r == LineResult::kEmpty) continue;
    if (r == LineResult::kRequest && names.count(req.name)) {
      r = LineResult::kError;
      error = "request name " + req.name + " is already used";
    }
    if (r == LineResult::kRequest && req.kind == RequestKind::kExport && exported.count(req.table)) {
      // Two exports of a table would write its families twice.
      r = LineResult::kError;
      error = "table " + req.table + " is already exported by " + exported[req.table];
    }
    if (r == LineResult::kRequest && !CheckRequest(&req, lookup, &error)) r = LineResult::kError;
    if (r == LineResult::kError) {
      out.problems.push_back({lineNo, error});
      continue;
    }
    req.line = lineNo;
    names.insert(req.name);
    if (req.kind == RequestKind::kExport) exported[req.table] = req.name;
    out.requests.push_back(req);
  }
  return out;
}

std::string FormatProblem(const std::string& file, const RequestProblem& problem) {
  return file + "(" + std::to_string(problem.line) + "): " + problem.message;
}

}  // namespace cfw
