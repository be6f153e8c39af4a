// WTPHYSDSK and WTLOGCLDSK: the PhysicalDisk sample with its disk times made
// consistent, and the LogicalDisk sample completed by volume sizes and the
// physical disk that holds each drive.
#include "collectors/perf/disk_tables.h"

#include <winioctl.h>

#include <cstdio>
#include <string>

#include "collectors/perf/perf_collector.h"
#include "tables/tables.h"

namespace osm {
namespace perf {

namespace {

// No "insert a disk" dialog while a volume is asked for its size. Per thread:
// other requests run on other threads meanwhile.
class KErrorMode {
 public:
  KErrorMode() { SetThreadErrorMode(SEM_FAILCRITICALERRORS, &old_); }
  ~KErrorMode() { SetThreadErrorMode(old_, nullptr); }
  KErrorMode(const KErrorMode&) = delete;
  KErrorMode& operator=(const KErrorMode&) = delete;

 private:
  DWORD old_ = 0;
};

std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

std::string Narrow(const wchar_t* s) {
  std::string out;
  for (; s && *s; ++s) out.push_back(*s < 0x80 ? static_cast<char>(*s) : '?');
  return out;
}

const char* DriveTypeText(UINT type) {
  switch (type) {
    case DRIVE_NO_ROOT_DIR: return "Root path is invalid.  Volume may not be mounted.";
    case DRIVE_REMOVABLE: return "Removable.";
    case DRIVE_FIXED: return "Fixed";
    case DRIVE_REMOTE: return "Remote.  (Network.)";
    case DRIVE_CDROM: return "CD-ROM.";
    case DRIVE_RAMDISK: return "Ram Disk.";
    default: return "Unknown.";
  }
}

std::string SystemErrorText(DWORD error) {
  char* text = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string out(n && text ? text : "", n && text ? n : 0);
  if (text) LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

// The volume name ("\\?\Volume{...}\") of a logical disk instance, or empty.
std::wstring FindVolume(const std::string& name) {
  RAS1_UNIT("VolumeSizeMB");
  if (name.compare(0, 8, "Harddisk") == 0) {
    RAS1_TRACE(RAS1_DETAIL, "Volume size for HarddiskVolumex volume");
    RAS1_TRACE(RAS1_DETAIL, "Logical disk name [%s]", name.c_str());
    wchar_t volume[MAX_PATH];
    HANDLE find = FindFirstVolumeW(volume, MAX_PATH);
    if (find == INVALID_HANDLE_VALUE) return std::wstring();
    std::wstring found;
    do {
      std::wstring path(volume);
      if (path.size() < 5) continue;
      // QueryDosDevice wants "Volume{...}": no "\\?\" and no trailing backslash.
      std::wstring device = path.substr(4, path.size() - 5);
      wchar_t target[MAX_PATH] = {0};
      if (!QueryDosDeviceW(device.c_str(), target, MAX_PATH)) {
        RAS1_TRACE(RAS1_DETAIL, "QueryDosDevice on volume %s failed with error code %lu", Narrow(volume).c_str(),
                   GetLastError());
        continue;
      }
      RAS1_TRACE(RAS1_DETAIL, "Checking for device: %s", Narrow(target).c_str());
      RAS1_TRACE(RAS1_DETAIL, "with volume name: %s", Narrow(volume).c_str());
      if (DeviceNamesInstance(Narrow(target), name)) {
        RAS1_TRACE(RAS1_DETAIL, "Found right device for logical disk: [%s]", name.c_str());
        found = path;
        break;
      }
    } while (FindNextVolumeW(find, volume, MAX_PATH));
    DWORD error = found.empty() ? GetLastError() : 0;
    if (error == ERROR_NO_MORE_FILES) RAS1_TRACE(RAS1_DETAIL, "No more volumes to search");
    else if (error != 0) RAS1_TRACE(RAS1_DETAIL, "FindNextVolume failed with error code %lu", error);
    FindVolumeClose(find);
    return found;
  }
  if (name.size() >= 3 && name[1] == ':') {
    RAS1_TRACE(RAS1_DETAIL, "Volume size for named volume");
    std::string folder = name + "\\";
    RAS1_TRACE(RAS1_DETAIL, "Logical disk [%s]", folder.c_str());
    wchar_t volume[MAX_PATH] = {0};
    if (!GetVolumeNameForVolumeMountPointW(Widen(folder).c_str(), volume, MAX_PATH)) return std::wstring();
    RAS1_TRACE(RAS1_DETAIL, "Searching for volume name [%s]", Narrow(volume).c_str());
    return volume;
  }
  return std::wstring();
}

// The sizes of the logical disks, asked of the volumes.
class PlatformSizes : public LogicalDiskSizes {
 public:
  explicit PlatformSizes(RAS1_EPB* unit) : unit_(unit) {}

  std::int32_t DiskSizeMB(const std::string& root) override { return osm::perf::DiskSizeMB(root.c_str()); }
  std::int32_t VolumeSizeMB(const std::string& name, std::int32_t freeMb, std::int32_t pcFree) override {
    return osm::perf::VolumeSizeMB(name, freeMb, pcFree);
  }
  void Retrieving(const std::string& name) override {
    if (RAS1_Mask(unit_) & RAS1_DETAIL)
      RAS1_Printf(unit_, __LINE__, "Retrieving size for Logical Disk: <%s> \n", name.c_str());
  }
  void UnexpectedRow(const std::string& name, int rowNumber) override {
    if (RAS1_Mask(unit_) & RAS1_ERROR)
      RAS1_Printf(unit_, __LINE__, "unexpected data row for drive %s at row %d\n", name.c_str(), rowNumber);
  }

 private:
  RAS1_EPB* unit_;
};

void TraceDiskTimes(RAS1_EPB* unit, const char* format, const std::string& name, const DiskTimes& t) {
  if (RAS1_Mask(unit) & RAS1_DETAIL)
    RAS1_Printf(unit, __LINE__, format, name.c_str(), static_cast<long>(t.disk), static_cast<long>(t.idle),
                static_cast<long>(t.read), static_cast<long>(t.write));
}

}  // namespace

std::int32_t DiskSizeMB(const char* root) {
  RAS1_UNIT("DiskSizeMB");
  if (root == nullptr || *root == '\0') {
    RAS1_TRACE(RAS1_ERROR,
               "Invalid argument.  DiskSizeMB() expects a volume name. DiskSizeMB() returning 0MB as disk size.");
    return 0;
  }
  std::string rootPath = std::string(root) + "\\";
  const char* type = DriveTypeText(GetDriveTypeA(rootPath.c_str()));
  ULARGE_INTEGER callerFree{}, total{}, free{};
  BOOL ok;
  DWORD error = 0;
  {
    KErrorMode quiet;
    ok = GetDiskFreeSpaceExA(rootPath.c_str(), &callerFree, &total, &free);
    if (!ok) error = GetLastError();
  }
  if (!ok) {
    RAS1_TRACE(RAS1_ERROR,
               "Call to GetDiskFreeSpaceEx() failed.\tVolume Name:     %s\tVolume Type:     %s\tGetLastError():  %lu "
               "(%#.8lx)",
               root, type, error, error);
    RAS1_TRACE(RAS1_ERROR, "DiskSizeMB() returning 0MB as disk size. ");
    return 0;
  }
  std::int32_t totalMb = MegabytesOf(total.QuadPart);
  RAS1_TRACE(RAS1_DETAIL,
             "Volume: %s, Drive Type: %s, Total Space (Mbytes): %d, Free Space (Mbytes): %d, User's Free Space "
             "(Mbytes): %d",
             root, type, totalMb, MegabytesOf(free.QuadPart), MegabytesOf(callerFree.QuadPart));
  RAS1_TRACE(RAS1_DETAIL, "DiskSizeMB() exit.  Returning: %d (%#.8x)", totalMb, static_cast<unsigned>(totalMb));
  return totalMb;
}

std::int32_t VolumeSizeMB(const std::string& name, std::int32_t freeMb, std::int32_t pcFree) {
  RAS1_UNIT("VolumeSizeMB");
  std::wstring volume = FindVolume(name);
  if (volume.empty()) {
    RAS1_TRACE(RAS1_DETAIL, "Unable to get size for volume");
    return -1;
  }
  RAS1_TRACE(RAS1_DETAIL, "Getting size for volume [%s]", Narrow(volume.c_str()).c_str());
  std::wstring path = volume;
  if (!path.empty() && path.back() == L'\\') path.pop_back();
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_NO_BUFFERING | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    RAS1_TRACE(RAS1_ERROR, "Error in open file for disk [%s], volume [%s]", name.c_str(), Narrow(path.c_str()).c_str());
    return 0;
  }
  NTFS_VOLUME_DATA_BUFFER data;
  DWORD got = 0;
  BOOL ok = DeviceIoControl(h, FSCTL_GET_NTFS_VOLUME_DATA, nullptr, 0, &data, sizeof data, &got, nullptr);
  DWORD error = ok ? 0 : GetLastError();
  CloseHandle(h);
  VolumeDataRoute route;
  std::int32_t size = VolumeSizeFromVolumeData(ok != FALSE, error, reinterpret_cast<const unsigned char*>(&data),
                                               ok ? got : 0, freeMb, pcFree, &route);
  switch (route) {
    case VolumeDataRoute::kNtfs:
      RAS1_TRACE(RAS1_DETAIL, "VolumeSizeMB() exit.  Returning: %d (%#.8x)", size, static_cast<unsigned>(size));
      return size;
    case VolumeDataRoute::kNotSupported:
    case VolumeDataRoute::kNoCounters:
      RAS1_TRACE(RAS1_DETAIL, "Trapping IOCTL error code: <%lu>. Likely due to volume not NTFS.\n", error);
      if (route == VolumeDataRoute::kNoCounters) RAS1_TRACE(RAS1_DETAIL, "Disk Performance counter values cant be used. \n ");
      break;
    case VolumeDataRoute::kFailed:
      RAS1_TRACE(RAS1_ERROR, "Error <%lu> in IOCTL for disk [%s]", error, name.c_str());
      break;
  }
  if (RAS1_LEVEL() & RAS1_DETAIL) {
    char message[512];
    std::snprintf(message, sizeof message, "%s failed with error %lu: %s", "DeviceIoControl", error,
                  SystemErrorText(error).c_str());
    RAS1_ALWAYS("IOCTL message [%s]", message);
  }
  return size;
}

void CompleteWtPhysDskRows(FetchedRows& rows, RAS1_EPB* unit) {
  static const RowField name = FieldOf("WTPHYSDSK", "INSTCNAME");
  for (int i = 0; i < rows.count; ++i) {
    char* row = rows.Row(i);
    std::string disk = TrimmedInstanceName(row + name.offset, name.width);
    TraceDiskTimes(unit,
                   "Perfmon values --> Disk_Name=%s,  \n_Disk_Time=%ld, _Disk_Idle_Time=%ld, _Disk_Read_Time=%ld, "
                   "_Disk_Write_Time=%ld",
                   disk, DiskTimesOf(row));
    if (!AdjustPhysicalDiskRow(row) && (RAS1_Mask(unit) & RAS1_DETAIL))
      RAS1_Printf(unit, __LINE__, "No data encountered on this sample.  No adjustments applied.");
    TraceDiskTimes(unit,
                   "Updated values --> Disk_Name=%s, \n_Disk_Time=%ld, _Disk_Idle_Time=%ld, _Disk_Read_Time=%ld, "
                   "_Disk_Write_Time=%ld, ",
                   disk, DiskTimesOf(row));
  }
}

void CompleteWtLogclDskRows(FetchedRows& rows, RAS1_EPB* unit) {
  DriveMap map;
  FetchedRows physical;
  HRESULT hr = Fetch("WTPHYSDSK", &physical);
  if (hr == S_OK) {
    static const RowField name = FieldOf("WTPHYSDSK", "INSTCNAME");
    for (int i = 0; i < physical.count; ++i) {
      std::string letters = map.AddPhysicalDisk(physical.Row(i) + name.offset, name.width);
      for (char letter : letters)
        if (RAS1_Mask(unit) & RAS1_DETAIL)
          RAS1_Printf(unit, __LINE__, "Logical Disk: <%c:>, Physical Disk: <%s>\n", letter,
                      map.DiskOf(letter).c_str());
    }
  } else if (RAS1_Mask(unit) & RAS1_ERROR) {
    RAS1_Printf(unit, __LINE__, "OSM06001E Error getting physical disk information: <%x>\n", static_cast<unsigned>(hr));
  }
  PlatformSizes sizes(unit);
  CompleteLogicalDiskRows(rows.bytes.data(), static_cast<std::size_t>(rows.count), rows.rowSize, map, sizes);
  if (RAS1_Mask(unit) & RAS1_DETAIL) RAS1_Printf(unit, __LINE__, "Added %d rows.", rows.count);
}

namespace {

const CollectorSpec kWtPhysDsk = {"WTPHYSDSK", "PhysicalDisk", ProgressForm::kStandardOut, nullptr, nullptr,
                                  &CompleteWtPhysDskRows};
const CollectorSpec kWtLogclDsk = {"WTLOGCLDSK", "LogicalDisk", ProgressForm::kLogicalDisk, nullptr, nullptr,
                                   &CompleteWtLogclDskRows};

}  // namespace

}  // namespace perf
}  // namespace osm

OSM_PERF_AGENT(wtphysdsk, osm::perf::kWtPhysDsk)
OSM_PERF_AGENT(wtlogcldsk, osm::perf::kWtLogclDsk)
