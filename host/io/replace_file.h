// Replacing a file as a whole. The new content goes to a temporary created exclusively
// under an unpredictable name in the target's folder and is renamed over the target
// only once complete, so the old file stays whole until then. A symlinked target stays
// a link (the file it points to is replaced), and an existing target keeps its
// permission bits and, where the process may, its owner and group.
#pragma once

#include <string>
#include <vector>

namespace host {

class FileReplacement {
 public:
  // Creates the temporary (mode 0600 until committed) beside the file `target` names
  // once its links are followed; its name ends in `suffix` for writers that derive
  // side files from it. Throws Error naming `target`.
  explicit FileReplacement(const std::string& target, const std::string& suffix = "");
  // Removes the temporary unless committed.
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  const std::string& TemporaryPath() const { return temporary_; }
  int Descriptor() const { return fd_; }
  // Files a writer made beside the temporary (a format's side files): each is renamed
  // to the target's name with its own ending when committed, removed otherwise.
  void AddSideFile(const std::string& path);
  // Flushes the temporary to disk, gives it the target's mode and owner and renames it
  // over the target. Throws Error naming the target and the reason.
  void Commit();

 private:
  std::string target_;    // as the user named it, for messages
  std::string resolved_;  // the file that is replaced: `target_` with its links followed
  std::string temporary_;
  std::vector<std::string> sideFiles_;
  int fd_ = -1;
  bool committed_ = false;
};

// Follows the links of `path` (the last component too) to the file they end at, which
// need not exist. Gives up after 40 links, as the kernel does.
std::string FollowLinks(const std::string& path);

}  // namespace host
