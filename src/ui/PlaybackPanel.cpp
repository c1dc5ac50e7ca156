#include "ui/PlaybackPanel.h"

#ifdef MELO_HAVE_PLAYBACK

#include <QAbstractItemModel>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <cmath>

#include "playback/GstMediaDevice.h"
#include "playback/VolumeScale.h"
#include "ui/AccessibleTexts.h"
#include "ui/ControlIds.h"
#include "ui/DialogTemplates.h"
#include "ui/MainDialog.h"
#include "ui/Menus.h"
#include "ui/PlayerSettings.h"
#include "ui/RecordListView.h"
#include "ui/mpris/MprisService.h"

namespace melo::ui {
namespace {

// In dialog units, as the window's template places its controls.
constexpr int kPauseButtonWidth = 15;
constexpr int kVolumeSliderWidth = 32;
constexpr int kVolumeSteps = 100;

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// What the button does next, as a glyph and in words.
void ShowPauseCaption(QPushButton& button, bool paused) {
  button.setText(paused ? QStringLiteral("▶") : QStringLiteral("Ⅱ"));
  const QString name = QString::fromUtf8(paused ? kResumeName : kPauseName);
  button.setAccessibleName(name);
  button.setToolTip(name);
}

int VolumeControlValue(double linear) {
  return static_cast<int>(std::lround(playback::CubicFromLinear(linear) * kVolumeSteps));
}

}  // namespace

PlaybackPanel::PlaybackPanel(CMainDialog& dialog)
    : dialog_(dialog),
      settings_(std::make_unique<PlayerSettings>()),
      handlers_(std::make_unique<playback::PlaybackController>(
          *this, *this, *this,
          [](std::stop_token stop) { return playback::MakeGstMediaDevice(std::move(stop)); })) {
  dialog_.Control<QSlider>(kPositionSlider)->installEventFilter(this);
  BuildPlayerControls();
  FollowSongList();
  // Taken as they are: the file is written only when the user changes them.
  const PlayerChoices remembered = settings_->Load();
  ShowVolume(remembered.volume);
  handlers_->SetVolume(remembered.volume);
  handlers_->SetPlayMode(remembered.mode);
}

// Reaching the session bus takes round trips to its daemon, and where there
// is none, libdbus forks to look for one: the window is drawn first.
void PlaybackPanel::OfferMediaControls() {
  mpris_ = MprisService::Offer(dialog_, *this);
  if (mpris_) {
    mpris_->PlayerChanged();
  }
}

// The pause button and the volume control take the right end of the
// position slider, so every other control of the row keeps its place.
void PlaybackPanel::BuildPlayerControls() {
  auto* position = dialog_.Control<QSlider>(kPositionSlider);
  const QRect stop = dialog_.Control(kStopButton)->geometry();
  const QRect slider = position->geometry();
  const int volumeWidth = DialogUnitsToPixels(kVolumeSliderWidth);
  const int pauseWidth = DialogUnitsToPixels(kPauseButtonWidth);
  const QRect volumePlace(slider.right() + 1 - volumeWidth, slider.y(), volumeWidth,
                          slider.height());
  const QRect pausePlace(volumePlace.x() - kControlGap - pauseWidth, stop.y(), pauseWidth,
                         stop.height());
  position->setGeometry(
      slider.adjusted(0, 0, pausePlace.x() - kControlGap - slider.right() - 1, 0));

  pauseButton_ = new QPushButton(&dialog_);
  pauseButton_->setObjectName(QString::number(kPauseButton));
  pauseButton_->setGeometry(pausePlace);
  pauseButton_->setEnabled(false);
  connect(pauseButton_, &QPushButton::clicked, this, &PlaybackPanel::PlayPause);

  volumeSlider_ = new QSlider(Qt::Horizontal, &dialog_);
  volumeSlider_->setObjectName(QString::number(kVolumeSlider));
  volumeSlider_->setGeometry(volumePlace);
  volumeSlider_->setRange(0, kVolumeSteps);
  volumeSlider_->setPageStep(kVolumeSteps / 10);
  volumeSlider_->setAccessibleName(QString::fromUtf8(kVolumeControlName));
  volumeSlider_->setToolTip(QString::fromUtf8(kVolumeControlName));
  connect(volumeSlider_, &QSlider::valueChanged, this, [this](int value) {
    ApplyVolume(playback::LinearFromCubic(static_cast<double>(value) / kVolumeSteps));
  });
  QWidget::setTabOrder(position, pauseButton_);
  QWidget::setTabOrder(pauseButton_, volumeSlider_);
  ShowPauseCaption(*pauseButton_, false);

  // Space and the media keys, wherever the focus is but in a text box or
  // on a button (which take Space for themselves).
  dialog_.installEventFilter(this);
  dialog_.SongList().installEventFilter(this);
}

void PlaybackPanel::FollowSongList() {
  const QAbstractItemModel* rows = dialog_.SongList().model();
  const auto ifCleared = [this] {
    if (RowCount() == 0) {
      handlers_->OnSongListCleared();
    }
  };
  connect(rows, &QAbstractItemModel::rowsRemoved, this, ifCleared);
  connect(rows, &QAbstractItemModel::modelReset, this, ifCleared);
}

void PlaybackPanel::SetPaused(bool paused) {
  handlers_->SetPaused(paused);
}

void PlaybackPanel::PlayPause() {
  if (songLoaded_) {
    SetPaused(!handlers_->Paused());
  } else {
    dialog_.OnCommand(kPlaySongCommand);
  }
}

void PlaybackPanel::SetVolume(double linear) {
  ShowVolume(linear);
  ApplyVolume(linear);
}

// The control shows the cube root: set from a linear value, it must not
// hand its rounded value back.
void PlaybackPanel::ShowVolume(double linear) {
  const QSignalBlocker quiet(volumeSlider_);
  volumeSlider_->setValue(VolumeControlValue(linear));
}

void PlaybackPanel::ApplyVolume(double linear) {
  handlers_->SetVolume(linear);
  settings_->SaveVolume(handlers_->Volume());
  if (mpris_) {
    mpris_->PlayerChanged();
  }
}

void PlaybackPanel::SetPlayMode(playback::PlayMode mode) {
  handlers_->SetPlayMode(mode);
  settings_->SavePlayMode(mode);
  if (mpris_) {
    mpris_->PlayerChanged();
  }
}

bool PlaybackPanel::OnPlayerKey(const QKeyEvent& key) {
  if ((key.modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
    return false;
  }
  switch (key.key()) {
    case Qt::Key_Space:
    case Qt::Key_MediaTogglePlayPause:
      if (!key.isAutoRepeat()) {
        PlayPause();
      }
      return true;
    case Qt::Key_MediaPlay:
      songLoaded_ ? SetPaused(false) : PlayPause();
      return true;
    case Qt::Key_MediaPause:
      SetPaused(true);
      return true;
    default:
      return false;
  }
}

PlaybackPanel::~PlaybackPanel() {
  handlers_.reset();
}

void PlaybackPanel::ShowState(std::string_view text) {
  dialog_.Control<QLabel>(kPlayState)->setText(FromUtf8(text));
  ShowPauseCaption(*pauseButton_, text == playback::texts::kPaused);
  if (mpris_) {
    mpris_->StateShown(text);
  }
}

void PlaybackPanel::ShowTotal(std::string_view text) {
  dialog_.Control<QLabel>(kTotalTime)->setText(FromUtf8(text));
  if (mpris_) {
    mpris_->LengthShown();
  }
}

void PlaybackPanel::ShowElapsed(std::string_view text) {
  dialog_.Control<QLabel>(kElapsedTime)->setText(FromUtf8(text));
}

// Left alone while the user works it: a report queued before the drag flag
// went up must not move the thumb away under the user.
void PlaybackPanel::SetSlider(int value) {
  auto* slider = dialog_.Control<QSlider>(kPositionSlider);
  if (!sliderHeld_ && !slider->isSliderDown()) {
    slider->setValue(value);
  }
}

void PlaybackPanel::EnableStop(bool enabled) {
  dialog_.Control<QPushButton>(kStopButton)->setEnabled(enabled);
}

void PlaybackPanel::EnableSlider(bool enabled) {
  dialog_.Control<QSlider>(kPositionSlider)->setEnabled(enabled);
}

void PlaybackPanel::EnablePause(bool enabled) {
  songLoaded_ = enabled;
  pauseButton_->setEnabled(enabled);
  if (mpris_) {
    mpris_->PlayerChanged();
  }
}

// The song's device is closed: nothing is left to pause.
void PlaybackPanel::SongEnded() {
  EnablePause(false);
  if (mpris_) {
    mpris_->SongEnded();
  }
}

int PlaybackPanel::RowCount() const {
  return dialog_.SongList().RowCount();
}

std::string PlaybackPanel::DownloadLink(int row) const {
  return dialog_.SongList().Text(row, kDownloadLinkColumn);
}

// One seek per user action: a drag, a held press on the groove (its page
// steps repeat) and a held key (it repeats) each end with their release; a
// wheel step is an action of its own, with nothing to hold.
void PlaybackPanel::OnSliderAction() {
  if (sliderHeld_) {
    sliderMoved_ = true;
    handlers_->OnSliderScroll(playback::SliderEvent::kMoving, SliderPosition());
  } else {
    handlers_->OnSliderScroll(playback::SliderEvent::kEndTrack, SliderPosition());
  }
}

bool PlaybackPanel::eventFilter(QObject* watched, QEvent* event) {
  if (watched == &dialog_ && event->type() == QEvent::Paint && !mediaControlsOffered_) {
    // Queued: it runs once this frame is on the screen.
    mediaControlsOffered_ = true;
    QMetaObject::invokeMethod(this, &PlaybackPanel::OfferMediaControls, Qt::QueuedConnection);
  }
  if (watched == &dialog_ || watched == &dialog_.SongList()) {
    return event->type() == QEvent::KeyPress && OnPlayerKey(*static_cast<QKeyEvent*>(event));
  }
  switch (event->type()) {
    case QEvent::MouseButtonPress:
      BeginSliderAction();
      break;
    case QEvent::MouseButtonRelease:
      if (static_cast<QMouseEvent*>(event)->buttons() == Qt::NoButton) {
        EndSliderAction();
      }
      break;
    case QEvent::KeyPress:
      if (!static_cast<QKeyEvent*>(event)->isAutoRepeat()) {
        BeginSliderAction();
      }
      break;
    case QEvent::KeyRelease:
      if (!static_cast<QKeyEvent*>(event)->isAutoRepeat()) {
        EndSliderAction();
      }
      break;
    case QEvent::FocusOut:  // a held key's release goes elsewhere
    case QEvent::EnabledChange:
      EndSliderAction();
      break;
    default:
      break;
  }
  return false;
}

void PlaybackPanel::BeginSliderAction() {
  if (!sliderHeld_) {
    sliderHeld_ = true;
    sliderMoved_ = false;
    handlers_->OnSliderScroll(playback::SliderEvent::kMoving, SliderPosition());
  }
}

void PlaybackPanel::EndSliderAction() {
  if (sliderHeld_) {
    sliderHeld_ = false;
    handlers_->OnSliderScroll(
        sliderMoved_ ? playback::SliderEvent::kEndTrack : playback::SliderEvent::kLetGo,
        SliderPosition());
  }
}

int PlaybackPanel::SliderPosition() const {
  return dialog_.Control<QSlider>(kPositionSlider)->sliderPosition();
}

void PlaybackPanel::Post(std::function<void()> task) {
  QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

}  // namespace melo::ui

#endif  // MELO_HAVE_PLAYBACK
