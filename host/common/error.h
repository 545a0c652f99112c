// The host's one error: a file that cannot be read or written, or a command line that
// cannot be run. Its text names the file (or the option) and the reason; the kind
// decides the exit status (see cli/exit_status.h).
#pragma once

#include <stdexcept>
#include <string>

namespace host {

class Error : public std::runtime_error {
 public:
  // A file that cannot be read or written: "path: reason".
  Error(const std::string& path, const std::string& reason)
      : std::runtime_error(path + ": " + reason), path_(path) {}
  // A failure about `path` whose message says it in its own words.
  static Error Worded(const std::string& path, const std::string& message) {
    Error e(message, Kind::kFailure);
    e.path_ = path;
    return e;
  }
  // A command line that cannot be run: nothing has been read or written.
  static Error Usage(const std::string& message) { return Error(message, Kind::kUsage); }

  bool IsUsage() const { return usage_; }
  // The file the error is about; empty for a command line.
  const std::string& Path() const { return path_; }

 private:
  enum class Kind { kFailure, kUsage };
  Error(const std::string& message, Kind kind)
      : std::runtime_error(message), usage_(kind == Kind::kUsage) {}
  std::string path_;
  bool usage_ = false;
};

}  // namespace host
