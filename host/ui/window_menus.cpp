// The window's menus: each action once, with one set of shortcuts (the desktop's own
// where it has one), the files opened last, and the Help menu.
#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHash>
#include <QImageReader>
#include <QMenuBar>
#include <QMessageBox>
#include <QScrollBar>
#include <QSettings>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QUndoStack>
#include <QVBoxLayout>
#include <algorithm>

#include "host/io/heightmap_io.h"
#include "host/ui/landscape_view.h"
#include "host/ui/main_window.h"

namespace host {
namespace {

// The desktop's bindings for a standard key, then those users of any desktop expect,
// each once.
QList<QKeySequence> Shortcuts(QKeySequence::StandardKey key,
                              std::initializer_list<QKeySequence> expected = {}) {
  QList<QKeySequence> keys = QKeySequence::keyBindings(key);
  for (const QKeySequence& k : expected)
    if (!keys.contains(k)) keys << k;
  return keys;
}

}  // namespace

// "Heightmaps (*.tif *.tiff ... *.vrt);;GeoTIFF (*.tif *.tiff);;...;;All files (*)": the
// formats table, then every other kind of raster the host reads.
QString OpenFilter() {
  QStringList all, each;
  auto add = [&](const QString& name, const QStringList& patterns) {
    all << patterns;
    each << QString("%1 (%2)").arg(name, patterns.join(' '));
  };
  for (const Format& format : kFormats) {
    QStringList patterns;
    for (const char* ext : format.extensions)
      if (ext) patterns << QString("*") + ext;
    // Any GeoTIFF opens, whatever its data type; "float32" is what a save writes.
    add(format.id == FormatId::kGeoTiff ? QString("GeoTIFF") : QString(format.name), patterns);
  }
  add("GDAL virtual raster", {"*.vrt"});
  for (const RasterKind& kind : OtherReadableKinds()) {
    QStringList patterns;
    for (const std::string& ext : kind.extensions)
      if (!all.contains("*." + QString::fromStdString(ext)))
        patterns << "*." + QString::fromStdString(ext);
    if (!patterns.isEmpty()) add(QString::fromStdString(kind.name), patterns);
  }
  all.removeDuplicates();
  return "Heightmaps (" + all.join(' ') + ");;" + each.join(";;") + ";;All files (*)";
}

namespace {

// One filter a written format, GeoTIFF's whole-number kinds beside it: "GeoTIFF float32
// (*.tif);;GeoTIFF Int16 (*.tif);;...".
QString SaveFilters() {
  QStringList filters;
  for (const Format& format : kFormats) {
    if (!format.writable) continue;
    filters << QString("%1 (*%2)").arg(format.name, format.extensions[0]);
    if (format.id == FormatId::kGeoTiff)
      filters << QString("GeoTIFF Int16 (*%1)").arg(format.extensions[0])
              << QString("GeoTIFF UInt16 (*%1)").arg(format.extensions[0]);
  }
  return filters.join(";;");
}

constexpr char kRecentKey[] = "RecentFiles";
constexpr qsizetype kRecentKept = 8;

// Text whose pictures are never wider than the window: a wider one is shown at the
// window's width, its shape kept, and back at its own size once the window is wide enough.
// The text so never scrolls sideways.
class TextBrowser : public QTextBrowser {
 public:
  using QTextBrowser::QTextBrowser;

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QTextBrowser::resizeEvent(event);
    FitPictures();
  }

 private:
  void FitPictures() {
    QTextDocument* doc = document();
    // Room left when the vertical scroll bar shows, whether or not it shows yet.
    const int room = contentsRect().width() - verticalScrollBar()->sizeHint().width() -
                     2 * static_cast<int>(doc->documentMargin()) - 2;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
      for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        QTextImageFormat picture = fragment.charFormat().toImageFormat();
        if (!picture.isValid()) continue;
        const int width = std::min(OwnWidth(picture.name()), std::max(room, 16));
        if (width <= 0 || picture.width() == width) continue;
        picture.setWidth(width);
        QTextCursor cursor(doc);
        cursor.setPosition(fragment.position());
        cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
        cursor.setCharFormat(picture);
      }
    }
  }
  // A picture's own width in pixels, 0 when it cannot be read.
  int OwnWidth(const QString& name) {
    auto found = ownWidths_.find(name);
    if (found != ownWidths_.end()) return *found;
    const QVariant bytes = loadResource(QTextDocument::ImageResource, QUrl(name));
    QByteArray data = bytes.toByteArray();
    QBuffer buffer(&data);
    const int width = QImageReader(&buffer).size().width();
    return *ownWidths_.insert(name, std::max(width, 0));
  }

  QHash<QString, int> ownWidths_;
};

