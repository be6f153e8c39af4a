// Rendering of new-interface events and their message texts.
#include <cstring>
#include <vector>

#include "collectors/eventlog/evt_api.h"
#include "collectors/eventlog/kevent_log.h"
#include "framework/ras1.h"

namespace osm {
namespace evl {
namespace {

// The values rendered of every event, in this order. The record id is read
// for the restart bookmark.
const wchar_t* const kPaths[] = {
    L"Event/System/TimeCreated/@SystemTime", L"Event/System/EventID",       L"Event/System/Computer",
    L"Event/System/Security/@UserID",        L"Event/System/Provider/@Name", L"Event/System/Level",
    L"Event/System/EventRecordID"};
enum { kTime, kEventId, kComputer, kUser, kProvider, kLevel, kRecordId, kPathCount };

// One EvtFormatMessage text; the size it reports is in characters.
bool FormatText(EVT_HANDLE metadata, EVT_HANDLE event, DWORD flag, std::vector<wchar_t>* out) {
  RAS1_UNIT("RenderEvent::FormatText");
  const EvtEntryTable& api = EvtEntries();
  DWORD used = 0;
  if (api.formatMessage(metadata, event, 0, 0, nullptr, flag, 0, nullptr, &used)) {
    out->assign(1, 0);
    return true;
  }
  DWORD e = GetLastError();
  if (e == ERROR_INSUFFICIENT_BUFFER && used > 0 && used < 0x100000) {
    // One more character, forced to NUL: a keyword list ends with two.
    out->assign(static_cast<std::size_t>(used) + 1, 0);
    if (api.formatMessage(metadata, event, 0, 0, nullptr, flag, used, out->data(), &used)) {
      out->back() = 0;
      return true;
    }
    e = GetLastError();
  }
  if (e != 15027 && e != 15028 && e != ERROR_INSUFFICIENT_BUFFER)
    RAS1_TRACE(RAS1_ERROR, "EvtFormatMessage failed with %u\n", static_cast<unsigned>(e));
  return false;
}

void MessageTexts(EVT_HANDLE metadata, EVT_HANDLE event, FormattedEvent* e) {
  RAS1_UNIT("RenderEvent::MessageTexts");
  std::vector<wchar_t> text;
  if (FormatText(metadata, event, EvtFormatMessageEvent, &text))
    SetWide(e->description, kDescriptionWidth, text.data(), text.size());
  else
    RAS1_TRACE(RAS1_DETAIL, "Could not retrieve Description for this event");
  WText category = Widen("None");
  if (FormatText(metadata, event, EvtFormatMessageTask, &text) && text[0] != 0)
    category.assign(text.data(), WideLength(text.data(), kCategoryWidth));
  else
    RAS1_TRACE(RAS1_DETAIL, "Could not retrieve Category for this event");
  if (FormatText(metadata, event, EvtFormatMessageKeyword, &text) && text[0] != 0) {
    category = category == Widen("None") ? WText() : category + Widen(" - ");
    for (const wchar_t* k = text.data(); *k; k += wcslen(k) + 1) {
      if (k != text.data()) category.push_back(L' ');
      category += k;
    }
  }
  SetWide(e->category, kCategoryWidth, category);
}

}  // namespace

bool RenderEvent(EVT_HANDLE event, FormattedEvent* e, const EventLogRequest& request) {
  RAS1_UNIT("RenderEvent");
  const EvtEntryTable& api = EvtEntries();
  ClearEvent(e);
  SetNarrow(e->type, kTypeWidth, "None");
  SetWideAscii(e->category, kCategoryWidth, "None");
  SetWideAscii(e->description, kDescriptionWidth, "N/A");

  EVT_HANDLE context = api.createRenderContext(kPathCount, const_cast<LPCWSTR*>(kPaths), EvtRenderContextValues);
  if (context == nullptr) {
    RAS1_TRACE(RAS1_ERROR, "evtCreateRenderContext Api failure, lastError = %ld", static_cast<long>(GetLastError()));
    return false;
  }
  std::vector<BYTE> buffer(1024 * sizeof(wchar_t));
  DWORD used = 0, count = 0;
  BOOL ok = api.render(context, event, EvtRenderEventValues, static_cast<DWORD>(buffer.size()), buffer.data(), &used,
                       &count);
  if (!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER && used > buffer.size()) {
    buffer.resize(used);
    ok = api.render(context, event, EvtRenderEventValues, static_cast<DWORD>(buffer.size()), buffer.data(), &used,
                    &count);
  }
  if (!ok || count < kPathCount - 1) {
    if (!ok) RAS1_TRACE(RAS1_ERROR, "EvtRender Api failure lastError = %ld", static_cast<long>(GetLastError()));
    api.close(context);
    return false;
  }
  const EVT_VARIANT* v = reinterpret_cast<const EVT_VARIANT*>(buffer.data());
  bool hasRecordId = count > kRecordId && v[kRecordId].Type == EvtVarTypeUInt64;
  bool keep = true;

  if (v[kTime].Type == EvtVarTypeFileTime && v[kTime].FileTimeVal != 0) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(v[kTime].FileTimeVal);
    ft.dwHighDateTime = static_cast<DWORD>(v[kTime].FileTimeVal >> 32);
    StampFileTime(ft, e);
    e->timeWritten = static_cast<std::int64_t>(v[kTime].FileTimeVal / 10000000ull) - 11644473600ll;
    if (PlaceInWindow(e->timestamp, request.window) != WindowPlace::kInside) keep = false;
  } else {
    RAS1_TRACE(RAS1_DETAIL, "Could not retrieve TimeCreated for this event");
  }
  if (keep && hasRecordId) {
    e->recordNumber = v[kRecordId].UInt64Val;
    if (request.skipThrough != 0 && e->recordNumber <= request.skipThrough) keep = false;  // caught up already
  }
  if (!keep) {
    api.close(context);
    return false;
  }
  if (v[kEventId].Type == EvtVarTypeUInt16 && v[kEventId].UInt16Val != 0)
    e->eventId = v[kEventId].UInt16Val;
  else
    RAS1_TRACE(RAS1_DETAIL, "Could not retrieve EventId for this event");
  if (v[kComputer].Type == EvtVarTypeString && v[kComputer].StringVal)
    SetWide(e->computer, kComputerWidth, HostPart(v[kComputer].StringVal, wcslen(v[kComputer].StringVal)));
  else
    RAS1_TRACE(RAS1_DETAIL, "Could not retrieve Computer for this event");
  if (v[kUser].Type == EvtVarTypeSid && v[kUser].SidVal && IsValidSid(v[kUser].SidVal)) {
    WText name;
    if (AccountName(static_cast<const std::uint8_t*>(v[kUser].SidVal), GetLengthSid(v[kUser].SidVal), request.users,
                    false, &name))
      SetWide(e->user, kUserWidth, name);  // a longer name is cut to the field
    else
      RAS1_TRACE(RAS1_DETAIL, "Could not retrieve Security for this event - LookupAccountSid failed");
  } else {
    RAS1_TRACE(RAS1_DETAIL, "Could not retrieve Security for this event");
  }
  EVT_HANDLE metadata = nullptr;
  if (v[kProvider].Type == EvtVarTypeString && v[kProvider].StringVal) {
    SetWide(e->source, kSourceWidth - 1, v[kProvider].StringVal, wcslen(v[kProvider].StringVal));
    metadata = api.openPublisherMetadata(nullptr, v[kProvider].StringVal, nullptr, 0, 0);
    if (metadata == nullptr) RAS1_TRACE(RAS1_DETAIL, "Unable to get handle to Provider Metadata");
  } else {
    RAS1_TRACE(RAS1_DETAIL, "Could not retrieve Source for this event");
  }
  if (v[kLevel].Type == EvtVarTypeByte && v[kLevel].ByteVal != 0)
    SetNarrow(e->type, kTypeWidth, LevelTypeText(v[kLevel].ByteVal));
  else
    RAS1_TRACE(RAS1_DETAIL, "Could not retrieve Level for this event");
  if (metadata != nullptr) MessageTexts(metadata, event, e);
  FlattenWhitespace(e->description);
  api.close(context);
  if (metadata != nullptr) api.close(metadata);
  return CheckDuplicate(request.duplicates, request.threshold, e);
}

}  // namespace evl
}  // namespace osm
