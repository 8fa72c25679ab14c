#include "RunMemory.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// A run's buffers reach tens of megabytes for a large stock; the C library's defaults
// (128 KiB) would hand every one of them back.
[[maybe_unused]] constexpr int kRunThreshold = 32 << 20;
[[maybe_unused]] constexpr int kIdleThreshold = 128 << 10;

}  // namespace

TRunMemory::TRunMemory() {
#ifdef __GLIBC__
  ::mallopt(M_MMAP_THRESHOLD, kRunThreshold);
  ::mallopt(M_TRIM_THRESHOLD, kRunThreshold);
#endif
}

TRunMemory::~TRunMemory() {
#ifdef __GLIBC__
  ::malloc_trim(0);
  ::mallopt(M_TRIM_THRESHOLD, kIdleThreshold);
  ::mallopt(M_MMAP_THRESHOLD, kIdleThreshold);
#endif
}