// A window of text: the manual, the shortcuts. Pictures are looked for in `folder`.
void ShowText(QWidget* parent, const QString& title, const QString& text, bool markdown,
              const QString& folder = {}) {
  QDialog dialog(parent);
  dialog.setObjectName("TextWindow");
  dialog.setWindowTitle(title);
  auto* browser = new TextBrowser(&dialog);
  browser->setOpenExternalLinks(true);
  if (!folder.isEmpty()) browser->setSearchPaths({folder});
  if (markdown) {
    browser->setMarkdown(text);
  } else {
    browser->setHtml(text);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(browser);
  layout->addWidget(buttons);
  dialog.resize(720, 600);
  dialog.exec();
}

// The user's manual installed beside the program (share/doc/kelvamor-host, with its
// pictures), else the one of the source tree it was built from.
QString ManualPath() {
  const QString installed =
      QApplication::applicationDirPath() + "/../share/doc/kelvamor-host/manual.md";
  if (QFileInfo(installed).isFile()) return installed;
  return QStringLiteral(KELVAMOR_SOURCE_DIR "/docs/manual.md");
}

}  // namespace

QSettings HostSettings() {
  return QSettings(QSettings::NativeFormat, QSettings::UserScope, "kelvamor-host", "kelvamor-host");
}

QStringList RecentFiles() {
  QStringList kept;
  for (const QString& path : HostSettings().value(kRecentKey).toStringList())
    if (QFileInfo(path).isFile() && !kept.contains(path)) kept << path;
  return kept;
}

void RememberRecentFile(const QString& path) {
  QStringList files = RecentFiles();
  const QString absolute = QFileInfo(path).absoluteFilePath();
  files.removeAll(absolute);
  files.prepend(absolute);
  while (files.size() > kRecentKept) files.removeLast();
  HostSettings().setValue(kRecentKey, files);
}

void MainWindow::BuildMenus() {
  QMenu* file = menuBar()->addMenu("&File");
  file->addAction("&Open...", QKeySequence::Open, [this] {
    // Where the current file is, else where the user last was.
    const QString folder = path_.isEmpty() ? QString() : QFileInfo(path_).absolutePath();
    const QString path = QFileDialog::getOpenFileName(this, "Open heightmap", folder, OpenFilter());
    if (!path.isEmpty()) Open(path);
  });
  recentMenu_ = file->addMenu("Open &Recent");
  connect(recentMenu_, &QMenu::aboutToShow, this, [this] { FillRecentMenu(); });
  FillRecentMenu();
  file->addAction("&Save", QKeySequence::Save, [this] { Save(); });
  QAction* saveAs = file->addAction("Save &As...", [this] { AskAndSave(); });
  saveAs->setShortcuts(Shortcuts(QKeySequence::SaveAs, {Qt::CTRL | Qt::SHIFT | Qt::Key_S}));
  file->addSeparator();
  QAction* quit = file->addAction("&Quit", this, &QWidget::close);
  quit->setShortcuts(Shortcuts(QKeySequence::Quit, {Qt::CTRL | Qt::Key_Q}));

  QMenu* edit = menuBar()->addMenu("&Edit");
  QAction* undo = history_->createUndoAction(this, "&Undo");
  undo->setShortcuts(Shortcuts(QKeySequence::Undo));
  QAction* redo = history_->createRedoAction(this, "&Redo");
  redo->setShortcuts(
      Shortcuts(QKeySequence::Redo, {Qt::CTRL | Qt::SHIFT | Qt::Key_Z, Qt::CTRL | Qt::Key_Y}));
  edit->addAction(undo);
  edit->addAction(redo);
  connect(history_, &QUndoStack::indexChanged, this, [this] { UpdateTitle(); });
  connect(history_, &QUndoStack::cleanChanged, this, [this] { UpdateTitle(); });

  QMenu* view = menuBar()->addMenu("&View");
  view->addAction("&Fit", QKeySequence(Qt::CTRL | Qt::Key_0), [this] { FitView(); });
  view->addAction("&Actual size (1:1)", QKeySequence(Qt::CTRL | Qt::Key_1),
                  [this] { view_->ActualSize(); });
  QAction* zoomIn = view->addAction("Zoom &in", [this] { ZoomView(1.25); });
  zoomIn->setShortcuts(Shortcuts(QKeySequence::ZoomIn, {Qt::CTRL | Qt::Key_Equal}));
  view->addAction("Zoom &out", QKeySequence::ZoomOut, [this] { ZoomView(0.8); });
  fixedRange_ = view->addAction("Colours by the &opened range", [this] { Refresh(); });
  fixedRange_->setCheckable(true);
  fixedRange_->setChecked(true);
  // The legend, once closed with its dock's own button, comes back from here.
  if (auto* legend = findChild<QDockWidget*>("LegendDock"))
    view->addAction(legend->toggleViewAction());
  view->addSeparator();
  AddViewActions(view);

  pluginsMenu_ = menuBar()->addMenu("&Plug-ins");

  QMenu* help = menuBar()->addMenu("&Help");
  QAction* manual = help->addAction("&Manual", [this] {
    QFile file(ManualPath());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
      QMessageBox::warning(this, "Manual", "The manual is not installed (" + ManualPath() + ").");
      return;
    }
    ShowText(this, "kelvamor-host manual", QString::fromUtf8(file.readAll()), true,
             QFileInfo(ManualPath()).absolutePath());
  });
  manual->setShortcuts(Shortcuts(QKeySequence::HelpContents, {Qt::Key_F1}));
  help->addAction("&Keyboard shortcuts",
                  [this] { ShowText(this, "Keyboard shortcuts", ShortcutTable(), false); });
  help->addAction("&About kelvamor-host", [this] {
    QMessageBox::about(this, "About kelvamor-host",
                       QString("<b>kelvamor-host %1</b><br>Opens heightmaps, runs landscape "
                               "plug-ins on them, shows and saves the result.<br><br>GDAL %2<br>"
                               "Qt %3 (built with %4)")
                           .arg(KELVAMOR_VERSION, QString::fromStdString(GdalRelease()), qVersion(),
                                QT_VERSION_STR));
  });
}

