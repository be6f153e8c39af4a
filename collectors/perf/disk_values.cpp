#include "collectors/perf/disk_values.h"

#include <cstring>
#include <limits>

#include "collectors/perf/perf_values.h"

namespace osm {
namespace perf {

namespace {

struct PhysicalDiskFields {
  RowField name, disk, idle, read, write, number, avgRead, avgRead8, avgTransfer, avgTransfer8, avgWrite, avgWrite8;
  PhysicalDiskFields() {
    const TableDef& t = *FindTable("WTPHYSDSK");
    name = FieldOf(t, "INSTCNAME");
    disk = FieldOf(t, "PCTDSKTIME");
    idle = FieldOf(t, "PCTDSKIDTM");
    read = FieldOf(t, "PCTDSKRDTM");
    write = FieldOf(t, "PCTDSKWRTM");
    number = FieldOf(t, "DISKNUMBER");
    avgRead = FieldOf(t, "AVGDSKBYTS");
    avgRead8 = FieldOf(t, "AVGDSKBYT8");
    avgTransfer = FieldOf(t, "AVDSKBYTTF");
    avgTransfer8 = FieldOf(t, "AVDSKBYTT8");
    avgWrite = FieldOf(t, "AVDSKBYTWT");
    avgWrite8 = FieldOf(t, "AVDSKBYTW8");
  }
};

struct LogicalDiskFields {
  RowField name, pcFree, pcUsed, totalSize, freeMb, readResponse, diskNumber;
  LogicalDiskFields() {
    const TableDef& t = *FindTable("WTLOGCLDSK");
    name = FieldOf(t, "INSTCNAME");
    pcFree = FieldOf(t, "PCFREE");
    pcUsed = FieldOf(t, "PCUSED");
    totalSize = FieldOf(t, "TOTALSIZE");
    freeMb = FieldOf(t, "FREEMGBTES");
    readResponse = FieldOf(t, "DSKPCTFRSP");
    diskNumber = FieldOf(t, "PHYDISKNUM");
  }
};

const PhysicalDiskFields& Physical() {
  static const PhysicalDiskFields f;
  return f;
}

// The length of a text field's value: up to its first NUL.
std::size_t TextLength(const char* field, std::size_t width) {
  const void* nul = std::memchr(field, '\0', width);
  return nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - field) : width;
}

// Index 0 to 25 of a drive letter, or -1.
int DriveIndex(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a';
  return -1;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// A text in a narrow field: the text, then NULs to the end of the field.
void SetNulPadded(char* row, RowField field, const std::string& text) {
  if (!field.valid()) return;
  std::memset(row + field.offset, 0, field.width);
  std::memcpy(row + field.offset, text.data(), text.size() < field.width ? text.size() : field.width);
}

std::int32_t ScaledTime(std::int32_t total, std::int32_t part, std::int32_t delivered) {
  if (delivered == 0) return 0;
  return SaturateInt32(static_cast<std::int64_t>(total) * part / delivered);
}

}  // namespace

std::string PhysicalDiskNumber(const char* nameField, std::size_t width, std::size_t maxBytes) {
  if (nameField == nullptr || IsTotalInstance(nameField, width)) return std::string();
  std::size_t length = TextLength(nameField, width);
  const void* blank = std::memchr(nameField, ' ', length);
  if (blank == nullptr) return std::string();
  std::size_t n = static_cast<std::size_t>(static_cast<const char*>(blank) - nameField);
  return std::string(nameField, n < maxBytes ? n : maxBytes);
}

DiskTimes DiskTimesOf(const char* row) {
  const PhysicalDiskFields& f = Physical();
  DiskTimes t;
  t.disk = GetInt32(row, f.disk);
  t.idle = GetInt32(row, f.idle);
  t.read = GetInt32(row, f.read);
  t.write = GetInt32(row, f.write);
  return t;
}

bool AdjustPhysicalDiskRow(char* row) {
  const PhysicalDiskFields& f = Physical();
  DiskTimes t = DiskTimesOf(row);
  if (t.idle >= 101) SetInt32(row, f.idle, t.idle = 100);
  bool data = t.disk != 0 || t.idle != 0 || t.read != 0 || t.write != 0;
  if (data) {
    std::int32_t busy = SaturateInt32(100 - static_cast<std::int64_t>(t.idle));
    SetInt32(row, f.disk, busy);
    if (static_cast<std::int64_t>(t.read) + t.write > busy) {
      SetInt32(row, f.read, ScaledTime(busy, t.read, t.disk));
      SetInt32(row, f.write, ScaledTime(busy, t.write, t.disk));
    }
  }
  SetNulPadded(row, f.number, PhysicalDiskNumber(row + f.name.offset, f.name.width, f.number.width));
  // The 32-bit averages are the low halves of the 64-bit ones.
  SetInt32(row, f.avgRead, static_cast<std::int32_t>(static_cast<std::uint32_t>(GetInt64(row, f.avgRead8))));
  SetInt32(row, f.avgTransfer, static_cast<std::int32_t>(static_cast<std::uint32_t>(GetInt64(row, f.avgTransfer8))));
  SetInt32(row, f.avgWrite, static_cast<std::int32_t>(static_cast<std::uint32_t>(GetInt64(row, f.avgWrite8))));
  return data;
}

DriveMap::DriveMap() {
  for (std::string& d : disk_) d = "0";
}

std::string DriveMap::AddPhysicalDisk(const char* nameField, std::size_t width) {
  std::string mapped;
  std::string number = PhysicalDiskNumber(nameField, width, 3);
  if (number.empty()) return mapped;
  std::size_t length = TextLength(nameField, width);
  // The drives follow the blank that ends the (possibly longer) number.
  const char* blank = static_cast<const char*>(std::memchr(nameField, ' ', length));
  for (std::size_t i = static_cast<std::size_t>(blank - nameField) + 1; i < length; ++i) {
    if (nameField[i] != ':') continue;
    int drive = DriveIndex(nameField[i - 1]);
    if (drive < 0) continue;
    disk_[drive] = number;
    mapped.push_back(static_cast<char>('A' + drive));
  }
  return mapped;
}

std::string DriveMap::DiskOf(char letter) const {
  int drive = DriveIndex(letter);
  return drive < 0 ? std::string("0") : disk_[drive];
}

std::string TrimmedInstanceName(const char* field, std::size_t width) {
  std::string name(field, TextLength(field, width));
  std::size_t end = name.find_last_not_of(" \t\r\n");
  name.erase(end == std::string::npos ? 0 : end + 1);
  return name;
}

LogicalDiskKind ClassifyLogicalDisk(const std::string& name) {
  bool colonSecond = name.size() >= 2 && name[1] == ':';
  if (name.size() == 2 && colonSecond) return LogicalDiskKind::kDrive;
  if (name.compare(0, 8, "Harddisk") != 0 && (name.size() <= 2 || !colonSecond))
    return name.size() >= 2 && name[1] == 'T' ? LogicalDiskKind::kTotal : LogicalDiskKind::kUnexpected;
  return LogicalDiskKind::kVolume;
}

bool DeviceNamesInstance(const std::string& deviceName, const std::string& instance) {
  std::size_t slash = deviceName.find_last_of('\\');
  std::string last = slash == std::string::npos ? deviceName : deviceName.substr(slash + 1);
  if (last.empty() || last.size() != instance.size()) return false;
  for (std::size_t i = 0; i < last.size(); ++i)
    if (Lower(last[i]) != Lower(instance[i])) return false;
  return true;
}

std::int32_t SizeFromFreeSpace(std::int32_t freeMb, std::int32_t pcFree, bool roundHalfUp) {
  if (pcFree <= 0 || freeMb < 0) return -1;
  std::uint64_t hundredfold = static_cast<std::uint64_t>(freeMb) * 100u;
  std::uint64_t size = roundHalfUp ? DivideRoundHalfUp(hundredfold, static_cast<std::uint64_t>(pcFree))
                                   : hundredfold / static_cast<std::uint64_t>(pcFree);
  return SaturateInt32(static_cast<std::int64_t>(size));
}

std::int32_t MegabytesOf(std::uint64_t bytes) {
  return SaturateInt32(static_cast<std::int64_t>(DivideRoundHalfUp(bytes, 1048576)));
}

std::int32_t VolumeSizeFromVolumeData(bool ok, std::uint32_t error, const unsigned char* data, std::size_t length,
                                      std::int32_t freeMb, std::int32_t pcFree, VolumeDataRoute* route) {
  VolumeDataRoute dummy;
  VolumeDataRoute& r = route ? *route : dummy;
  // NumberSectors (8 bytes at 8) and BytesPerSector (4 bytes at 40).
  if (ok && data != nullptr && length >= 44) {
    std::uint64_t sectors = 0;
    std::uint32_t bytesPerSector = 0;
    for (int i = 7; i >= 0; --i) sectors = sectors << 8 | data[8 + i];
    for (int i = 3; i >= 0; --i) bytesPerSector = bytesPerSector << 8 | data[40 + i];
    r = VolumeDataRoute::kNtfs;
    const std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    if (bytesPerSector != 0 && sectors > kMax / bytesPerSector) return std::numeric_limits<std::int32_t>::max();
    return MegabytesOf(sectors * bytesPerSector);
  }
  if (!ok && error == 1) {
    if (freeMb > 0 && pcFree > 0) {
      r = VolumeDataRoute::kNotSupported;
      return SizeFromFreeSpace(freeMb, pcFree, false);
    }
    r = VolumeDataRoute::kNoCounters;
    return -1;
  }
  r = VolumeDataRoute::kFailed;
  return 0;
}

void CompleteLogicalDiskRows(char* rows, std::size_t count, std::size_t rowSize, const DriveMap& map,
                             LogicalDiskSizes& sizes) {
  static const LogicalDiskFields f;
  if (rows == nullptr || rowSize < FindTable("WTLOGCLDSK")->rowSize) return;
  std::int64_t sum = 0;
  char* totalRow = nullptr;
  for (std::size_t i = 0; i < count; ++i) {
    char* row = rows + i * rowSize;
    std::string name = TrimmedInstanceName(row + f.name.offset, f.name.width);
    sizes.Retrieving(name);
    LogicalDiskKind kind = ClassifyLogicalDisk(name);
    if (kind == LogicalDiskKind::kUnexpected) {
      sizes.UnexpectedRow(name, static_cast<int>(i + 1));
      continue;
    }
    std::int32_t pcFree = GetInt32(row, f.pcFree);
    SetInt32(row, f.pcUsed, SaturateInt32(100 - static_cast<std::int64_t>(pcFree)));
    if (GetInt32(row, f.readResponse) < 0) SetInt32(row, f.readResponse, 0);
    if (kind == LogicalDiskKind::kTotal) {
      totalRow = row;
      SetNulPadded(row, f.diskNumber, "");
      continue;
    }
    std::int32_t size;
    if (kind == LogicalDiskKind::kDrive) {
      size = sizes.DiskSizeMB(name);
      SetNulPadded(row, f.diskNumber, map.DiskOf(name[0]));
    } else {
      std::int32_t freeMb = GetInt32(row, f.freeMb);
      size = sizes.VolumeSizeMB(name, freeMb, pcFree);
      if (size == -1) size = SizeFromFreeSpace(freeMb, pcFree, true);
      SetNulPadded(row, f.diskNumber, "Mnt");
    }
    SetInt32(row, f.totalSize, size);
    if (size > 0) sum += size;
  }
  if (totalRow) SetInt32(totalRow, f.totalSize, SaturateInt32(sum));
}

}  // namespace perf
}  // namespace osm
