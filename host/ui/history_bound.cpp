// The history within its bound: forgetting differences, the landscape kept whole to
// make steps again from, dropping the oldest steps; and undo and redo of a step made
// again.
#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "host/ui/history.h"

namespace host {

namespace {

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
// copy of `now`: at once, or with `later` on a thread of its own. False when no step can
// hold it, or a step cannot be undone so.
bool KeepFirstBase(QUndoStack& history, const Landscape& now, const std::function<void()>& later) {
  int oldest = -1;
  std::vector<std::shared_ptr<const LandscapeChange>> after;
  for (int i = 0; i < history.count(); ++i)
    if (const auto* step = LandscapeStepAt(history, i)) {
      if (step->Of().Whole() || step->Of().Forgotten()) return false;
      if (oldest >= 0) after.push_back(step->Shared());
      if (oldest < 0) oldest = i;
    }
  if (oldest < 0) return false;
  LandscapeChange* change = ChangeAt(history, oldest);
  if (change->BaseRefused()) return false;
  // Copied here: `now` may change once this returns.
  Landscape land = now.Copy();
  if (later) {
    change->KeepBaseLater(std::move(land), std::move(after), later);
    return false;
  }
  for (auto step = after.rbegin(); step != after.rend(); ++step) (*step)->ApplyTo(land, true);
  change->ApplyTo(land, true);
  if (change->Remakeable() && !change->Matches(land, true)) return false;
  change->KeepBase(land);
  return true;
}

// Forgets the differences of remakeable steps, oldest first, until the history keeps
// at most `bytes`. A landscape kept whole costs about its grid: one is made only when the
// differences to forget weigh more.
void ForgetDifferences(QUndoStack& history, size_t bytes, const Landscape& now,
                       const std::function<void()>& later) {
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
      if (!KeepFirstBase(history, now, later)) return;
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

void KeepHistoryWithin(QUndoStack& history, size_t bytes, const Landscape* now,
                       const std::function<void()>& later) {
  const int count = history.count();
  if (count == 0 || history.index() != count) return;
  // A step still worked out keeps its whole landscape for a while: kept within the bound
  // once it is done, not before; so is a landscape kept whole while it is made.
  if (const auto* newest = dynamic_cast<const LandscapeStep*>(history.command(count - 1)))
    if (!newest->Of().Ready()) return;
  auto basePending = [&] {
    for (int i = 0; i < count; ++i)
      if (const auto* step = LandscapeStepAt(history, i); step && step->Of().BasePending())
        return true;
    return false;
  };
  if (basePending()) return;
  if (now && HistoryBytes(history) > bytes) ForgetDifferences(history, bytes, *now, later);
  if (basePending()) return;  // one has just been started
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
