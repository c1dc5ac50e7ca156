#pragma once
// The main window's keys, double-clicks, paste and drops, each routed to the
// command its menu or button runs: Delete, Enter and a double-click on a
// list's row, the Menu key and Shift+F10 for the row menu, Ctrl+F and Escape
// for the search panel, and song page links pasted or dropped.

#include <QObject>
#include <string>
#include <vector>

class QKeyEvent;
class QMimeData;

namespace melo::ui {

class CMainDialog;
class RecordListView;

class WindowInput final : public QObject {
 public:
  explicit WindowInput(CMainDialog& dialog);  // a child of the dialog

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool OnListKey(RecordListView& list, const QKeyEvent& key);
  void RunRow(const RecordListView& list);
  void OpenRowMenu(RecordListView& list);
  void ShowSearchPanel();
  bool OnDragAndDrop(QEvent& event);

  CMainDialog& dialog_;
};

// The links in pasted or dropped data, one a line (a URI list's comments
// left out), as GBK like the URL box's text.
std::vector<std::string> LinksIn(const QMimeData& data);

}  // namespace melo::ui
