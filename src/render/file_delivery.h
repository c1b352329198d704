// Copying the finished movie beside its destination (the rename into place is the shared
// durable replace of the platform layer).
#pragma once

#include <filesystem>

namespace vantry {

// Copies `from` to `to`, which must not exist yet. On any failure the partial copy is
// removed and the system's error text is thrown.
void copyToNewFile(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace vantry
