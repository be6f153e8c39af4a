// Table managers, their request lists and the registry of tables.
#include "framework/table_manager.h"

#include <map>
#include <new>

#include "framework/cfw_runtime.h"
#include "framework/dcfa.h"
#include "framework/ras1.h"

namespace {

struct Registry {
  std::mutex lock;
  std::vector<TableManager*> order;
};

Registry& Tables() {
  static Registry* registry = new Registry();  // outlives static destructors
  return *registry;
}

}  // namespace

LinkedList::~LinkedList() {
  while (head_) {
    Node* n = head_;
    head_ = n->next;
    delete n;
  }
}

bool LinkedList::Append(void* item) {
  Node* n = new (std::nothrow) Node{item, nullptr};
  if (n == nullptr) return false;
  if (tail_) tail_->next = n;
  else head_ = n;
  tail_ = n;
  ++count_;
  return true;
}

bool LinkedList::Remove(void* item) {
  Node* prev = nullptr;
  for (Node* n = head_; n; prev = n, n = n->next) {
    if (n->item != item) continue;
    if (prev) prev->next = n->next;
    else head_ = n->next;
    if (tail_ == n) tail_ = prev;
    delete n;
    --count_;
    return true;
  }
  return false;
}

LinkedListIter::LinkedListIter(LinkedList* list) : list_(list), next_(list ? list->head_ : nullptr) {}

void* LinkedListIter::Next() {
  if (next_ == nullptr) return nullptr;
  void* item = next_->item;
  next_ = next_->next;
  return item;
}

void LinkedListIter::Reset() { next_ = list_ ? list_->head_ : nullptr; }

DcfaListIter::DcfaListIter(TableManager* manager)
    : LinkedListIter(manager ? manager->RequestList() : nullptr) {}

TableManager::TableManager(const char* appl, const char* table)
    : appl_(appl ? appl : ""), table_(table ? table : "") {}

TableManager::~TableManager() {
  Registry& r = Tables();
  std::lock_guard<std::mutex> guard(r.lock);
  for (auto it = r.order.begin(); it != r.order.end(); ++it) {
    if (*it == this) {
      r.order.erase(it);
      break;
    }
  }
}

void TableManager::Shutdown() {
  lock();
  while (requests_.Count() > 0) {
    LinkedListIter it(&requests_);
    requests_.Remove(it.Next());
  }
  unlock();
}

void TableManager::DescribeRows(unsigned rowSize, const AttributeInfo* attrs, int count) {
  rowSize_ = rowSize;
  attrs_.assign(attrs, attrs + (attrs && count > 0 ? count : 0));
}

int TableManager::RegisterWithManager(TableManager* manager) {
  RAS1_UNIT("TableManager::RegisterWithManager");
  if (manager == nullptr) return DCF_E_BADARG;
  Registry& r = Tables();
  std::lock_guard<std::mutex> guard(r.lock);
  for (TableManager* m : r.order) {
    if (m == manager) return DCF_OK;
    if (m->table_ == manager->table_) {
      RAS1_TRACE(RAS1_ERROR, "Table %s is already registered by another manager",
                 manager->TableName());
      return DCF_E_DUPLICATE;
    }
  }
  r.order.push_back(manager);
  RAS1_TRACE(RAS1_FLOW, "Registered table %s of %s", manager->TableName(), manager->ApplName());
  return DCF_OK;
}

namespace cfw {

std::vector<TableManager*> RegisteredManagers() {
  Registry& r = Tables();
  std::lock_guard<std::mutex> guard(r.lock);
  return r.order;
}

TableManager* FindManager(const std::string& table) {
  Registry& r = Tables();
  std::lock_guard<std::mutex> guard(r.lock);
  for (TableManager* m : r.order) {
    if (table == m->TableName()) return m;
  }
  return nullptr;
}

void ForgetRegistrations() {
  Registry& r = Tables();
  std::lock_guard<std::mutex> guard(r.lock);
  r.order.clear();
}

}  // namespace cfw
