// The window's history: each applied change is a step that holds the landscape on its
// other side.
#pragma once

#include <QUndoCommand>
#include <QUndoStack>
#include <cstddef>
#include <functional>
#include <vector>

#include "host/model/landscape.h"

namespace host {

// One applied change: the landscape on the other side of it. Undo and redo swap it with
// the window's, so each step holds one landscape.
class LandscapeStep : public QUndoCommand {
 public:
  using Swap = std::function<void(Landscape& other)>;
  LandscapeStep(Swap swap, const QString& text, Landscape other)
      : QUndoCommand(text), swap_(std::move(swap)), other_(std::move(other)) {}
  void undo() override { swap_(other_); }
  void redo() override {
    if (pushed_) swap_(other_);
    pushed_ = true;  // pushing does not apply it again: it is applied already
  }

 private:
  Swap swap_;
  Landscape other_;
  bool pushed_ = false;
};

// A change of the selection (a brush stroke): the weights on each side of it. It is
// undone with the edits, but changes no height: it leaves nothing to save.
class SelectionStep : public QUndoCommand {
 public:
  using Apply = std::function<void(const std::vector<float>& weights)>;
  SelectionStep(Apply apply, const QString& text, std::vector<float> before,
                std::vector<float> after)
      : QUndoCommand(text),
        apply_(std::move(apply)),
        before_(std::move(before)),
        after_(std::move(after)) {}
  void undo() override { apply_(before_); }
  void redo() override { apply_(after_); }

 private:
  Apply apply_;
  std::vector<float> before_, after_;
};

// Whether the heights differ from those last saved: a height edit lies between the
// stack's clean state and where it is now (or the clean state was dropped).
bool UnsavedHeights(const QUndoStack& history);

// How many steps of landscapes of this size fit in `bytes`: two at the least, a
// thousand at the most.
int HistoryLimit(const Landscape& land, size_t bytes);

}  // namespace host
