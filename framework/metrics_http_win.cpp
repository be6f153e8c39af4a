// The metrics endpoint on the HTTP Server API (http.sys): URL reservations
// and TLS bindings stay the administrator's, managed with netsh.
//
// A few worker threads share one request queue. Each receives and answers
// with overlapped calls and waits on the call and the stop event together, so
// a stop cancels a request in flight instead of waiting for a slow client.
#include "framework/metrics_endpoint.h"

#include <windows.h>
#include <http.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstring>
#include <thread>
#include <vector>

#include "framework/ras1.h"

namespace cfw {
namespace {

const int kWorkers = 2;
const ULONG kFirstBuffer = 16384;
const ULONG kMaxBuffer = 1 << 20;
const DWORD kSendLimitMs = 30000;  // a client that reads slower loses its answer
const int kInitAttempts = 20;      // right after system start the API may answer 1055

std::wstring Widen(const std::string& text) {
  int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], n);
  out.resize(static_cast<std::size_t>(n - 1));
  return out;
}

std::string Narrow(const wchar_t* text, int chars) {
  if (text == nullptr || chars <= 0) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, text, chars, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, chars, &out[0], n, nullptr, nullptr);
  return out;
}

std::string OpenProblem(ULONG rc, const std::string& url) {
  switch (rc) {
    case ERROR_ACCESS_DENIED:
      return "access is denied; reserve it for the agent's account: netsh http add urlacl url=" + url +
             " user=ACCOUNT";
    case ERROR_ALREADY_EXISTS:
    case ERROR_SHARING_VIOLATION:
      return "another program already serves it";
    case ERROR_INVALID_PARAMETER:
      return "it is not a valid URL prefix (http://HOST:PORT/ or https://HOST:PORT/PATH/)";
    default:
      return "error " + std::to_string(rc);
  }
}

// Finishes an overlapped call: waits for it, or cancels it when the stop
// event comes first or the limit passes, and returns its result.
ULONG Complete(HANDLE queue, OVERLAPPED* ov, HANDLE stop, DWORD limitMs, ULONG* bytes) {
  HANDLE handles[2] = {ov->hEvent, stop};
  if (WaitForMultipleObjects(2, handles, FALSE, limitMs) != WAIT_OBJECT_0) CancelIoEx(queue, ov);
  DWORD n = 0;
  if (!GetOverlappedResult(queue, ov, &n, TRUE)) return GetLastError();
  *bytes = n;
  return NO_ERROR;
}

}  // namespace

struct MetricsEndpoint::Impl {
  std::string url;
  std::wstring wideUrl;
  HttpHandler handler;
  HANDLE queue = nullptr;
  HANDLE stop = nullptr;
  bool initialized = false;
  bool added = false;
  std::vector<std::thread> workers;

  void Close() {
    if (added) HttpRemoveUrl(queue, wideUrl.c_str());
    if (queue) CloseHandle(queue);
    if (initialized) HttpTerminate(HTTP_INITIALIZE_SERVER, nullptr);
    if (stop) CloseHandle(stop);
    added = initialized = false;
    queue = stop = nullptr;
  }

  // The next request into *buffer; NO_ERROR or why there is none.
  ULONG Receive(std::vector<char>* buffer, HANDLE event) {
    HTTP_REQUEST_ID id = HTTP_NULL_ID;
    for (;;) {
      OVERLAPPED ov = {};
      ov.hEvent = event;
      ResetEvent(event);
      PHTTP_REQUEST request = reinterpret_cast<PHTTP_REQUEST>(buffer->data());
      ULONG bytes = 0;
      ULONG rc = HttpReceiveHttpRequest(queue, id, 0, request, static_cast<ULONG>(buffer->size()), nullptr, &ov);
      if (rc == ERROR_IO_PENDING || rc == NO_ERROR || rc == ERROR_MORE_DATA) {
        rc = Complete(queue, &ov, stop, INFINITE, &bytes);
      }
      if (rc != ERROR_MORE_DATA) return rc;
      // Headers larger than the buffer: the same request again, with room.
      ULONG size = bytes > buffer->size() ? bytes : static_cast<ULONG>(buffer->size()) * 2;
      if (size > kMaxBuffer) return rc;
      id = request->RequestId;
      buffer->resize(size);
    }
  }

  ULONG Send(HTTP_REQUEST_ID id, const HttpAnswer& answer, HANDLE event) {
    HTTP_RESPONSE response = {};
    response.StatusCode = static_cast<USHORT>(answer.status);
    response.pReason = answer.reason;
    response.ReasonLength = static_cast<USHORT>(std::strlen(answer.reason));
    HTTP_KNOWN_HEADER* h = response.Headers.KnownHeaders;
    h[HttpHeaderContentType].pRawValue = answer.contentType.c_str();
    h[HttpHeaderContentType].RawValueLength = static_cast<USHORT>(answer.contentType.size());
    const char kAllow[] = "GET, HEAD";
    if (answer.status == 405) {
      h[HttpHeaderAllow].pRawValue = kAllow;
      h[HttpHeaderAllow].RawValueLength = sizeof kAllow - 1;
    }
    std::string length = std::to_string(answer.body.size());
    HTTP_DATA_CHUNK chunk = {};
    if (answer.sendBody) {
      chunk.DataChunkType = HttpDataChunkFromMemory;
      chunk.FromMemory.pBuffer = const_cast<char*>(answer.body.data());
      chunk.FromMemory.BufferLength = static_cast<ULONG>(answer.body.size());
      response.EntityChunkCount = answer.body.empty() ? 0 : 1;
      response.pEntityChunks = &chunk;
    } else {
      // HEAD: the length the body would have, and no body.
      h[HttpHeaderContentLength].pRawValue = length.c_str();
      h[HttpHeaderContentLength].RawValueLength = static_cast<USHORT>(length.size());
    }
    OVERLAPPED ov = {};
    ov.hEvent = event;
    ResetEvent(event);
    ULONG rc = HttpSendHttpResponse(queue, id, 0, &response, nullptr, nullptr, nullptr, 0, &ov, nullptr);
    ULONG bytes = 0;
    if (rc == ERROR_IO_PENDING || rc == NO_ERROR) rc = Complete(queue, &ov, stop, kSendLimitMs, &bytes);
    return rc;
  }

