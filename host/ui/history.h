// The window's history: each applied change is a step that keeps what it changed, small
// (see GridChange), within a bound of bytes. Past the bound, the steps that can be made
// again (a plug-in's action with the values it ran with) forget their difference first,
// oldest first, and are made again from a landscape the history keeps whole and packed;
// then the oldest steps go.
#pragma once

#include <tbb/task_group.h>

#include <QUndoCommand>
#include <QUndoStack>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "host/model/grid_change.h"
#include "host/model/landscape.h"

namespace host {

// Makes an edit again on the landscape before it, as it was made; false when it could not.
using Remake = std::function<bool(Landscape& land)>;

// One edit of the landscape: its heights and NoData cells where they changed, and the
// recorded range on either side. An edit that changes the grid's size or what the file
// says of it keeps the landscape on its other side whole.
class LandscapeChange {
 public:
  // `within`: the cells the edit may have changed, when known (empty: any).
  LandscapeChange(const Landscape& before, const Landscape& after, const CellBox& within = {});
  // The same, worked out on a thread of its own while the user goes on: `before` is kept
  // whole until then, and `after` must not change until Wait returns (the window settles
  // its history before any edit). It begins at Start, or when something waits for it.
  // `done` is called on that thread at the end. `remake` (with what it keeps, in bytes):
  // how to make the edit again, if it can be.
  LandscapeChange(Landscape&& before, const Landscape& after, const CellBox& within,
                  std::function<void()> done, Remake remake = {}, size_t remakeBytes = 0);
  ~LandscapeChange();
  LandscapeChange(const LandscapeChange&) = delete;
  LandscapeChange& operator=(const LandscapeChange&) = delete;
  // Lets the work begin (the window, once it has drawn the edit); again, nothing.
  void Start() const;
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
    return box_;
  }
  bool Whole() const {
    Wait();
    return whole_.has_value();
  }

  // A change of cells that can be made again may forget its difference; ApplyTo then
  // cannot be used: the landscape after it is made again from the one before (Forward),
  // and the one before from a landscape kept whole earlier (LandscapeBefore).
  bool Remakeable() const;
  bool Forgotten() const { return forgotten_; }
  void Forget();
  // From the landscape before it to the one after: by the difference, or made again and
  // (when `check`) checked against what the edit made first. False (`land` then
  // undefined) when the edit came out otherwise.
  bool Forward(Landscape& land, bool check = true) const;
  // Whether `land` has the cells this edit found (back) or left; a remakeable change
  // knows.
  bool Matches(const Landscape& land, bool back) const;
  // The landscape before it, kept whole and packed, where making steps again starts.
  void KeepBase(const Landscape& before);
  // The same, made on a thread of its own at idle priority: `now` (the landscape after
  // the steps `later`, this one's successors, newest last) with each undone, then
  // checked against what this edit found. `done` is called on that thread at the end,
  // unless memory ran out (none is kept then, and nothing is forgotten until one is). A
  // change let go meanwhile (a history cleared) stops it soon, not at its end.
  void KeepBaseLater(Landscape&& now, std::vector<std::shared_ptr<const LandscapeChange>> later,
                     std::function<void()> done);
  // Whether a landscape kept whole is being made; HasBase and BaseInto wait for it.
  bool BasePending() const;
  bool HasBase() const {
    WaitForBase();
    return base_ != nullptr;
  }
  // Whether making one came out otherwise than the edit found: none is tried again.
  bool BaseRefused() const {
    WaitForBase();
    return baseRefused_;
  }
  // Its cells (and range) put into `land`, a landscape of the same size.
  void BaseInto(Landscape& land) const;

 private:
  void Make(const Landscape& before, const Landscape& after, const CellBox& within);
  void WaitForBase() const;

  struct Packed {
    GridChange heights, noData;  // from zeros
    bool hasNoData = false;
  };
  static std::unique_ptr<Packed> Pack(const Landscape& land);

  mutable std::future<void> work_;  // valid while it is worked out
  mutable std::promise<void> start_;
  mutable std::once_flag started_;
  size_t pendingBytes_ = 0;
  GridChange heights_, noData_;
  CellBox box_;
  Remake remake_;
  size_t remakeBytes_ = 0;
  uint64_t sumBefore_ = 0, sumAfter_ = 0;  // the cells' fingerprints, when remakeable
  bool forgotten_ = false;
  std::unique_ptr<Packed> base_;
  mutable std::future<void> baseWork_;  // valid while a base is made
  tbb::task_group baseGroup_;           // its work, cancelled when the change goes
  size_t basePendingBytes_ = 0;
  bool baseRefused_ = false;
  std::pair<double, double> rangeBefore_, rangeAfter_;
  // The other side, when the change is not of cells: undo and redo swap it in.
  mutable std::optional<Landscape> whole_;
};

// A change of the selection's weights; an empty selection (none) on either side counts
// as weights of nothing.
class SelectionChange {
 public:
  // A weight per cell on either side, or null for none. `within`: the cells where the two
  // may differ, when known (empty: any); only those of `before` are read then.
  SelectionChange(const float* before, const float* after, int32_t width, int32_t height,
                  const CellBox& within = {});
  void ApplyTo(ZeroedWeights& weights, bool back) const;
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
  ChangeStep(Apply apply, const QString& text, std::shared_ptr<Change> change)
      : QUndoCommand(text), apply_(std::move(apply)), change_(std::move(change)) {}
  void undo() override { apply_(*change_, true); }
  void redo() override {
    if (pushed_) apply_(*change_, false);
    pushed_ = true;  // pushing does not apply it again: it is applied already
  }
  size_t Bytes() const { return change_->Bytes(); }
  const Change& Of() const { return *change_; }
  Change& Of() { return *change_; }
  std::shared_ptr<const Change> Shared() const { return change_; }
  // The same step, for a stack built again when every step is done.
  ChangeStep* Copy() const { return new ChangeStep(apply_, text(), change_); }

 private:
  Apply apply_;
  std::shared_ptr<Change> change_;
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

// Keeps the history within `bytes`: forgets the differences of remakeable steps, oldest
// first, then drops the oldest steps (the newest stays, whatever it costs). `now`: the
// landscape as the newest step left it, or null when it is being edited (nothing is
// forgotten then). Call right after a push, when every step is done. With `later`, the
// landscape kept whole for the first time is made on a thread of its own, which calls
// `later` at the end: nothing is forgotten until KeepHistoryWithin is called again then.
void KeepHistoryWithin(QUndoStack& history, size_t bytes, const Landscape* now = nullptr,
                       const std::function<void()>& later = {});

// Undoes (back) or redoes `change`, a step of `history`, on `land`: by its difference, or
// made again. False, `land` left as it was, when a step came out otherwise.
// `progress`: told of each step made again (done, of how many), when any is.
using Progress = std::function<void(int done, int steps)>;
bool ApplyStep(const QUndoStack& history, const LandscapeChange& change, bool back, Landscape& land,
               const Progress& progress = {});

// The landscape before the step at `index`, made again from the nearest landscape kept
// whole before it (`now`, the landscape as it is, gives its size and what the file says);
// none when a step came out otherwise than it first did.
std::optional<Landscape> LandscapeBefore(const QUndoStack& history, int index, const Landscape& now,
                                         const Progress& progress = {});

}  // namespace host
