// The volume source of NTMNTPT on Windows, and the seam that lets a test
// put its own volumes in its place.
#pragma once

#include <memory>

#include "collectors/inventory/mount_points.h"

namespace osm {
namespace inventory {

// The volume, mount point and folder functions of the platform.
std::unique_ptr<VolumeSource> NewPlatformVolumeSource();

// The source NTMNTPT samples read: the platform's while this is null.
VolumeSource*& VolumeSourceHook();

}  // namespace inventory
}  // namespace osm
