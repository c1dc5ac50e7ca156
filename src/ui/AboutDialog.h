#pragma once
// The About box: name, version, contacts, the home-page link and the update
// check. The update page is read on a worker, so the box stays painted (its
// button disabled) while the page loads; the answer is shown on the window's
// thread.

#include <QDialog>
#include <QMessageBox>
#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "core/update/UpdateCheck.h"

namespace melo::ui {

inline constexpr char kAuthorName[] = "MeloDriftDown 开发组";
inline constexpr char kAuthorMail[] = "melodriftdown@users.noreply.localhost";

class CAboutDialog : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDialog(QWidget* parent = nullptr);
  ~CAboutDialog() override;

  template <class Widget = QWidget>
  Widget* Control(int id) const {
    return findChild<Widget*>(QString::number(id), Qt::FindDirectChildrenOnly);
  }

 private:
  void CheckForUpdate();
  void ShowUpdateFinding(const update::UpdateFinding& finding);
  void ShowUpdateError(const QString& networkText);

  std::jthread updateReader_;
};

// The program's message boxes: caption "melodriftdown", modal over `parent`,
// shown without blocking; `then` gets the button that closed the box.
void ShowMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                    QMessageBox::StandardButtons buttons,
                    std::function<void(QMessageBox::StandardButton)> then = {});

}  // namespace melo::ui
