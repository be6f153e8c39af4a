#include "description_reader.h"

#include <cerrno>
#include <cstdlib>
#include <locale>
#include <sstream>

namespace osmtest {
namespace {

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  const auto last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  std::string word;
  while (in >> word) words.push_back(word);
  return words;
}

bool ToInt(const std::string& word, int* value) {
  if (word.empty()) return false;
  for (char c : word) {
    if (c < '0' || c > '9') return false;
  }
  errno = 0;
  const long parsed = std::strtol(word.c_str(), nullptr, 10);
  if (errno != 0 || parsed > 1000000) return false;
  *value = static_cast<int>(parsed);
  return true;
}

// A list of exactly `count` decimal integers (blank runs allowed).
bool ReadInts(const std::string& text, std::size_t count, std::vector<int>* out,
              const char* what, std::string* error) {
  const std::vector<std::string> words = Words(text);
  if (words.size() != count) {
    *error = std::string(what) + ": " + std::to_string(words.size()) + " numbers, " +
             std::to_string(count) + " expected";
    return false;
  }
  out->clear();
  for (const std::string& word : words) {
    int value = 0;
    if (!ToInt(word, &value)) {
      *error = std::string(what) + ": not a number: " + word;
      return false;
    }
    out->push_back(value);
  }
  return true;
}

// Scales are written with a decimal point whatever the user's locale.
bool ReadScales(const std::string& text, std::size_t count, std::vector<double>* out,
                std::string* error) {
  const std::vector<std::string> words = Words(text);
  if (words.size() != count) {
    *error = "scales: " + std::to_string(words.size()) + " numbers, " +
             std::to_string(count) + " expected";
    return false;
  }
  out->clear();
  for (const std::string& word : words) {
    std::istringstream in(word);
    in.imbue(std::locale::classic());
    double value = 0;
    in >> value;
    if (in.fail() || in.peek() != std::char_traits<char>::eof()) {
      *error = "scales: not a number: " + word;
      return false;
    }
    out->push_back(value);
  }
  return true;
}

// Names separated by `separators`; the text must end with a separator.
bool ReadNames(const std::string& text, const char* separators, std::size_t count,
               std::vector<std::string>* out, std::string* error) {
  out->clear();
  std::size_t pos = 0;
  while (out->size() < count) {
    const std::size_t end = text.find_first_of(separators, pos);
    if (end == std::string::npos) {
      *error = "names: " + std::to_string(out->size()) + " of " + std::to_string(count);
      return false;
    }
    const std::string name = Trim(text.substr(pos, end - pos));
    if (name.empty()) {
      *error = "names: empty name " + std::to_string(out->size() + 1);
      return false;
    }
    out->push_back(name);
    pos = end + 1;
  }
  if (!Trim(text.substr(pos)).empty()) {
    *error = "names: text after the last name: " + text.substr(pos);
    return false;
  }
  return true;
}

}  // namespace

bool ReadSampleDescription(const std::string& header, const std::string& sizes,
                           const std::string& offsets, const std::string& scales,
                           const std::string& types, SampleDescription* out,
                           std::string* error) {
  // Only the last closing parenthesis ends the name list; names may hold
  // parentheses of their own. It acts as the last name's comma.
  std::string text = header;
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos) {
    *error = "header: no closing parenthesis";
    return false;
  }
  text[close] = ',';
  const std::size_t open = text.find('(');
  if (open == std::string::npos || open > close) {
    *error = "header: no opening parenthesis";
    return false;
  }

  // "N R F Object": three numbers, then the object name up to the parenthesis.
  std::istringstream lead(text.substr(0, open));
  std::string n, r, f;
  lead >> n >> r >> f;
  if (!ToInt(n, &out->columns) || !ToInt(r, &out->rows) || !ToInt(f, &out->objectFlag)) {
    *error = "header: the three leading numbers";
    return false;
  }
  std::string object;
  std::getline(lead, object);
  out->object = Trim(object);
  if (out->object.empty() || out->columns < 1) {
    *error = "header: no object name or no column";
    return false;
  }

  // "(N name, name, ..., name)": the count once more, then the names.
  const std::string inner = text.substr(open + 1);
  const std::size_t countStart = inner.find_first_not_of(' ');
  const std::size_t countEnd = inner.find(' ', countStart);
  int innerCount = 0;
  if (countStart == std::string::npos || countEnd == std::string::npos ||
      !ToInt(inner.substr(countStart, countEnd - countStart), &innerCount) ||
      innerCount != out->columns) {
    *error = "header: the count inside the parentheses differs";
    return false;
  }
  const std::size_t count = static_cast<std::size_t>(out->columns);
  if (!ReadNames(inner.substr(countEnd), ",", count, &out->names, error)) return false;

  std::vector<int> sizeList;
  if (!ReadInts(sizes, count + 1, &sizeList, "sizes", error)) return false;
  out->rowSize = sizeList[0];
  out->widths.assign(sizeList.begin() + 1, sizeList.end());
  if (!ReadInts(offsets, count, &out->offsets, "offsets", error)) return false;
  if (!ReadScales(scales, count, &out->scales, error)) return false;
  return ReadInts(types, count, &out->types, "types", error);
}

bool ReadFixedDataDescription(const std::string& header, const std::string& sizes,
                              const std::string& offsets, FixedDataDescription* out,
                              std::string* error) {
  const std::size_t countStart = header.find_first_not_of(' ');
  const std::size_t countEnd = header.find(' ', countStart);
  int count = 0;
  if (countStart == std::string::npos || countEnd == std::string::npos ||
      !ToInt(header.substr(countStart, countEnd - countStart), &count) || count < 1) {
    *error = "fixed header: no count";
    return false;
  }
  // The last name needs a separator too.
  std::string names = header.substr(countEnd);
  const std::string trimmed = Trim(names);
  if (trimmed.empty() || (trimmed.back() != ',' && trimmed.back() != ')')) names += ",";
  const std::size_t n = static_cast<std::size_t>(count);
  if (!ReadNames(names, ",)", n, &out->names, error)) return false;
  if (!ReadInts(sizes, n, &out->widths, "fixed widths", error)) return false;
  return ReadInts(offsets, n, &out->offsets, "fixed offsets", error);
}

}  // namespace osmtest
