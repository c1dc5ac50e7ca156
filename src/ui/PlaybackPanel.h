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

 private:
  CMainDialog& dialog_;
  std::unique_ptr<playback::PlaybackController> handlers_;
  // The desktop's media controls; none without a session bus.
  std::unique_ptr<MprisService> mpris_;
};

}  // namespace melo::ui
