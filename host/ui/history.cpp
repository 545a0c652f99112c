#include "host/ui/history.h"

#include <tbb/task_arena.h>

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
                                 std::function<void()> done)
    : pendingBytes_(before.Count() * (sizeof(float) + (before.noData.empty() ? 0 : 1))),
      rangeBefore_(before.minHeight, before.maxHeight),
      rangeAfter_(after.minHeight, after.maxHeight) {
  work_ = std::async(std::launch::async, [this, kept = std::move(before), &after, within,
                                          done = std::move(done)]() mutable {
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
  size_t bytes = sizeof *this + heights_.Bytes() + noData_.Bytes();
  if (whole_) bytes += whole_->Count() * (sizeof(float) + (whole_->noData.empty() ? 0 : 1));
  return bytes;
}

SelectionChange::SelectionChange(const std::vector<float>& before, const std::vector<float>& after,
                                 int32_t width, int32_t height, const CellBox& within)
    : cells_(static_cast<size_t>(width) * static_cast<size_t>(height)),
      noneBefore_(before.empty()),
      noneAfter_(after.empty()) {
  ZeroedWeights none(before.empty() || after.empty() ? cells_ : 0);
  const float* a = before.empty() ? none.data() : before.data();
  const float* b = after.empty() ? none.data() : after.data();
  change_ = GridChange(a, b, width, height, within);
}

void SelectionChange::ApplyTo(std::vector<float>& weights, bool back) const {
  if (weights.empty()) weights.assign(cells_, 0.0f);
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

void KeepHistoryWithin(QUndoStack& history, size_t bytes) {
  const int count = history.count();
  if (count == 0 || history.index() != count) return;
  // A step still worked out keeps its whole landscape for a while: kept within the bound
  // once it is done, not before.
  if (const auto* newest = dynamic_cast<const LandscapeStep*>(history.command(count - 1)))
    if (!newest->Of().Ready()) return;
  // The newest steps that fit, the newest of all whatever it costs.
  int first = count - 1;
  size_t kept = StepBytes(history.command(first));
  while (first > 0 && kept + StepBytes(history.command(first - 1)) <= bytes)
    kept += StepBytes(history.command(--first));
  if (first == 0) return;
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
