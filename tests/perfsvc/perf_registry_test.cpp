// Windows only: the layouts against the platform's own winperf.h, the
// registry source, and the platform helpers.
#include "framework/ras1.h"
#include "perfsvc/perf_layout.h"
#include "perfsvc/perf_name.h"
#include "perfsvc/perf_registry_source.h"
#include "tests/perfsvc/perf_block_builder.h"

#include <windows.h>
#include <winperf.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <cstring>

using namespace osmperf;
namespace L = perfbuild::layout;

#define SAME_OFFSET(ours, theirs, type, field)                 \
  static_assert((ours) == offsetof(type, field), #type "." #field); \
  static_assert((L::theirs) == offsetof(type, field), "builder " #type "." #field)

SAME_OFFSET(pdb::kSignature, kBlockSignature, PERF_DATA_BLOCK, Signature);
SAME_OFFSET(pdb::kLittleEndian, kBlockLittleEndian, PERF_DATA_BLOCK, LittleEndian);
SAME_OFFSET(pdb::kVersion, kBlockVersion, PERF_DATA_BLOCK, Version);
SAME_OFFSET(pdb::kRevision, kBlockRevision, PERF_DATA_BLOCK, Revision);
SAME_OFFSET(pdb::kTotalByteLength, kBlockTotalByteLength, PERF_DATA_BLOCK, TotalByteLength);
SAME_OFFSET(pdb::kHeaderLength, kBlockHeaderLength, PERF_DATA_BLOCK, HeaderLength);
SAME_OFFSET(pdb::kNumObjectTypes, kBlockNumObjectTypes, PERF_DATA_BLOCK, NumObjectTypes);
SAME_OFFSET(pdb::kDefaultObject, kBlockDefaultObject, PERF_DATA_BLOCK, DefaultObject);
SAME_OFFSET(pdb::kSystemTime, kBlockSystemTime, PERF_DATA_BLOCK, SystemTime);
SAME_OFFSET(pdb::kPerfTime, kBlockPerfTime, PERF_DATA_BLOCK, PerfTime);
SAME_OFFSET(pdb::kPerfFreq, kBlockPerfFreq, PERF_DATA_BLOCK, PerfFreq);
SAME_OFFSET(pdb::kPerfTime100nSec, kBlockPerfTime100nSec, PERF_DATA_BLOCK, PerfTime100nSec);
SAME_OFFSET(pdb::kSystemNameLength, kBlockSystemNameLength, PERF_DATA_BLOCK, SystemNameLength);
SAME_OFFSET(pdb::kSystemNameOffset, kBlockSystemNameOffset, PERF_DATA_BLOCK, SystemNameOffset);
static_assert(pdb::kSize == sizeof(PERF_DATA_BLOCK) && L::kBlockSize == sizeof(PERF_DATA_BLOCK), "PERF_DATA_BLOCK");

SAME_OFFSET(pot::kTotalByteLength, kObjTotalByteLength, PERF_OBJECT_TYPE, TotalByteLength);
SAME_OFFSET(pot::kDefinitionLength, kObjDefinitionLength, PERF_OBJECT_TYPE, DefinitionLength);
SAME_OFFSET(pot::kHeaderLength, kObjHeaderLength, PERF_OBJECT_TYPE, HeaderLength);
SAME_OFFSET(pot::kObjectNameTitleIndex, kObjNameTitleIndex, PERF_OBJECT_TYPE, ObjectNameTitleIndex);
SAME_OFFSET(pot::kObjectNameTitle, kObjNameTitle, PERF_OBJECT_TYPE, ObjectNameTitle);
SAME_OFFSET(pot::kObjectHelpTitleIndex, kObjHelpTitleIndex, PERF_OBJECT_TYPE, ObjectHelpTitleIndex);
SAME_OFFSET(pot::kObjectHelpTitle, kObjHelpTitle, PERF_OBJECT_TYPE, ObjectHelpTitle);
SAME_OFFSET(pot::kDetailLevel, kObjDetailLevel, PERF_OBJECT_TYPE, DetailLevel);
SAME_OFFSET(pot::kNumCounters, kObjNumCounters, PERF_OBJECT_TYPE, NumCounters);
SAME_OFFSET(pot::kDefaultCounter, kObjDefaultCounter, PERF_OBJECT_TYPE, DefaultCounter);
SAME_OFFSET(pot::kNumInstances, kObjNumInstances, PERF_OBJECT_TYPE, NumInstances);
SAME_OFFSET(pot::kCodePage, kObjCodePage, PERF_OBJECT_TYPE, CodePage);
SAME_OFFSET(pot::kPerfTime, kObjPerfTime, PERF_OBJECT_TYPE, PerfTime);
SAME_OFFSET(pot::kPerfFreq, kObjPerfFreq, PERF_OBJECT_TYPE, PerfFreq);
static_assert(pot::kSize == sizeof(PERF_OBJECT_TYPE) && L::kObjSize == sizeof(PERF_OBJECT_TYPE), "PERF_OBJECT_TYPE");

SAME_OFFSET(pcd::kByteLength, kDefByteLength, PERF_COUNTER_DEFINITION, ByteLength);
SAME_OFFSET(pcd::kCounterNameTitleIndex, kDefNameTitleIndex, PERF_COUNTER_DEFINITION, CounterNameTitleIndex);
SAME_OFFSET(pcd::kCounterNameTitle, kDefNameTitle, PERF_COUNTER_DEFINITION, CounterNameTitle);
SAME_OFFSET(pcd::kCounterHelpTitleIndex, kDefHelpTitleIndex, PERF_COUNTER_DEFINITION, CounterHelpTitleIndex);
SAME_OFFSET(pcd::kCounterHelpTitle, kDefHelpTitle, PERF_COUNTER_DEFINITION, CounterHelpTitle);
SAME_OFFSET(pcd::kDefaultScale, kDefDefaultScale, PERF_COUNTER_DEFINITION, DefaultScale);
SAME_OFFSET(pcd::kDetailLevel, kDefDetailLevel, PERF_COUNTER_DEFINITION, DetailLevel);
SAME_OFFSET(pcd::kCounterType, kDefCounterType, PERF_COUNTER_DEFINITION, CounterType);
SAME_OFFSET(pcd::kCounterSize, kDefCounterSize, PERF_COUNTER_DEFINITION, CounterSize);
SAME_OFFSET(pcd::kCounterOffset, kDefCounterOffset, PERF_COUNTER_DEFINITION, CounterOffset);
static_assert(pcd::kSize == sizeof(PERF_COUNTER_DEFINITION) && L::kDefSize == sizeof(PERF_COUNTER_DEFINITION),
              "PERF_COUNTER_DEFINITION");

SAME_OFFSET(pid::kByteLength, kInstByteLength, PERF_INSTANCE_DEFINITION, ByteLength);
SAME_OFFSET(pid::kParentObjectTitleIndex, kInstParentObjectTitleIndex, PERF_INSTANCE_DEFINITION, ParentObjectTitleIndex);
SAME_OFFSET(pid::kParentObjectInstance, kInstParentObjectInstance, PERF_INSTANCE_DEFINITION, ParentObjectInstance);
SAME_OFFSET(pid::kUniqueID, kInstUniqueID, PERF_INSTANCE_DEFINITION, UniqueID);
SAME_OFFSET(pid::kNameOffset, kInstNameOffset, PERF_INSTANCE_DEFINITION, NameOffset);
SAME_OFFSET(pid::kNameLength, kInstNameLength, PERF_INSTANCE_DEFINITION, NameLength);
static_assert(pid::kSize == sizeof(PERF_INSTANCE_DEFINITION) && L::kInstSize == sizeof(PERF_INSTANCE_DEFINITION),
              "PERF_INSTANCE_DEFINITION");
static_assert(pcb::kSize == sizeof(PERF_COUNTER_BLOCK) && L::kCounterBlockSize == sizeof(PERF_COUNTER_BLOCK),
              "PERF_COUNTER_BLOCK");
static_assert(PERF_100NSEC_TIMER_INV == 0x21510500u && kPerfNoInstances == PERF_NO_INSTANCES, "constants");

TEST(WinPerfLayout, BuilderBlockReadsThroughThePlatformStructures) {
  perfbuild::BlockBuilder b;
  b.SystemTime(2010, 4, 12, 6, 14, 21, 500).PerfTime(123).PerfFreq(456).PerfTime100nSec(789);
  b.Object(230)
      .PerfTime(11)
      .PerfFreq(22)
      .Counter(6, PERF_100NSEC_TIMER)
      .Counter(180, PERF_COUNTER_RAWCOUNT)
      .Instance(u"svchost", {0x1122334455667788ull, 42})
      .Instance(u"0", {1, 2}, 230, 0);
  std::vector<std::uint8_t> bytes = b.Build();
  // Copy into storage aligned for the structures.
  std::vector<ULONGLONG> aligned((bytes.size() + 7) / 8);
  std::memcpy(aligned.data(), bytes.data(), bytes.size());
  const BYTE* base = reinterpret_cast<const BYTE*>(aligned.data());

  // Offsets are checked above; here the lengths that chain the records.
  const PERF_DATA_BLOCK* block = reinterpret_cast<const PERF_DATA_BLOCK*>(base);
  EXPECT_EQ(std::wstring(block->Signature, 4), L"PERF");
  EXPECT_EQ(block->TotalByteLength, bytes.size());
  EXPECT_EQ(block->SystemTime.wMilliseconds, 500);
  EXPECT_EQ(block->PerfTime100nSec.QuadPart, 789);

  const PERF_OBJECT_TYPE* object = reinterpret_cast<const PERF_OBJECT_TYPE*>(base + block->HeaderLength);
  EXPECT_EQ(object->ObjectNameTitleIndex, 230u);
  EXPECT_EQ(object->NumInstances, 2);
  EXPECT_EQ(object->PerfFreq.QuadPart, 22);
  EXPECT_EQ(block->HeaderLength + object->TotalByteLength, block->TotalByteLength);

  const PERF_COUNTER_DEFINITION* def =
      reinterpret_cast<const PERF_COUNTER_DEFINITION*>(reinterpret_cast<const BYTE*>(object) + object->HeaderLength);
  const PERF_COUNTER_DEFINITION* def2 =
      reinterpret_cast<const PERF_COUNTER_DEFINITION*>(reinterpret_cast<const BYTE*>(def) + def->ByteLength);
  EXPECT_EQ(def->CounterType, static_cast<DWORD>(PERF_100NSEC_TIMER));
  EXPECT_EQ(def->CounterSize, 8u);
  EXPECT_EQ(def2->CounterNameTitleIndex, 180u);

  const PERF_INSTANCE_DEFINITION* inst =
      reinterpret_cast<const PERF_INSTANCE_DEFINITION*>(reinterpret_cast<const BYTE*>(object) + object->DefinitionLength);
  EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(reinterpret_cast<const BYTE*>(inst) + inst->NameOffset)),
            L"svchost");
  const PERF_COUNTER_BLOCK* counters =
      reinterpret_cast<const PERF_COUNTER_BLOCK*>(reinterpret_cast<const BYTE*>(inst) + inst->ByteLength);
  const BYTE* data = reinterpret_cast<const BYTE*>(counters);
  EXPECT_EQ(*reinterpret_cast<const ULONGLONG*>(data + def->CounterOffset), 0x1122334455667788ull);
  EXPECT_EQ(*reinterpret_cast<const DWORD*>(data + def2->CounterOffset), 42u);
  const PERF_INSTANCE_DEFINITION* inst2 =
      reinterpret_cast<const PERF_INSTANCE_DEFINITION*>(data + counters->ByteLength);
  EXPECT_EQ(inst2->ParentObjectTitleIndex, 230u);
  EXPECT_EQ(inst2->ParentObjectInstance, 0u);
}

