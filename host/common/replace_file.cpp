#include "host/common/replace_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "host/common/error.h"
#include "host/common/signal_cleanup.h"

namespace host {
namespace {

namespace fs = std::filesystem;

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

std::string KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "is a folder";
  if (S_ISFIFO(mode)) return "is a FIFO";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device";
  if (S_ISSOCK(mode)) return "is a socket";
  return "is not a regular file";
}

// "map" for "map.tif": the part a side file's ending follows.
std::string Stem(const std::string& name) {
  const std::string ext = fs::path(name).extension().string();
  return name.substr(0, name.size() - ext.size());
}

// The kernel's rule for links in shared folders (protected_symlinks): a link in a
// sticky world-writable folder is followed only when the follower or the folder's
// owner owns it.
void CheckLinkMayBeFollowed(const fs::path& link, const std::string& named) {
  struct stat linkStat {
  }, folderStat{};
  fs::path folder = link.parent_path();
  if (folder.empty()) folder = ".";
  if (::lstat(link.c_str(), &linkStat) != 0 || ::stat(folder.c_str(), &folderStat) != 0) return;
  const bool shared = (folderStat.st_mode & S_ISVTX) && (folderStat.st_mode & S_IWOTH);
  if (shared && linkStat.st_uid != ::geteuid() && linkStat.st_uid != folderStat.st_uid)
    throw Error(named, "is a link another user made in the shared folder " + folder.string() +
                           "; it is not followed");
}

// Copies the extended attributes of `from` (the ACL among them) onto `to`. An ACL or a
// user attribute that cannot be copied fails the save: the new file must not grant
// what the old one denied. Attributes reserved to the system (security.*, trusted.*)
// are copied where the process may.
void CopyAttributes(const std::string& from, int to) {
  ssize_t size = ::llistxattr(from.c_str(), nullptr, 0);
  if (size <= 0) return;  // none, or a file system without them
  std::string names(static_cast<size_t>(size), '\0');
  size = ::llistxattr(from.c_str(), names.data(), names.size());
  if (size < 0) throw std::system_error(errno, std::generic_category(), "its attributes");
  for (size_t at = 0; at < static_cast<size_t>(size);) {
    const std::string name = names.c_str() + at;
    at += name.size() + 1;
    const bool required = name.rfind("system.posix_acl", 0) == 0 || name.rfind("user.", 0) == 0;
    ssize_t length = ::lgetxattr(from.c_str(), name.c_str(), nullptr, 0);
    std::string value(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length >= 0) length = ::lgetxattr(from.c_str(), name.c_str(), value.data(), value.size());
    if (length < 0 || ::fsetxattr(to, name.c_str(), value.data(), static_cast<size_t>(length), 0))
      if (required) throw std::system_error(errno, std::generic_category(), name);
  }
}

}  // namespace

std::string FollowLinks(const std::string& path) {
  fs::path current = path;
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(current, ec))) return current.string();
    CheckLinkMayBeFollowed(current, path);
    const fs::path next = fs::read_symlink(current, ec);
    if (ec) return current.string();
    current = next.is_absolute() ? next : current.parent_path() / next;
  }
  throw Error(path, "too many levels of symbolic links");
}

std::string NotRegularFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return {};
  return KindOf(st.st_mode) + ", not a regular file";
}