  void Serve() {
    RAS1_UNIT("cfw::MetricsEndpoint::Serve");
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) return;
    std::vector<char> buffer(kFirstBuffer);
    while (WaitForSingleObject(stop, 0) == WAIT_TIMEOUT) {
      ULONG rc = Receive(&buffer, event);
      if (rc != NO_ERROR) {
        if (WaitForSingleObject(stop, 0) == WAIT_OBJECT_0) break;
        RAS1_TRACE(RAS1_ERROR, "Receiving a request on %s failed with error %lu", url.c_str(),
                   static_cast<unsigned long>(rc));
        WaitForSingleObject(stop, 1000);  // a failing queue must not spin
        continue;
      }
      const HTTP_REQUEST* request = reinterpret_cast<const HTTP_REQUEST*>(buffer.data());
      HttpQuery query;
      query.method = request->Verb == HttpVerbGET ? "GET" : request->Verb == HttpVerbHEAD ? "HEAD" : "OTHER";
      query.path = RelativePath(url, Narrow(request->CookedUrl.pAbsPath, request->CookedUrl.AbsPathLength / 2));
      const HTTP_KNOWN_HEADER& accept = request->Headers.KnownHeaders[HttpHeaderAccept];
      if (accept.pRawValue) query.accept.assign(accept.pRawValue, accept.RawValueLength);
      HttpAnswer answer;
      try {
        answer = handler(query);
      } catch (...) {
        answer = HttpAnswer();
        answer.status = 500;
        answer.reason = "Internal Server Error";
        answer.contentType = "text/plain";
      }
      RAS1_TRACE(RAS1_DETAIL, "%s %s: %d, %u bytes", query.method.c_str(), query.path.c_str(), answer.status,
                 static_cast<unsigned>(answer.body.size()));
      rc = Send(request->RequestId, answer, event);
      if (rc != NO_ERROR && WaitForSingleObject(stop, 0) == WAIT_TIMEOUT) {
        RAS1_TRACE(RAS1_FLOW, "Answering %s failed with error %lu", query.path.c_str(), static_cast<unsigned long>(rc));
      }
    }
    CloseHandle(event);
  }
};

MetricsEndpoint::MetricsEndpoint() : impl_(new Impl()) {}

MetricsEndpoint::~MetricsEndpoint() { Stop(); }

bool MetricsEndpoint::Start(const std::string& url, HttpHandler handler, std::string* error) {
  Stop();
  Impl& m = *impl_;
  m.url = url;
  m.wideUrl = Widen(url);
  m.handler = std::move(handler);
  ULONG rc = 0;
  for (int attempt = 1;; ++attempt) {
    rc = HttpInitialize(HTTPAPI_VERSION_1, HTTP_INITIALIZE_SERVER, nullptr);
    if (rc != ERROR_SERVICE_DATABASE_LOCKED || attempt == kInitAttempts) break;
    Sleep(250);
  }
  if (rc != NO_ERROR) {
    *error = "the HTTP Server API cannot be started (error " + std::to_string(rc) + ")";
    return false;
  }
  m.initialized = true;
  rc = HttpCreateHttpHandle(&m.queue, 0);
  if (rc == NO_ERROR) {
    rc = HttpAddUrl(m.queue, m.wideUrl.c_str(), nullptr);
    m.added = rc == NO_ERROR;
    if (rc != NO_ERROR) *error = "the URL " + url + " cannot be served: " + OpenProblem(rc, url);
  } else {
    m.queue = nullptr;
    *error = "no HTTP request queue (error " + std::to_string(rc) + ")";
  }
  if (rc == NO_ERROR) {
    m.stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (m.stop == nullptr) *error = "no stop event (error " + std::to_string(GetLastError()) + ")";
  }
  if (m.stop == nullptr) {
    m.Close();
    return false;
  }
  for (int i = 0; i < kWorkers; ++i) m.workers.emplace_back([&m] { m.Serve(); });
  return true;
}

void MetricsEndpoint::Stop() {
  Impl& m = *impl_;
  if (m.stop) SetEvent(m.stop);
  for (std::thread& t : m.workers) t.join();
  m.workers.clear();
  m.Close();
}

void ReadProcessFacts(AgentFacts* facts) {
  FILETIME created, exited, kernel, user;
  auto ticks = [](const FILETIME& t) {
    return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
  };
  if (GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
    facts->startTime = (ticks(created) - 116444736000000000.0) / 1e7;  // 1601 to 1970 in 100 ns
    facts->cpuSeconds = (ticks(kernel) + ticks(user)) / 1e7;
  }
  PROCESS_MEMORY_COUNTERS memory = {};
  if (GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory)) {
    facts->residentBytes = static_cast<double>(memory.WorkingSetSize);
  }
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  DWORD self = GetCurrentProcessId();
  for (BOOL ok = Process32First(snap, &entry); ok; ok = Process32Next(snap, &entry)) {
    if (entry.th32ProcessID == self) {
      facts->threads = entry.cntThreads;
      break;
    }
  }
  CloseHandle(snap);
}

}  // namespace cfw
