#include "host/ui/history.h"

#include <sys/resource.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>
#include <unistd.h>
#include <xxhash.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <new>

namespace host {

namespace {

// The calling thread at the lowest priority of the ordinary class: on a core the window
// leaves idle it runs at full speed, beside a busy one it takes about 1.5 % of it. Not
// SCHED_IDLE, which gets a fifth of that beside other programs' work: the window waits
// for this work at the next edit.
void LeaveTheCoresToOthers() { (void)::setpriority(PRIO_PROCESS, ::gettid(), 19); }

// The plug-in changes heights only; anything else (a size, a georeference) keeps the
// other side whole.
bool SameButCells(const Landscape& a, const Landscape& b) {
  const auto& g = a.geo;
  const auto& h = b.geo;
  return a.width == b.width && a.height == b.height && a.noData.size() == b.noData.size() &&
         g.projection == h.projection && g.geoTransform == h.geoTransform &&
         g.noDataValue == h.noDataValue && g.description == h.description && g.unit == h.unit &&
         g.metadata == h.metadata && g.scaleOffset == h.scaleOffset && g.overviews == h.overviews &&
         g.dataType == h.dataType;
}

// A fingerprint of the landscape's cells, to tell that an edit made again came out as
// it did first.
uint64_t Fingerprint(const Landscape& land) {
  auto sum = [](const void* data, size_t bytes) { return XXH3_64bits(data, bytes); };
  constexpr size_t kBlock = size_t{1} << 24;
  const auto* heights = reinterpret_cast<const char*>(land.heights.data());
  const size_t bytes = land.heights.size() * sizeof(float);
  std::vector<uint64_t> sums((bytes + kBlock - 1) / kBlock + 1);
  tbb::parallel_for(size_t{0}, sums.size() - 1, [&](size_t b) {
    sums[b] = sum(heights + b * kBlock, std::min(kBlock, bytes - b * kBlock));
  });
  sums.back() = sum(land.noData.data(), land.noData.size());
  return sum(sums.data(), sums.size() * sizeof(uint64_t));
}

}  // namespace

LandscapeChange::LandscapeChange(const Landscape& before, const Landscape& after,
                                 const CellBox& within)
    : rangeBefore_(before.minHeight, before.maxHeight),
      rangeAfter_(after.minHeight, after.maxHeight) {
  Make(before, after, within);
}

LandscapeChange::LandscapeChange(Landscape&& before, const Landscape& after, const CellBox& within,
                                 std::function<void()> done, Remake remake, size_t remakeBytes)
    : pendingBytes_(before.Count() * (sizeof(float) + (before.noData.empty() ? 0 : 1))),
      remake_(std::move(remake)),
      remakeBytes_(remakeBytes),
      rangeBefore_(before.minHeight, before.maxHeight),
      rangeAfter_(after.minHeight, after.maxHeight) {
  // Begun once the window has drawn the edit (or when it waits for the change): even on a
  // core of its own it would share memory and caches with the repaint.
  std::future<void> start = start_.get_future();
  work_ =
      std::async(std::launch::async, [this, kept = std::move(before), &after, within,
                                      done = std::move(done), start = std::move(start)]() mutable {
        start.wait();
        LeaveTheCoresToOthers();
        // On one core of an arena of its own: the window's own work on every core (a repaint)
        // never waits behind a band of this one.
        tbb::task_arena(1).execute([&] { Make(kept, after, within); });
        kept = Landscape();  // the whole copy goes as soon as the change is known
        if (done) done();
      });
}

LandscapeChange::~LandscapeChange() {
  Wait();
  baseGroup_.cancel();
  WaitForBase();
}

void LandscapeChange::WaitForBase() const {
  if (baseWork_.valid()) baseWork_.get();
}

bool LandscapeChange::BasePending() const {
  return baseWork_.valid() &&
         baseWork_.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
}

void LandscapeChange::Start() const {
  std::call_once(started_, [this] { start_.set_value(); });
}

void LandscapeChange::Wait() const {
  if (!work_.valid()) return;
  Start();
  work_.get();
}

bool LandscapeChange::Ready() const {
  return !work_.valid() || work_.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

void LandscapeChange::Make(const Landscape& before, const Landscape& after, const CellBox& within) {
  if (!SameButCells(before, after)) {
    whole_ = before;
    return;
  }
  heights_ =
      GridChange(before.heights.data(), after.heights.data(), before.width, before.height, within);
  if (!before.noData.empty())
    noData_ =
        GridChange(before.noData.data(), after.noData.data(), before.width, before.height, within);
  box_ = heights_.Box().Union(noData_.Box());
  if (remake_) {
    sumBefore_ = Fingerprint(before);
    sumAfter_ = Fingerprint(after);
  }
}

bool LandscapeChange::Remakeable() const {
  Wait();
  return remake_ && !whole_;
}

void LandscapeChange::Forget() {
  if (!Remakeable()) return;
  heights_ = GridChange();
  noData_ = GridChange();
  forgotten_ = true;
}

bool LandscapeChange::Forward(Landscape& land, bool check) const {
  Wait();
  if (!forgotten_) {
    ApplyTo(land, false);
    return true;
  }
  if (!remake_(land) || (check && !Matches(land, false))) return false;
  std::tie(land.minHeight, land.maxHeight) = rangeAfter_;
  return true;
}

bool LandscapeChange::Matches(const Landscape& land, bool back) const {
  Wait();
  return remake_ && Fingerprint(land) == (back ? sumBefore_ : sumAfter_);
}

void LandscapeChange::KeepBase(const Landscape& before) { base_ = Pack(before); }

std::unique_ptr<LandscapeChange::Packed> LandscapeChange::Pack(const Landscape& before) {
  auto packed = std::make_unique<Packed>();
  const ZeroedWeights zeros(before.Count());
  packed->heights = GridChange(zeros.data(), before.heights.data(), before.width, before.height);
  packed->hasNoData = !before.noData.empty();
  if (packed->hasNoData) {
    const std::vector<uint8_t, base::Zeroed<uint8_t>> none(before.Count());
    packed->noData = GridChange(none.data(), before.noData.data(), before.width, before.height);
  }
  return packed;
}

void LandscapeChange::KeepBaseLater(Landscape&& now,
                                    std::vector<std::shared_ptr<const LandscapeChange>> later,
                                    std::function<void()> done) {
  WaitForBase();
  basePendingBytes_ = now.Count() * (sizeof(float) + (now.noData.empty() ? 0 : 1));
  baseWork_ = std::async(std::launch::async, [this, land = std::move(now), later = std::move(later),
                                              done = std::move(done)]() mutable {
    LeaveTheCoresToOthers();
    bool outOfMemory = false;
    tbb::task_arena(1).execute([&] {
      baseGroup_.run_and_wait([&] {
        // Cancelled, each stage's bands are skipped and nothing it made is kept.
        try {
          for (auto step = later.rbegin(); step != later.rend(); ++step)
            (*step)->ApplyTo(land, true);
          ApplyTo(land, true);
          const bool refused = Remakeable() && !Matches(land, true);
          auto packed = refused ? nullptr : Pack(land);
          if (tbb::is_current_task_group_canceling()) return;
          baseRefused_ = refused;
          base_ = std::move(packed);
        } catch (const std::bad_alloc&) {
          outOfMemory = true;  // none for now, nothing forgotten; tried again after an edit
        }
      });
    });
    land = Landscape();
    later.clear();
    if (done && !outOfMemory) done();
  });
}

void LandscapeChange::BaseInto(Landscape& land) const {
  WaitForBase();
  land.heights.assign(land.Count(), 0.0f);
  base_->heights.ApplyTo(land.heights.data());
  land.noData.clear();
  if (base_->hasNoData) {
    land.noData.assign(land.Count(), 0);
    base_->noData.ApplyTo(land.noData.data());
  }
  std::tie(land.minHeight, land.maxHeight) = rangeBefore_;
}

void LandscapeChange::ApplyTo(Landscape& land, bool back) const {
  Wait();
  if (whole_) {
    std::swap(land, *whole_);
    return;
  }
  heights_.ApplyTo(land.heights.data());
  if (!land.noData.empty()) noData_.ApplyTo(land.noData.data());
  std::tie(land.minHeight, land.maxHeight) = back ? rangeBefore_ : rangeAfter_;
}

size_t LandscapeChange::Bytes() const {
  if (!Ready()) return sizeof *this + pendingBytes_;
  Wait();
  size_t bytes = sizeof *this + heights_.Bytes() + noData_.Bytes() + remakeBytes_;
  if (BasePending()) {
    bytes += basePendingBytes_;
  } else if (HasBase()) {
    bytes += base_->heights.Bytes() + base_->noData.Bytes();
  }
  if (whole_) bytes += whole_->Count() * (sizeof(float) + (whole_->noData.empty() ? 0 : 1));
  return bytes;
}

SelectionChange::SelectionChange(const float* before, const float* after, int32_t width,
                                 int32_t height, const CellBox& within)
    : cells_(static_cast<size_t>(width) * static_cast<size_t>(height)),
      noneBefore_(!before),
      noneAfter_(!after) {
  const ZeroedWeights none(before && after ? 0 : cells_);
  change_ =
      GridChange(before ? before : none.data(), after ? after : none.data(), width, height, within);
}

void SelectionChange::ApplyTo(ZeroedWeights& weights, bool back) const {
  if (weights.empty()) weights.resize(cells_);  // zeros, the pages made as written
  change_.ApplyTo(weights.data());
  if (back ? noneBefore_ : noneAfter_) weights.clear();
}

bool UnsavedHeights(const QUndoStack& history) {
  const int clean = history.cleanIndex(), now = history.index();
  if (clean < 0) return true;
  for (int i = std::min(clean, now); i < std::max(clean, now); ++i)
    if (dynamic_cast<const LandscapeStep*>(history.command(i))) return true;
  return false;
}

void SettleHistory(const QUndoStack& history) {
  for (int i = 0; i < history.count(); ++i)
    if (const auto* step = dynamic_cast<const LandscapeStep*>(history.command(i)))
      step->Of().Wait();
}

}  // namespace host