std::string SideFilesProblem(const std::string& path) {
  // The side files GDAL's drivers and the RAW reader look for: beside the name without
  // its extension, and after the whole name. Text ones are read whole.
  static constexpr const char* kBeside[] = {".hdr",  ".tfw", ".tifw", ".wld", ".prj", ".pgw",
                                            ".pngw", ".aux", ".rpb",  ".imd", ".xml"};
  static constexpr const char* kAfter[] = {".aux.xml", ".ovr", ".msk", ".xml"};
  constexpr off_t kMostText = off_t{16} << 20;
  const fs::path file(path);
  const std::string stem = (file.parent_path() / file.stem()).string();
  std::vector<std::pair<std::string, bool>> candidates;  // name, read whole as text
  for (const char* ending : kBeside) {
    std::string upper = ending;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    candidates.emplace_back(stem + ending, true);
    candidates.emplace_back(stem + upper, true);
  }
  for (const char* ending : kAfter)
    candidates.emplace_back(path + ending, std::strcmp(ending, ".aux.xml") == 0);
  for (const auto& [side, text] : candidates) {
    if (side == path) continue;
    struct stat st {};
    if (::stat(side.c_str(), &st) != 0) continue;  // none there (or a dangling link)
    if (!S_ISREG(st.st_mode))
      return side + " beside it " + KindOf(st.st_mode) + ", not a regular file";
    if (text && st.st_size > kMostText)
      return side + " beside it holds " + std::to_string(st.st_size >> 20) +
             " MB, more than a side file does";
  }
  return {};
}

std::string ReplaceableProblem(const std::string& path) {
  return NotRegularFile(FollowLinks(path));
}

FileReplacement::FileReplacement(const std::string& target) : target_(target) {
  InstallSignalCleanup();
  const fs::path resolved = FollowLinks(target);
  folder_ = resolved.parent_path().empty() ? "." : resolved.parent_path().string();
  name_ = resolved.filename().string();
  dir_ = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_ < 0) throw Error(target, "its folder cannot be opened (" + ErrnoText(errno) + ")");
  struct stat old {};
  if (::fstatat(dir_, name_.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(old.st_mode)) {
    ::close(dir_);
    throw Error(target, (S_ISLNK(old.st_mode) ? std::string("changed while it was being opened")
                                              : KindOf(old.st_mode)) +
                            "; it is not replaced");
  }
  const std::string extension = fs::path(name_).extension().string();
  for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
    const std::string letters = RandomLetters(8);
    if (letters.empty()) break;
    tempName_ = ".kelvamor-" + letters + extension;
    // Named for removal before it exists: a signal can come at any moment after.
    temporary_ = (fs::path(folder_) / tempName_).string();
    RemoveOnSignal(temporary_, true);
    // Exclusive, and never through a link, whatever stands at the name.
    fd_ =
        ::openat(dir_, tempName_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ >= 0) break;
    const int error = errno;
    KeepOnSignal(temporary_);  // another's file, or none
    errno = error;
    if (error != EEXIST) break;
  }
  if (fd_ < 0) {
    const int error = errno;
    ::close(dir_);
    throw Error(target, "cannot be written in " + folder_ + " (" + ErrnoText(error) + ")");
  }
  SignalPoint("temporary");
}

FileReplacement::~FileReplacement() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_) {
    for (const std::string& side : SideFiles()) ::unlinkat(dir_, side.c_str(), 0);
    ::unlinkat(dir_, tempName_.c_str(), 0);
  }
  KeepOnSignal(temporary_);
  ::close(dir_);
}

std::string RandomLetters(size_t count) {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string random(count, '\0');
  if (::getrandom(random.data(), count, 0) != static_cast<ssize_t>(count)) return {};
  for (char& c : random) c = kLetters[static_cast<unsigned char>(c) % (sizeof kLetters - 1)];
  return random;
}

std::string MakeCleanedFolder(const std::string& prefix) {
  InstallSignalCleanup();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string letters = RandomLetters(8);
    if (letters.empty()) break;
    const std::string path = prefix + letters;
    RemoveOnSignal(path);  // before it exists, as a temporary file is
    if (::mkdir(path.c_str(), 0700) == 0) {
      SignalPoint("folder");
      return path;
    }
    const int error = errno;
    KeepOnSignal(path);
    if (error != EEXIST) throw Error(path, "cannot be made (" + ErrnoText(error) + ")");
  }
  throw Error(prefix, "no folder of that name could be made");
}

