#include "framework/nlsxlat.h"

#include <cstdio>
#include <cstdint>

namespace {

const char32_t kReplacement = 0xFFFD;

// Decodes one character at *pos; always advances by at least one unit.
char32_t Decode(int codeSet, const unsigned char* s, std::size_t n, std::size_t* pos) {
  std::size_t i = *pos;
  if (codeSet == NLS2_CS_ASCII) {
    *pos = i + 1;
    return s[i] < 0x80 ? s[i] : kReplacement;
  }
  if (codeSet == NLS2_CS_UTF16LE) {
    if (i + 1 >= n) {  // odd trailing byte
      *pos = n;
      return kReplacement;
    }
    char32_t u = static_cast<char32_t>(s[i] | (s[i + 1] << 8));
    *pos = i + 2;
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 3 < n) {
        char32_t l = static_cast<char32_t>(s[i + 2] | (s[i + 3] << 8));
        if (l >= 0xDC00 && l <= 0xDFFF) {
          *pos = i + 4;
          return 0x10000 + ((u - 0xD800) << 10) + (l - 0xDC00);
        }
      }
      return kReplacement;
    }
    if (u >= 0xDC00 && u <= 0xDFFF) return kReplacement;
    return u;
  }
  // UTF-8, strict: no overlong forms, no surrogates, nothing above U+10FFFF.
  unsigned char b = s[i];
  *pos = i + 1;
  if (b < 0x80) return b;
  std::size_t extra;
  char32_t cp;
  char32_t min;
  if (b >= 0xC2 && b <= 0xDF) {
    extra = 1; cp = b & 0x1F; min = 0x80;
  } else if (b >= 0xE0 && b <= 0xEF) {
    extra = 2; cp = b & 0x0F; min = 0x800;
  } else if (b >= 0xF0 && b <= 0xF4) {
    extra = 3; cp = b & 0x07; min = 0x10000;
  } else {
    return kReplacement;
  }
  for (std::size_t k = 1; k <= extra; ++k) {
    if (i + k >= n || (s[i + k] & 0xC0) != 0x80) {
      *pos = i + k;  // resume at the byte that broke the sequence
      return kReplacement;
    }
    cp = (cp << 6) | (s[i + k] & 0x3F);
  }
  *pos = i + 1 + extra;
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kReplacement;
  return cp;
}

// Encodes one character; returns its length, 0 when it does not fit in room.
std::size_t Encode(int codeSet, char32_t cp, unsigned char* out, std::size_t room) {
  if (codeSet == NLS2_CS_ASCII) {
    if (room < 1) return 0;
    out[0] = cp < 0x80 ? static_cast<unsigned char>(cp) : '?';
    return 1;
  }
  if (codeSet == NLS2_CS_UTF16LE) {
    if (cp < 0x10000) {
      if (room < 2) return 0;
      out[0] = static_cast<unsigned char>(cp & 0xFF);
      out[1] = static_cast<unsigned char>(cp >> 8);
      return 2;
    }
    if (room < 4) return 0;
    char32_t v = cp - 0x10000;
    char32_t hi = 0xD800 + (v >> 10), lo = 0xDC00 + (v & 0x3FF);
    out[0] = static_cast<unsigned char>(hi & 0xFF);
    out[1] = static_cast<unsigned char>(hi >> 8);
    out[2] = static_cast<unsigned char>(lo & 0xFF);
    out[3] = static_cast<unsigned char>(lo >> 8);
    return 4;
  }
  if (cp < 0x80) {
    if (room < 1) return 0;
    out[0] = static_cast<unsigned char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    if (room < 2) return 0;
    out[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
    out[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    if (room < 3) return 0;
    out[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
    out[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    return 3;
  }
  if (room < 4) return 0;
  out[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
  out[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
  return 4;
}

bool Known(int codeSet) {
  return codeSet == NLS2_CS_ASCII || codeSet == NLS2_CS_UTF8 || codeSet == NLS2_CS_UTF16LE;
}

void Say(char* diagnostics, const char* text, int a, int b) {
  if (diagnostics) std::snprintf(diagnostics, 256, text, a, b);
}

}  // namespace

int NLS2_TranslateString(int sourceCodeSet, const void* source, std::size_t sourceLength,
                         int targetCodeSet, void* target, std::size_t targetLimit,
                         std::size_t* written, char* diagnostics) {
  if (written) *written = 0;
  if (!Known(sourceCodeSet) || !Known(targetCodeSet)) {
    Say(diagnostics, "NLS2: unsupported code set %d -> %d", sourceCodeSet, targetCodeSet);
    return NLS2_BAD_CODESET;
  }
  if ((!source && sourceLength) || (!target && targetLimit)) {
    Say(diagnostics, "NLS2: null buffer (%d, %d)", source ? 1 : 0, target ? 1 : 0);
    return NLS2_BAD_ARGUMENT;
  }
  const unsigned char* in = static_cast<const unsigned char*>(source);
  unsigned char* out = static_cast<unsigned char*>(target);
  std::size_t pos = 0, used = 0;
  while (pos < sourceLength) {
    char32_t cp = Decode(sourceCodeSet, in, sourceLength, &pos);
    std::size_t n = Encode(targetCodeSet, cp, out + used, targetLimit - used);
    if (n == 0) {
      if (written) *written = used;
      Say(diagnostics, "NLS2: output limit of %d bytes reached at input byte %d",
          static_cast<int>(targetLimit), static_cast<int>(pos));
      return NLS2_TRUNCATED;
    }
    used += n;
  }
  if (written) *written = used;
  return NLS2_OK;
}
