#include "perfclient/osmclient.h"
#include "perfclient/kount_test_base.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// An in-memory counter service: one sample whose rows the test sets, every
// row filled with the byte of the current generation.
class FakeKount : public KountTestBase {
 public:
  HRESULT describeResult = S_OK;
  OSMSAMPLE handleToGive = 0x51;
  HRESULT fixedResult = S_OK;
  std::string fixedName, fixedData;
  UINT rowSize = 8;
  std::atomic<UINT> rows{0};
  std::atomic<int> generation{1};
  std::atomic<int> lockedDataCalls{0}, lockCalls{0}, unlockCalls{0};
  std::mutex sampleLock;

  HRESULT STDMETHODCALLTYPE DescribeSampleI(UINT, UINT, UINT, UINT, UINT, UINT, OSMSAMPLE* s) override {
    *s = handleToGive;
    return describeResult;
  }
  HRESULT STDMETHODCALLTYPE DescribeSampleFixedData(OSMSAMPLE, LPCSTR name, const void* data, UINT length) override {
    fixedName = name;
    fixedData.assign(static_cast<const char*>(data), length);
    return fixedResult;
  }
  HRESULT STDMETHODCALLTYPE SampleLock(OSMSAMPLE, int op) override {
    if (op == OSMKOUNT_LOCK) {
      sampleLock.lock();
      ++lockCalls;
    } else {
      sampleLock.unlock();
      ++unlockCalls;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SampleRows(OSMSAMPLE, UINT* r) override {
    *r = rows;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SampleData(OSMSAMPLE, int size, UINT* needed, void* buffer) override {
    *needed = rows * rowSize;
    if (*needed == 0) return S_OK;
    if (static_cast<UINT>(size) < *needed) return E_OUTOFMEMORY;
    std::memset(buffer, generation.load() & 0xFF, *needed);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SampleLockedData(OSMSAMPLE s, int size, UINT* needed, void* buffer) override {
    ++lockedDataCalls;
    std::lock_guard<std::mutex> guard(sampleLock);
    return SampleData(s, size, needed, buffer);
  }
};

class ClientTest : public ::testing::Test {
 protected:
  void SetUp() override { g_osmKount = &fake_; }
  void TearDown() override { g_osmKount = nullptr; }
  // A record set up as table start-up sets it: mutex, row size, capacity.
  void Prepare(OsmSampleBfr& record, const char* table, UINT capacity) {
    ASSERT_TRUE(record.CreateMutex(table));
    record.nRowSize = fake_.rowSize;
    record.Resize(static_cast<long long>(capacity) * fake_.rowSize);
  }
  FakeKount fake_;
};

TEST(SampleBuffer, ResizeRoundsUpToWholeRowsAndEmptiesOnZero) {
  OsmSampleBfr record;
  record.nRowSize = 100;
  record.Resize(250);
  EXPECT_EQ(3u, record.nRowsInBuffer);
  EXPECT_EQ(300u, record.nBufferSize);
  ASSERT_NE(nullptr, record.pBuffer);
  EXPECT_EQ(0, record.pBuffer[299]);
  record.Resize(0);
  EXPECT_EQ(nullptr, record.pBuffer);
  EXPECT_EQ(0u, record.nBufferSize);
  // With no row size yet, the first size becomes the row size.
  record.Resize(552);
  EXPECT_EQ(552u, record.nRowSize);
  EXPECT_EQ(1u, record.nRowsInBuffer);
}

TEST(SampleBuffer, MutexIsNamedPerProcessAndTable) {
  OsmSampleBfr first, second;
  EXPECT_FALSE(first.Lock());  // no mutex yet
  ASSERT_TRUE(first.CreateMutex("OSM.NTPAGEFILE"));
  char name[128];
  std::snprintf(name, sizeof name, "%08lX.OSM.NTPAGEFILE.OsmSampleBfr",
                static_cast<unsigned long>(GetCurrentProcessId()));
  HANDLE same = OpenMutexA(SYNCHRONIZE, FALSE, name);
  EXPECT_NE(nullptr, same);
  if (same) CloseHandle(same);
  EXPECT_FALSE(second.CreateMutex("OSM.NTPAGEFILE"));  // already exists
  EXPECT_TRUE(first.Lock());
  EXPECT_TRUE(first.Lock());  // the owner may lock again
  first.Unlock();
  first.Unlock();
}

TEST_F(ClientTest, StartInterfaceOutcomes) {
  OsmSampleBfr record;
  Prepare(record, "OSM.START", 2);
  const char origin[] = "Primary:HOST1:NT                                                ";
  OsmStartInterface(&record, 400, 240, "_ORIGIN_", origin, 64, 1);
  EXPECT_EQ(1, record.bCtrObject);
  EXPECT_EQ(fake_.handleToGive, record.hSample);
  EXPECT_STREQ("Primary:HOST1:NT", record.szSysName);
  EXPECT_EQ("_ORIGIN_", fake_.fixedName);
  EXPECT_EQ(64u, fake_.fixedData.size());
  EXPECT_NE(nullptr, record.pBuffer);

  // The object is absent on this computer: a handle, but no buffer.
  OsmSampleBfr absent;
  Prepare(absent, "OSM.ABSENT", 2);
  fake_.describeResult = E_ACCESSDENIED;
  OsmStartInterface(&absent, 400, 240, "_ORIGIN_", origin, 64, 1);
  EXPECT_EQ(0, absent.bCtrObject);
  EXPECT_EQ(fake_.handleToGive, absent.hSample);
  EXPECT_EQ(nullptr, absent.pBuffer);
  EXPECT_EQ(E_ACCESSDENIED, OsmKountInterface(&absent));

  OsmSampleBfr failed;
  Prepare(failed, "OSM.FAILED", 2);
  fake_.describeResult = E_FAIL;
  OsmStartInterface(&failed, 400, 240, "_ORIGIN_", origin, 64, 1);
  EXPECT_EQ(0, failed.bCtrObject);
  EXPECT_EQ(0u, failed.hSample);
  EXPECT_EQ(nullptr, failed.pBuffer);

  // A system name as long as the field still ends.
  OsmSampleBfr longName;
  Prepare(longName, "OSM.LONG", 1);
  fake_.describeResult = S_OK;
  std::string wide(80, 'w');
  OsmStartInterface(&longName, 400, 240, "_ORIGIN_", wide.data(), 80, 1);
  EXPECT_EQ(64u, std::strlen(longName.szSysName));

  g_osmKount = nullptr;
  OsmSampleBfr none;
  Prepare(none, "OSM.NONE", 2);
  OsmStartInterface(&none, 400, 240, "_ORIGIN_", origin, 64, 1);
  EXPECT_EQ(0, none.bCtrObject);
  EXPECT_EQ(nullptr, none.pBuffer);
}

TEST_F(ClientTest, CopyGrowsTheBufferWhenTheSampleGrows) {
  OsmSampleBfr record;
  Prepare(record, "OSM.GROW", 20);
  OsmStartInterface(&record, 430, 243, "_ORIGIN_", "HOST ", 5, 1);
  fake_.rows = 20;
  ASSERT_EQ(S_OK, OsmKountInterface(&record));
  EXPECT_EQ(160u, record.nBufferUsed);
  EXPECT_EQ(1, fake_.lockedDataCalls.load());
  EXPECT_EQ(0, fake_.lockCalls.load());

  fake_.rows = 35;
  fake_.generation = 2;
  ASSERT_EQ(S_OK, OsmKountInterface(&record));
  EXPECT_EQ(35u, record.nRowsUsed);
  EXPECT_EQ(280u, record.nBufferUsed);
  EXPECT_EQ(2, record.pBuffer[279]);
  EXPECT_EQ(1, fake_.lockCalls.load());  // the slow path ran once, locked and unlocked
  EXPECT_EQ(1, fake_.unlockCalls.load());

  fake_.rows = 0;
  EXPECT_EQ(S_OK, OsmKountInterface(&record));
  EXPECT_EQ(0u, record.nRowsUsed);
}

TEST_F(ClientTest, ConcurrentCopiesNeverExposeAFreedOrTornBuffer) {
  OsmSampleBfr record;
  Prepare(record, "OSM.RACE", 1);
  OsmStartInterface(&record, 430, 243, "_ORIGIN_", "HOST ", 5, 1);
  std::atomic<bool> stop{false};
  std::atomic<int> torn{0}, reads{0};
  // The sample keeps growing and shrinking until the readers have made enough
  // copies (bounded, so a stuck reader cannot hang the test).
  std::thread grower([&] {
    for (int i = 0; i < 5000000 && reads < 300; ++i) {
      fake_.rows = 1 + (i * 7) % 50;
      fake_.generation = i;
      std::this_thread::yield();
    }
    stop = true;
  });
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t) {
    readers.emplace_back([&] {
      while (!stop) {
        OsmSampleBfrLock lock(record);
        if (!lock.owns()) continue;
        if (OsmKountInterface(&record) != S_OK) continue;
        // Every byte of every row comes from one copy.
        const BYTE* p = record.pBuffer;
        for (UINT i = 1; i < record.nBufferUsed; ++i)
          if (p[i] != p[0]) {
            ++torn;
            break;
          }
        ++reads;
      }
    });
  }
  grower.join();
  for (auto& r : readers) r.join();
  EXPECT_EQ(0, torn.load());
  EXPECT_GE(reads.load(), 300);
}

TEST(SampleBuffer, DumpLabelsEveryField) {
  OsmSampleBfr record;
  std::strcpy(record.szTblName, "OSM.WTMEMORY");
  char path[MAX_PATH];
  GetTempPathA(MAX_PATH, path);
  std::string file = std::string(path) + "osmclient_dump.txt";
  FILE* f = std::fopen(file.c_str(), "w+");
  ASSERT_NE(nullptr, f);
  record.Dump(f);
  std::rewind(f);
  std::string text;
  char line[256];
  while (std::fgets(line, sizeof line, f)) text += line;
  std::fclose(f);
  std::remove(file.c_str());
  EXPECT_NE(std::string::npos, text.find("nRowsInBuffer: 0")) << text;
  EXPECT_NE(std::string::npos, text.find("szTblName....: OSM.WTMEMORY")) << text;
}

}  // namespace
