#include "ui/WindowInput.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QShortcut>

#include "core/text/Gbk.h"
#include "ui/DialogTemplates.h"
#include "ui/MainDialog.h"
#include "ui/Menus.h"
#include "ui/RecordListView.h"

namespace melo::ui {
namespace {

constexpr int kSearchBox = 1018;
const char* const kUriList = "text/uri-list";

bool IsEnter(const QKeyEvent& key) {
  return (key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter) &&
         (key.modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

bool OpensMenu(const QKeyEvent& key) {
  return key.key() == Qt::Key_Menu ||
         (key.key() == Qt::Key_F10 && key.modifiers() == Qt::ShiftModifier);
}

// The source keeps what it dragged, even where it offered to give it up.
void AcceptAsCopy(QDropEvent& event) {
  if ((event.possibleActions() & Qt::CopyAction) != 0) {
    event.setDropAction(Qt::CopyAction);
    event.accept();
  } else {
    event.acceptProposedAction();
  }
}

}  // namespace

std::vector<std::string> LinksIn(const QMimeData& data) {
  const bool uriList = data.hasFormat(QString::fromLatin1(kUriList));
  const QString text =
      uriList ? QString::fromUtf8(data.data(QString::fromLatin1(kUriList))) : data.text();
  std::vector<std::string> links;
  for (const QString& line : text.split(QLatin1Char('\n'))) {
    const QString link = line.trimmed();
    if (!link.isEmpty() && !(uriList && link.startsWith(QLatin1Char('#')))) {
      links.push_back(text::Utf8ToGbk(link.toStdString()));
    }
  }
  return links;
}

WindowInput::WindowInput(CMainDialog& dialog) : QObject(&dialog), dialog_(dialog) {
  for (RecordListView* list : {&dialog.SongList(), &dialog.SingerList()}) {
    list->installEventFilter(this);
    connect(list, &RecordListView::doubleClicked, this, [this, list] { RunRow(*list); });
  }
  dialog.Control(kSearchBox)->installEventFilter(this);
  dialog.setAcceptDrops(true);
  dialog.installEventFilter(this);

  // A text box takes its own Ctrl+V before the window sees it.
  connect(new QShortcut(QKeySequence::Paste, &dialog), &QShortcut::activated, this, [this] {
    if (const QMimeData* data = QGuiApplication::clipboard()->mimeData()) {
      dialog_.AddLinks(LinksIn(*data));
    }
  });
  connect(new QShortcut(QKeySequence::Find, &dialog), &QShortcut::activated, this,
          &WindowInput::ShowSearchPanel);
}

bool WindowInput::eventFilter(QObject* watched, QEvent* event) {
  if (watched == &dialog_) {
    return OnDragAndDrop(*event);
  }
  auto* list = qobject_cast<RecordListView*>(watched);
  if (event->type() == QEvent::KeyPress) {
    const auto& key = static_cast<const QKeyEvent&>(*event);
    if (list != nullptr) {
      return OnListKey(*list, key);
    }
    // Escape hides the search panel instead of closing the window.
    if (key.key() == Qt::Key_Escape && key.modifiers() == Qt::NoModifier &&
        dialog_.width() == kWideClientWidth) {
      dialog_.OnCommand(kSearchPanelCommand);
      return true;
    }
  }
  // The desktop's own menu key event, after the key itself has opened the
  // menu (the popup then holds the keyboard) or in its place.
  if (list != nullptr && event->type() == QEvent::ContextMenu &&
      static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard) {
    if (QApplication::activePopupWidget() == nullptr) {
      OpenRowMenu(*list);
    }
    return true;
  }
  return false;
}

bool WindowInput::OnListKey(RecordListView& list, const QKeyEvent& key) {
  if (key.key() == Qt::Key_Delete && key.modifiers() == Qt::NoModifier &&
      &list == &dialog_.SongList()) {
    dialog_.OnCommand(kDeleteSongCommand);
    return true;
  }
  if (IsEnter(key)) {
    RunRow(list);  // and not OK, the window's default button
    return true;
  }
  if (OpensMenu(key)) {
    OpenRowMenu(list);
    return true;
  }
  return false;
}

// What the row menu's first command for a row does: play a song, crawl a singer.
void WindowInput::RunRow(const RecordListView& list) {
  if (list.SelectionMark() == -1) {
    return;
  }
  dialog_.OnCommand(&list == &dialog_.SongList() ? kPlaySongCommand : kCrawlListedSingerCommand);
}

// Under the marked row's first cell, scrolled into view.
void WindowInput::OpenRowMenu(RecordListView& list) {
  const int row = list.SelectionMark();
  if (row == -1) {
    return;
  }
  const QModelIndex index = list.model()->index(row, 0);
  list.scrollTo(index);
  const QRect cell = list.visualRect(index);
  dialog_.ShowRowMenu(list, list.viewport()->mapToGlobal(cell.bottomLeft()));
}

void WindowInput::ShowSearchPanel() {
  if (dialog_.width() != kWideClientWidth) {
    dialog_.OnCommand(kSearchPanelCommand);
  }
  dialog_.Control(kSearchBox)->setFocus(Qt::ShortcutFocusReason);
}

bool WindowInput::OnDragAndDrop(QEvent& event) {
  switch (event.type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto& drag = static_cast<QDragMoveEvent&>(event);
      if (!LinksIn(*drag.mimeData()).empty()) {
        AcceptAsCopy(drag);
      } else {
        drag.ignore();
      }
      return true;
    }
    case QEvent::Drop: {
      auto& drop = static_cast<QDropEvent&>(event);
      dialog_.AddLinks(LinksIn(*drop.mimeData()));
      AcceptAsCopy(drop);
      return true;
    }
    default:
      return false;
  }
}

}  // namespace melo::ui
