// One WMI query on root\cimv2, its instances read as texts.
#pragma once

#include <string>
#include <vector>

#include "framework/ras1.h"

namespace osm {
namespace inventory {

// Runs the WQL query and reads the named properties of every instance (or
// of the first only) as texts: strings as they are, string arrays joined
// with " | ", booleans "True" or "False", integers in decimal; a property
// of another type or one that cannot be read gives "".
//
// COM is initialised for the calling thread and uninitialised at the end
// only when this call initialised it (a thread already in another apartment
// keeps its own); every WMI pointer is released before that. False when a
// step fails (traced with its result); no instance is kept then.
bool RunWmiQuery(const wchar_t* wql, const std::vector<const wchar_t*>& properties, bool firstOnly,
                 std::vector<std::vector<std::string>>* instances, RAS1_EPB* unit);

}  // namespace inventory
}  // namespace osm
