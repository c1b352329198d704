#include "platform/memory_release.h"

#include <malloc.h>

namespace vantry::platform {

void configureAllocator() {
  // A fixed threshold also keeps glibc from moving it up as large blocks are freed.
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
}

void releaseFreedMemory() {
  malloc_trim(0);
}

}  // namespace vantry::platform
