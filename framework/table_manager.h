// TableManager: one per table, created at registration. The framework asks
// it for request objects (CreateRequest); its request list holds the open
// situations of the table, which pushed rows reach.
//
// The request list is guarded by lock()/unlock() (recursive); walk it with a
// DcfaListIter while holding the lock:
//
//   manager->lock();
//   DcfaListIter it(manager);
//   while (dcfa* r = it.Next()) { ... }
//   manager->unlock();
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "framework/attribute.h"

class dcfa;
struct RequestDetail;
struct ContextInfo;
class TableManager;

// A singly linked list of items, in insertion order. Not locked itself.
class LinkedList {
 public:
  LinkedList() = default;
  ~LinkedList();
  // false when out of memory
  bool Append(void* item);
  // false when the item is not in the list
  bool Remove(void* item);
  int Count() const { return count_; }

 private:
  friend class LinkedListIter;
  struct Node {
    void* item;
    Node* next;
  };
  LinkedList(const LinkedList&) = delete;
  LinkedList& operator=(const LinkedList&) = delete;
  Node* head_ = nullptr;
  Node* tail_ = nullptr;
  int count_ = 0;
};

class LinkedListIter {
 public:
  explicit LinkedListIter(LinkedList* list);
  // The next item, or null at the end.
  void* Next();
  void Reset();

 private:
  LinkedList* list_;
  LinkedList::Node* next_;
};

// Walks the request list of a manager.
class DcfaListIter : public LinkedListIter {
 public:
  explicit DcfaListIter(TableManager* manager);
  dcfa* Next() { return static_cast<dcfa*>(LinkedListIter::Next()); }
};

class TableManager {
 public:
  TableManager(const char* appl, const char* table);

  // Virtual slots, in this order.
  virtual ~TableManager();                                                   // 0
  // Empties the request list (the framework closes the requests first).
  virtual void Shutdown();                                                   // 1
  // A new request object for the table, or null.
  virtual dcfa* CreateRequest(RequestDetail& detail, ContextInfo& context) = 0;  // 2

  // Makes the manager's table known to the framework. 0, DCF_E_BADARG for a
  // null manager, DCF_E_DUPLICATE when another manager serves the table.
  static int RegisterWithManager(TableManager* manager);

  void lock() { lock_.lock(); }
  void unlock() { lock_.unlock(); }

  const char* ApplName() const { return appl_.c_str(); }
  const char* TableName() const { return table_.c_str(); }
  LinkedList* RequestList() { return &requests_; }

  // The row record the table publishes (0 and none until DescribeRows).
  unsigned RowSize() const { return rowSize_; }
  int AttributeCount() const { return static_cast<int>(attrs_.size()); }
  const AttributeInfo* Attributes() const { return attrs_.data(); }

 protected:
  // Records the table's row record; the attribute names (lower case) must
  // stay valid for the life of the manager.
  void DescribeRows(unsigned rowSize, const AttributeInfo* attrs, int count);

 private:
  TableManager(const TableManager&) = delete;
  TableManager& operator=(const TableManager&) = delete;
  std::string appl_;
  std::string table_;
  std::recursive_mutex lock_;
  LinkedList requests_;
  unsigned rowSize_ = 0;
  std::vector<AttributeInfo> attrs_;
};
