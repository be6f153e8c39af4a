#include "collectors/inventory/volumes.h"

#include <windows.h>

namespace osm {
namespace inventory {

namespace {

class PlatformVolumes : public VolumeSource {
 public:
  // No "insert a disk" dialog for an empty drive while this thread asks.
  PlatformVolumes() { SetThreadErrorMode(SEM_FAILCRITICALERRORS, &previousMode_); }
  ~PlatformVolumes() override { SetThreadErrorMode(previousMode_, nullptr); }

  bool VolumeNameOf(const std::string& path, std::string* volume) override {
    char name[MAX_PATH + 1];
    if (!GetVolumeNameForVolumeMountPointA(path.c_str(), name, sizeof name)) return false;
    *volume = name;
    return true;
  }
  std::vector<std::string> Volumes() override {
    std::vector<std::string> out;
    char name[MAX_PATH + 1];
    HANDLE find = FindFirstVolumeA(name, sizeof name);
    if (find == INVALID_HANDLE_VALUE) return out;
    do out.push_back(name);
    while (FindNextVolumeA(find, name, sizeof name));
    FindVolumeClose(find);
    return out;
  }
  bool SupportsMountPoints(const std::string& volume) override {
    DWORD flags = 0;
    return GetVolumeInformationA(volume.c_str(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
           (flags & FILE_SUPPORTS_REPARSE_POINTS) != 0;
  }
  std::vector<std::string> MountPoints(const std::string& volume) override {
    std::vector<std::string> out;
    char path[MAX_PATH + 1];
    HANDLE find = FindFirstVolumeMountPointA(volume.c_str(), path, sizeof path);
    if (find == INVALID_HANDLE_VALUE) return out;
    do out.push_back(path);
    while (FindNextVolumeMountPointA(find, path, sizeof path));
    FindVolumeMountPointClose(find);
    return out;
  }
  bool CanList(const std::string& pattern) override {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    FindClose(find);
    return true;
  }

 private:
  DWORD previousMode_ = 0;
};

}  // namespace

std::unique_ptr<VolumeSource> NewPlatformVolumeSource() { return std::unique_ptr<VolumeSource>(new PlatformVolumes()); }

VolumeSource*& VolumeSourceHook() {
  static VolumeSource* hook = nullptr;
  return hook;
}

}  // namespace inventory
}  // namespace osm