bool MainWindow::AskAndSave() {
  // The dialog starts on the opened file's kind of numbers.
  const Storage opened = OpenedStorage();
  QString filter = opened == Storage::kInt16    ? "GeoTIFF Int16 (*.tif)"
                   : opened == Storage::kUInt16 ? "GeoTIFF UInt16 (*.tif)"
                                                : "";
  const QString path =
      QFileDialog::getSaveFileName(this, "Save heightmap", path_, SaveFilters(), &filter);
  return !path.isEmpty() && SaveAs(path, filter);
}

void MainWindow::Remember(const QString& path) {
  RememberRecentFile(path);
  FillRecentMenu();  // a menu that was empty was disabled, and so never asks to be filled
}

void MainWindow::FillRecentMenu() {
  recentMenu_->clear();
  const QStringList files = RecentFiles();
  for (const QString& path : files)
    recentMenu_->addAction(QDir::toNativeSeparators(path), [this, path] { Open(path); });
  recentMenu_->setEnabled(!files.isEmpty());
}

QString MainWindow::ShortcutTable() const {
  QString rows;
  auto row = [&](const QString& where, QAction* action) {
    QStringList keys;
    for (const QKeySequence& key : action->shortcuts()) {
      // Keys past F12 (a Sun keyboard's Undo is F14) are on no keyboard people have.
      if (key[0].key() >= Qt::Key_F13 && key[0].key() <= Qt::Key_F35) continue;
      keys << key.toString(QKeySequence::NativeText).toHtmlEscaped();
    }
    if (keys.isEmpty()) return;
    rows += QString("<tr><td>%1%2</td><td>%3</td></tr>")
                .arg(where, action->text().remove('&').toHtmlEscaped(), keys.join(", "));
  };
  for (QAction* menu : menuBar()->actions())
    if (menu->menu())
      for (QAction* action : menu->menu()->actions()) row(menu->text().remove('&') + " ▸ ", action);
  for (QAction* action : actions()) row({}, action);  // the window's own: the brush's size
  return "<table cellpadding=4>" + rows +
         "<tr><td>Selection tools</td><td>drag in the view</td></tr>"
         "<tr><td>Zoom about the cursor</td><td>mouse wheel</td></tr></table>";
}

}  // namespace host
