#include "ui/PlaybackPanel.h"

#ifdef MELO_HAVE_PLAYBACK

#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>

#include "playback/GstMediaDevice.h"
#include "ui/ControlIds.h"
#include "ui/MainDialog.h"
#include "ui/RecordListView.h"
#include "ui/mpris/MprisService.h"

namespace melo::ui {
namespace {

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

PlaybackPanel::PlaybackPanel(CMainDialog& dialog)
    : dialog_(dialog),
      handlers_(std::make_unique<playback::PlaybackController>(
          *this, *this, *this,
          [](std::stop_token stop) { return playback::MakeGstMediaDevice(std::move(stop)); })),
      mpris_(MprisService::Offer(dialog, *this)) {
  dialog_.Control<QSlider>(kPositionSlider)->installEventFilter(this);
}

PlaybackPanel::~PlaybackPanel() {
  handlers_.reset();
}

void PlaybackPanel::ShowState(std::string_view text) {
  dialog_.Control<QLabel>(kPlayState)->setText(FromUtf8(text));
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

void PlaybackPanel::SongEnded() {
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

bool PlaybackPanel::eventFilter(QObject* /*watched*/, QEvent* event) {
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
