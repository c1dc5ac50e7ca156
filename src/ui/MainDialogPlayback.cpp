// The window side of playback: the transport handlers of the main dialog,
// handed on to the playback handlers through PlaybackPanel.

#include "core/store/ListStore.h"
#include "core/store/StoreOpening.h"
#include "ui/MainDialog.h"

#ifdef MELO_HAVE_PLAYBACK
#include "ui/Menus.h"
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
CMainDialog::CMainDialog(QWidget* parent, Memory memory) : QDialog(parent), memory_(memory) {
  if (memory_ == Memory::kRemember) {
    storeOpening_ = std::make_unique<store::StoreOpening>(store::DefaultStorePath());
  }
  BuildWindow();
  RestoreSavedState();
  SetUpPlayback();
}

CMainDialog::~CMainDialog() {
  StopPlaybackForClose();
  EndAllRuns();
  CloseStore();
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

void CMainDialog::OnSliderScroll(int /*action*/) {
  playback_->OnSliderAction();
}

// Esc and the close box both come through here before the window goes.
void CMainDialog::StopPlaybackForClose() {
  if (playback_) {
    playback_->Handlers().OnCloseWindow();
  }
}

namespace {

std::optional<playback::PlayMode> ModeOfCommand(int commandId) {
  const int index = commandId - kSingleModeCommand;
  if (index < 0 || index >= static_cast<int>(std::size(playback::kPlayModes))) {
    return std::nullopt;
  }
  return playback::kPlayModes[index];
}

}  // namespace

bool CMainDialog::OnPlayModeCommand(int commandId) {
  const auto mode = ModeOfCommand(commandId);
  if (mode && playback_) {
    playback_->SetPlayMode(*mode);
  }
  return mode.has_value();
}

bool CMainDialog::PlayModeChecked(int commandId) const {
  return playback_ && ModeOfCommand(commandId) == playback_->Handlers().Mode();
}

#else  // a build without playback: the controls stay as the start left them

void CMainDialog::SetUpPlayback() {}
void CMainDialog::OnPlaySelected() {}
void CMainDialog::OnStopPlayback() {}
void CMainDialog::OnPreviousSong() {}
void CMainDialog::OnNextSong() {}
void CMainDialog::OnSliderScroll(int) {}
void CMainDialog::StopPlaybackForClose() {}
bool CMainDialog::OnPlayModeCommand(int) {
  return false;
}
bool CMainDialog::PlayModeChecked(int) const {
  return false;
}

#endif

}  // namespace melo::ui
