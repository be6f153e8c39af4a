#include "perfsvc/perf_snap.h"

#include "framework/ras1.h"

#include <chrono>
#include <cstdio>
#include <new>

namespace osmperf {

CPerfSnap::CPerfSnap(IPerfDataSource* source, std::uint32_t initialSize, std::uint32_t increment)
    : source_(source),
      initialSize_(initialSize ? initialSize : kDefaultInitialSize),
      increment_(increment ? increment : kDefaultIncrement) {
  bufferSize_ = initialSize_;
}

void CPerfSnap::SetLeakCheck(bool on, WorkingSetProbe probe) {
  leakCheck_ = on;
  probe_ = std::move(probe);
}

void CPerfSnap::FreeBuffer() {
  buffer_.reset();
  bufferSize_ = 0;
  dataSize_ = 0;
  block_ = CPerfBlock();
}

bool CPerfSnap::Reallocate(std::uint32_t size) {
  buffer_.reset();
  buffer_.reset(new (std::nothrow) std::uint8_t[size]);
  if (!buffer_) {
    std::fprintf(stderr, "Failed to allocate a block at %u bytes\n", size);
    bufferSize_ = 0;
    return false;
  }
  bufferSize_ = size;
  return true;
}

bool CPerfSnap::Validate() {
  RAS1_UNIT("CPerfSnap::Validate");
  const std::uint8_t* p = buffer_.get();
  if (!HasPerfSignature(p, dataSize_) || !block_.Attach(p, dataSize_)) {
    std::fprintf(stderr, "Data failed to validate!\n");
    std::fprintf(stderr, "Signature is ---");
    for (std::uint32_t i = 0; i + 1 < 8 && i + 1 < dataSize_; i += 2)
      std::fprintf(stderr, "%04X", static_cast<unsigned>(p[i] | (p[i + 1] << 8)));
    std::fprintf(stderr, "---\n");
    RAS1_TRACE(RAS1_ERROR, "Data failed to validate (%u bytes returned)", dataSize_);
    FreeBuffer();
    return false;
  }
  // NumObjectTypes becomes the number of object records that really begin
  // inside the block, never more than the stated count.
  CObjectWalker walker(block_);
  std::uint32_t n = 0;
  for (bool ok = walker.First(); ok; ok = walker.Next()) ++n;
  if (n != block_.NumObjectTypes()) {
    RAS1_TRACE(RAS1_DETAIL, "NumObjectTypes %u corrected to %u", block_.NumObjectTypes(), n);
    WriteU32LE(buffer_.get() + pdb::kNumObjectTypes, n);
    block_.Attach(p, dataSize_);
  }
  return true;
}

bool CPerfSnap::Snap(const char* request) {
  RAS1_UNIT("CPerfSnap::Snap");
  slowQuery_ = false;
  attempts_ = 0;
  if (request == nullptr || *request == 0) {
    std::printf("\nPERFSNAP: pszSnapshotItems are NULL or empty.  <====\n");
    return false;
  }
  if (disabled_ || source_ == nullptr) return false;
  block_ = CPerfBlock();
  dataSize_ = 0;
  if (!buffer_ && !Reallocate(bufferSize_ ? bufferSize_ : initialSize_)) return false;

  std::uint32_t step = increment_;
  for (;;) {
    ++attempts_;
    std::uint32_t size = bufferSize_;
    std::uint64_t before = 0, after = 0;
    bool measured = false;
    std::chrono::steady_clock::time_point start;
    std::unique_lock<std::mutex> guard(leakLock_, std::defer_lock);
    if (leakCheck_) {
      guard.lock();
      measured = probe_ && probe_(&before);
      if (probe_ && !measured) std::fprintf(stderr, "Error from GetProcessMemoryInfo...\n");
      start = std::chrono::steady_clock::now();
    }
    long rc = source_->QueryData(request, buffer_.get(), &size);
    if (leakCheck_) {
      auto elapsed = std::chrono::steady_clock::now() - start;
      if (elapsed > std::chrono::seconds(kSlowSeconds)) slowQuery_ = true;
      bool measuredAfter = measured && probe_(&after);
      if (measured && !measuredAfter) std::fprintf(stderr, "Error from GetProcessMemoryInfo...\n");
      guard.unlock();
      memoryGrowth_ = (measuredAfter && after > before) ? after - before : 0;
    }
    if (rc == kErrorSuccess) {
      dataSize_ = size <= bufferSize_ ? size : bufferSize_;
      return Validate();
    }
    if (rc == kErrorMoreData) {
      // Grow by the increment; after a few rounds the step doubles, and the
      // number of attempts and the size are capped so a provider that always
      // asks for more cannot keep us here.
      std::uint64_t next = static_cast<std::uint64_t>(bufferSize_) + step;
      if (size > bufferSize_ && size > next) next = size;
      if (attempts_ >= 8 && step < kMaxBufferSize / 2) step *= 2;
      if (attempts_ >= kMaxAttempts || next > kMaxBufferSize) {
        std::fprintf(stderr, "Performance data query for '%s' given up after %d attempts at %u bytes\n",
                     request, attempts_, bufferSize_);
        RAS1_TRACE(RAS1_ERROR, "Query for '%s' given up after %d attempts at %u bytes", request,
                   attempts_, bufferSize_);
        FreeBuffer();
        return false;
      }
      if (!Reallocate(static_cast<std::uint32_t>(next))) return false;
      continue;
    }
    std::fprintf(stderr, "Error from RegQueryValueEx=%ld\n", rc);
    RAS1_TRACE(RAS1_ERROR, "Error from RegQueryValueEx=%ld (%s source)", rc, source_->Name());
    FreeBuffer();
    return false;
  }
}

}  // namespace osmperf
