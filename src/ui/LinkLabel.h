#pragma once
// A text label that acts as a link: blue, underlined, a hand cursor. It
// fires when the left button is released over it, wherever the button went
// down; a press on it that is released elsewhere does nothing.

#include <QLabel>

namespace melo::ui {

class LinkLabel : public QLabel {
  Q_OBJECT

 public:
  explicit LinkLabel(const QString& text, QWidget* parent = nullptr);

 signals:
  void activated();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
};

// Grows `link` to its whole text along its line of the dialog: to the right
// first, then to the left, between the controls beside it.
void FitLinkToItsText(QLabel& link);

}  // namespace melo::ui
