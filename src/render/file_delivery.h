// Durable file delivery: a copy that is on disk before it is renamed into place.
#pragma once

#include <filesystem>

namespace vantry {

// Copies `from` to `to`, which must not exist yet, and fsyncs it. On any failure the
// partial copy is removed and the system's error text is thrown.
void copyFileDurably(const std::filesystem::path& from, const std::filesystem::path& to);
// Makes a rename inside `folder` durable.
void syncFolder(const std::filesystem::path& folder);

}  // namespace vantry
