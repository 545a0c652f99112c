#include "host/io/replace_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "host/io/heightmap_io.h"

namespace host {
namespace {

namespace fs = std::filesystem;

// Temporaries being written, so that SIGINT, SIGTERM and SIGHUP can remove them: a
// fixed table, because a signal handler may neither allocate nor take a lock.
constexpr int kPendingSlots = 16;
char pendingPaths[kPendingSlots][PATH_MAX];
std::atomic<bool> pendingUsed[kPendingSlots];
std::mutex claimMutex;

void RemovePendingAndStop(int signal) {
  for (int i = 0; i < kPendingSlots; ++i)
    if (pendingUsed[i].load()) ::unlink(pendingPaths[i]);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

void InstallSignalCleanup() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
      struct sigaction old {};
      if (::sigaction(signal, nullptr, &old) != 0) continue;
      // A handler of the program's own, or an ignored signal (nohup), is left alone.
      if ((old.sa_flags & SA_SIGINFO) || old.sa_handler != SIG_DFL) continue;
      struct sigaction action {};
      action.sa_handler = &RemovePendingAndStop;
      sigemptyset(&action.sa_mask);
      ::sigaction(signal, &action, nullptr);
    }
  });
}

int ClaimSlot(const std::string& path) {
  if (path.size() >= PATH_MAX) return -1;
  const std::lock_guard lock(claimMutex);
  for (int i = 0; i < kPendingSlots; ++i) {
    if (pendingUsed[i].load()) continue;
    std::memcpy(pendingPaths[i], path.c_str(), path.size() + 1);
    pendingUsed[i].store(true);
    return i;
  }
  return -1;
}

void ReleaseSlot(const std::string& path) {
  const std::lock_guard lock(claimMutex);
  for (int i = 0; i < kPendingSlots; ++i)
    if (pendingUsed[i].load() && path == pendingPaths[i]) pendingUsed[i].store(false);
}

// The mode a newly created file gets: 0666 less the process's umask.
mode_t NewFileMode() {
  static const mode_t mode = [] {
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
  }();
  return mode;
}

std::string ErrnoText(int error) { return std::strerror(error); }

}  // namespace

std::string FollowLinks(const std::string& path) {
  fs::path current = path;
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(current, ec))) return current.string();
    const fs::path next = fs::read_symlink(current, ec);
    if (ec) return current.string();
    current = next.is_absolute() ? next : current.parent_path() / next;
  }
  throw Error(path, "too many levels of symbolic links");
}

FileReplacement::FileReplacement(const std::string& target, const std::string& suffix)
    : target_(target), resolved_(FollowLinks(target)) {
  InstallSignalCleanup();
  fs::path folder = fs::path(resolved_).parent_path();
  if (folder.empty()) folder = ".";
  std::string pattern = (folder / ".kelvamor-XXXXXX").string() + suffix;
  // mkstemps creates the file exclusively (never through a link) with mode 0600.
  fd_ = ::mkostemps(pattern.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
  if (fd_ < 0)
    throw Error(target, "cannot be written in " + folder.string() + " (" + ErrnoText(errno) + ")");
  temporary_ = pattern;
  ClaimSlot(temporary_);
}

FileReplacement::~FileReplacement() {
  if (fd_ >= 0) ::close(fd_);
  if (committed_) return;
  for (const std::string& side : sideFiles_) {
    ::unlink(side.c_str());
    ReleaseSlot(side);
  }
  ::unlink(temporary_.c_str());
  ReleaseSlot(temporary_);
}

void FileReplacement::AddSideFile(const std::string& path) {
  sideFiles_.push_back(path);
  ClaimSlot(path);
}

void FileReplacement::Commit() {
  auto fail = [this](const char* what, int error) {
    throw Error(target_, std::string(what) + " (" + ErrnoText(error) + ")");
  };
  struct stat old {};
  const bool existed = ::stat(resolved_.c_str(), &old) == 0;
  if (::fsync(fd_) != 0) fail("cannot be written to disk", errno);
  if (::fchmod(fd_, existed ? (old.st_mode & 07777) : NewFileMode()) != 0)
    fail("cannot be given its permissions", errno);
  if (existed) {
    // Owner and group where the process may set them; the group alone otherwise.
    if (::fchown(fd_, old.st_uid, old.st_gid) != 0)
      (void)::fchown(fd_, static_cast<uid_t>(-1), old.st_gid);
    // Changing the owner may drop set-id bits; put back what the target had.
    (void)::fchmod(fd_, old.st_mode & 07777);
  }
  const std::string temporaryStem =
      temporary_.substr(0, temporary_.size() - fs::path(temporary_).extension().string().size());
  const std::string targetStem =
      (fs::path(resolved_).parent_path() / fs::path(resolved_).stem()).string();
  for (const std::string& side : sideFiles_) {
    const std::string name = targetStem + side.substr(temporaryStem.size());
    if (::rename(side.c_str(), name.c_str()) != 0) fail("cannot be given its side files", errno);
    ReleaseSlot(side);
  }
  if (::rename(temporary_.c_str(), resolved_.c_str()) != 0) fail("cannot be replaced", errno);
  committed_ = true;
  ReleaseSlot(temporary_);
  // The rename itself reaches the disk with the folder.
  fs::path folder = fs::path(resolved_).parent_path();
  const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    (void)::fsync(dir);
    ::close(dir);
  }
}

}  // namespace host
