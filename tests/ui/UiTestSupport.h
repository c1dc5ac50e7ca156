#pragma once
// Shared pieces of the window tests: the bundled site, a recorder for what
// the desktop is asked to open, and a window with songs to play.

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QFile>
#include <QHelpEvent>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QToolTip>
#include <QTreeWidget>
#include <QUrl>
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Printers.h"
#include "core/site/Site.h"
#include "core/text/Gbk.h"
#include "site/BundledSite.h"
#include "site/Catalogue.h"
#include "ui/DownloadWindow.h"
#include "ui/MainDialog.h"
#include "ui/Menus.h"
#include "ui/RecordListView.h"

namespace melo::ui::testing {

// Waits, processing events, until `done` holds; false if it never did
// within a generous bound (the bound guards a hang, it times nothing).
inline bool WaitUntil(const std::function<bool()>& done) {
  return QTest::qWaitFor(done, 20'000);
}

inline void Settle() {
  for (int i = 0; i < 5; ++i) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::sendPostedEvents();
  }
}

// Each download row's state, top to bottom.
inline QStringList DownloadStates(const DownloadWindow& downloads) {
  constexpr int kStateColumn = 4;
  QStringList states;
  for (int r = 0; r < downloads.Rows().topLevelItemCount(); ++r)
    states << downloads.Rows().topLevelItem(r)->text(kStateColumn);
  return states;
}

inline QStringList ActionTexts(const QMenu& menu) {
  QStringList texts;
  for (const QAction* action : menu.actions()) {
    texts << action->text();
  }
  return texts;
}

// Where a widget, as drawn, holds pixels that `isInk` picks: their bounding
// box, and the most of them on any one row (an underline fills its row).
struct Ink {
  QRect box;
  int widestRow = 0;
};
inline Ink InkOf(QWidget& widget, const std::function<bool(QColor)>& isInk) {
  const QImage image = widget.grab().toImage();
  Ink ink;
  for (int y = 0; y < image.height(); ++y) {
    int row = 0;
    for (int x = 0; x < image.width(); ++x) {
      if (isInk(image.pixelColor(x, y))) {
        ink.box |= QRect(x, y, 1, 1);
        ++row;
      }
    }
    ink.widestRow = std::max(ink.widestRow, row);
  }
  return ink;
}
inline bool IsDark(QColor c) {
  return c.alpha() > 64 && c.lightness() < 160;
}
inline bool IsBlue(QColor c) {
  return c.blue() > c.red() + 64 && c.blue() > c.green() + 64;
}

// Gives the window the keyboard, as a user's click on it would.
inline bool Activate(QWidget& window) {
  window.activateWindow();
  return QTest::qWaitForWindowActive(&window);
}

// The two ways a user runs a list's row: Enter on the marked row, and a
// double-click (a click, then the second press that comes as a
// double-click, then its release).
using RowAction = std::pair<const char*, std::function<void(int row)>>;
inline std::vector<RowAction> WaysToRunARow(RecordListView& list) {
  const auto enter = [&list](int row) {
    list.SetSelectionMark(row);
    list.setFocus();
    QTest::keyClick(&list, Qt::Key_Return);
  };
  const auto doubleClick = [&list](int row) {
    const QPoint at = list.visualRect(list.model()->index(row, 0)).center();
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(list.viewport(), Qt::LeftButton, {}, at);
  };
  return {{"Enter", enter}, {"double-click", doubleClick}};
}

// Asks the cell for its tooltip as a resting mouse pointer would; the tip
// shown then, or "" if none shows.
inline QString ToolTipOf(QAbstractItemView& view, const QModelIndex& cell) {
  QWidget* cells = view.viewport();
  const QPoint at = view.visualRect(cell).center();
  QHelpEvent help(QEvent::ToolTip, at, cells->mapToGlobal(at));
  QApplication::sendEvent(cells, &help);
  return QToolTip::isVisible() ? QToolTip::text() : QString();
}

// What a screen reader reads of `control`: its name, or another of its texts.
inline QString ReaderText(QWidget* control, QAccessible::Text text = QAccessible::Name) {
  return QAccessible::queryAccessibleInterface(control)->text(text);
}

// The button of `window` that shows `text`, nullptr if none does.
inline QPushButton* ButtonShowing(QWidget& window, const char* text) {
  for (QPushButton* button : window.findChildren<QPushButton*>()) {
    if (button->text() == QString::fromUtf8(text))
      return button;
  }
  return nullptr;
}

// The names of the labels a screen reader reads as captioning `control`.
inline QStringList CaptionsOf(QWidget* control) {
  QStringList captions;
  const auto relations =
      QAccessible::queryAccessibleInterface(control)->relations(QAccessible::Label);
  for (const auto& [caption, relation] : relations) {
    captions << caption->text(QAccessible::Name);
  }
  return captions;
}

inline QString Q(const char* utf8) {
  return QString::fromUtf8(utf8);
}
inline std::string Gbk(const char* utf8) {
  return text::Utf8ToGbk(utf8);
}

// Catches every http and https address handed to the desktop.
class UrlRecorder : public QObject {
  Q_OBJECT

