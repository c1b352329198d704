// Where an export keeps its working files. Large files are unnamed (O_TMPFILE) wherever the
// file system allows, so that a killed export leaves none of them; the small private folder
// around them carries its owner's process, so that a later export, or the next start, can
// sweep what a killed one left behind.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace vantry {

class ExportWorkspace {
 public:
  // Creates "pexilar-export-<UUID>" (0700) in `root` after sweeping stale ones there.
  // On failure throws the user-facing error naming `root`, with the reason in words.
  explicit ExportWorkspace(const std::filesystem::path& root);
  ~ExportWorkspace();
  ExportWorkspace(const ExportWorkspace&) = delete;
  ExportWorkspace& operator=(const ExportWorkspace&) = delete;

  const std::filesystem::path& path() const { return path_; }

  // A new working file: an unnamed one, reached through /proc/self/fd while this workspace
  // lives, or, where the file system refuses unnamed files, `name` inside the folder.
  std::filesystem::path file(const std::string& name);

  // Records a file made elsewhere (the hidden copy beside the destination), so that a sweep
  // after a kill removes it too.
  void note(const std::filesystem::path& file);

  // Removes the working folders in `root` whose owner process has gone, with the files
  // they noted. Never touches another user's folders or a folder being set up.
  static void sweepStale(const std::filesystem::path& root);

 private:
  std::filesystem::path path_;
  std::vector<int> descriptors_;
};

}  // namespace vantry
