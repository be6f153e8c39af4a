// The disk tables' own values: the disk-time adjustment and disk number of a
// PhysicalDisk row (WTPHYSDSK), the drive map taken from PhysicalDisk
// instance names, and the sizes, used percentage and disk numbers of the
// LogicalDisk rows (WTLOGCLDSK). No platform calls: the Windows side asks the
// volumes for their sizes through LogicalDiskSizes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tables/catalogue.h"

namespace osm {
namespace perf {

// A PhysicalDisk instance is named by its disk number, a blank and the drives
// it holds ("0 C: D:"). The disk number is the text before the first blank,
// cut to maxBytes; empty for "_Total" and for a name without a blank.
std::string PhysicalDiskNumber(const char* nameField, std::size_t width, std::size_t maxBytes);

struct DiskTimes {
  std::int32_t disk = 0, idle = 0, read = 0, write = 0;
};
DiskTimes DiskTimesOf(const char* physicalDiskRow);

// Makes one WTPHYSDSK row consistent: idle time at most 100, disk time
// 100 - idle, read and write time scaled down when together they exceed it.
// A row whose four times are all 0 keeps them; the function then returns
// false. Sets DISKNUMBER and the 32-bit bytes averages in every case.
bool AdjustPhysicalDiskRow(char* row);

// The physical disk number of each drive letter, "0" unless a PhysicalDisk
// instance names the letter.
class DriveMap {
 public:
  DriveMap();
  // Maps the drives of one PhysicalDisk instance name; returns the letters
  // it mapped. Only A to Z (either case) before a colon count.
  std::string AddPhysicalDisk(const char* nameField, std::size_t width);
  // At most 3 characters; "0" for a character that is no drive letter.
  std::string DiskOf(char letter) const;

 private:
  std::string disk_[26];
};

// The instance name without trailing blanks, tabs, line ends and NULs.
std::string TrimmedInstanceName(const char* field, std::size_t width);

// What a LogicalDisk instance is, by the form of its trimmed name: a drive
// ("C:"), the "_Total" instance (second character T), a volume named by its
// device ("HarddiskVolume1") or mounted in a folder ("C:\mnt\data"), or an
// unexpected name.
enum class LogicalDiskKind { kDrive, kTotal, kVolume, kUnexpected };
LogicalDiskKind ClassifyLogicalDisk(const std::string& name);

// True when the last component of a volume's device name
// ("\Device\HarddiskVolume1") is the instance name, ignoring case.
bool DeviceNamesInstance(const std::string& deviceName, const std::string& instance);

// Free megabytes x 100 / percent free, worked out in 64 bits and saturated
// to the 32-bit range; rounded half up or truncated. -1 when percent free is
// not positive or free megabytes are negative.
std::int32_t SizeFromFreeSpace(std::int32_t freeMb, std::int32_t pcFree, bool roundHalfUp);

// Megabytes of bytes, rounded half up and saturated.
std::int32_t MegabytesOf(std::uint64_t bytes);

// The answer to the NTFS volume-data request, in the layout of
// NTFS_VOLUME_DATA_BUFFER (96 bytes).
const std::size_t kNtfsVolumeDataSize = 96;
// How the volume size came out of that request.
enum class VolumeDataRoute {
  kNtfs,          // answered: sectors x bytes per sector
  kNotSupported,  // error 1, sized from the free space counters
  kNoCounters,    // error 1, and the free space counters are not positive: -1
  kFailed         // any other error, or a short answer: 0
};
std::int32_t VolumeSizeFromVolumeData(bool ok, std::uint32_t error, const unsigned char* data, std::size_t length,
                                      std::int32_t freeMb, std::int32_t pcFree, VolumeDataRoute* route);

// The volume sizes as the platform reports them (megabytes, 0 or -1), and
// the notes the walk over the rows makes.
class LogicalDiskSizes {
 public:
  virtual std::int32_t DiskSizeMB(const std::string& root) = 0;
  virtual std::int32_t VolumeSizeMB(const std::string& name, std::int32_t freeMb, std::int32_t pcFree) = 0;
  virtual void Retrieving(const std::string& name) { (void)name; }
  virtual void UnexpectedRow(const std::string& name, int rowNumber) { (void)name, (void)rowNumber; }

 protected:
  ~LogicalDiskSizes() = default;
};

// Completes the rows of a WTLOGCLDSK sample: used percentage, total size and
// physical disk number of every drive and volume, and the sizes' sum in the
// "_Total" row. A size that stays unknown (-1) is left out of the sum.
void CompleteLogicalDiskRows(char* rows, std::size_t count, std::size_t rowSize, const DriveMap& map,
                             LogicalDiskSizes& sizes);

}  // namespace perf
}  // namespace osm
