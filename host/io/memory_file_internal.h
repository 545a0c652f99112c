// GDAL's PNG and ASCII grid writers may lose the last bytes they flush on closing (a
// full disk, a quota, a file-size limit) without saying so. They write into memory
// instead, named like the temporary; every byte then reaches the temporary and its side
// files through writes that are all checked. Private to io/.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "host/common/replace_file.h"

namespace host::io_internal {

class MemoryFile {
 public:
  explicit MemoryFile(const FileReplacement& file);
  ~MemoryFile();
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  // Where GDAL writes: a name of GDAL's memory file system.
  const std::string& Name() const { return name_; }
  // Copies the file into the temporary, and each of its side files that GDAL wrote
  // (named by what follows the name without its extension) beside the temporary.
  // Throws std::runtime_error with the reason.
  void CopyTo(FileReplacement& file, const std::vector<std::string>& sideEndings) const;

 private:
  static inline std::atomic<uint64_t> made_{0};
  std::string name_;
};

}  // namespace host::io_internal
