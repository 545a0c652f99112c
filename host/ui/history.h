// The window's history: each applied change is a step that keeps what it changed, small
// (see GridChange), within a bound of bytes; the oldest steps go when it is passed.
#pragma once

#include <QUndoCommand>
#include <QUndoStack>
#include <cstddef>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "host/model/grid_change.h"
#include "host/model/landscape.h"

namespace host {

// One edit of the landscape: its heights and NoData cells where they changed, and the
// recorded range on either side. An edit that changes the grid's size or what the file
// says of it keeps the landscape on its other side whole.
class LandscapeChange {
 public:
  // `within`: the cells the edit may have changed, when known (empty: any).
  LandscapeChange(const Landscape& before, const Landscape& after, const CellBox& within = {});
  // The same, worked out on a thread of its own while the user goes on: `before` is kept
  // whole until then, and `after` must not change until Wait returns (the window settles
  // its history before any edit). `done` is called on that thread at the end.
  LandscapeChange(Landscape&& before, const Landscape& after, const CellBox& within,
                  std::function<void()> done);
  ~LandscapeChange();
  LandscapeChange(const LandscapeChange&) = delete;
  LandscapeChange& operator=(const LandscapeChange&) = delete;
  // Until the change is worked out; every other call waits for it first.
  void Wait() const;
  bool Ready() const;
  // Gives `land` (the landscape on one side) the other side's: before when `back`.
  void ApplyTo(Landscape& land, bool back) const;
  // What it keeps: while it is worked out, the whole landscape before.
  size_t Bytes() const;
  // The cells it changes; or, when it keeps the other side whole, it replaces the
  // landscape as a whole.
  CellBox Box() const {
    Wait();
    return heights_.Box().Union(noData_.Box());
  }
  bool Whole() const {
    Wait();
    return whole_.has_value();
  }

 private:
  void Make(const Landscape& before, const Landscape& after, const CellBox& within);

  mutable std::future<void> work_;  // valid while it is worked out
  size_t pendingBytes_ = 0;
  GridChange heights_, noData_;
  std::pair<double, double> rangeBefore_, rangeAfter_;
  // The other side, when the change is not of cells: undo and redo swap it in.
  mutable std::optional<Landscape> whole_;
};

// A change of the selection's weights; an empty selection (none) on either side counts
// as weights of nothing.
class SelectionChange {
 public:
  // `within`: the cells where the two may differ, when known (empty: any).
  SelectionChange(const std::vector<float>& before, const std::vector<float>& after, int32_t width,
                  int32_t height, const CellBox& within = {});
  void ApplyTo(std::vector<float>& weights, bool back) const;
  size_t Bytes() const { return change_.Bytes(); }
  const CellBox& Box() const { return change_.Box(); }

 private:
  GridChange change_;
  size_t cells_;
  bool noneBefore_, noneAfter_;
};

// A step of the history, already applied when pushed. Each keeps its change shared, so
// that a copy of the step (when the oldest go) costs nothing.
template <typename Change>
class ChangeStep : public QUndoCommand {
 public:
  // Applies the change to the window's target, towards its before side when `back`.
  using Apply = std::function<void(const Change& change, bool back)>;
  ChangeStep(Apply apply, const QString& text, std::shared_ptr<const Change> change)
      : QUndoCommand(text), apply_(std::move(apply)), change_(std::move(change)) {}
  void undo() override { apply_(*change_, true); }
  void redo() override {
    if (pushed_) apply_(*change_, false);
    pushed_ = true;  // pushing does not apply it again: it is applied already
  }
  size_t Bytes() const { return change_->Bytes(); }
  const Change& Of() const { return *change_; }
  // The same step, for a stack built again when every step is done.
  ChangeStep* Copy() const { return new ChangeStep(apply_, text(), change_); }

 private:
  Apply apply_;
  std::shared_ptr<const Change> change_;
  bool pushed_ = false;
};

using LandscapeStep = ChangeStep<LandscapeChange>;
// A change of the selection (a brush stroke): undone with the edits, but changes no
// height, so it leaves nothing to save.
using SelectionStep = ChangeStep<SelectionChange>;

// Whether the heights differ from those last saved: a height edit lies between the
// stack's clean state and where it is now (or the clean state was dropped).
bool UnsavedHeights(const QUndoStack& history);

// Waits until every step of the history is worked out (see LandscapeChange).
void SettleHistory(const QUndoStack& history);

// The bytes the history's steps keep.
size_t HistoryBytes(const QUndoStack& history);

// Drops the oldest steps until the others keep at most `bytes` (the newest stays,
// whatever it costs). Call right after a push, when every step is done.
void KeepHistoryWithin(QUndoStack& history, size_t bytes);

}  // namespace host
