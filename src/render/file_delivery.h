// Copying the finished movie beside its destination (the rename into place is the shared
// durable replace of the platform layer).
#pragma once

#include <sys/types.h>
#include <filesystem>
#include <functional>
#include <optional>

namespace vantry {

// Copies `from` to `to`, which must not exist yet, and syncs it to disk; where the file
// system allows, the copy is unnamed until complete and then linked as `to`. The copy gets
// the read, write and execute bits of `mode` when given, else the usual rw-r--r-- less the
// umask. `cancelled` is asked between blocks; a true answer throws CancelledError. On any
// failure the partial copy is removed and a std::system_error with the error number is
// thrown.
void copyToNewFile(const std::filesystem::path& from, const std::filesystem::path& to,
                   std::optional<mode_t> mode = {}, const std::function<bool()>& cancelled = {});

}  // namespace vantry
