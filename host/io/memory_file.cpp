#include <cpl_vsi.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "host/io/memory_file_internal.h"

namespace host::io_internal {

namespace fs = std::filesystem;

MemoryFile::MemoryFile(const FileReplacement& file)
    : name_("/vsimem/kelvamor-" + std::to_string(::getpid()) + "-" + std::to_string(made_++) + "/" +
            fs::path(file.TemporaryPath()).filename().string()) {}

MemoryFile::~MemoryFile() { VSIRmdirRecursive(fs::path(name_).parent_path().c_str()); }

void MemoryFile::CopyTo(FileReplacement& file, const std::vector<std::string>& sideEndings) const {
  vsi_l_offset length = 0;
  const GByte* bytes = VSIGetMemFileBuffer(name_.c_str(), &length, FALSE);
  if (!bytes || length == 0) throw std::runtime_error("cannot be written (nothing was made)");
  if (::lseek(file.Descriptor(), 0, SEEK_SET) != 0 || ::ftruncate(file.Descriptor(), 0) != 0)
    throw std::runtime_error(std::string("cannot be written (") + std::strerror(errno) + ")");
  if (const int error = WriteAll(file.Descriptor(), bytes, length); error != 0)
    throw std::runtime_error(std::string("cannot be written (") + std::strerror(error) + ")");
  const std::string stem = (fs::path(name_).parent_path() / fs::path(name_).stem()).string();
  for (const std::string& ending : sideEndings) {
    vsi_l_offset sideLength = 0;
    const GByte* side = VSIGetMemFileBuffer((stem + ending).c_str(), &sideLength, FALSE);
    if (side)
      file.WriteSideFile(ending, std::string(reinterpret_cast<const char*>(side), sideLength));
  }
}

}  // namespace host::io_internal
