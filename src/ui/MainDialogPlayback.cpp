// The window side of playback: the transport handlers of the main dialog,
// handed on to the playback handlers through PlaybackPanel.

#include <QSlider>

#include "ui/MainDialog.h"

#ifdef MELO_HAVE_PLAYBACK
#include "ui/PlaybackPanel.h"
#include "ui/RecordListView.h"
#else
namespace melo::ui {
class PlaybackPanel {};
}  // namespace melo::ui
#endif

namespace melo::ui {

// Construction and destruction live here because playback_ is complete only
// in this file.
CMainDialog::CMainDialog(QWidget* parent) : QDialog(parent) {
  BuildWindow();
  SetUpPlayback();
}

CMainDialog::~CMainDialog() {
  StopPlaybackForClose();
  EndAllRuns();
}

#ifdef MELO_HAVE_PLAYBACK

void CMainDialog::SetUpPlayback() {
  playback_ = std::make_unique<PlaybackPanel>(*this);
}

void CMainDialog::OnPlaySelected() {
  playback_->Handlers().OnPlaySelected(songList_->SelectionMark());
}

void CMainDialog::OnStopPlayback() {
  playback_->Handlers().OnStopPlayback();
}

void CMainDialog::OnPreviousSong() {
  playback_->Handlers().OnPreviousSong();
}

void CMainDialog::OnNextSong() {
  playback_->Handlers().OnNextSong();
}

// A drag goes on until the release; a key, a click on the groove or the
// wheel ends its action at once, like a release.
void CMainDialog::OnSliderScroll(int /*action*/) {
  const auto* slider = Control<QSlider>(1011);
  // The wheel moves the slider with SliderMove too, but nothing holds it and
  // no release follows: only a held thumb is a drag.
  playback_->Handlers().OnSliderScroll(
      slider->isSliderDown() ? playback::SliderEvent::kMoving : playback::SliderEvent::kEndTrack,
      slider->sliderPosition());
}

void CMainDialog::OnSliderReleased() {
  playback_->Handlers().OnSliderScroll(playback::SliderEvent::kEndTrack,
                                       Control<QSlider>(1011)->sliderPosition());
}

// Esc and the close box both come through here before the window goes.
void CMainDialog::StopPlaybackForClose() {
  if (playback_) {
    playback_->Handlers().OnCloseWindow();
  }
}

#else  // a build without playback: the controls stay as the start left them

void CMainDialog::SetUpPlayback() {}
void CMainDialog::OnPlaySelected() {}
void CMainDialog::OnStopPlayback() {}
void CMainDialog::OnPreviousSong() {}
void CMainDialog::OnNextSong() {}
void CMainDialog::OnSliderScroll(int) {}
void CMainDialog::OnSliderReleased() {}
void CMainDialog::StopPlaybackForClose() {}

#endif

}  // namespace melo::ui
