#include "support/hashmap.h"

#include <cstring>
#include <new>

HashMap::HashMap() { Init(64); }

HashMap::HashMap(int requestedCount) {
  int buckets = 32;
  while (buckets < requestedCount && buckets < (1 << 30)) buckets *= 2;
  Init(buckets);
}

HashMap::~HashMap() {
  Clear();
  delete[] table_;
}

void HashMap::Init(int buckets) {
  table_ = new Entry*[static_cast<std::size_t>(buckets)]();
  buckets_ = buckets;
}

std::uint32_t HashMap::Hash(const char* key) {
  std::uint32_t hash = 5381;
  for (const char* p = key; *p; ++p) {
    // Signed byte value, as the map has always hashed; the arithmetic is
    // unsigned, so bytes of 0x80 and above can never give a negative index.
    int b = static_cast<signed char>(*p);
    hash = hash * 33u + static_cast<std::uint32_t>(b);
  }
  return hash;
}

HashMap::Entry* HashMap::Find(const char* key) const {
  if (!key) return nullptr;
  for (Entry* e = table_[Hash(key) % static_cast<std::uint32_t>(buckets_)]; e; e = e->next)
    if (std::strcmp(e->key, key) == 0) return e;
  return nullptr;
}

void HashMap::Grow() {
  int buckets = buckets_ * 2;
  Entry** table = new (std::nothrow) Entry*[static_cast<std::size_t>(buckets)]();
  if (!table) return;  // keep working with longer chains
  for (int i = 0; i < buckets_; ++i) {
    Entry* e = table_[i];
    while (e) {
      Entry* next = e->next;
      Entry*& head = table[Hash(e->key) % static_cast<std::uint32_t>(buckets)];
      e->next = head;
      head = e;
      e = next;
    }
  }
  delete[] table_;
  table_ = table;
  buckets_ = buckets;
}

bool HashMap::Put(const char* key, void* value) {
  if (!key) return false;
  if (Entry* e = Find(key)) {
    e->value = value;
    return true;
  }
  Entry* e = new (std::nothrow) Entry{key, value, nullptr};
  if (!e) return false;
  Entry*& head = table_[Hash(key) % static_cast<std::uint32_t>(buckets_)];
  e->next = head;
  head = e;
  ++count_;
  if (static_cast<long long>(count_) * 4 > static_cast<long long>(buckets_) * 3) Grow();  // load above 0.75
  return true;
}

void* HashMap::Get(const char* key) const {
  Entry* e = Find(key);
  return e ? e->value : nullptr;
}

bool HashMap::Contains(const char* key) const { return Find(key) != nullptr; }

const char* HashMap::StoredKey(const char* key) const {
  Entry* e = Find(key);
  return e ? e->key : nullptr;
}

void* HashMap::Remove(const char* key) {
  if (!key) return nullptr;
  Entry** link = &table_[Hash(key) % static_cast<std::uint32_t>(buckets_)];
  for (Entry* e = *link; e; link = &e->next, e = e->next) {
    if (std::strcmp(e->key, key) == 0) {
      *link = e->next;
      void* value = e->value;
      delete e;
      --count_;
      return value;
    }
  }
  return nullptr;
}

void HashMap::Clear() {
  for (int i = 0; i < buckets_; ++i) {
    Entry* e = table_[i];
    while (e) {
      Entry* next = e->next;
      delete e;
      e = next;
    }
    table_[i] = nullptr;
  }
  count_ = 0;
}

bool HashMapIterator::Next() {
  if (current_ && current_->next) {
    current_ = current_->next;
    return true;
  }
  while (++bucket_ < map_.buckets_) {
    if (map_.table_[bucket_]) {
      current_ = map_.table_[bucket_];
      return true;
    }
  }
  current_ = nullptr;
  bucket_ = map_.buckets_;
  return false;
}
