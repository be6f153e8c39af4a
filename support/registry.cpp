#include "support/registry.h"

#include <cstdio>
#include <cstring>

#include "framework/ras1.h"

namespace {

// Copies text into a fixed buffer; false when it had to be cut.
bool CopyText(char* target, std::size_t size, const char* text) {
  if (!target || size == 0) return text == nullptr || *text == '\0';
  std::size_t n = std::strlen(text);
  bool fits = n < size;
  if (!fits) n = size - 1;
  std::memcpy(target, text, n);
  target[n] = '\0';
  return fits;
}

bool IsLocalRoot(HKEY root) {
  return root == HKEY_CLASSES_ROOT || root == HKEY_CURRENT_USER || root == HKEY_LOCAL_MACHINE || root == HKEY_USERS;
}

}  // namespace

CRegistry::CRegistry(const char* machine, HKEY root, const char* path, bool create) {
  Init();
  if ((machine && *machine) || root) Open(machine, root, path, create);
}

CRegistry::~CRegistry() {
  if (current_) Close();
}

void CRegistry::Init() {
  current_ = nullptr;
  root_ = nullptr;
  machine_[0] = '\0';
  path_[0] = '\0';
  access_ = KEY_ALL_ACCESS;
  createOptions_ = 0;
  class_[0] = '\0';
  security_ = nullptr;
  enumMode_ = kEnumNone;
  enumReverse_ = false;
  enumIndex_ = 0;
  lastError_ = ERROR_SUCCESS;
  lastOperation_[0] = '\0';
  lastCall_[0] = '\0';
}

void CRegistry::SetClass(const char* keyClass) { CopyText(class_, sizeof class_, keyClass ? keyClass : ""); }

void CRegistry::Note(const char* operation, const char* call, LONG error) {
  CopyText(lastOperation_, sizeof lastOperation_, operation);
  CopyText(lastCall_, sizeof lastCall_, call);
  lastError_ = error;
}

// Opens (or creates) parent\subkey, once more in the 32-bit view on failure.
LONG CRegistry::OpenBelow(HKEY parent, const char* subkey, bool create, HKEY* result) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    REGSAM access = attempt == 0 ? access_ : (access_ | KEY_WOW64_32KEY);
    LONG rc;
    if (create) {
      DWORD disposition = 0;
      rc = RegCreateKeyExA(parent, subkey, 0, class_, createOptions_, access, security_, result, &disposition);
      Note("Position", "RegCreateKeyEx", rc);
    } else {
      rc = RegOpenKeyExA(parent, subkey, 0, access, result);
      Note("Position", "RegOpenKeyEx", rc);
    }
    if (rc == ERROR_SUCCESS) return rc;
  }
  return lastError_;
}

int CRegistry::Open(const char* machine, HKEY root, const char* path, bool create) {
  RAS1_UNIT("CRegistry::Open");
  if (current_) return kAlreadyOpen;
  if (machine && *machine) {
    if (root == nullptr) root = HKEY_LOCAL_MACHINE;
    if (root != HKEY_LOCAL_MACHINE && root != HKEY_USERS) return kBadArgument;
    if (std::strlen(machine) >= sizeof machine_) return kBadArgument;
    HKEY key = nullptr;
    LONG rc = RegConnectRegistryA(machine, root, &key);
    if (rc != ERROR_SUCCESS) {
      Init();
      Note("Open", "RegConnectRegistry", rc);
      RAS1_TRACE(RAS1_ERROR, "RegConnectRegistry to %s failed, error %ld", machine, static_cast<long>(rc));
      return kRegistryError;
    }
    Note("Open", "RegConnectRegistry", rc);
    CopyText(machine_, sizeof machine_, machine);
    current_ = root_ = key;
  } else {
    if (root == nullptr) root = HKEY_LOCAL_MACHINE;
    if (!IsLocalRoot(root)) return kBadArgument;
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExA(root, nullptr, 0, access_, &key);
    if (rc != ERROR_SUCCESS) rc = RegOpenKeyExA(root, nullptr, 0, access_ | KEY_WOW64_32KEY, &key);
    Note("Open", "RegOpenKeyEx", rc);
    if (rc != ERROR_SUCCESS) return kRegistryError;
    current_ = root_ = key;
  }
  path_[0] = '\0';
  if (path) return Position(path, create);
  return kOk;
}

