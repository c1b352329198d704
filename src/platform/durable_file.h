// Files that are either wholly there or not changed at all: written beside their place,
// fsynced, renamed over it, and the rename made durable by syncing the folder.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace vantry::platform {

// Writes `bytes` to `path` by way of a hidden file beside it. An existing file is replaced
// only by a complete one and keeps its permissions. Returns the system's error text, empty
// on success.
std::string writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

// Creates an empty hidden file beside `target` with the same extension (some writers choose
// the format by it) and, when `target` exists, its permissions. Empty on failure.
std::filesystem::path makeFileBeside(const std::filesystem::path& target);

// fsyncs `written`, renames it over `target` and syncs the folder. On failure `written` is
// removed, `target` is left as it was and the system's error text is returned.
std::string replaceDurably(const std::filesystem::path& written,
                           const std::filesystem::path& target);

// Makes a rename inside `folder` durable.
void syncFolder(const std::filesystem::path& folder);

// For tests: every writeFileAtomically() to a file named `fileName` fails with the errno
// value `error` (ENOSPC: a full disk), leaving the old state alone. An empty name ends it.
void failWritesForTesting(const std::string& fileName, int error);

}  // namespace vantry::platform
