#include "collectors/inventory/mount_points.h"

#include "framework/ras1.h"

namespace osm {
namespace inventory {

std::vector<MountPoint> DiscoverMountPoints(VolumeSource& source) {
  RAS1_UNIT("osm_ntmntpt_agent::TakeSample");
  struct Drive {
    std::string volume, root;
  };
  // A, B and Z are not examined.
  std::vector<Drive> drives;
  for (char letter = 'C'; letter <= 'Y'; ++letter) {
    Drive d;
    d.root = std::string(1, letter) + ":\\";
    if (source.VolumeNameOf(d.root, &d.volume)) drives.push_back(d);
  }
  std::vector<MountPoint> found;
  std::vector<std::string> volumes = source.Volumes();
  if (volumes.empty()) RAS1_TRACE(RAS1_DETAIL, "No Volumes found!\n");
  for (const std::string& volume : volumes) {
    if (!source.SupportsMountPoints(volume)) {
      RAS1_TRACE(RAS1_DETAIL, "This file system does not support volume mount points.\n");
      continue;
    }
    std::vector<std::string> folders = source.MountPoints(volume);
    if (folders.empty()) RAS1_TRACE(RAS1_DETAIL, "No volume mount points found!\n");
    for (const std::string& folder : folders)
      for (const Drive& d : drives) {
        if (d.volume != volume) continue;
        MountPoint m;
        m.root = d.root;
        m.path = d.root + folder;
        if (!source.VolumeNameOf(m.path, &m.volume)) {
          RAS1_TRACE(RAS1_DETAIL, "Attempt to get volume name for %s failed.\n", m.path.c_str());
          continue;
        }
        if (source.CanList(m.path + "*")) {
          RAS1_TRACE(RAS1_DETAIL, "The mount point discovered is %s\n", m.path.c_str());
          m.state = "READY";
        } else {
          RAS1_TRACE(RAS1_DETAIL, "The mount point %s is not available\n\n", m.path.c_str());
          m.state = "NOT_READY";
        }
        found.push_back(m);
      }
  }
  return found;
}

}  // namespace inventory
}  // namespace osm
