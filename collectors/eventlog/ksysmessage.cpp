#include "collectors/eventlog/ksysmessage.h"

#include <new>

#include "framework/ras1.h"

namespace osm {
namespace evl {

KSysMessage::~KSysMessage() { Release(); }

void KSysMessage::Release() {
  if (text_ != nullptr && LocalFree(text_) != nullptr) throw std::bad_alloc();
  text_ = nullptr;
}

const wchar_t* KSysMessage::Format(DWORD code, DWORD language) {
  RAS1_UNIT("KSysMessage::Format");
  Release();
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
                           nullptr, code, language, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (n == 0 || text == nullptr) {
    DWORD e = GetLastError();
    RAS1_TRACE(RAS1_ERROR,
               "Error!:\tFormatMessage() unable to format message for error code %d  (%#.8x)\tGetLastError() "
               "returned: %d  (%#.8x)",
               static_cast<int>(code), static_cast<unsigned>(code), static_cast<int>(e), static_cast<unsigned>(e));
    return nullptr;
  }
  while (n > 0 && (text[n - 1] == L'\r' || text[n - 1] == L'\n' || text[n - 1] == L' ')) text[--n] = 0;
  text_ = text;
  return text_;
}

std::string KSysMessage::Narrow(DWORD code) {
  const wchar_t* w = Format(code);
  std::string s;
  for (; w && *w; ++w) s.push_back(*w < 0x80 ? static_cast<char>(*w) : '?');
  return s;
}

}  // namespace evl
}  // namespace osm
