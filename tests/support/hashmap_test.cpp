#include "support/hashmap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Walk(const HashMap& map) {
  std::vector<std::string> keys;
  HashMapIterator it(map);
  while (it.Next()) keys.push_back(it.Key());
  return keys;
}

TEST(HashMap, BucketCountsAndHash) {
  const int requested[][2] = {{3, 32}, {32, 32}, {33, 64}, {1000, 1024}};
  for (const auto& r : requested) EXPECT_EQ(r[1], HashMap(r[0]).BucketCount()) << r[0];
  EXPECT_EQ(64, HashMap().BucketCount());
  // 5381*33 + 'a' = 177670; 177670*33 + 'b'; 0xFF is -1 as a signed byte.
  EXPECT_EQ(5863208u, HashMap::Hash("ab"));
  EXPECT_EQ(177572u, HashMap::Hash("\xFF"));
  // High bytes never index negatively.
  HashMap map;
  std::vector<std::string> keys = {"\xFF\xFE\xFD", "\x80", "caf\xC3\xA9", std::string(300, '\xF0')};
  int values[4] = {1, 2, 3, 4};
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(map.Put(keys[i].c_str(), &values[i]));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(&values[i], map.Get(keys[i].c_str()));
}

TEST(HashMap, PutGetReplaceRemoveClear) {
  HashMap map(3);
  int one = 1, two = 2;
  std::string key = "Application";
  EXPECT_TRUE(map.Put(key.c_str(), &one));
  EXPECT_EQ(&one, map.Get("Application"));
  EXPECT_EQ(key.c_str(), map.StoredKey("Application"));  // the caller's pointer is kept
  EXPECT_TRUE(map.Put("Application", &two));
  EXPECT_EQ(1, map.Count());
  EXPECT_EQ(&two, map.Get("Application"));
  EXPECT_EQ(key.c_str(), map.StoredKey("Application"));
  EXPECT_EQ(nullptr, map.Get("System"));
  EXPECT_EQ(&two, map.Remove("Application"));
  EXPECT_EQ(nullptr, map.Remove("Application"));
  map.Put("a", &one);
  map.Put("b", &two);
  map.Clear();
  EXPECT_EQ(0, map.Count());
  EXPECT_TRUE(Walk(map).empty());
}

TEST(HashMap, GrowsAboveThreeQuartersAndKeepsEveryEntry) {
  HashMap map(3);  // 32 buckets
  std::vector<std::string> keys;
  for (int i = 0; i < 200; ++i) keys.push_back("key" + std::to_string(i));
  for (int i = 0; i < 24; ++i) map.Put(keys[i].c_str(), nullptr);
  EXPECT_EQ(32, map.BucketCount());  // 24 is exactly 0.75 x 32
  map.Put(keys[24].c_str(), nullptr);
  EXPECT_EQ(64, map.BucketCount());
  for (int i = 25; i < 200; ++i) map.Put(keys[i].c_str(), &keys[i]);
  EXPECT_EQ(512, map.BucketCount());  // 200 > 0.75 x 256
  EXPECT_EQ(200, map.Count());

  std::vector<std::string> walked = Walk(map);
  EXPECT_EQ(200u, std::set<std::string>(walked.begin(), walked.end()).size());
  // Buckets in ascending order...
  for (std::size_t i = 1; i < walked.size(); ++i)
    EXPECT_LE(HashMap::Hash(walked[i - 1].c_str()) % 512, HashMap::Hash(walked[i].c_str()) % 512);
}

TEST(HashMap, NewEntriesLeadTheirChain) {
  HashMap map;  // 64 buckets
  // Keys 64 apart in hash share a bucket: "a?" variants found by search.
  std::vector<std::string> same;
  for (int c = 0; c < 256 && same.size() < 3; ++c) {
    std::string k = std::string("x") + static_cast<char>(c ? c : 1);
    if (HashMap::Hash(k.c_str()) % 64 == HashMap::Hash("x0") % 64) same.push_back(k);
  }
  ASSERT_EQ(3u, same.size());
  for (const auto& k : same) map.Put(k.c_str(), nullptr);
  std::vector<std::string> expected(same.rbegin(), same.rend());
  EXPECT_EQ(expected, Walk(map));
}

TEST(HashMap, IteratorAllowsFreeingWhatItHandsOut) {
  HashMap map(3);
  for (int i = 0; i < 40; ++i) {
    std::string k = "k" + std::to_string(i);
    char* key = new char[k.size() + 1];
    std::memcpy(key, k.c_str(), k.size() + 1);
    map.Put(key, new int(i));
  }
  int freed = 0;
  HashMapIterator it(map);
  while (it.Next()) {
    delete static_cast<int*>(it.Value());
    delete[] it.Key();
    ++freed;
  }
  map.Clear();
  EXPECT_EQ(40, freed);
  EXPECT_EQ(0, map.Count());
}

}  // namespace
