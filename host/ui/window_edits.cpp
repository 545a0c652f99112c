// What changes the heights in the window: a plug-in run (from the menu, or placed with a
// click), a sculpting stroke, and the history's steps of them.
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDoubleSpinBox>
#include <QStackedWidget>
#include <QStatusBar>
#include <QUndoStack>
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <memory>
#include <optional>
#include <sstream>
#include <utility>

#include "host/plugins/headless.h"
#include "host/plugins/private_settings.h"
#include "host/plugins/services.h"
#include "host/ui/history.h"
#include "host/ui/landscape_view.h"
#include "host/ui/main_window.h"
#include "host/ui/sculpt.h"
#include "host/ui/selection.h"
#include "host/ui/terrain_view_3d.h"
#include "rovandel/settings_schema.h"

namespace host {

namespace {

// A sculpting stroke's weight at cell i: within a selection, weighed by it too, as a run
// of the action masked by both.
float StrokeWeight(const ZeroedWeights& stroke, const ZeroedWeights& selection, size_t i) {
  return selection.empty() ? stroke[i] : stroke[i] * selection[i];
}

}  // namespace

void MainWindow::PushStep(QUndoCommand* step) {
  history_->push(step);
  KeepHistory();
}

void MainWindow::KeepHistory() {
  // A stroke being painted has changed cells no step knows yet.
  const bool painting = sculpt_ && !sculpt_->weights.empty();
  // Past the bound the history may pack a whole landscape: a moment on a large one.
  const bool over = HistoryBytes(*history_) > historyBytes_;
  if (over) QApplication::setOverrideCursor(Qt::WaitCursor);
  // A landscape kept whole for the first time is made while the user goes on.
  KeepHistoryWithin(*history_, historyBytes_, painting ? nullptr : &land_,
                    [this] { KeepHistorySoon(); });
  if (over) QApplication::restoreOverrideCursor();
}

void MainWindow::KeepHistorySoon() {
  QMetaObject::invokeMethod(
      this, [this] { KeepHistory(); }, Qt::QueuedConnection);
}

void MainWindow::PushChange(const QString& name, Landscape&& before, const CellBox& reach,
                            std::pair<Remake, size_t> remake) {
  ++edits_;
  // Worked out while the user goes on; the history keeps to its bound once it is.
  auto change = std::make_shared<LandscapeChange>(
      std::move(before), land_, reach, [this] { KeepHistorySoon(); }, std::move(remake.first),
      remake.second);
  // Begun when the window next waits for the user: the edit drawn, the cores free.
  connect(
      QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
      [started = std::weak_ptr<const LandscapeChange>(change)] {
        if (const auto c = started.lock()) c->Start();
      },
      Qt::SingleShotConnection);
  PushStep(new LandscapeStep([this](const LandscapeChange& c, bool back) { ApplyChange(c, back); },
                             name, std::move(change)));
}

std::pair<Remake, size_t> MainWindow::RemakeOf(PluginModule& module, const CellBox& reach) const {
  // Another plug-in's values are its own: its runs are not made again.
  if (module.Name() != settings_schema::kDisplayName) return {};
  PluginValues values{StoredPluginValues(), std::nullopt};
  std::shared_ptr<const SelectionChange> weights;
  if (!selection_.empty())
    weights = std::make_shared<const SelectionChange>(nullptr, selection_.data(), land_.width,
                                                      land_.height, reach);
  // The values and the closure: about a kilobyte beside the packed weights.
  const size_t bytes = (weights ? weights->Bytes() : 0) + 1024;
  Remake remake = [&module, values = std::move(values), weights,
                   water = waterLevel_](Landscape& land) {
    ZeroedWeights selected;
    if (weights) weights->ApplyTo(selected, false);
    std::ostringstream unused;  // the values were the plug-in's own: nothing to warn of
    const PrivateSettings store(values, unused, PrivateSettings::Base::kDefaults);
    return RunHeadless(module, land, water, std::move(selected), true).applied;
  };
  return {std::move(remake), bytes};
}

void MainWindow::ApplyChange(const LandscapeChange& change, bool back) {
  if (historyLost_) return;
  // A step whose difference the history forgot is made again: a moment's work a step.
  const bool remade = change.Forgotten();
  if (remade) QApplication::setOverrideCursor(Qt::WaitCursor);
  const bool applied = ApplyStep(*history_, change, back, land_, [this](int done, int steps) {
    statusBar()->showMessage(
        tr("Making the landscape again: edit %1 of %2").arg(done + 1).arg(steps));
    statusBar()->repaint();
  });
  if (remade) {
    QApplication::restoreOverrideCursor();
    statusBar()->clearMessage();
  }
  if (!applied) return LoseHistory();
  ++edits_;
  if (change.Whole()) {
    LandscapeReplaced();
  } else {
    HeightsChanged(change.Box());
  }
  Refresh();
}

void MainWindow::RunPlugin(PluginModule& module) {
  SettleHistory(*history_);  // the last step reads the heights until it is worked out
  Landscape before = land_.Copy();
  HostSession session(land_);
  session.waterLevel = waterLevel_;
  if (!selection_.empty()) session.Select(selection_);
  // Previews show while the dialog is open. A redraw the plug-in asks for is drawn at
  // once, not at the event loop's next turn: after OK that comes only once the dialog has
  // closed and the history has taken its step.
  // The map's pyramid is made from the heights as they are written, while in cache.
  static_assert(HostSession::kRowsTogether % (1 << MapTiles::kLevelsAsWritten) == 0);
  session.onWritten = [this](const CellBox& written) { view_->Tiles().ReduceWritten(written); };
  session.onRedraw = [this](const CellBox& changed) {
    HeightsChanged(changed, true);
    Refresh();
    views_->currentWidget()->repaint();
  };
  const bool applied = module.Run(session);
  HeightsChanged(session.TakeChanged(), true);  // applied, or back as they were
  Refresh();
  // The plug-in changes only what is selected: the history looks within its box.
  const CellBox reach = selection_.empty() ? CellBox{0, 0, land_.width, land_.height}
                                           : SelectedBox(selection_, land_.width, land_.height);
  if (applied)
    PushChange(QString::fromStdString(module.Name()), std::move(before), reach,
               RemakeOf(module, reach));
  // The dialog had the keys; Undo and the view's keys work at once.
  views_->currentWidget()->setFocus();
}

void MainWindow::PlaceAndRun(QPointF from, QPointF to) {
  const auto x = static_cast<int32_t>(std::floor(from.x()));
  const auto y = static_cast<int32_t>(std::floor(from.y()));
  if (x < 0 || y < 0 || x >= land_.width || y >= land_.height || modules_.empty()) return;
  // The fewest digits that read back as the cell's float: the height as the readout and
  // the user write it (709.1, not 709.099976), and the cell's height exactly.
  auto number = [](float v) {
    std::array<char, 32> text{};
    return std::string(text.data(), std::to_chars(text.data(), text.data() + text.size(), v).ptr);
  };
  // A position in percent of the map to a tenth of a cell or finer, and no finer: what
  // the dialog's field can show whole.
  const int decimals = std::clamp(
      static_cast<int>(std::ceil(std::log10(std::max(land_.width, land_.height)))) - 1, 1, 6);
  auto percent = [decimals](double v) { return QString::number(v, 'f', decimals).toStdString(); };
  PluginValues values;
  if (view_->tool == LandscapeView::Tool::kPick) {
    // Flatten towards the height clicked.
    const size_t i = static_cast<size_t>(y) * land_.width + x;
    if (land_.IsNoData(i)) return;
    values.action = "flatten";
    values.settings = {{"FlattenHeight", number(land_.heights[i])}};
  } else {
    // The hill where the press was; a drag sets its width, where its change falls to 1/e
    // (the kernel measures across and down in fractions of the map's width and height).
    values.action = "hill";
    values.settings = {{"xpos", percent(100.0 * from.x() / land_.width)},
                       {"ypos", percent(100.0 * from.y() / land_.height)}};
    const QPointF reach = to - from;
    if (std::hypot(reach.x(), reach.y()) >= 1.0)
      values.settings.emplace_back(
          "radius", percent(100.0 * std::hypot(reach.x() / land_.width, reach.y() / land_.height)));
  }
  // The host writes the settings the module reads; the dialog then shows them.
  StorePluginSettings(values);
  RunPlugin(*modules_.front());
}

bool MainWindow::ChooseSculpt() {
  if (modules_.empty()) return false;
  SettleHistory(*history_);
  // The dialog's OK keeps the action and its settings; its result, on a copy, is what
  // the first stroke paints from.
  auto stroke = std::make_unique<SculptStroke>();
  stroke->source = land_;
  HostSession session(stroke->source);
  session.waterLevel = waterLevel_;
  if (!modules_.front()->Run(session)) return false;
  stroke->before = land_;
  stroke->madeAt = edits_;
  sculpt_ = std::move(stroke);
  views_->currentWidget()->setFocus();
  return true;
}

void MainWindow::LoseHistory() {
  historyLost_ = true;
  // Not from within the stack's own undo or redo.
  QMetaObject::invokeMethod(
      this,
      [this] {
        history_->clear();
        history_->resetClean();  // whatever was saved, the heights may differ from it
        historyLost_ = false;
        statusBar()->showMessage(
            tr("An edit came out otherwise when made again: the history is cleared, and the "
               "landscape is as it was before that undo or redo"));
      },
      Qt::QueuedConnection);
}

int MainWindow::SculptHalo() const {
  namespace schema = settings_schema;
  // This plug-in's actions say how far they read (the others, and any other plug-in's,
  // are run on the whole grid). Add Hill places its hill by the grid's size: whole too.
  if (modules_.empty() || modules_.front()->Name() != schema::kDisplayName)
    return SculptStroke::kWhole;
  const std::optional<int> action = schema::FindAction(StoredActionName());
  if (!action || *action == schema::kActionHill) return SculptStroke::kWhole;
  const int halo = schema::kActions[static_cast<size_t>(*action)].halo;
  return halo == schema::kWholeGrid ? SculptStroke::kWhole : halo;
}

void MainWindow::SculptDab(QPointF from, QPointF to) {
  if (dabbing_) {
    dabsWaiting_.emplace_back(from, to);
    return;
  }
  {
    dabbing_ = true;
    struct Done {
      MainWindow& w;
      ~Done() {
        w.dabbing_ = false;
        w.dabsWaiting_.clear();
      }
    } done{*this};
    PaintDab(from, to);
    for (size_t i = 0; i < dabsWaiting_.size(); ++i) {
      const auto [f, t] = dabsWaiting_[i];  // a copy: the list may grow meanwhile
      PaintDab(f, t);
    }
  }
  if (std::exchange(endWaiting_, false)) EndSculpt();
}

void MainWindow::PaintDab(QPointF from, QPointF to) {
  if (!sculpt_ || modules_.empty()) return;
  SculptStroke& s = *sculpt_;
  if (s.weights.empty()) {
    // A stroke starts from the landscape as it is: the action applied to it again, with
    // the settings the dialog kept, unseen.
    if (s.madeAt != edits_) {
      SettleHistory(*history_);
      const int halo = SculptHalo();
      if (halo == SculptStroke::kWhole) {
        s.halo = halo;
        s.before = land_;
        s.source = land_;
        RunHeadless(*modules_.front(), s.source, waterLevel_, {}, true);
      } else {
        StartWindowed(s, land_, halo);  // made under the brush as it goes
      }
      s.madeAt = edits_;
    }
    s.weights.resize(land_.Count());  // zeros, the pages made as the brush reaches them
    s.reach = {};
  }
  const CellBox box = PaintStroke(s.weights.data(), land_.width, land_.height, {from, to},
                                  Brush{brushSpin_->value(), hardnessSpin_->value()}, false);
  if (s.halo != SculptStroke::kWhole)
    MakeSourceOver(s, land_, box, [this](Landscape& part) {
      RunHeadless(*modules_.front(), part, waterLevel_, {}, true);
    });
  for (int32_t y = box.y0; y < box.y1; ++y)
    for (int32_t x = box.x0; x < box.x1; ++x) {
      const size_t i = static_cast<size_t>(y) * land_.width + x;
      land_.heights[i] = BlendHeight(s.source.heights[i], s.before.heights[i],
                                     StrokeWeight(s.weights, selection_, i));
    }
  s.reach = s.reach.Union(box);
  HeightsChanged(box);
  // The map draws the cells when it paints; the 3D view's mesh is made again here.
  if (In3D()) view3d_->Show(land_, ColourRange(), selection_, waterLevel_, openedRange_);
}

void MainWindow::EndSculpt() {
  if (dabbing_) {
    endWaiting_ = true;
    return;
  }
  if (!sculpt_ || sculpt_->weights.empty()) return;
  SculptStroke& s = *sculpt_;
  if (!selection_.empty())  // the weights it was painted with
    for (int32_t y = s.reach.y0; y < s.reach.y1; ++y)
      for (int32_t x = s.reach.x0; x < s.reach.x1; ++x) {
        const size_t i = static_cast<size_t>(y) * land_.width + x;
        s.weights[i] = StrokeWeight(s.weights, selection_, i);
      }
  sculptWeights_ = std::move(s.weights);
  s.weights.clear();
  if (s.reach.Empty()) return;
  if (s.halo != SculptStroke::kWhole) SaveBefore(s, land_, s.reach);  // the step reads it all
  // One step of the history; the next stroke starts from what this one left.
  PushChange(QString::fromStdString("Sculpt: " + modules_.front()->Name()), std::move(s.before),
             s.reach);
  Refresh();
}

}  // namespace host
