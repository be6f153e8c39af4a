// The byte-level work of the performance-object collectors: field access in a
// table's row record by attribute name, the "_Total" instance, the rounding
// rule, text fields cut with "...", and the values that the memory and system
// collectors derive. No platform calls: the Windows side gathers the inputs
// (memory status, other tables' rows, addresses) and these functions complete
// the rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tables/catalogue.h"

namespace osm {
namespace perf {

// One attribute of a row record. An unknown attribute has width 0; reading it
// gives 0 and writing it does nothing.
struct RowField {
  std::uint16_t offset = 0;
  std::uint16_t width = 0;
  std::uint16_t type = 0;
  bool valid() const { return width != 0; }
};

// The attribute `name` (upper case) of the table's row record.
RowField FieldOf(const TableDef& table, const char* name);
RowField FieldOf(const char* table, const char* name);

// Integers are stored little-endian at their offset, unaligned.
std::int32_t GetInt32(const char* row, RowField field);
std::int64_t GetInt64(const char* row, RowField field);
void SetInt32(char* row, RowField field, std::int32_t value);
void SetInt64(char* row, RowField field, std::int64_t value);

// True when the instance name field begins with the six characters "_Total".
bool IsTotalInstance(const char* nameField, std::size_t width);

// The collectors' conversion: 0.5 added in single precision, then truncated;
// values outside the 32-bit range saturate, NaN gives -1.
std::int32_t RoundHalfUp(float value);
std::int32_t SaturateInt32(std::int64_t value);
// value / divisor rounded half up, in 64-bit integers (divisor > 0).
std::uint64_t DivideRoundHalfUp(std::uint64_t value, std::uint64_t divisor);

// A "% Processor Time" outside 0..100 is replaced by privileged plus user
// time, at most 100. *corrected tells whether it was replaced.
std::int32_t CorrectedProcessorTime(std::int32_t processorTime, std::int32_t privilegedTime,
                                    std::int32_t userTime, bool* corrected);

// Writes text into a fixed-width field: blank padded; a text longer than the
// field keeps its first width - 3 bytes followed by "..." (fields narrower
// than 4 bytes are simply cut).
void CopyTextField(char* field, std::size_t width, const std::string& text);

// The progress lines the collectors write. The groups of tables differ in
// spacing, punctuation and destination.
enum class ProgressForm {
  kStandard,         // "X::TakeSample()  invoked", standard error
  kStandardOut,      // as kStandard, the TakeSample line on standard output
  kStandardDetail,   // as kStandard, the TakeSample line traced at detail level
  kLogicalDisk,      // "X::TakeSample() invoked" (one blank) on standard output
  kDotted,           // "X::TakeSample() invoked.", all three on standard output
  kSpaced2,          // "X::TakeSample ()  invoked", standard error
  kSpaced3,          // "X::TakeSample ()   invoked"
  kSpaced4           // "X::TakeSample ()    invoked"
};
enum class ProgressOp { kConstructor, kTakeSample, kDestructor };
enum class ProgressSink { kStderr, kStdout, kDetailTrace };

// The line (without line end) and where it goes.
std::string ProgressLine(ProgressForm form, const std::string& agentClass, ProgressOp op);
ProgressSink ProgressDestination(ProgressForm form, ProgressOp op);

// The fields of a 64-bit logical-processor information entry: the processor
// mask (8 bytes at 0) and the relationship (4 bytes at 8); 32 bytes per entry.
const std::size_t kLogicalProcessorEntrySize = 32;
// Counts the set mask bits of every processor-core entry (relationship 0) of
// the whole entries in bytes; *cores receives the number of core entries.
int CountLogicalProcessors(const unsigned char* bytes, std::size_t length, int* cores);

// The OS type name of a Windows version and product type (1 workstation,
// 2 domain controller, 3 server); null when the name comes from %OS%.
const char* OsTypeName(int major, int minor, int productType);

// Inputs of the derived values.
struct MemoryStatus {
  bool ok = false;                  // the query succeeded
  std::uint64_t totalPhys = 0;      // T
  std::uint64_t totalPageFile = 0;  // commit limit of the page files
  std::uint64_t availPageFile = 0;
};
struct WorkingSetTotal {
  bool found = false;  // a "_Total" Process row was read
  std::int64_t bytes = -1;
  std::int64_t kbytes = -1;
};
struct ProcessorTotal {
  bool found = false;  // a "_Total" Processor row was read
  std::int32_t privileged = 0, processor = 0, user = 0, interrupts = 0;
};

// "_Total" of a Process sample of WTPROCESS (32-bit working set and its
// kilobytes) or of NTPROCESS (64-bit working set); not found for no rows.
WorkingSetTotal FindWorkingSetTotal(const TableDef& processTable, const char* rows, std::size_t count,
                                    std::size_t rowSize);
// The last "_Total" row of a Processor sample of NTPROCSSR.
ProcessorTotal FindProcessorTotal(const TableDef& processorTable, const char* rows, std::size_t count,
                                  std::size_t rowSize);

// Complete one row of WTMEMORY or NTMEMORY. They return false when the
// memory figures were unavailable (failed query, or no physical memory
// reported) and the memory-based values were set to -1.
bool CompleteWtMemoryRow(char* row, const MemoryStatus& memory, const WorkingSetTotal& workingSet);
bool CompleteNtMemoryRow(char* row, const MemoryStatus& memory, const WorkingSetTotal& workingSet);
// Completes one row of WTSYSTEM; netAddr6 is the resolved address text.
// *corrected tells whether the processor time total was corrected.
void CompleteWtSystemRow(char* row, const ProcessorTotal& processors, const MemoryStatus& memory,
                         const std::string& netAddr6, bool* corrected);

}  // namespace perf
}  // namespace osm
