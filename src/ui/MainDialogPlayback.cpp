// The window side of playback: the transport handlers of the main dialog.
// The controls are reached by id (Control<QPushButton>(1014), ...), the rows
// through SongList().

#include "ui/MainDialog.h"

namespace melo::ui {

class PlaybackPanel {};

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

void CMainDialog::SetUpPlayback() {}

void CMainDialog::OnPlaySelected() {}

void CMainDialog::OnStopPlayback() {}

void CMainDialog::OnPreviousSong() {}

void CMainDialog::OnNextSong() {}

void CMainDialog::OnSliderScroll(int /*action*/) {}

void CMainDialog::OnSliderReleased() {}

void CMainDialog::StopPlaybackForClose() {}

}  // namespace melo::ui
