// The print spooler's printers and their jobs, as NTPRINTER and NTPRTJOB
// read them.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <memory>
#include <string>
#include <vector>

namespace osm {
namespace inventory {

// The jobs of one printer (JOB_INFO_2W records and the texts they point to).
class CPrinterJobInfoInt {
 public:
  std::vector<BYTE> buffer;
  DWORD count = 0;
  const JOB_INFO_2W& Job(DWORD i) const { return reinterpret_cast<const JOB_INFO_2W*>(buffer.data())[i]; }
};

class CPrinterEtor {
 public:
  // Local printers and connections (PRINTER_INFO_2W). 1 on success, 0 when
  // the spooler refused (LastError() tells why), -1 when memory ran out.
  int Enumerate();
  DWORD Count() const { return count_; }
  const PRINTER_INFO_2W& Printer(DWORD i) const {
    return reinterpret_cast<const PRINTER_INFO_2W*>(printers_.data())[i];
  }

  // Reads the jobs of every printer, or of the one named. A printer that
  // cannot be opened has no access; one whose jobs cannot be read has no
  // job information.
  void CollectJobs(const std::wstring* onlyPrinter);
  std::size_t JobPrinterCount() const { return names_.size(); }
  const std::wstring& JobPrinterName(std::size_t i) const { return names_[i]; }
  bool HasAccess(std::size_t i) const { return access_[i]; }
  const CPrinterJobInfoInt* Jobs(std::size_t i) const { return jobs_[i].get(); }

  DWORD LastError() const { return lastError_; }

 private:
  DWORD lastError_ = 0;
  DWORD count_ = 0;
  std::vector<BYTE> printers_;
  std::vector<std::wstring> names_;
  std::vector<std::unique_ptr<CPrinterJobInfoInt>> jobs_;
  std::vector<bool> access_;
};

// How a printer's jobs are read: EnumJobsW unless a test puts another
// reader here (null restores it).
typedef BOOL(WINAPI* JobEnumerator)(HANDLE printer, DWORD firstJob, DWORD jobs, DWORD level, LPBYTE buffer,
                                    DWORD size, LPDWORD needed, LPDWORD returned);
JobEnumerator& PrintJobEnumHook();

}  // namespace inventory
}  // namespace osm
