// CRegistry: one open registry key, the root it was opened under and the full
// path of the current key, moved through with relative paths, absolute paths
// (leading backslash) and "..". Every operation answers with a small status.
#pragma once

#include <windows.h>

class CRegistry {
 public:
  enum Status {
    kOk = 0,
    kAlreadyOpen = 1,      // Open on a wrapper that already holds a key
    kNothingOpen = 2,      // Close with nothing open
    kNoKey = 3,            // no key open
    kBufferTooSmall = 4,   // a caller's buffer is too small
    kBadArgument = 5,      // empty or over-long path, root key not allowed
    kValueNotFound = 7,
    kRegistryError = 8,    // any other failure; the system code is in LastError()
    kEnumFinished = 9,
    kEnumOtherKind = 10,   // an enumeration of the other kind is in progress
    kEnumNoNameSize = 11,  // value enumeration without a usable name size
    kEnumNoDataSize = 12   // value enumeration with a data buffer but no data size
  };

  // Opens at once when a machine name or a root key is given.
  CRegistry(const char* machine = nullptr, HKEY root = nullptr, const char* path = nullptr, bool create = false);
  ~CRegistry();
  CRegistry(const CRegistry&) = delete;
  CRegistry& operator=(const CRegistry&) = delete;

  int Open(const char* machine, HKEY root, const char* path, bool create);
  int Position(const char* path, bool create);
  int GetValue(const char* name, void* data, DWORD* type, DWORD* size);
  int EnumVals(char* name, DWORD* nameSize, void* data, DWORD* dataSize, DWORD* type, DWORD* index, bool reverse);
  // Each text output is cut to its buffer; 4 when one did not fit.
  int Status(bool* open, char* lastOperation, DWORD lastOperationSize, char* currentPath, DWORD currentPathSize,
             char* lastCall, DWORD lastCallSize, DWORD* lastError, char* machine, DWORD machineSize) const;
  int Close();

  // Settings for keys opened or created later.
  void SetAccess(REGSAM access) { access_ = access; }
  void SetCreateOptions(DWORD options) { createOptions_ = options; }
  void SetClass(const char* keyClass);
  void SetSecurity(SECURITY_ATTRIBUTES* security) { security_ = security; }

  HKEY Key() const { return current_; }
  const char* CurrentPath() const { return path_; }
  LONG LastError() const { return lastError_; }

  static const std::size_t kPathSize = 1024;

 private:
  enum EnumMode { kEnumNone, kEnumValues, kEnumKeys };
  void Init();
  void Note(const char* operation, const char* call, LONG error);
  LONG OpenBelow(HKEY parent, const char* subkey, bool create, HKEY* result);

  HKEY current_;
  HKEY root_;
  char machine_[32];
  char path_[kPathSize];
  REGSAM access_;
  DWORD createOptions_;
  char class_[512];
  SECURITY_ATTRIBUTES* security_;
  EnumMode enumMode_;
  bool enumReverse_;
  DWORD enumIndex_;
  LONG lastError_;
  char lastOperation_[24];
  char lastCall_[24];
};
