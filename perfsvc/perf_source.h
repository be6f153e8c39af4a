// Where performance data and counter names come from.
//
// CPerfSnap, CPerfName and the first object index list never talk to the
// platform directly: they ask an IPerfDataSource. Production uses the
// registry source (HKEY_PERFORMANCE_DATA, the Perflib keys and
// HKEY_PERFORMANCE_TEXT, Windows only); OSM_PERFDATA_FILE selects the file
// source, which replays a recorded block. Other sources (for example one that
// assembles blocks from platform APIs) implement the same four queries.
//
// Every query returns 0 on success or a Win32-style error code; on failure
// *stage tells which step failed so the caller can report it in its own words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace osmperf {

// Win32 error codes the sources and their callers use.
enum : long {
  kErrorSuccess = 0,
  kErrorFileNotFound = 2,
  kErrorNotEnoughMemory = 8,
  kErrorBadFormat = 11,
  kErrorInvalidData = 13,
  kErrorNotSupported = 50,
  kErrorMoreData = 234
};

// The step of a name or data query that failed.
enum class PerfSourceStage {
  None,
  Connect,          // reaching the (remote) registry
  OpenPerflib,      // opening the Perflib key
  LastCounter,      // reading "Last Counter"
  LastHelp,         // reading "Last Help"
  ConnectPerfData,  // reaching HKEY_PERFORMANCE_DATA of the computer
  ReadCounterNames, // reading the 009 "Counter" value through performance data
  Open009,          // opening Perflib\009
  Info009,          // sizing Perflib\009
  ReadCounterText,  // reading "Counter" through HKEY_PERFORMANCE_TEXT
  OutOfMemory,
  QueryData         // the performance data query itself
};

class IPerfDataSource {
 public:
  virtual ~IPerfDataSource() = default;

  // A short name for messages ("registry", "file").
  virtual const char* Name() const = 0;

  // Perflib "Last Counter" and "Last Help".
  virtual long QueryLastIndexes(std::uint32_t* lastCounter, std::uint32_t* lastHelp,
                                PerfSourceStage* stage) = 0;

  // The 009 counter names as a UTF-16 multi-string of pairs "index", "name",
  // ended by an empty string (what "Counter 009" of HKEY_PERFORMANCE_DATA gives).
  virtual long QueryCounterNames(std::u16string* multiString, PerfSourceStage* stage) = 0;

  // The same pairs in the ANSI code page (what "Counter" of
  // HKEY_PERFORMANCE_TEXT gives), ended by an empty string.
  virtual long QueryCounterText(std::string* multiString, PerfSourceStage* stage) = 0;

  // One performance data query. request is the value name: object indexes
  // separated by blanks, optionally followed by "Costly", or "Global".
  // On entry *size is the capacity of buffer; on success it receives the
  // bytes written. kErrorMoreData means the buffer is too small; *size then
  // holds the bytes needed when the source knows them, else 0.
  virtual long QueryData(const char* request, std::uint8_t* buffer, std::uint32_t* size) = 0;

  // The system's text for an error code, or "" when there is none.
  virtual std::string ErrorText(long code) const { (void)code; return std::string(); }
};

}  // namespace osmperf
