#pragma once
// A text label that acts as a link: blue, underlined, a hand cursor. It
// fires when the left button is released over it, not on the press.

#include <QLabel>

namespace melo::ui {

class LinkLabel : public QLabel {
  Q_OBJECT

 public:
  explicit LinkLabel(const QString& text, QWidget* parent = nullptr);

 signals:
  void activated();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
};

}  // namespace melo::ui
