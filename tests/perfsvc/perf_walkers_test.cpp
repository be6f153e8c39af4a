// Walkers and snapshots over well-formed and malformed blocks.
#include "perfsvc/perf_snap.h"
#include "perfsvc/perf_walkers.h"
#include "perfsvc/sample.h"
#include "tests/perfsvc/memory_source.h"
#include "tests/perfsvc/perf_block_builder.h"

#include <gtest/gtest.h>


using namespace osmperf;
using perfbuild::BlockBuilder;
using perfbuild::Put32;
namespace L = perfbuild::layout;

namespace {

// Process-like object (230) with a parent-less instance list, a Thread-like
// object (232) whose instances name Process instances as parents, and a
// Memory-like object (4) without instances. Counters of sizes 4, 8, 0 and 16.
BlockBuilder SampleBlock() {
  BlockBuilder b;
  b.SystemTime(2010, 4, 12, 6, 14, 21, 500).PerfTime(5000).PerfFreq(1000).PerfTime100nSec(7000000);
  b.Object(230)
      .Counter(6, PERF_100NSEC_TIMER)
      .Counter(180, PERF_COUNTER_RAWCOUNT)
      .Counter(184, PERF_COUNTER_LARGE_RAWCOUNT)
      .Counter(190, 0x00000200u)          // PERF_SIZE_ZERO
      .Counter(192, 0x00000300u, 16)      // variable length, 16 bytes
      .Instance(u"svchost", {100, 7, 0x1122334455667788ull, 0, 0xAABBCCDDEEFF0011ull})
      .Instance(u"Idle", {200, 8, 9, 0, 1});
  b.Object(232)
      .Counter(180, PERF_COUNTER_RAWCOUNT)
      .Instance(u"0", {1}, 230, 1)
      .Instance(u"1", {2}, 230, 7);  // no such parent instance
  b.Object(4).Counter(24, PERF_COUNTER_RAWCOUNT).Values({4096});
  return b;
}

struct Walked {
  std::uint32_t objects = 0, counters = 0, instances = 0;
};

// Walks everything a block holds, reading every counter of every instance.
Walked WalkAll(const std::uint8_t* data, std::size_t size) {
  Walked w;
  CPerfBlock block;
  if (!block.Attach(data, size)) return w;
  CObjectWalker objects(block);
  for (bool o = objects.First(); o; o = objects.Next()) {
    ++w.objects;
    const CPerfObject& object = objects.Current();
    std::vector<CPerfCounterDef> defs;
    CCounterWalker counters(object);
    for (bool c = counters.First(); c; c = counters.Next()) defs.push_back(counters.Current());
    w.counters += static_cast<std::uint32_t>(defs.size());
    CInstanceWalker instances(object);
    for (bool i = instances.First(); i; i = instances.Next()) {
      ++w.instances;
      (void)instances.Current().Name();
      for (const CPerfCounterDef& d : defs) {
        std::uint64_t v;
        ReadCounterValue(instances.Current().counterBlock, d, &v);
      }
    }
  }
  return w;
}

// The instance walk of the first object: its kind and its instance names.
std::pair<CInstanceWalker::Kind, std::vector<std::u16string>> FirstObjectInstances(const std::vector<std::uint8_t>& b) {
  CPerfBlock block;
  if (!block.Attach(b.data(), b.size())) return {};
  CObjectWalker objects(block);
  if (!objects.First()) return {};
  CInstanceWalker instances(objects.Current());
  std::vector<std::u16string> names;
  for (bool i = instances.First(); i; i = instances.Next()) names.push_back(instances.Current().Name());
  return {instances.GetKind(), names};
}

}  // namespace

