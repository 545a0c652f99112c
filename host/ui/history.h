// The window's history: each applied change is a step that holds the landscape on its
// other side.
#pragma once

#include <QUndoCommand>
#include <cstddef>
#include <functional>

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

// How many steps of landscapes of this size fit in `bytes`: two at the least, a
// thousand at the most.
int HistoryLimit(const Landscape& land, size_t bytes);

}  // namespace host
