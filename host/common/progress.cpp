#include "host/common/progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace host {

TermProgress::TermProgress(bool enabled, const char* label) : enabled_(enabled), label_(label) {}

TermProgress::~TermProgress() {
  // Work that ended early leaves its line unfinished; the next line starts afresh.
  if (enabled_ && printed_ >= 0 && printed_ < 10) std::fputc('\n', stderr);
}

void TermProgress::operator()(double done) {
  if (!enabled_) return;
  const int tenth = static_cast<int>(std::floor(std::clamp(done, 0.0, 1.0) * 10.0 + 1e-9));
  if (printed_ < 0) std::fprintf(stderr, "%s: ", label_);
  for (int t = printed_ + 1; t <= tenth; ++t)
    std::fprintf(stderr, t == 0 ? "0" : t == 10 ? "...100 - done.\n" : "...%d", t * 10);
  printed_ = std::max(printed_, tenth);
  std::fflush(stderr);
}

ProgressFn TermProgress::Callback() {
  if (!enabled_) return {};
  return [this](double done) { (*this)(done); };
}

int GdalProgress(double done, const char*, void* progressFn) {
  const auto* fn = static_cast<const ProgressFn*>(progressFn);
  try {
    if (fn && *fn) (*fn)(done);
  } catch (const Cancelled&) {
    return 0;  // GDAL stops and fails; no exception crosses its C frames
  }
  return 1;
}

}  // namespace host