TEST(RegistrySource, QueriesTheLocalRegistry) {
  CRegistryPerfSource source;
  EXPECT_STREQ(source.Name(), "registry");
  // "Global" always gives a valid block (Wine: one without objects).
  CPerfSnap snap(&source);
  ASSERT_TRUE(snap.Snap("Global"));
  EXPECT_TRUE(snap.Block().Valid());
  EXPECT_GE(snap.DataSize(), pdb::kSize);

  // Wine keeps no "Last Counter" in a fresh prefix and treats Perflib\009 as
  // a performance key; there a failure must name its stage.
  const bool wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
  std::uint32_t lastCounter = 0, lastHelp = 0;
  PerfSourceStage stage = PerfSourceStage::None;
  long rc = source.QueryLastIndexes(&lastCounter, &lastHelp, &stage);
  if (!wine || rc != ERROR_SUCCESS) {
    EXPECT_EQ(rc, wine ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS);
    if (rc != ERROR_SUCCESS) {
      EXPECT_EQ(stage, PerfSourceStage::LastCounter);
    }
  }

  // The counter names come as pairs of a decimal index and a name.
  std::u16string names;
  ASSERT_EQ(source.QueryCounterNames(&names, &stage), ERROR_SUCCESS);
  ASSERT_FALSE(names.empty());
  EXPECT_TRUE(names[0] >= u'0' && names[0] <= u'9');
  std::string text;
  stage = PerfSourceStage::None;
  rc = source.QueryCounterText(&text, &stage);
  if (rc == ERROR_SUCCESS) {
    ASSERT_FALSE(text.empty());
    EXPECT_TRUE(text[0] >= '0' && text[0] <= '9');
  } else {
    EXPECT_TRUE(wine) << rc;
    EXPECT_NE(stage, PerfSourceStage::None);
  }
  EXPECT_FALSE(source.ErrorText(ERROR_FILE_NOT_FOUND).empty());

  CRegistryPerfSource remote("\\\\no-such-host-osm");
  EXPECT_EQ(remote.QueryLastIndexes(&lastCounter, &lastHelp, &stage) == ERROR_SUCCESS, false);
  EXPECT_EQ(stage, PerfSourceStage::Connect);
}

