// Condition evaluation for text and integer fields.
#include "framework/condition.h"

#include <cctype>
#include <cstring>

namespace cfw {
namespace {

const char* const kNames[] = {"illegal", "EQ", "NE", "GE", "LE", "LT", "GT"};

bool Holds(int cmp, int op) {
  switch (op) {
    case kOpEQ: return cmp == 0;
    case kOpNE: return cmp != 0;
    case kOpGE: return cmp >= 0;
    case kOpLE: return cmp <= 0;
    case kOpLT: return cmp < 0;
    case kOpGT: return cmp > 0;
    default: return false;
  }
}

}  // namespace

const char* OperatorName(int op) {
  return op >= kOpEQ && op <= kOpGT ? kNames[op] : kNames[0];
}

int ParseOperator(const char* word) {
  if (word == nullptr || std::strlen(word) != 2) return 0;
  char up[3] = {static_cast<char>(std::toupper(static_cast<unsigned char>(word[0]))),
                static_cast<char>(std::toupper(static_cast<unsigned char>(word[1]))), 0};
  for (int op = kOpEQ; op <= kOpGT; ++op) {
    if (std::strcmp(up, kNames[op]) == 0) return op;
  }
  return 0;
}

bool ParseInteger(const char* text, std::int64_t* value) {
  if (text == nullptr) return false;
  const char* p = text;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (*p == '\0') return false;
  // Accumulate as a negative number so that INT64_MIN fits.
  std::int64_t acc = 0;
  const std::int64_t kMin = INT64_MIN;
  for (; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    int digit = *p - '0';
    if (acc < (kMin + digit) / 10) return false;
    acc = acc * 10 - digit;
  }
  if (!negative) {
    if (acc == kMin) return false;
    acc = -acc;
  }
  if (value) *value = acc;
  return true;
}

std::size_t TrimmedLength(const char* field, std::size_t width) {
  while (width > 0 && (field[width - 1] == ' ' || field[width - 1] == '\0')) --width;
  return width;
}

bool TextMeets(const char* field, std::size_t width, int op, const char* value) {
  if (field == nullptr || value == nullptr) return false;
  std::size_t fieldLength = TrimmedLength(field, width);
  std::size_t valueLength = std::strlen(value);
  while (valueLength > 0 && value[valueLength - 1] == ' ') --valueLength;
  std::size_t common = fieldLength < valueLength ? fieldLength : valueLength;
  int cmp = common ? std::memcmp(field, value, common) : 0;
  if (cmp == 0) cmp = fieldLength < valueLength ? -1 : (fieldLength > valueLength ? 1 : 0);
  return Holds(cmp, op);
}

bool NumberMeets(std::int64_t field, int op, const char* value) {
  std::int64_t number = 0;
  if (!ParseInteger(value, &number)) return false;
  return Holds(field < number ? -1 : (field > number ? 1 : 0), op);
}

}  // namespace cfw
