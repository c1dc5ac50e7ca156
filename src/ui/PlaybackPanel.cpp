#include "ui/PlaybackPanel.h"

#ifdef MELO_HAVE_PLAYBACK

#include <QLabel>
#include <QPushButton>
#include <QSlider>

#include "playback/GstMediaDevice.h"
#include "ui/MainDialog.h"
#include "ui/RecordListView.h"
#include "ui/mpris/MprisService.h"

namespace melo::ui {
namespace {

constexpr int kPositionSlider = 1011;
constexpr int kTotalTime = 1012;
constexpr int kElapsedTime = 1013;
constexpr int kStopButton = 1014;
constexpr int kPlayState = 1015;
constexpr int kDownloadLinkColumn = 2;

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

PlaybackPanel::PlaybackPanel(CMainDialog& dialog)
    : dialog_(dialog),
      handlers_(std::make_unique<playback::PlaybackController>(
          *this, *this, *this,
          [](std::stop_token stop) { return playback::MakeGstMediaDevice(std::move(stop)); })),
      mpris_(MprisService::Offer(dialog, *this)) {}

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

// Also left alone between the press on the thumb and its first move, which
// the drag flag does not cover yet.
void PlaybackPanel::SetSlider(int value) {
  auto* slider = dialog_.Control<QSlider>(kPositionSlider);
  if (!slider->isSliderDown()) {
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

void PlaybackPanel::Post(std::function<void()> task) {
  QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

}  // namespace melo::ui

#endif  // MELO_HAVE_PLAYBACK
