// NTPRINTER: one row per printer; NTPRTJOB: one row per queued job.
#include "collectors/inventory/printers.h"

#include <cstring>
#include <new>

#include "collectors/inventory/inventory_agent.h"
#include "collectors/inventory/inventory_rows.h"
#include "collectors/inventory/inventory_text.h"
#include "framework/nlsxlat.h"
#include "tables/tables.h"

namespace osm {
namespace inventory {

namespace {

// A spooler enumeration into bytes: first 4096 bytes, then the size the
// spooler asks for, six attempts at most. call(buffer, size, needed, returned).
// 1 success, 0 failure (error in *error), -1 out of memory (size in *needed).
template <class Call>
int Spool(Call call, std::vector<BYTE>* bytes, DWORD* returned, DWORD* needed, DWORD* error) {
  DWORD size = 4096;
  for (int attempt = 0; attempt < 6; ++attempt) {
    try {
      bytes->assign(size, 0);
    } catch (const std::bad_alloc&) {
      *needed = size;
      return -1;
    }
    *returned = 0;
    *needed = 0;
    if (call(bytes->data(), size, needed, returned)) return 1;
    *error = GetLastError();
    if ((*error != ERROR_INSUFFICIENT_BUFFER && *error != ERROR_MORE_DATA) || *needed <= size) return 0;
    size = *needed;
  }
  return 0;
}

}  // namespace

JobEnumerator& PrintJobEnumHook() {
  static JobEnumerator hook = &EnumJobsW;
  return hook;
}

int CPrinterEtor::Enumerate() {
  RAS1_UNIT("CPrinterEtor::Enumerate");
  DWORD needed = 0;
  count_ = 0;
  auto call = [](BYTE* b, DWORD size, DWORD* n, DWORD* r) {
    return EnumPrintersW(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 2, b, size, n, r) != FALSE;
  };
  int rc = Spool(call, &printers_, &count_, &needed, &lastError_);
  if (rc < 0) {
    RAS1_TRACE(RAS1_ERROR, "cannot obtain memory for EnumPrinters#%d need %d bytes status (%d)\n", 2,
               static_cast<int>(needed), -1);
  } else if (rc == 0) {
    RAS1_TRACE(RAS1_ERROR, "Unable to EnumPrinter GetLastError=%d\n", static_cast<int>(lastError_));
    count_ = 0;
  }
  return rc;
}

void CPrinterEtor::CollectJobs(const std::wstring* onlyPrinter) {
  RAS1_UNIT("CPrinterEtor::CollectJobs");
  names_.clear();
  jobs_.clear();
  access_.clear();
  JobEnumerator enumerate = PrintJobEnumHook() ? PrintJobEnumHook() : &EnumJobsW;
  for (DWORD i = 0; i < count_; ++i) {
    const wchar_t* name = Printer(i).pPrinterName ? Printer(i).pPrinterName : L"";
    if (onlyPrinter && *onlyPrinter != name) continue;
    names_.push_back(name);
    HANDLE printer = nullptr;
    if (!OpenPrinterW(const_cast<LPWSTR>(name), &printer, nullptr)) {
      access_.push_back(false);
      jobs_.emplace_back();
      continue;
    }
    access_.push_back(true);
    std::unique_ptr<CPrinterJobInfoInt> info(new CPrinterJobInfoInt());
    DWORD needed = 0, error = 0;
    auto call = [enumerate, printer](BYTE* b, DWORD size, DWORD* n, DWORD* r) {
      return enumerate(printer, 0, 1000, 2, b, size, n, r) != FALSE;
    };
    int rc = Spool(call, &info->buffer, &info->count, &needed, &error);
    if (rc < 0) RAS1_TRACE(RAS1_ERROR, "No memory for printer job info, need %d bytes\n", static_cast<int>(needed));
    if (rc == 0) RAS1_TRACE(RAS1_ERROR, "Error getting job data. Code: %d\n", static_cast<int>(error));
    if (rc <= 0) info.reset();
    jobs_.push_back(std::move(info));
    ClosePrinter(printer);
  }
}

namespace {

const wchar_t* OrEmpty(const wchar_t* text) { return text ? text : L""; }

int CollectPrinters(TableBase& request, RAS1_EPB* unit) {
  CPrinterEtor etor;
  if (etor.Enumerate() <= 0) return 0;
  RowBlock rows;
  for (DWORD i = 0; i < etor.Count(); ++i) {
    const PRINTER_INFO_2W& p = etor.Printer(i);
    RowRecord row("NTPRINTER");
    row.Stamp().Int32("SAMPLENO", 0).Int32("ROWNO", 0);
    row.Ascii("PRTNAME", OrEmpty(p.pPrinterName))
        .Ascii("SHRNAME", OrEmpty(p.pShareName))
        .Ascii("PORTNAME", OrEmpty(p.pPortName))
        .Ascii("DRVRNAME", OrEmpty(p.pDriverName))
        .Ascii("COMMENT", OrEmpty(p.pComment))
        .Ascii("LOCATION", OrEmpty(p.pLocation))
        .Ascii("SEPFILE", OrEmpty(p.pSepFile))
        .Ascii("PRTPROC", OrEmpty(p.pPrintProcessor))
        .Ascii("DATATYPE", OrEmpty(p.pDatatype))
        .Ascii("PARAMS", OrEmpty(p.pParameters))
        .Utf8("UPRTNAME", OrEmpty(p.pPrinterName))
        .Utf8("USHRNAME", OrEmpty(p.pShareName))
        .Utf8("UCOMMENT", OrEmpty(p.pComment))
        .Utf8("ULOCATION", OrEmpty(p.pLocation))
        .Utf8("USEPFILE", OrEmpty(p.pSepFile));
    row.Int32("PRIORITY", static_cast<std::int32_t>(p.Priority))
        .Int32("DEFPRIO", static_cast<std::int32_t>(p.DefaultPriority))
        .Int32("CJOBS", static_cast<std::int32_t>(p.cJobs))
        .Int64("CJOBS8", p.cJobs)
        .Int32("AVGPPM", static_cast<std::int32_t>(p.AveragePPM))
        .Int64("AVGPPM8", p.AveragePPM);
    FormatHoursMinutes(row.Field("STTIME"), static_cast<int>(p.StartTime), static_cast<int>(row.Width("STTIME")));
    FormatHoursMinutes(row.Field("UTTIME"), static_cast<int>(p.UntilTime), static_cast<int>(row.Width("UTTIME")));
    // The status text is copied with its own length and cut at the field.
    std::string status = PrinterStatusText(p.Status, p.cJobs);
    CopyThenBlankPad(row.Field("STATUS"), status.c_str(), row.Width("STATUS"));
    rows.Add(row);
  }
  int rc = request.AddData(rows.data(), rows.count());
  if (RAS1_Mask(unit) & RAS1_DETAIL) RAS1_Printf(unit, __LINE__, "NumOfRows: %d\n", rows.count());
  return rc;
}

// The printer a report names with PRTNAME EQ or UPRTNAME EQ, as UTF-16; a
// UPRTNAME term wins. Only a condition of one group names a printer: with
// OR, or with another operator, every printer is read and the condition
// selects the rows. False when a name cannot be translated.
bool FilteredPrinter(TableBase& request, RAS1_EPB* unit, bool* named, std::wstring* printer) {
  *named = false;
  if (request.detail.sampleType != DCF_SAMPLE_REPORT) return true;
  std::wstring found;
  bool have = false;
  request.ResetFilterIndex();
  for (const FilterInfo* f = request.GetFilterInfo(); f; f = request.GetFilterInfo()) {
    if (std::strcmp(f->colName, "PARMA") == 0) return true;  // a second group
    bool ascii = std::strcmp(f->colName, "PRTNAME") == 0, utf8 = std::strcmp(f->colName, "UPRTNAME") == 0;
    if ((!ascii && !utf8) || f->func != 1 || (have && ascii)) continue;
    std::size_t length = std::strlen(f->value);
    std::vector<char> wide(length * 4 + 4, 0);
    std::size_t written = 0;
    int rc = NLS2_TranslateString(ascii ? NLS2_CS_ASCII : NLS2_CS_UTF8, f->value, length, NLS2_CS_UTF16LE,
                                  wide.data(), wide.size(), &written, nullptr);
    if (RAS1_Mask(unit) & RAS1_DETAIL)
      RAS1_Printf(unit, __LINE__, ascii ? "ASCII Printer specified: [%s]  length %d\n"
                                        : "UTF-8 Printer specified: [%s]  length %d\n",
                  f->value, static_cast<int>(length));
    if (rc != NLS2_OK) {
      if (RAS1_Mask(unit) & RAS1_ERROR)
        RAS1_Printf(unit, __LINE__,
                    ascii ? "Error %d translating ASCII Printer_Name from filter object to UTF-16 for comparision.\n"
                          : "Error %d translating UTF-8 Printer_Name from filter object to UTF-16 for comparision.\n",
                    rc);
      return false;
    }
    found.clear();
    for (std::size_t i = 0; i + 1 < written; i += 2)
      found.push_back(static_cast<wchar_t>(static_cast<unsigned char>(wide[i]) |
                                           (static_cast<unsigned char>(wide[i + 1]) << 8)));
    if (utf8 && have && (RAS1_Mask(unit) & RAS1_DETAIL))
      RAS1_Printf(unit, __LINE__, "Replacing current printer name with UPRTNAME.");
    have = true;
    if (utf8) break;
  }
  *named = have;
  *printer = found;
  return true;
}

int CollectJobs(TableBase& request, RAS1_EPB* unit) {
  bool named = false;
  std::wstring only;
  if (!FilteredPrinter(request, unit, &named, &only)) return 0;
  CPrinterEtor etor;
  if (etor.Enumerate() <= 0) return 0;
  etor.CollectJobs(named ? &only : nullptr);
  RowBlock rows;
  for (std::size_t p = 0; p < etor.JobPrinterCount(); ++p) {
    const std::wstring& printer = etor.JobPrinterName(p);
    const CPrinterJobInfoInt* jobs = etor.Jobs(p);
    if (!etor.HasAccess(p) || jobs == nullptr) {
      // One printer that cannot be read empties the whole sample.
      if (RAS1_Mask(unit) & RAS1_DETAIL) RAS1_Printf(unit, __LINE__, " No access privilege for the Printer %ls",
                                                     printer.c_str());
      return 0;
    }
    for (DWORD j = 0; j < jobs->count; ++j) {
      const JOB_INFO_2W& job = jobs->Job(j);
      RowRecord row("NTPRTJOB");
      row.Stamp()
          .Int32("SAMPLENO", static_cast<std::int32_t>(j + 1))
          .Int32("ROWNO", rows.count() + 1)
          .Ascii("PRTNAME", printer.c_str())
          .Ascii("DOCNAME", OrEmpty(job.pDocument))
          .Ascii("USERNAME", OrEmpty(job.pUserName))
          .Ascii("MACHINE", OrEmpty(job.pMachineName))
          .Ascii("NOTIFY", OrEmpty(job.pNotifyName))
          .Ascii("DATATYPE", OrEmpty(job.pDatatype))
          .Ascii("PRTPROC", OrEmpty(job.pPrintProcessor))
          .Ascii("PARAMS", OrEmpty(job.pParameters))
          .Ascii("DRVRNAME", OrEmpty(job.pDriverName))
          .Utf8("UPRTNAME", printer.c_str())
          .Utf8("UDOCNAME", OrEmpty(job.pDocument))
          .Utf8("UUSERNAME", OrEmpty(job.pUserName))
          .Utf8("UNOTIFY", OrEmpty(job.pNotifyName));
      std::string status = JobStatusText(job.Status);
      CopyThenBlankPad(row.Field("STATUS"), status.c_str(), row.Width("STATUS"));
      row.Int32("PRIORITY", static_cast<std::int32_t>(job.Priority))
          .Int32("POSITION", static_cast<std::int32_t>(job.Position))
          .Int32("PAGES", static_cast<std::int32_t>(job.TotalPages))
          .Int32("SIZE", static_cast<std::int32_t>(job.Size))
          .Int32("TIME", static_cast<std::int32_t>(job.Time))
          .Int32("PAGESPRT", static_cast<std::int32_t>(job.PagesPrinted))
          .Int64("PAGES8", job.TotalPages)
          .Int64("SIZE8", job.Size)
          .Int64("TIME8", job.Time)
          .Int64("PAGESPRT8", job.PagesPrinted);
      FormatTimestamp(row.Field("SUBMITTM"), job.Submitted, static_cast<int>(row.Width("SUBMITTM")));
      rows.Add(row);
    }
  }
  int rc = request.AddData(rows.data(), rows.count());
  if (RAS1_Mask(unit) & RAS1_DETAIL) RAS1_Printf(unit, __LINE__, "Data posted, total rows: %d\n", rows.count());
  return rc;
}

}  // namespace
}  // namespace inventory
}  // namespace osm

OSM_INVENTORY_AGENT(ntprinter, osm::inventory::CollectPrinters(*this, Unit()))
OSM_INVENTORY_AGENT(ntprtjob, osm::inventory::CollectJobs(*this, Unit()))
