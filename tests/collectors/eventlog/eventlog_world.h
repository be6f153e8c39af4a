// What the event log tests share: the agent run through the framework, its
// rows, the injected logs and a stand-in for the new event log interface.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "collectors/eventlog/classic_source.h"
#include "tests/collectors/eventlog/evt_writer.h"

namespace evtest {

// A JSON Lines row, read by attribute.
struct Row {
  std::string line;
  long long Int(const std::string& name) const;
  std::string Text(const std::string& name) const;
};

void SetEnv(const char* name, const char* value);  // null removes it
std::string TempPath(const std::string& name);     // in the test's folder
std::string WindowsPath(const std::string& linuxPath);

// cfwmain on a thread of its own over a requests file, with NTEVTLOG and
// NTLOGINFO registered. The rows land in a fresh output file.
class AgentRun {
 public:
  explicit AgentRun(const std::string& requests, bool exitWhenDone = false);
  ~AgentRun();
  void Stop();  // shut-down (unless it ends by itself), then wait for cfwmain
  std::vector<Row> Rows(const std::string& request) const;
  // Waits (at most 30 s) until the request has at least count rows.
  bool WaitRows(const std::string& request, std::size_t count) const;
  bool Answered(const std::string& request) const;

 private:
  bool exitWhenDone_;
  std::string output_;
  std::thread thread_;
};

bool WaitUntil(const std::function<bool()>& condition, int milliseconds = 30000);

// A record of the test log at the current time.
evtw::Event Event(std::uint32_t number, std::uint32_t eventId, std::uint16_t type = 4);

// An injected log: a record store installed for the log name, removed again
// when the object goes.
class InjectedLog {
 public:
  explicit InjectedLog(const char* logName);
  ~InjectedLog();
  osm::evl::RecordStore& Store() { return *store_; }
  void Append(const evtw::Event& e) { store_->Append(evtw::Record(e)); }

 private:
  std::string name_;
  std::shared_ptr<osm::evl::RecordStore> store_;
};

// The new interface served from memory: events appended here reach a
// subscription (signalled) and queries (newest first). Installing it starts
// an empty log.
struct FakeEvent {
  std::uint64_t fileTime = 0;
  std::uint16_t eventId = 0;
  std::wstring computer, provider, description, task;
  std::vector<std::wstring> keywords;
  std::vector<BYTE> sid;
  BYTE level = 0;
  std::uint64_t recordId = 0;
};
void InstallFakeEvtInterface();
void RemoveFakeEvtInterface();
void AppendFakeEvent(const FakeEvent& e);

}  // namespace evtest

namespace evtest {
// True once a subscription of the fake interface waits for events.
bool FakeSubscribed();
}  // namespace evtest
