// The platform side of the file tables: paths in the platform's form, the
// facts of one file, the disk that holds it, and the host name of the rows.
#pragma once

#include <windows.h>

#include <string>

#include "collectors/files/file_rows.h"
#include "framework/ras1.h"

namespace osm {
namespace files {

// A UTF-8 path in UTF-16. A path of MAX_PATH characters or more gets the
// "\\?\" form, so that long names stay reachable.
std::wstring PlatformPath(const std::string& utf8);
std::wstring PlatformPath(const std::wstring& path);
std::wstring ToWide(const std::u16string& text);

// Size, attributes and local times of the file or directory at path, read
// without opening it (so that the watched program is never in its way).
// facts->found is false, and the attributes 0xFFFFFFFF, when it cannot be read.
FileFacts ExamineFile(const std::wstring& path);
// The first file matching target (which may hold wildcards), then its facts;
// found is false when nothing matches.
FileFacts LookUpFile(const std::wstring& target, RAS1_EPB* unit);
// Size and free space of the disk that holds directory.
DiskFigures DiskOf(const std::wstring& directory, RAS1_EPB* unit);

// Lists every directory below root once. With a subtree watch some platforms
// report changes in directories that existed before the watch only after
// they were listed; listing them all right after arming makes every platform
// report alike.
void ListDirectoriesBelow(const std::wstring& root);

// ORIGINNODE of the file tables: the local host name, blank padded to 64.
const std::string& HostNodeName();

// "CLASS::OPERATION()<gap>invoked" on the standard error stream.
void WriteProgress(const char* agentClass, const char* operation, const char* gap);

}  // namespace files
}  // namespace osm
