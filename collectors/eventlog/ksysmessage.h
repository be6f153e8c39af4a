// KSysMessage: the system's text for an error code, for traces and
// exception texts. Holds the text it produced last.
#pragma once

#include <windows.h>

#include <string>

namespace osm {
namespace evl {

class KSysMessage {
 public:
  KSysMessage() = default;
  virtual ~KSysMessage();
  KSysMessage(const KSysMessage&) = delete;
  KSysMessage& operator=(const KSysMessage&) = delete;
  // The text of code (trailing line breaks removed), or null.
  const wchar_t* Format(DWORD code, DWORD language = 1024);
  // The same as narrow text ("" when none).
  std::string Narrow(DWORD code);

 private:
  void Release();
  wchar_t* text_ = nullptr;
};

}  // namespace evl
}  // namespace osm