TEST(RegistrySource, FileVariableSelectsTheFileSource) {
  BSS1_PutEnv("OSM_PERFDATA_FILE=");
  EXPECT_STREQ(OsmCreatePerfSource(nullptr)->Name(), "registry");
  BSS1_PutEnv("OSM_PERFDATA_FILE=C:\\nowhere\\block.dat");
  EXPECT_STREQ(OsmCreatePerfSource(nullptr)->Name(), "file");
  BSS1_PutEnv("OSM_PERFDATA_FILE=");
}

TEST(PlatformHelpers, TimeZoneAndWorkingSet) {
  PerfSystemTime utc;
  utc.wYear = 2010;
  utc.wMonth = 4;
  utc.wDay = 12;
  utc.wHour = 6;
  utc.wMinute = 14;
  utc.wSecond = 21;
  utc.wMilliseconds = 500;
  PerfSystemTime local;
  ASSERT_TRUE(WindowsUtcToLocal()(utc, &local));
  SYSTEMTIME in{local.wYear, local.wMonth, 0, local.wDay, local.wHour, local.wMinute, local.wSecond,
                local.wMilliseconds};
  SYSTEMTIME back{};
  ASSERT_TRUE(TzSpecificLocalTimeToSystemTime(nullptr, &in, &back));
  EXPECT_EQ(back.wHour, 6);
  EXPECT_EQ(back.wMinute, 14);
  EXPECT_EQ(local.wMilliseconds, 500);
  std::uint64_t ws = 0;
  ASSERT_TRUE(OsmWorkingSetBytes(&ws));
  EXPECT_GT(ws, 0u);
}
