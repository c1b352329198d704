// Handing freed memory back to the system. A recording or an export allocates and frees
// hundreds of megabytes of pictures on many threads; glibc raises its threshold for taking
// large blocks straight from the system as they are freed, after which they come from
// per-thread arenas whose free ends it never returns, and a long session's resident size
// climbs with every recording.
#pragma once

namespace vantry::platform {

// At start-up, before any thread: large blocks (a megabyte and more: pictures, encoder
// frames) always come from the system and go back to it when freed.
void configureAllocator();

// Returns the allocator's free memory to the system. Cheap enough to call after every
// recording or export; never between frames.
void releaseFreedMemory();

}  // namespace vantry::platform
