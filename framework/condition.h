// Condition evaluation: one ATTRIBUTE OPERATOR VALUE term against a field.
//
// Operators carry the framework's numbers, which are also what a request's
// filter entries report in their func field:
//   1 EQ   2 NE   3 GE   4 LE   5 LT   6 GT
// Text fields compare byte for byte (as unsigned bytes) within the field's
// width; trailing blanks and NULs of the field and trailing blanks of the
// value are ignored, so "C:" equals a 64-byte field holding "C:" and padding.
// Integer fields compare as signed 64-bit numbers; the value text must be a
// decimal integer (optional sign), otherwise the term is never met.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cfw {

enum Operator : int {
  kOpEQ = 1,
  kOpNE = 2,
  kOpGE = 3,
  kOpLE = 4,
  kOpLT = 5,
  kOpGT = 6
};

// "EQ", "NE", "GE", "LE", "LT", "GT", or "illegal".
const char* OperatorName(int op);
// The operator for a word (any case), or 0.
int ParseOperator(const char* word);

// Strict decimal integer: optional '+' or '-', at least one digit, nothing
// else, within the 64-bit range. Returns false otherwise.
bool ParseInteger(const char* text, std::int64_t* value);

// True when the term "field op value" holds for the text field.
bool TextMeets(const char* field, std::size_t width, int op, const char* value);
// True when the term holds for the integer; false for an unknown operator or
// a value that is not an integer.
bool NumberMeets(std::int64_t field, int op, const char* value);

// Length of a text field without its trailing blanks and NULs.
std::size_t TrimmedLength(const char* field, std::size_t width);

}  // namespace cfw
