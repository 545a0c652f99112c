#include "host/common/signal_cleanup.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace host {
namespace {

// A fixed table, because a signal handler may neither allocate nor take a lock.
constexpr int kSlots = 32;
char paths[kSlots][PATH_MAX];
std::atomic<bool> used[kSlots];
bool family[kSlots];  // with the side files: every name in its folder up to its last '.'

std::mutex claimMutex;

// Removes what `dir` holds, with calls a signal handler may make: getdents64 on a
// buffer of its own stack, unlinkat, and no memory obtained. Folders nest at most a few
// levels (a settings folder); deeper ones are left.
void EmptyFolder(int dir, int depth) {
  alignas(8) char buffer[4096];
  for (;;) {
    const long n = ::syscall(SYS_getdents64, dir, buffer, sizeof buffer);
    if (n <= 0) return;
    for (long offset = 0; offset < n;) {
      const auto* entry = reinterpret_cast<const struct dirent64*>(buffer + offset);
      offset += entry->d_reclen;
      const char* name = entry->d_name;
      if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
      if (entry->d_type == DT_DIR) {
        if (depth > 0) {
          const int inner = ::openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
          if (inner >= 0) {
            EmptyFolder(inner, depth - 1);
            ::close(inner);
          }
        }
        ::unlinkat(dir, name, AT_REMOVEDIR);
      } else {
        ::unlinkat(dir, name, 0);
      }
    }
  }
}

// Removes the files in the folder of `path` whose names begin as its own does up to
// and including its last '.'.
void RemoveFamily(const char* path) {
  char folder[PATH_MAX];
  std::strcpy(folder, path);
  char* slash = std::strrchr(folder, '/');
  const char* name = slash ? slash + 1 : folder;
  const char* dot = std::strrchr(name, '.');
  if (!dot || dot == name) return;
  const size_t stem = static_cast<size_t>(dot - name) + 1;
  char prefix[PATH_MAX];
  std::memcpy(prefix, name, stem);
  prefix[stem] = '\0';
  if (slash) {
    *slash = '\0';
  } else {
    std::strcpy(folder, ".");
  }
  const int dir =
      ::open(slash && folder[0] == '\0' ? "/" : folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return;
  alignas(8) char buffer[4096];
  for (long n; (n = ::syscall(SYS_getdents64, dir, buffer, sizeof buffer)) > 0;)
    for (long offset = 0; offset < n;) {
      const auto* entry = reinterpret_cast<const struct dirent64*>(buffer + offset);
      offset += entry->d_reclen;
      if (entry->d_type != DT_DIR && std::strncmp(entry->d_name, prefix, stem) == 0)
        ::unlinkat(dir, entry->d_name, 0);
    }
  ::close(dir);
}

void RemoveAndStop(int signal) {
  for (int i = 0; i < kSlots; ++i) {
    if (!used[i].load()) continue;
    if (family[i]) RemoveFamily(paths[i]);
    if (::unlink(paths[i]) == 0) continue;
    const int dir = ::open(paths[i], O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) continue;
    EmptyFolder(dir, 4);
    ::close(dir);
    ::rmdir(paths[i]);
  }
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

}  // namespace

void InstallSignalCleanup() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
      struct sigaction old {};
      if (::sigaction(signal, nullptr, &old) != 0) continue;
      if ((old.sa_flags & SA_SIGINFO) || old.sa_handler != SIG_DFL) continue;
      struct sigaction action {};
      action.sa_handler = &RemoveAndStop;
      sigemptyset(&action.sa_mask);
      ::sigaction(signal, &action, nullptr);
    }
    // Past the file-size limit a write then fails with EFBIG, and the writer removes its
    // temporary, instead of the process dying with the partial file left behind.
    struct sigaction old {};
    if (::sigaction(SIGXFSZ, nullptr, &old) == 0 && old.sa_handler == SIG_DFL)
      std::signal(SIGXFSZ, SIG_IGN);
  });
}

void RemoveOnSignal(const std::string& path, bool withSideFiles) {
  InstallSignalCleanup();
  if (path.empty() || path.size() >= PATH_MAX) return;
  const std::lock_guard lock(claimMutex);
  for (int i = 0; i < kSlots; ++i) {
    if (used[i].load()) continue;
    std::memcpy(paths[i], path.c_str(), path.size() + 1);
    family[i] = withSideFiles;
    used[i].store(true);
    return;
  }
}

void SignalPoint(const char* point) {
  static const char* const chosen = std::getenv("KELVAMOR_SIGNAL_AT");
  if (chosen && std::strcmp(chosen, point) == 0) std::raise(SIGTERM);
}

void KeepOnSignal(const std::string& path) {
  const std::lock_guard lock(claimMutex);
  for (int i = 0; i < kSlots; ++i)
    if (used[i].load() && path == paths[i]) used[i].store(false);
}

}  // namespace host