int WriteAll(int fd, const void* data, size_t size) {
  const auto* bytes = static_cast<const char*>(data);
  for (size_t done = 0; done < size;) {
    const ssize_t n = ::write(fd, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : ENOSPC;
    done += static_cast<size_t>(n);
  }
  return 0;
}

void FileReplacement::WriteSideFile(const std::string& ending, const std::string& content) {
  // What the side file is to replace is checked now, before anything is put in place:
  // a folder or a FIFO of its name would fail the commit half-way.
  struct stat old {};
  if (::fstatat(dir_, (Stem(name_) + ending).c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 &&
      !S_ISREG(old.st_mode) && !S_ISLNK(old.st_mode))
    throw std::runtime_error("its side file " + Stem(name_) + ending + " " + KindOf(old.st_mode) +
                             "; it is not replaced");
  const std::string name = Stem(tempName_) + ending;
  const int fd = ::openat(dir_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          0666);  // as any new file: the user's umask decides
  auto fail = [&](int error) {
    return std::runtime_error("its side file " + ending + " cannot be written (" +
                              std::strerror(error) + ")");
  };
  if (fd < 0) throw fail(errno);
  int error = WriteAll(fd, content.data(), content.size());
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (error != 0) {
    ::close(fd);
    throw fail(error);
  }
  if (::close(fd) != 0) throw fail(errno);
}

std::vector<std::string> FileReplacement::SideFiles() const {
  std::vector<std::string> found;
  const int copy = ::dup(dir_);
  DIR* listing = copy >= 0 ? ::fdopendir(copy) : nullptr;
  if (!listing) {
    if (copy >= 0) ::close(copy);
    return found;
  }
  ::rewinddir(listing);
  const std::string stem = Stem(tempName_) + ".";
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    if (name != tempName_ && name.rfind(stem, 0) == 0) found.push_back(name);
  }
  ::closedir(listing);
  return found;
}

void FileReplacement::Commit() {
  auto fail = [this](const std::string& what, int error) {
    throw Error(target_, what + " (" + ErrnoText(error) + ")");
  };
  struct stat old {};
  const bool existed = ::fstatat(dir_, name_.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
  if (existed && !S_ISREG(old.st_mode))
    throw Error(target_, KindOf(old.st_mode) + "; it is not replaced");
  if (::fsync(fd_) != 0) fail("cannot be written to disk", errno);
  if (::fchmod(fd_, existed ? (old.st_mode & 07777) : NewFileMode()) != 0)
    fail("cannot be given its permissions", errno);
  if (existed) {
    // Owner and group where the process may set them; the group alone otherwise.
    if (::fchown(fd_, old.st_uid, old.st_gid) != 0)
      (void)::fchown(fd_, static_cast<uid_t>(-1), old.st_gid);
    // Changing the owner may drop set-id bits; put back what the target had.
    (void)::fchmod(fd_, old.st_mode & 07777);
    try {
      CopyAttributes(folder_ + "/" + name_, fd_);
    } catch (const std::system_error& e) {
      fail("cannot be given " + std::string(e.what()).substr(0, std::string(e.what()).find(':')),
           e.code().value());
    }
  }
  const std::string tempStem = Stem(tempName_);
  const std::string targetStem = Stem(name_);
  std::vector<std::string> written;
  for (const std::string& side : SideFiles()) {
    const std::string ending = side.substr(tempStem.size());
    if (::renameat(dir_, side.c_str(), dir_, (targetStem + ending).c_str()) != 0)
      fail("cannot be given its side file " + targetStem + ending, errno);
    written.push_back(ending);
  }
  for (const std::string& ending : endings_)
    if (std::find(written.begin(), written.end(), ending) == written.end())
      ::unlinkat(dir_, (targetStem + ending).c_str(), 0);
  if (::renameat(dir_, tempName_.c_str(), dir_, name_.c_str()) != 0)
    fail("cannot be replaced", errno);
  committed_ = true;
  // The rename itself reaches the disk with the folder.
  (void)::fsync(dir_);
}

}  // namespace host