 public:
  UrlRecorder() {
    QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open");
  }
  ~UrlRecorder() override {
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
  }

  std::vector<QByteArray> opened;

 public slots:
  void open(const QUrl& url) { opened.push_back(url.toEncoded()); }
};

// A fresh main window on the bundled site, which is named as the program's site.
class DialogFixture : public ::testing::Test {
 protected:
  explicit DialogFixture(bundled::BundledSiteOptions options = {}) : site_(std::move(options)) {
    site::SetSiteHost(site_.Host());
    // Each case starts from the defaults, whatever a case before it chose.
    QFile::remove(SettingsPath());
    OpenWindow();
  }
  static QString SettingsPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/melodriftdown/melodriftdown.ini");
  }
  void OpenWindow() {
    dialog_ = std::make_unique<CMainDialog>();
    dialog_->show();
  }

  std::string Base() const { return site::SiteBase(); }
  template <class W = QWidget>
  W* Control(int id) const {
    return dialog_->Control<W>(id);
  }
  QString Status() const { return Control<QLineEdit>(1003)->text(); }
  RecordListView& Songs() const { return dialog_->SongList(); }
  RecordListView& Singers() const { return dialog_->SingerList(); }

  void Click(int id) { Control<QPushButton>(id)->click(); }
  // The window's own menu, as a right click on its background brings it up.
  QMenu* WindowMenu() {
    const QPoint at(4, 100);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, dialog_->mapToGlobal(at));
    QCoreApplication::sendEvent(dialog_.get(), &event);
    return dialog_->findChild<QMenu*>(QStringLiteral("101"));
  }
  // Every run started so far has ended and been joined.
  bool WaitForRuns() {
    const bool ended = WaitUntil([this] { return dialog_->RunThreadCount() == 0; });
    Settle();
    return ended;
  }

  bundled::BundledSite site_;
  std::unique_ptr<CMainDialog> dialog_;
};

// The window's player, with three songs of the catalogue for AddSongs() to
// list: the two longest, which play on through a test, and the shortest.
class PlayerFixture : public DialogFixture {
 protected:
  PlayerFixture() {
    const auto catalogue = bundled::DemoCatalogue().Songs();
    songs_.assign(catalogue.begin(), catalogue.end());
    std::ranges::sort(songs_, std::greater{}, &bundled::CatalogueSong::lengthMs);
    songs_.erase(songs_.begin() + 2, songs_.end() - 1);
  }
  void AddSongs() {
    for (const auto& song : songs_) {
      AddRow(song, "\"http://" + site_.Host() + "/cache/mp3/" + song.id + "/" +
                       text::Utf8ToGbk(song.title) + ".mp3\"");
    }
  }
  int AddRow(const bundled::CatalogueSong& song, const std::string& link) {
    dialog_->AppendSongRow(
        {text::Utf8ToGbk(song.singer), text::Utf8ToGbk(song.title), link, "", ""});
    return Songs().RowCount() - 1;
  }
  void Play(int row) {
    Songs().SetSelectionMark(row);
    dialog_->OnCommand(kPlaySongCommand);
  }

  std::vector<bundled::CatalogueSong> songs_;
};

}  // namespace melo::ui::testing