int CRegistry::Position(const char* path, bool create) {
  RAS1_UNIT("CRegistry::Position");
  if (!current_) return kNoKey;
  if (!path || !*path) return kBadArgument;

  char newPath[kPathSize];
  HKEY parent;
  const char* subkey;
  if (std::strcmp(path, "..") == 0) {
    // The parent, made absolute: "" when the current key is just below the root.
    const char* cut = std::strrchr(path_, '\\');
    std::size_t n = cut ? static_cast<std::size_t>(cut - path_) : 0;
    std::memcpy(newPath, path_, n);
    newPath[n] = '\0';
    parent = root_;
    subkey = newPath;
  } else if (path[0] == '\\') {
    if (!CopyText(newPath, sizeof newPath, path + 1)) return kBadArgument;
    parent = root_;
    subkey = newPath;
  } else {
    int n = path_[0] ? std::snprintf(newPath, sizeof newPath, "%s\\%s", path_, path)
                     : std::snprintf(newPath, sizeof newPath, "%s", path);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof newPath) return kBadArgument;
    parent = current_;
    subkey = path;
  }

  HKEY key = nullptr;
  if (OpenBelow(parent, subkey, create, &key) != ERROR_SUCCESS) {
    RAS1_TRACE(RAS1_FLOW, "Unable to open key %s, error %ld", newPath, static_cast<long>(lastError_));
    return kRegistryError;
  }
  HKEY previous = current_;
  current_ = key;
  std::memcpy(path_, newPath, std::strlen(newPath) + 1);
  // An enumeration belongs to its key: the next key's starts at its first value,
  // also when the last one ended on an error.
  enumMode_ = kEnumNone;
  enumIndex_ = 0;
  if (previous != root_ && previous != key) RegCloseKey(previous);
  return kOk;
}

int CRegistry::GetValue(const char* name, void* data, DWORD* type, DWORD* size) {
  if (!current_) return kNoKey;
  LONG rc = RegQueryValueExA(current_, name, nullptr, type, static_cast<LPBYTE>(data), size);
  Note("GetValue", "RegQueryValueEx", rc);
  if (rc == ERROR_SUCCESS) return kOk;
  if (rc == ERROR_FILE_NOT_FOUND) return kValueNotFound;
  return kRegistryError;
}

int CRegistry::EnumVals(char* name, DWORD* nameSize, void* data, DWORD* dataSize, DWORD* type, DWORD* index,
                        bool reverse) {
  RAS1_UNIT("CRegistry::EnumVals");
  if (!current_) return kNoKey;
  if (enumMode_ == kEnumKeys) return kEnumOtherKind;
  if (enumMode_ == kEnumNone) {
    enumMode_ = kEnumValues;
    enumReverse_ = reverse;
    enumIndex_ = 0;
    if (reverse) {
      DWORD values = 0;
      LONG rc = RegQueryInfoKeyA(current_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                                 nullptr, nullptr, nullptr);
      Note("EnumVals", "RegQueryInfoKey", rc);
      if (rc != ERROR_SUCCESS) {
        enumMode_ = kEnumNone;
        return kRegistryError;
      }
      enumIndex_ = values;  // one past the last; decremented before use
    }
  }
  if (!name || !nameSize || *nameSize == 0) return kEnumNoNameSize;
  if (data && (!dataSize || *dataSize == 0)) return kEnumNoDataSize;

  if (enumReverse_) {
    if (enumIndex_ == 0) {
      enumMode_ = kEnumNone;
      return kEnumFinished;
    }
    --enumIndex_;
  }
  DWORD current = enumIndex_;
  std::memset(name, 0, *nameSize);
  if (data) std::memset(data, 0, *dataSize);
  LONG rc = RegEnumValueA(current_, current, name, nameSize, nullptr, type, static_cast<LPBYTE>(data), dataSize);
  Note("EnumVals", "RegEnumValue", rc);
  if (index) *index = current;
  if (!enumReverse_) ++enumIndex_;

  if (rc == ERROR_SUCCESS) return kOk;
  if (rc == ERROR_MORE_DATA) {
    RAS1_ALWAYS("There is more data from registry entry but the buffer isn't big enough. dwEnumIndex = %d",
                static_cast<int>(enumIndex_));
    return kBufferTooSmall;
  }
  if (rc == ERROR_NO_MORE_ITEMS) {
    enumMode_ = kEnumNone;
    enumIndex_ = 0;
    return kEnumFinished;
  }
  return kRegistryError;
}

int CRegistry::Status(bool* open, char* lastOperation, DWORD lastOperationSize, char* currentPath,
                      DWORD currentPathSize, char* lastCall, DWORD lastCallSize, DWORD* lastError, char* machine,
                      DWORD machineSize) const {
  bool fits = true;
  if (open) *open = current_ != nullptr;
  if (lastOperation) fits &= CopyText(lastOperation, lastOperationSize, lastOperation_);
  if (currentPath) fits &= CopyText(currentPath, currentPathSize, path_);
  if (lastCall) fits &= CopyText(lastCall, lastCallSize, lastCall_);
  if (lastError) *lastError = static_cast<DWORD>(lastError_);
  if (machine) fits &= CopyText(machine, machineSize, machine_);
  return fits ? kOk : kBufferTooSmall;
}

int CRegistry::Close() {
  if (!current_) return kNothingOpen;
  LONG rc = RegCloseKey(current_);
  // The root is closed once, also when the current key is the root itself.
  if (root_ && root_ != current_) {
    LONG rootRc = RegCloseKey(root_);
    if (rc == ERROR_SUCCESS) rc = rootRc;
  }
  Init();
  Note("Close", "RegCloseKey", rc);
  return rc == ERROR_SUCCESS ? kOk : kRegistryError;
}
