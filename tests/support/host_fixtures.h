// Helpers of the host tests: sample landscapes, a temporary folder, and kelvamor-host
// run as a script would run it.
#pragma once

#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <cstdint>
#include <string>
#include <vector>

#include "host/model/landscape.h"

namespace host_test {

// Random heights in -120..880 on a w x h grid, range recorded.
host::Landscape Sample(int32_t w, int32_t h, unsigned seed = 3);
// The heights' bits, to compare landscapes bit for bit.
std::vector<uint32_t> Bits(const host::Landscape& land);
// The whole content of a file ("" when it cannot be read).
std::string Bytes(const std::string& path);
// The names in a folder, sorted.
std::vector<std::string> Listing(const std::string& folder);

class Files : public testing::Test {
 protected:
  std::string Path(const char* name) const { return dir.filePath(name).toStdString(); }
  QString QPath(const char* name) const { return dir.filePath(name); }
  void WriteBytes(const char* name, const std::string& bytes) const;
  QTemporaryDir dir;
};

// kelvamor-host in batch mode with the built module, its settings in the test's folder.
class Batch : public Files {
 protected:
  // Starts a run; the caller waits for it.
  void Start(QProcess& process, const QStringList& args);
  // Runs to the end; returns the exit status, and stdout + stderr in `output`.
  int Run(const QStringList& args, QString* output = nullptr);

  long fileSizeLimit = 0;  // bytes a run may write to one file (ulimit -f); 0: no limit
  QString tmpDir;          // the runs' TMPDIR when set
};

}  // namespace host_test
