#include "host/messages.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "framework/ras1.h"

bool LoadAgentString(UINT id, char* buffer, int size) {
  if (!buffer || size <= 0) return false;
  std::memset(buffer, 0, static_cast<std::size_t>(size));
  if (LoadStringA(GetModuleHandleA(nullptr), id, buffer, size) > 0) return true;
  buffer[0] = '\0';
  return false;
}

namespace {

// Writes formatted message text as lines. FormatMessage ends lines in CR LF,
// and the text-mode stream turns every LF into CR LF again: keep the LF only.
void PutLines(const char* text) {
  std::string lines;
  for (const char* p = text; *p; ++p) {
    if (p[0] == '\r' && p[1] == '\n') continue;
    lines.push_back(*p);
  }
  while (!lines.empty() && (lines.back() == '\n' || lines.back() == '\r')) lines.pop_back();
  std::fprintf(stdout, "%s\n", lines.c_str());
  std::fflush(stdout);
}

// Formats the message text with up to three inserts; every insert that the
// text can name (%1..%3) is supplied, so FormatMessage never reads past them.
void Print(UINT messageId, const char* insert2, const char* insert3) {
  RAS1_UNIT("Message");
  char prefix[16], text[512];
  LoadAgentString(5000, prefix, sizeof prefix);
  LoadAgentString(messageId, text, sizeof text);
  const char* inserts[3] = {prefix, insert2 ? insert2 : "", insert3 ? insert3 : ""};
  char out[1024];
  std::memset(out, 0, sizeof out);
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY, text, 0, 0, out,
                           sizeof out, reinterpret_cast<va_list*>(const_cast<char**>(inserts)));
  if (n == 0) {
    std::fprintf(stderr, "Format Message Result:%lu\n", static_cast<unsigned long>(GetLastError()));
    std::fflush(stderr);
  }
  PutLines(out);
  RAS1_TRACE(RAS1_DETAIL, "%s", out);
}

}  // namespace

void Message2(UINT messageId, UINT insert2Id, UINT insert3Id) {
  char insert2[64], insert3[64];
  LoadAgentString(insert2Id, insert2, sizeof insert2);
  LoadAgentString(insert3Id, insert3, sizeof insert3);
  Print(messageId, insert2, insert3);
}

void Message1S(UINT messageId, const char* insert2) { Print(messageId, insert2, nullptr); }

void Message0(UINT messageId) { Print(messageId, nullptr, nullptr); }

void MessageFromSystem(DWORD code) {
  RAS1_UNIT("MessageFromSystem");
  char out[1024];
  std::memset(out, 0, sizeof out);
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                           MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), out, sizeof out, nullptr);
  if (n == 0) {
    std::fprintf(stderr, "Format Message Result:%lu\n", static_cast<unsigned long>(GetLastError()));
    std::fflush(stderr);
  }
  if (n > 0) PutLines(out);
  RAS1_TRACE(RAS1_DETAIL, "MessageFromSystem: %s", out);
}
