// Code-set translation between the numeric code sets the agent uses.
#pragma once

#include <cstddef>

enum : int {
  NLS2_CS_ASCII = 367,     // US-ASCII
  NLS2_CS_UTF8 = 1208,     // UTF-8
  NLS2_CS_UTF16LE = 57359  // UTF-16, little-endian
};

enum : int {
  NLS2_OK = 0,
  NLS2_TRUNCATED = 1,        // the output limit cut the text (what fits is written)
  NLS2_BAD_CODESET = 2,      // a code set other than the three above
  NLS2_BAD_ARGUMENT = 3      // null pointers where bytes were expected
};

// Translates sourceLength bytes of text in sourceCodeSet into target, in
// targetCodeSet, writing at most targetLimit bytes and no terminator.
//  - Characters that ASCII cannot hold become '?'.
//  - Invalid input sequences become U+FFFD (or '?' in ASCII); input is never
//    read past sourceLength.
//  - The output never ends in a cut multi-byte sequence or surrogate pair.
// *written (optional) receives the number of bytes written. diagnostics
// (optional, 256 bytes) receives a one-line text when the result is not NLS2_OK.
int NLS2_TranslateString(int sourceCodeSet, const void* source, std::size_t sourceLength,
                         int targetCodeSet, void* target, std::size_t targetLimit,
                         std::size_t* written, char* diagnostics);
