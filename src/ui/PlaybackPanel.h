#pragma once
// The window's side of playback: its controls, its song list and its event
// loop, lent to the playback handlers. No GStreamer here.

#include <QObject>
#include <memory>

#include "playback/PlaybackController.h"

namespace melo::ui {

class CMainDialog;
class MprisService;

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

  // The controls; on the window's thread only.
  void ShowState(std::string_view text) override;
  void ShowTotal(std::string_view text) override;
  void ShowElapsed(std::string_view text) override;
  void SetSlider(int value) override;
  void EnableStop(bool enabled) override;
  void EnableSlider(bool enabled) override;
  void SongEnded() override;

  int RowCount() const override;
  std::string DownloadLink(int row) const override;

  // Queued onto the window's thread; dropped if the panel has gone by then.
  void Post(std::function<void()> task) override;

 protected:
  // Watches the slider for the start and the end of each user action.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BeginSliderAction();
  void EndSliderAction();
  int SliderPosition() const;

  CMainDialog& dialog_;
  // A mouse button or a key is held on the slider; the slider moved since.
  bool sliderHeld_ = false;
  bool sliderMoved_ = false;
  std::unique_ptr<playback::PlaybackController> handlers_;
  // The desktop's media controls; none without a session bus.
  std::unique_ptr<MprisService> mpris_;
};

}  // namespace melo::ui
