// Draws README's picture of the window: the default landscape with a feathered ellipse
// selected, a hill raised inside it, and the readout of the cell under the cursor.
// Then, with a third path, the same in the 3D view. Run by scripts/screenshot.sh.
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QUndoStack>

#include "host/model/default_landscape.h"
#include "host/ui/main_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 3) return 2;
  host::Options options;
  options.pluginPath = argv[1];
  options.waterLevel = host::kDefaultSeaLevel;
  host::MainWindow window(host::MakeDefaultLandscape(), options);
  window.resize(980, 720);
  window.show();
  QPainterPath ellipse;
  ellipse.addEllipse(QRectF(140, 120, 230, 200));
  window.Select(ellipse, 24.0);
  // The plug-in's dialog, answered as a user would: Add Hill, 300 high, OK.
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!dialog) return;
    answer.stop();
    QTest::mouseClick(dialog->findChild<QRadioButton*>("HillRadio"), Qt::LeftButton, {},
                      QPoint(6, 8));
    dialog->findChild<QLineEdit*>("HeightEdit")->setText("300");
    dialog->findChild<QLineEdit*>("WidthEdit")->setText("25");
    dialog->findChild<QPushButton*>("OKButton")->click();
  });
  answer.start(10);
  if (window.Plugin()) window.RunPlugin(*window.Plugin());
  QWidget* view = window.findChild<QWidget*>("Map");
  QTest::mouseMove(view, view->rect().center() + QPoint(30, 20));
  QTest::qWait(300);  // the legend counts the heights once the map is drawn
  window.History()->setClean();
  if (!window.grab().save(argv[2])) return 1;
  if (argc < 4) return 0;
  if (!window.ShowIn3D(true)) return 1;
  QTest::qWait(300);
  return window.grab().save(argv[3]) ? 0 : 1;
}
