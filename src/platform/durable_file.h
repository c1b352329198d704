// Files that are either wholly there or not changed at all: written beside their place,
// fsynced, renamed over it, and the rename made durable by syncing the folder.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vantry::platform {

// The permission bits a file written in place of `target` keeps: the read, write and execute
// bits of the regular file there that the umask allows, never its set-id or sticky bits.
// None when there is no regular file (nothing, a folder, or a link, which the rename
// replaces and whose target is someone else's): the file is then made as a new one.
std::optional<mode_t> modeToKeep(const std::filesystem::path& target);

// Writes `bytes` to `path` by way of a hidden file beside it, written through the one
// descriptor that created it. An existing regular file is replaced only by a complete one
// and keeps its permissions (modeToKeep); a new one, and one in place of a link, is
// readable by its owner alone (rw------- narrowed further by the umask). Returns the
// system's error text, empty on success.
std::string writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

// The same for the file `name` (a plain name) in the folder open as `folder` (for reading):
// every step goes through that descriptor, so a folder moved or swapped for a link meanwhile
// changes nothing of where the file goes.
std::string writeFileAtomicallyAt(int folder, const std::string& name, std::string_view bytes);

// Creates an empty hidden file beside `target` with the same extension (some writers choose
// the format by it) and the permissions writeFileAtomically() would give it. Empty on
// failure, with errno set.
std::filesystem::path makeFileBeside(const std::filesystem::path& target);

// Opens `path` for writing, emptied, through one descriptor that every later step uses: a
// new file is readable by its owner alone (rw------- narrowed by the umask), an existing one
// keeps its mode. Never through a link (but for a file this process holds open, named as
// /proc/self/fd/N), and only a regular file (a pipe put there is not waited on). The
// descriptor, or -1 with errno set.
int openPrivateFile(const std::filesystem::path& path);

// Whether the file whose status is `st` is a regular file of this user's with no other name:
// one that may be read as the folder's own and written without changing a file elsewhere.
bool isOwnSingleFile(const struct stat& st);

// Creates `folder`, and every missing folder above it, as rwx------ whatever the umask, and
// narrows an existing `folder` of this user's to rwx------, through one descriptor. Folders
// above it that exist already are left alone, and so is a symbolic link at `folder` with
// what it leads to (it must lead to a folder). Returns the system's error text, empty on
// success.
std::string makePrivateFolder(const std::filesystem::path& folder);

// fsyncs `written`, renames it over `target` and syncs the folder. Only a regular file is
// put in place, and only while `written` still names the file that was synced. On failure
// `written` is removed, `target` is left as it was and the system's error text is returned.
std::string replaceDurably(const std::filesystem::path& written,
                           const std::filesystem::path& target);

// Makes a rename inside `folder` durable.
void syncFolder(const std::filesystem::path& folder);

// For tests: every writeFileAtomically() to a file named `fileName` fails with the errno
// value `error` (ENOSPC: a full disk), leaving the old state alone. An empty name ends it.
void failWritesForTesting(const std::string& fileName, int error);

}  // namespace vantry::platform
