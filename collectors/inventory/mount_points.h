// Mount points without the platform: which volumes are mounted in folders of
// the lettered drives C to Y, asked of a volume source that the Windows side
// implements with the volume functions (and tests with their own volumes).
#pragma once

#include <string>
#include <vector>

namespace osm {
namespace inventory {

class VolumeSource {
 public:
  virtual ~VolumeSource() = default;
  // The volume name ("\\?\Volume{...}\") mounted at a root or folder path
  // ending in a backslash; false when none.
  virtual bool VolumeNameOf(const std::string& path, std::string* volume) = 0;
  // Every volume of the system.
  virtual std::vector<std::string> Volumes() = 0;
  // Whether the volume's file system supports mount points.
  virtual bool SupportsMountPoints(const std::string& volume) = 0;
  // The mount points of a volume, as folder paths relative to its root with
  // their trailing backslash ("Data\").
  virtual std::vector<std::string> MountPoints(const std::string& volume) = 0;
  // Whether the folder can be listed (pattern "C:\Data\*").
  virtual bool CanList(const std::string& pattern) = 0;
};

struct MountPoint {
  std::string volume;  // the mounted volume's name
  std::string root;    // the drive that holds the folder, "C:\"
  std::string path;    // "C:\Data\"
  std::string state;   // "READY" or "NOT_READY"
};

// The mount points of every lettered drive, in volume and mount point order.
std::vector<MountPoint> DiscoverMountPoints(VolumeSource& source);

}  // namespace inventory
}  // namespace osm
