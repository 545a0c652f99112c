#include "host/ui/raw_size_dialog.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QInputDialog>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <cmath>
#include <limits>

namespace host {

std::optional<RawOptions> AskRawSize(QWidget* parent, const QString& fileName, uint64_t samples,
                                     bool sixteenBit) {
  QDialog dialog(parent);
  dialog.setObjectName("RawSizeDialog");
  dialog.setWindowTitle("Size of " + fileName);
  auto* form = new QFormLayout(&dialog);
  QString text = QString("%1 holds %2 %3 samples and does not say how they are laid out.")
                     .arg(fileName)
                     .arg(samples)
                     .arg(sixteenBit ? "16-bit" : "32-bit float");
  // Bytes that would make a square grid of the other kind: perhaps the name is the wrong
  // one (a float heightmap saved as .raw). Only a hint: 1000 x 500 shorts are 500² floats.
  const uint64_t bytes = samples * (sixteenBit ? 2 : 4), otherSize = sixteenBit ? 4 : 2;
  const auto other = static_cast<uint64_t>(std::llround(std::sqrt(double(bytes / otherSize))));
  if (bytes % otherSize == 0 && other * other == bytes / otherSize)
    text += QString("\nAs %1 they would be %2 x %2, which a %3 file holds.")
                .arg(sixteenBit ? "32-bit floats" : "16-bit heights")
                .arg(other)
                .arg(sixteenBit ? ".r32" : ".r16 or .raw");
  form->addRow(new QLabel(text));
  const auto [guessWidth, guessHeight] = GuessGridSize(samples);
  auto side = [&](const char* name, int64_t guess) {
    auto* spin = new QSpinBox(&dialog);
    spin->setObjectName(name);
    spin->setRange(1, std::numeric_limits<int32_t>::max());
    spin->setValue(static_cast<int>(guess));
    return spin;
  };
  QSpinBox* width = side("RawWidth", guessWidth);
  QSpinBox* height = side("RawHeight", guessHeight);
  form->addRow("Width (columns)", width);
  form->addRow("Height (rows)", height);

  QCheckBox* mapSteps = nullptr;
  QDoubleSpinBox* lowest = nullptr;
  QDoubleSpinBox* highest = nullptr;
  if (sixteenBit) {
    mapSteps = new QCheckBox("Steps 0 .. 65535 stand for heights", &dialog);
    mapSteps->setObjectName("RawMapSteps");
    auto height = [&](const char* name, double value) {
      auto* spin = new QDoubleSpinBox(&dialog);
      spin->setObjectName(name);
      spin->setRange(-1e7, 1e7);
      spin->setDecimals(3);
      spin->setValue(value);
      spin->setEnabled(false);
      QObject::connect(mapSteps, &QCheckBox::toggled, spin, &QWidget::setEnabled);
      return spin;
    };
    lowest = height("RawLowest", 0.0);
    highest = height("RawHighest", 65535.0);
    form->addRow(mapSteps);
    form->addRow("Height of step 0", lowest);
    form->addRow("Height of step 65535", highest);
  }

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  auto* problem = new QLabel(&dialog);
  problem->setObjectName("RawSizeProblem");
  form->addRow(problem);
  form->addRow(buttons);
  auto check = [&] {
    const uint64_t points = static_cast<uint64_t>(width->value()) * height->value();
    const bool fits = points == samples;
    buttons->button(QDialogButtonBox::Ok)->setEnabled(fits);
    problem->setText(fits ? QString()
                          : QString("%1 x %2 is %3 samples, not %4")
                                .arg(width->value())
                                .arg(height->value())
                                .arg(points)
                                .arg(samples));
  };
  // A side that divides the samples makes the other side: the one size that fits.
  auto follow = [samples](QSpinBox* other) {
    return [samples, other](int value) {
      const uint64_t rest = samples / static_cast<uint64_t>(value);
      if (samples % static_cast<uint64_t>(value) == 0 &&
          rest <= static_cast<uint64_t>(other->maximum()) &&
          other->value() != static_cast<int>(rest)) {
        const QSignalBlocker quiet(other);
        other->setValue(static_cast<int>(rest));
      }
    };
  };
  QObject::connect(width, &QSpinBox::valueChanged, &dialog, follow(height));
  QObject::connect(height, &QSpinBox::valueChanged, &dialog, follow(width));
  QObject::connect(width, &QSpinBox::valueChanged, &dialog, check);
  QObject::connect(height, &QSpinBox::valueChanged, &dialog, check);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  check();
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  RawOptions raw;
  raw.size = std::pair{width->value(), height->value()};
  if (mapSteps && mapSteps->isChecked()) raw.range = std::pair{lowest->value(), highest->value()};
  return raw;
}

std::optional<int> AskBand(QWidget* parent, const QString& fileName, int bands, int suggested) {
  QInputDialog dialog(parent);
  dialog.setObjectName("BandDialog");
  dialog.setWindowTitle("Open heightmap");
  dialog.setLabelText(
      QString("%1 has %2 bands. Which one holds the heights?").arg(fileName).arg(bands));
  dialog.setInputMode(QInputDialog::IntInput);
  dialog.setIntRange(1, bands);
  dialog.setIntValue(suggested);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.intValue();
}

}  // namespace host
