#include "host/ui/history.h"

#include <pthread.h>
#include <sched.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>
#include <xxhash.h>

#include <algorithm>
#include <chrono>
#include <memory>

namespace host {

namespace {

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

// The landscape of `now`'s size and file, with no cells yet.
Landscape Shell(const Landscape& now) {
  Landscape land;
  land.width = now.width;
  land.height = now.height;
  land.geo = now.geo;
  return land;
}

const LandscapeStep* LandscapeStepAt(const QUndoStack& history, int index) {
  return dynamic_cast<const LandscapeStep*>(history.command(index));
}

LandscapeChange* ChangeAt(QUndoStack& history, int index) {
  // The stack hands out its steps as const; the changes they share are the history's.
  auto* step = const_cast<LandscapeStep*>(LandscapeStepAt(history, index));
  return step ? &step->Of() : nullptr;
}

size_t StepBytes(const QUndoCommand* step) {
  if (const auto* s = dynamic_cast<const LandscapeStep*>(step)) return s->Bytes();
  if (const auto* s = dynamic_cast<const SelectionStep*>(step)) return s->Bytes();
  return 0;
}

QUndoCommand* CopyOf(const QUndoCommand* step) {
  if (const auto* s = dynamic_cast<const LandscapeStep*>(step)) return s->Copy();
  if (const auto* s = dynamic_cast<const SelectionStep*>(step)) return s->Copy();
  return nullptr;
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
  work_ = std::async(std::launch::async, [this, kept = std::move(before), &after, within,
                                          done = std::move(done)]() mutable {
    // Only on a core the window leaves idle: the repaint of the edit comes first, and
    // the change is worked out after it (or at once, when the window waits for it).
    const sched_param idle{};
    pthread_setschedparam(pthread_self(), SCHED_IDLE, &idle);
    // On one core of an arena of its own: the window's own work on every core (a repaint)
    // never waits behind a band of this one.
    tbb::task_arena(1).execute([&] { Make(kept, after, within); });
    kept = Landscape();  // the whole copy goes as soon as the change is known
    if (done) done();
  });
}

LandscapeChange::~LandscapeChange() { Wait(); }

void LandscapeChange::Wait() const {
  if (work_.valid()) work_.get();
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

void LandscapeChange::KeepBase(const Landscape& before) {
  auto packed = std::make_unique<Packed>();
  const ZeroedWeights zeros(before.Count());
  packed->heights = GridChange(zeros.data(), before.heights.data(), before.width, before.height);
  packed->hasNoData = !before.noData.empty();
  if (packed->hasNoData) {
    const std::vector<uint8_t, base::Zeroed<uint8_t>> none(before.Count());
    packed->noData = GridChange(none.data(), before.noData.data(), before.width, before.height);
  }
  base_ = std::move(packed);
}

void LandscapeChange::BaseInto(Landscape& land) const {
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
  if (base_) bytes += base_->heights.Bytes() + base_->noData.Bytes();
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

size_t HistoryBytes(const QUndoStack& history) {
  size_t bytes = 0;
  for (int i = 0; i < history.count(); ++i) bytes += StepBytes(history.command(i));
  return bytes;
}

std::optional<Landscape> LandscapeBefore(const QUndoStack& history, int index, const Landscape& now,
                                         const Progress& progress) {
  int from = index;
  for (; from >= 0; --from) {
    const LandscapeStep* step = from < history.count() ? LandscapeStepAt(history, from) : nullptr;
    if (!step) continue;
    if (step->Of().Whole()) return std::nullopt;  // nothing before it reaches past it
    if (step->Of().HasBase()) break;
  }
  if (from < 0) return std::nullopt;
  // What the step at `index` found is checked at the end, when it knows; else each step
  // made again on the way.
  const auto* last = index < history.count() ? LandscapeStepAt(history, index) : nullptr;
  const bool checkLast = last && last->Of().Remakeable();
  Landscape land = Shell(now);
  LandscapeStepAt(history, from)->Of().BaseInto(land);
  int remade = 0, toRemake = 0;
  for (int i = from; i < index; ++i)
    if (const auto* step = LandscapeStepAt(history, i)) toRemake += step->Of().Forgotten();
  for (int i = from; i < index; ++i)
    if (const auto* step = LandscapeStepAt(history, i)) {
      if (progress && step->Of().Forgotten()) progress(remade++, toRemake);
      if (!step->Of().Forward(land, !checkLast)) return std::nullopt;
    }
  if (checkLast && !last->Of().Matches(land, true)) return std::nullopt;
  return land;
}

namespace {

// Keeps the landscape before the oldest step whole, found by undoing every step on a
// copy of `now`; false when a step cannot be undone so.
bool KeepFirstBase(QUndoStack& history, const Landscape& now) {
  int oldest = -1;
  for (int i = 0; i < history.count(); ++i)
    if (const auto* step = LandscapeStepAt(history, i)) {
      if (step->Of().Whole() || step->Of().Forgotten()) return false;
      if (oldest < 0) oldest = i;
    }
  if (oldest < 0) return false;
  Landscape land = now;
  for (int i = history.count() - 1; i >= oldest; --i)
    if (const auto* step = LandscapeStepAt(history, i)) step->Of().ApplyTo(land, true);
  LandscapeChange* change = ChangeAt(history, oldest);
  if (change->Remakeable() && !change->Matches(land, true)) return false;
  change->KeepBase(land);
  return true;
}

// Forgets the differences of remakeable steps, oldest first, until the history keeps
// at most `bytes`. A landscape kept whole costs about its grid: one is made only when the
// differences to forget weigh more.
void ForgetDifferences(QUndoStack& history, size_t bytes, const Landscape& now) {
  size_t kept = HistoryBytes(history), forgettable = 0;
  bool based = false;
  for (int i = 0; i < history.count(); ++i) {
    const LandscapeChange* change = ChangeAt(history, i);
    if (!change) continue;
    if (change->Whole()) break;
    based = based || change->HasBase();
    if (change->Remakeable() && !change->Forgotten()) forgettable += change->Bytes();
  }
  if (!based && forgettable < now.Count() * sizeof(float)) return;
  based = false;
  for (int i = 0; i < history.count() && kept > bytes; ++i) {
    LandscapeChange* change = ChangeAt(history, i);
    if (!change) continue;
    if (change->Whole()) return;  // no step after it is made from a landscape before it
    based = based || change->HasBase();
    if (!change->Remakeable() || change->Forgotten()) continue;
    if (!based) {
      if (!KeepFirstBase(history, now)) return;
      based = true;
      kept = HistoryBytes(history);
    }
    const size_t had = change->Bytes();
    change->Forget();
    kept = kept - had + change->Bytes();
  }
}

// Before the steps from `first` on are all that is kept: a step among them made again
// needs a landscape kept whole before it, moved up from a step that goes if need be.
bool MoveBase(QUndoStack& history, int first, const Landscape* now) {
  int holder = -1;
  bool needed = false;
  for (int i = first; i < history.count() && !needed; ++i) {
    const auto* step = LandscapeStepAt(history, i);
    if (!step) continue;
    if (holder < 0) holder = i;
    if (step->Of().HasBase()) break;
    needed = step->Of().Forgotten();
  }
  if (!needed) return true;
  if (!now) return false;
  const std::optional<Landscape> land = LandscapeBefore(history, first, *now);
  if (!land) return false;
  ChangeAt(history, holder)->KeepBase(*land);
  return true;
}

}  // namespace

bool ApplyStep(const QUndoStack& history, const LandscapeChange& change, bool back, Landscape& land,
               const Progress& progress) {
  if (!change.Forgotten()) {
    change.ApplyTo(land, back);
    return true;
  }
  std::optional<Landscape> made;
  if (back) {
    int index = history.count() - 1;
    for (; index >= 0; --index)
      if (const auto* step = LandscapeStepAt(history, index); step && &step->Of() == &change) break;
    made = LandscapeBefore(history, index, land, progress);
  } else {
    if (progress) progress(0, 1);
    made = land;
    if (!change.Forward(*made)) made.reset();
  }
  if (!made) return false;
  land = std::move(*made);
  return true;
}

void KeepHistoryWithin(QUndoStack& history, size_t bytes, const Landscape* now) {
  const int count = history.count();
  if (count == 0 || history.index() != count) return;
  // A step still worked out keeps its whole landscape for a while: kept within the bound
  // once it is done, not before.
  if (const auto* newest = dynamic_cast<const LandscapeStep*>(history.command(count - 1)))
    if (!newest->Of().Ready()) return;
  if (now && HistoryBytes(history) > bytes) ForgetDifferences(history, bytes, *now);
  // The newest steps that fit, the newest of all whatever it costs.
  int first = count - 1;
  size_t kept = StepBytes(history.command(first));
  while (first > 0 && kept + StepBytes(history.command(first - 1)) <= bytes)
    kept += StepBytes(history.command(--first));
  if (first == 0 || !MoveBase(history, first, now)) return;
  // A stack cannot drop its oldest steps: it is built again of copies of the others,
  // which share their changes and are applied already.
  std::vector<std::unique_ptr<QUndoCommand>> copies;
  for (int i = first; i < count; ++i) {
    copies.emplace_back(CopyOf(history.command(i)));
    if (!copies.back()) return;  // a step of no known kind: kept, with all the others
  }
  const int clean = history.cleanIndex() < first ? -1 : history.cleanIndex() - first;
  history.clear();
  if (clean < 0) history.resetClean();  // the saved state went with the dropped steps
  for (int i = 0; i < static_cast<int>(copies.size()); ++i) {
    if (i == clean) history.setClean();
    history.push(copies[static_cast<size_t>(i)].release());
  }
  if (clean == static_cast<int>(copies.size())) history.setClean();
}

}  // namespace host
