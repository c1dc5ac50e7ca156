#pragma once
// "设置": the download choices and whether the list is kept at exit.

#include <QDialog>

#include "ui/AppSettings.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;

namespace melo::ui {

class SettingsDialog : public QDialog {
  Q_OBJECT

 public:
  SettingsDialog(const DownloadChoices& choices, bool clearListOnExit, QWidget* parent);

  DownloadChoices Choices() const;
  bool ClearListOnExit() const;

 private:
  void ChooseFolder();

  QLineEdit* folder_;
  QLineEdit* nameTemplate_;
  QSpinBox* jobs_;
  QComboBox* id3Version_;
  QSpinBox* maxMegabytes_;
  QCheckBox* clearOnExit_;
};

}  // namespace melo::ui
