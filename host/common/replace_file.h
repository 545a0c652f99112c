// Replacing a file as a whole. The new content goes to a temporary created exclusively
// under an unpredictable name in the target's folder, through a descriptor of that
// folder, and is renamed over the target only once complete, so the old file stays
// whole until then. A symlinked target stays a link (the file it points to is
// replaced), but a link another user planted in a shared sticky folder (/tmp) is not
// followed, as the kernel's own rule for such links says. An existing target keeps its
// permission bits, owner and group where the process may set them, its ACL and its
// extended attributes; a target that is not a regular file (a FIFO, a device, a folder)
// is never replaced.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace host {

// Writes all `size` bytes to fd, going on after an interruption; 0 when it did, else
// the reason as an errno value (ENOSPC when the disk took nothing).
int WriteAll(int fd, const void* data, size_t size);

class FileReplacement {
 public:
  // Creates the temporary (mode 0600 until committed) beside the file `target` names
  // once its links are followed; its name ends in the target's own extension, for
  // writers that derive side files from it. Throws Error naming `target`.
  explicit FileReplacement(const std::string& target);
  // Removes the temporary and its side files unless committed.
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  const std::string& TemporaryPath() const { return temporary_; }
  int Descriptor() const { return fd_; }
  // Side files of the target (".prj", ".tfw", ".png.aux.xml": what follows the name
  // without its extension) that this format's writer makes when it has something to
  // put in them. The target's old ones are removed on commit when the new file has
  // none, so no stale description stays beside it.
  void DescribedBy(std::vector<std::string> endings) { endings_ = std::move(endings); }
  // Writes a side file beside the temporary (its name without the extension, then
  // `ending`), created anew, never through a link, and flushed to disk; it is put in
  // place with the file. Throws std::runtime_error with the reason.
  void WriteSideFile(const std::string& ending, const std::string& content);
  // Flushes the temporary to disk, gives it the target's mode, owner and attributes and
  // renames it, with every side file a writer made beside it (named like it, another
  // ending), over the target. Throws Error naming the target and the reason.
  void Commit();

 private:
  std::vector<std::string> SideFiles() const;  // names beside the temporary, in the folder

  std::string target_;    // as the user named it, for messages
  std::string folder_;    // the folder the file is replaced in
  std::string name_;      // the replaced file's name in it
  std::string tempName_;  // the temporary's name in it
  std::string temporary_;
  std::vector<std::string> endings_;
  int dir_ = -1;
  int fd_ = -1;
  bool committed_ = false;
};

// A folder of its own (mode 0700) at `prefix` followed by random letters, removed with
// all it holds if a signal ends the process before KeepOnSignal: it is named for that
// before it exists. Throws Error.
std::string MakeCleanedFolder(const std::string& prefix);

// `count` random letters and digits; empty when the system gives no random bytes.
std::string RandomLetters(size_t count);

// Follows the links of `path` (the last component too) to the file they end at, which
// need not exist. Gives up after 40 links, as the kernel does, and refuses a link in a
// sticky world-writable folder that neither the user nor the folder's owner owns.
std::string FollowLinks(const std::string& path);

// Empty when `path` is missing or a regular file, links followed; else what it is, in
// words ("is a FIFO, not a regular file"). A FIFO would block whoever reads it, a
// device never end, and neither may be replaced by a file.
std::string NotRegularFile(const std::string& path);
// The same for the side files a reader of `path` may open beside it (".hdr", ".tfw",
// ".prj", ".aux.xml", ".pgw", ...): each must be a regular file, a small one when it is
// text, or reading would block on a FIFO or never end on a device. Empty when none is
// amiss; else which one, and what it is.
std::string SideFilesProblem(const std::string& path);

// The same for a file to be replaced, its links followed as FileReplacement follows
// them (a planted link in a shared folder is refused: Error).
std::string ReplaceableProblem(const std::string& path);

}  // namespace host
