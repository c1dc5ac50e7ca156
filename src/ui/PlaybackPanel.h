#pragma once
// The window's side of playback: its controls, its song list and its event
// loop, lent to the playback handlers. No GStreamer here.

#include <QObject>

class QKeyEvent;
#include <memory>

#include "playback/PlaybackController.h"

class QPushButton;
class QSlider;

namespace melo::ui {

class CMainDialog;
class MprisService;
class PlayerSettings;

class PlaybackPanel final : public QObject,
                            public playback::PlaybackView,
                            public playback::SongList,
                            public playback::WindowThread {
 public:
  explicit PlaybackPanel(CMainDialog& dialog);
  // Stops and waits for every worker first, so none reaches a control after.
  ~PlaybackPanel() override;

  playback::PlaybackController& Handlers() { return *handlers_; }

  // Any action of the position slider (its actionTriggered).
  void OnSliderAction();

  // A song is open and playing or paused: it can be paused or resumed.
  bool SongLoaded() const { return songLoaded_; }
  void SetPaused(bool paused);
  // Pauses or resumes the loaded song; with none, plays the marked row.
  void PlayPause();
  // Linear, 0 to 1: the control, the media controls and the settings file
  // follow.
  void SetVolume(double linear);
  void SetPlayMode(playback::PlayMode mode);

  // The controls; on the window's thread only.
  void ShowState(std::string_view text) override;
  void ShowTotal(std::string_view text) override;
  void ShowElapsed(std::string_view text) override;
  void SetSlider(int value) override;
  void EnableStop(bool enabled) override;
  void EnableSlider(bool enabled) override;
  void EnablePause(bool enabled) override;
  void SongEnded() override;

  int RowCount() const override;
  std::string DownloadLink(int row) const override;

  // Queued onto the window's thread; dropped if the panel has gone by then.
  void Post(std::function<void()> task) override;

 protected:
  // Watches the slider for the start and the end of each user action.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildPlayerControls();
  // Offers the desktop's media controls; once the window has been drawn.
  void OfferMediaControls();
  void FollowSongList();
  void ShowVolume(double linear);
  void ApplyVolume(double linear);
  bool OnPlayerKey(const QKeyEvent& key);
  void BeginSliderAction();
  void EndSliderAction();
  int SliderPosition() const;

  CMainDialog& dialog_;
  // A mouse button or a key is held on the slider; the slider moved since.
  bool sliderHeld_ = false;
  bool sliderMoved_ = false;
  bool songLoaded_ = false;
  QPushButton* pauseButton_ = nullptr;
  QSlider* volumeSlider_ = nullptr;
  std::unique_ptr<PlayerSettings> settings_;
  std::unique_ptr<playback::PlaybackController> handlers_;
  // The desktop's media controls; none without a session bus, and none
  // until the window's first frame.
  std::unique_ptr<MprisService> mpris_;
  bool mediaControlsOffered_ = false;
};

}  // namespace melo::ui
