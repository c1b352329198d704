// Files that are either wholly there or not changed at all: written beside their place,
// fsynced, renamed over it, and the rename made durable by syncing the folder.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace vantry::platform {

// Writes `bytes` to `path` by way of a hidden file beside it. An existing file is replaced
// only by a complete one and keeps its permissions; a new one is readable by its owner alone
// (rw------- narrowed further by the umask). Returns the system's error text, empty on
// success.
std::string writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

// Creates an empty hidden file beside `target` with the same extension (some writers choose
// the format by it) and, when `target` exists, its permissions (else as a new file above).
// Empty on failure, with errno set.
std::filesystem::path makeFileBeside(const std::filesystem::path& target);

// Makes an empty file at `path`, readable by its owner alone within the umask, unless
// something is there already; a writer that then opens it by name keeps that mode.
// Failures are left for that writer to meet.
void preparePrivateFile(const std::filesystem::path& path);

// Creates `folder`, and every missing folder above it, as rwx------ whatever the umask, and
// narrows an existing `folder` of ours to rwx------. Folders above it that exist already
// are left alone. Returns the system's error text, empty on success.
std::string makePrivateFolder(const std::filesystem::path& folder);

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