TEST(PerfWalkers, WalkBuiltBlockFieldByField) {
  std::vector<std::uint8_t> bytes = SampleBlock().Build();
  CPerfBlock block;
  ASSERT_TRUE(block.Attach(bytes.data(), bytes.size()));
  // Header fields are read by the sample tests (times and time stamps).
  EXPECT_EQ(block.NumObjectTypes(), 3u);

  CObjectWalker objects(block);
  ASSERT_TRUE(objects.First());
  const CPerfObject& process = objects.Current();
  EXPECT_EQ(process.nameIndex, 230u);
  EXPECT_EQ(process.numInstances, 2);

  CCounterWalker counters(process);
  std::vector<CPerfCounterDef> defs;
  for (bool ok = counters.First(); ok; ok = counters.Next()) defs.push_back(counters.Current());
  ASSERT_EQ(defs.size(), 5u);
  EXPECT_EQ(defs[0].type, PERF_100NSEC_TIMER);
  EXPECT_EQ(defs[0].size, 8u);
  EXPECT_EQ(defs[4].size, 16u);

  CInstanceWalker instances(process);
  EXPECT_EQ(instances.GetKind(), CInstanceWalker::Kind::Many);
  ASSERT_TRUE(instances.First());
  EXPECT_EQ(instances.Current().Name(), u"svchost");
  std::uint64_t v = 0;
  ASSERT_TRUE(ReadCounterValue(instances.Current().counterBlock, defs[2], &v));
  EXPECT_EQ(v, 0x1122334455667788ull);
  ASSERT_TRUE(ReadCounterValue(instances.Current().counterBlock, defs[1], &v));
  EXPECT_EQ(v, 7u);
  ASSERT_TRUE(ReadCounterValue(instances.Current().counterBlock, defs[4], &v));
  EXPECT_EQ(v, 0xAABBCCDDEEFF0011ull) << "a 16-byte counter reads its first 8 bytes";
  ASSERT_TRUE(instances.Next());
  EXPECT_FALSE(instances.Next());

  ASSERT_TRUE(objects.Next());
  CInstanceWalker threads(objects.Current());
  ASSERT_TRUE(threads.First());
  EXPECT_EQ(threads.Current().parentObjectIndex, 230u);
  EXPECT_EQ(threads.Current().parentInstance, 1u);

  ASSERT_TRUE(objects.Next());
  EXPECT_EQ(objects.Current().nameIndex, 4u);
  CInstanceWalker single(objects.Current());
  EXPECT_EQ(single.GetKind(), CInstanceWalker::Kind::Single);
  ASSERT_TRUE(single.First());
  EXPECT_TRUE(single.Current().Name().empty());
  EXPECT_FALSE(objects.Next());

  CPerfObject found;
  EXPECT_TRUE(objects.Find(232, &found));
  EXPECT_FALSE(objects.Find(999, &found));
}

TEST(PerfSnap, SignatureAndNumObjectTypesCorrection) {
  BlockBuilder b = SampleBlock();
  perfbuild::MemoryPerfSource source({}, b.Build());
  CPerfSnap snap(&source, 64, 64);
  ASSERT_TRUE(snap.Snap("230 232 4"));
  EXPECT_EQ(snap.Block().NumObjectTypes(), 3u);

  // ASCII signature is accepted.
  b.AsciiSignature(true);
  source.SetBlock(b.Build());
  EXPECT_TRUE(snap.Snap("230"));

  // A stated count of 5 over 3 objects becomes 3, also in the buffer.
  std::vector<std::uint8_t> bytes = SampleBlock().Build();
  Put32(bytes, L::kBlockNumObjectTypes, 5);
  source.SetBlock(bytes);
  ASSERT_TRUE(snap.Snap("230"));
  EXPECT_EQ(snap.Block().NumObjectTypes(), 3u);
  EXPECT_EQ(snap.Block().Bytes().data[L::kBlockNumObjectTypes], 3u);

  // Neither signature: rejected, the buffer freed.
  bytes[0] = 'X';
  source.SetBlock(bytes);
  EXPECT_FALSE(snap.Snap("230"));
  EXPECT_EQ(snap.BufferSize(), 0u);
  EXPECT_FALSE(snap.Block().Valid());
  // A later good query allocates again.
  source.SetBlock(SampleBlock().Build());
  EXPECT_TRUE(snap.Snap("230"));

  EXPECT_FALSE(snap.Snap(""));
  EXPECT_FALSE(snap.Snap(nullptr));
  snap.SetDisabled(true);
  EXPECT_FALSE(snap.Snap("230"));
}

TEST(PerfSnap, BufferGrowsAndGivesUp) {
  std::vector<std::uint8_t> bytes = SampleBlock().Build();
  perfbuild::MemoryPerfSource source({}, bytes);
  source.RequireBuffer(10000);
  CPerfSnap snap(&source, 1000, 3000);
  ASSERT_TRUE(snap.Snap("230"));
  EXPECT_EQ(snap.LastAttempts(), 4);  // 1000, 4000, 7000, 10000
  EXPECT_EQ(snap.BufferSize(), 10000u);
  // The buffer is kept: the next query needs one attempt.
  ASSERT_TRUE(snap.Snap("230"));
  EXPECT_EQ(snap.LastAttempts(), 1);

  source.AlwaysMoreData(true);
  EXPECT_FALSE(snap.Snap("230"));
  EXPECT_LE(snap.LastAttempts(), CPerfSnap::kMaxAttempts);
  EXPECT_EQ(snap.BufferSize(), 0u);

  source.AlwaysMoreData(false);
  source.FailAt(PerfSourceStage::QueryData, 5);
  EXPECT_FALSE(snap.Snap("230"));
}

