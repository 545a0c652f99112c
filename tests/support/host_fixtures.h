// Helpers of the host tests: sample landscapes, a temporary folder, and kelvamor-host
// run as a script would run it.
#pragma once

#include <gtest/gtest.h>

#include <QDialog>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/model/landscape.h"
#include "host/ui/main_window.h"

namespace host_test {

// Random heights in -120..880 on a w x h grid, range recorded.
host::Landscape Sample(int32_t w, int32_t h, unsigned seed = 3);
// Smooth heights on a w x h grid that depend on nothing but the formula: a round hill,
// ripples, and a basin below 0 in a corner; a NoData square at a quarter across and down.
host::Landscape Relief(int32_t w, int32_t h);
// The heights' bits, to compare landscapes bit for bit.
std::vector<uint32_t> Bits(const host::Landscape& land);
// The whole content of a file ("" when it cannot be read).
std::string Bytes(const std::string& path);
// The names in a folder, sorted.
std::vector<std::string> Listing(const std::string& folder);

// Runs the window's plug-in with the named action radio, the dialog's values otherwise
// as they come (after `more`), and presses OK.
void ApplyPlugIn(host::MainWindow& window, const char* radio,
                 std::function<void(QDialog*)> more = {});

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
