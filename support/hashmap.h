// String-keyed hash map with chained buckets.
//
// The map stores the caller's key pointer and value as given and never frees
// either: the caller owns both and frees them (usually while iterating) before
// clearing or destroying the map. New entries go to the head of their chain and
// a grown bucket array is refilled chain by chain, which fixes the iteration
// order for a given sequence of insertions.
#pragma once

#include <cstddef>
#include <cstdint>

class HashMap {
 public:
  // 64 buckets.
  HashMap();
  // 32 buckets, doubled until there are at least requestedCount.
  explicit HashMap(int requestedCount);
  ~HashMap();
  HashMap(const HashMap&) = delete;
  HashMap& operator=(const HashMap&) = delete;

  // hash = 5381; for every byte b (as a signed char): hash = hash * 33 + b,
  // in unsigned 32-bit arithmetic.
  static std::uint32_t Hash(const char* key);

  // Adds the key, or replaces the value of an equal key (the stored key
  // pointer stays the first one). Returns false only when out of memory.
  bool Put(const char* key, void* value);
  // The value of the key, or null.
  void* Get(const char* key) const;
  bool Contains(const char* key) const;
  // Removes the entry and returns its value (null when absent). The caller
  // still owns the stored key; StoredKey finds it first when it must be freed.
  void* Remove(const char* key);
  const char* StoredKey(const char* key) const;
  // Forgets every entry; keeps the bucket count.
  void Clear();

  int Count() const { return count_; }
  int BucketCount() const { return buckets_; }

 private:
  friend class HashMapIterator;
  struct Entry {
    const char* key;
    void* value;
    Entry* next;
  };
  void Init(int buckets);
  Entry* Find(const char* key) const;
  void Grow();

  Entry** table_ = nullptr;
  int buckets_ = 0;
  int count_ = 0;
};

// Walks the map bucket by bucket, each chain from its head. The map must not
// change during the walk; freeing the keys and values it hands out is fine.
class HashMapIterator {
 public:
  explicit HashMapIterator(const HashMap& map) : map_(map) {}
  // Moves to the next entry; false at the end.
  bool Next();
  const char* Key() const { return current_ ? current_->key : nullptr; }
  void* Value() const { return current_ ? current_->value : nullptr; }
  void Reset() {
    bucket_ = -1;
    current_ = nullptr;
  }

 private:
  const HashMap& map_;
  int bucket_ = -1;
  const HashMap::Entry* current_ = nullptr;
};