// Growth itself is measured in the leak check tests; a failed reading is none.
TEST(PerfSnap, LeakCheckWithoutAWorkingSetMeasuresNoGrowth) {
  perfbuild::MemoryPerfSource source({}, SampleBlock().Build());
  CPerfSnap snap(&source);
  snap.SetLeakCheck(true, [](std::uint64_t*) { return false; });
  ASSERT_TRUE(snap.Snap("230"));
  EXPECT_EQ(snap.MemoryGrowth(), 0u);
}

TEST(PerfWalkersMalformed, LyingLengthsAndOffsets) {
  perfbuild::BuiltBlock built = SampleBlock().BuildWithOffsets();
  const std::size_t process = built.objects[0];
  auto walk = [](const std::vector<std::uint8_t>& b) { return WalkAll(b.data(), b.size()); };

  {  // Block TotalByteLength beyond the bytes returned: bounded by the bytes.
    auto b = built.bytes;
    Put32(b, L::kBlockTotalByteLength, 0xFFFFFFF0u);
    EXPECT_EQ(walk(b).objects, 3u);
  }
  {  // Object TotalByteLength 0 or smaller than a header: the walk stops there.
    auto b = built.bytes;
    Put32(b, process + L::kObjTotalByteLength, 0);
    EXPECT_EQ(walk(b).objects, 0u);
    Put32(b, process + L::kObjTotalByteLength, 63);
    EXPECT_EQ(walk(b).objects, 0u);
  }
  {  // Object TotalByteLength past the block: that object is cut to the block, the walk ends.
    auto b = built.bytes;
    Put32(b, process + L::kObjTotalByteLength, 0x7FFFFFFFu);
    Walked w = walk(b);
    EXPECT_EQ(w.objects, 1u);
    EXPECT_EQ(w.instances, 2u);
  }
  {  // HeaderLength of the block beyond its end: no objects.
    auto b = built.bytes;
    Put32(b, L::kBlockHeaderLength, 0xFFFFFFFFu);
    EXPECT_EQ(walk(b).objects, 0u);
  }
  {  // A counter definition with ByteLength 0 stops the counter walk; NumCounters huge stays bounded.
    auto b = built.bytes;
    Put32(b, built.definitions[0][1] + L::kDefByteLength, 0);
    Put32(b, process + L::kObjNumCounters, 0xFFFFFFFFu);
    EXPECT_EQ(walk(b).counters, 1u + 1u + 1u);  // 1 of Process, 1 of Thread, 1 of Memory
  }
  {  // Counter offset outside the counter block: the value is not read.
    auto b = built.bytes;
    Put32(b, built.definitions[0][2] + L::kDefCounterOffset, 0x10000);
    CPerfBlock block;
    ASSERT_TRUE(block.Attach(b.data(), b.size()));
    CObjectWalker objects(block);
    ASSERT_TRUE(objects.First());
    CCounterWalker counters(objects.Current());
    ASSERT_TRUE(counters.First() && counters.Next() && counters.Next());
    CInstanceWalker instances(objects.Current());
    ASSERT_TRUE(instances.First());
    std::uint64_t v = 0;
    EXPECT_FALSE(ReadCounterValue(instances.Current().counterBlock, counters.Current(), &v));
  }
  {  // Instance ByteLength beyond the object, or too small: the instance walk stops.
    auto b = built.bytes;
    Put32(b, built.instances[0][1] + L::kInstByteLength, 0x00100000u);
    EXPECT_EQ(walk(b).instances, 4u);
    Put32(b, built.instances[0][0] + L::kInstByteLength, 4);
    EXPECT_EQ(walk(b).instances, 3u);
  }
  {  // Counter block ByteLength 0: the instance walk stops.
    auto b = built.bytes;
    Put32(b, built.counterBlocks[0][0] + L::kCounterBlockByteLength, 0);
    EXPECT_EQ(walk(b).instances, 3u);
  }
  {  // NameLength and NameOffset lying: the name stays inside the instance definition.
    auto b = built.bytes;
    Put32(b, built.instances[0][0] + L::kInstNameLength, 0xFFFFFFFFu);
    Put32(b, built.instances[0][1] + L::kInstNameOffset, 0x7FFFFFFFu);
    EXPECT_EQ(FirstObjectInstances(b).second, (std::vector<std::u16string>{u"svchost", u""}));
    // A name without a terminator inside NameLength is cut at NameLength.
    Put32(b, built.instances[0][0] + L::kInstNameLength, 6);
    EXPECT_EQ(FirstObjectInstances(b).second[0], u"svc");
  }
  // An instance count that cannot fit the object is refused before any allocation.
  for (std::uint32_t count : {0x7FFFFFFFu, static_cast<std::uint32_t>(-7)}) {
    auto b = built.bytes;
    Put32(b, process + L::kObjNumInstances, count);
    auto walked = FirstObjectInstances(b);
    EXPECT_EQ(walked.first, CInstanceWalker::Kind::Refused) << count;
    EXPECT_TRUE(walked.second.empty());
  }
}
