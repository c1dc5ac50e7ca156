#include "playback/GstMediaDevice.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>

#include "core/module/LoadedModule.h"
#include "playback/CacheFeed.h"
#include "playback/GstOwners.h"
#include "playback/PlayerModule.h"

namespace melo::playback {
namespace {

// How often a waiting open looks at the stop token.
constexpr GstClockTime kBusSlice = 100 * GST_MSECOND;
constexpr GstClockTime kStateChangeLimit = 5 * GST_SECOND;
// A pause lands within milliseconds while bytes flow; a stalled stream
// stands still anyway, and must not hold up the worker's polling longer.
constexpr GstClockTime kPauseLandLimit = 250 * GST_MSECOND;
// playbin's "flags": audio only (a cover picture must not ask for a video
// output), with its own volume element.
constexpr guint kPlayFlagAudio = 1u << 1;
constexpr guint kPlayFlagSoftVolume = 1u << 4;
// What the device reads off the bus; anything else is dropped as it passes.
constexpr auto kNotedMessages = static_cast<GstMessageType>(
    GST_MESSAGE_EOS | GST_MESSAGE_ERROR | GST_MESSAGE_DURATION_CHANGED | GST_MESSAGE_ASYNC_DONE);
constexpr std::string_view kNotAudio = "not audio";

void InitGstOnce() {
  static std::once_flag once;
  std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

constexpr char kVolumeName[] = "melodrift-volume";

// The output, with a volume element of its own in front of it: the volume
// acts on the samples that reach the output, whatever feeds them.
gst::ElementPtr MakeAudioSink() {
  const char* chosen = std::getenv("MELODRIFT_AUDIO_SINK");
  const std::string output = chosen == nullptr || *chosen == '\0' ? "autoaudiosink" : chosen;
  const std::string description = std::string("volume name=") + kVolumeName + " ! " + output;
  GError* rawError = nullptr;
  gst::ElementPtr sink =
      gst::AdoptFloating(gst_parse_bin_from_description(description.c_str(), TRUE, &rawError));
  const gst::ErrorPtr error(rawError);
  return error ? nullptr : std::move(sink);
}

bool IsWebAddress(const std::string& address) {
  gchar* scheme = gst_uri_get_protocol(address.c_str());
  const bool web = scheme != nullptr && (g_ascii_strcasecmp(scheme, "http") == 0 ||
                                         g_ascii_strcasecmp(scheme, "https") == 0);
  g_free(scheme);
  return web;
}

// playbin's "source-setup": the appsrc:// source is fed from the cache.
void SetUpSource(GstElement* /*playbin*/, GstElement* source, gpointer feed) {
  if (GST_IS_APP_SRC(source)) {
    static_cast<CacheFeed*>(feed)->Attach(GST_APP_SRC(source));
  }
}

bool IsNotAudio(const GError& error) {
  if (error.domain == GST_CORE_ERROR) {
    return error.code == GST_CORE_ERROR_MISSING_PLUGIN;
  }
  if (error.domain != GST_STREAM_ERROR) {
    return false;
  }
  switch (error.code) {
    case GST_STREAM_ERROR_TYPE_NOT_FOUND:
    case GST_STREAM_ERROR_WRONG_TYPE:
    case GST_STREAM_ERROR_CODEC_NOT_FOUND:
    case GST_STREAM_ERROR_DECODE:
    case GST_STREAM_ERROR_DEMUX:
    case GST_STREAM_ERROR_FORMAT:
      return true;
    default:
      return false;
  }
}

// An error message as a person reads it: "not audio", or the pipeline's
// own text. Network failures are the fetch's to tell.
std::string FailureText(GstMessage* message) {
  GError* rawError = nullptr;
  gst_message_parse_error(message, &rawError, nullptr);
  const gst::ErrorPtr error(rawError);
  if (!error) {
    return "playback failed";
  }
  return IsNotAudio(*error) ? std::string(kNotAudio) : std::string(error->message);
}

class GstMediaDevice final : public MediaDevice {
 public:
  GstMediaDevice(std::stop_token stop, SongOpener openSong)
      : stop_(std::move(stop)), openSong_(std::move(openSong)) {}
  ~GstMediaDevice() override { Close(); }
  GstMediaDevice(const GstMediaDevice&) = delete;
  GstMediaDevice& operator=(const GstMediaDevice&) = delete;

  OpenResult Open(const std::string& address) override {
    Close();
    InitGstOnce();
    // Songs stream from web servers; any other scheme (file, fd, udp...)
    // would let an address read local files or open ports.
    if (!gst_uri_is_valid(address.c_str()) || !IsWebAddress(address)) {
      failure_ = "not a web address";
      return OpenResult::kFailed;
    }
    const auto deadline = std::chrono::steady_clock::now() + kOpenTimeout;
    song_ = openSong_(address);
    if (const OpenResult started = AwaitSongStart(deadline); started != OpenResult::kOpened) {
      return started;
    }
    gst::ElementPtr playbin = gst::AdoptFloating(gst_element_factory_make("playbin", nullptr));
    const gst::ElementPtr sink = MakeAudioSink();
    if (!playbin || !sink) {
      failure_ = "no audio output";
      return OpenResult::kFailed;
    }
    feed_ = std::make_unique<CacheFeed>(song_);
    g_object_set(playbin.get(), "uri", "appsrc://", "flags", kPlayFlagAudio | kPlayFlagSoftVolume,
                 "audio-sink", sink.get(), nullptr);
    volume_.reset(gst_bin_get_by_name(GST_BIN(sink.get()), kVolumeName));
    SetVolume(linearVolume_);
    g_signal_connect(playbin.get(), "source-setup", G_CALLBACK(SetUpSource), feed_.get());
    bus_.reset(gst_element_get_bus(playbin.get()));
    playbin_ = std::move(playbin);

    const OpenResult result = WaitForPreroll(deadline);
    if (result != OpenResult::kOpened) {
      const std::string failure = failure_;
      Close();
      failure_ = failure;
    }
    return result;
  }

  bool Seek(std::int64_t targetMs) override {
    if (!CanSeek()) {
      return false;
    }
    reachedEnd_ = false;  // a flushing seek leaves an earlier end behind
    // Not "accurate": that reads on from the last frame the parser has seen,
    // through bytes a Range server need not send; the parser's own estimate
    // (the length header's table, else the bit rate) lands close enough.
    const auto flags = GST_SEEK_FLAG_FLUSH;
    if (!gst_element_seek_simple(playbin_.get(), GST_FORMAT_TIME, flags,
                                 std::max<std::int64_t>(targetMs, 0) * GST_MSECOND)) {
      return false;
    }
    // Returns once the song stands at the target: at once within what is
    // cached, else once the fetch has brought the bytes there.
    AwaitAsyncDone(std::chrono::steady_clock::now() + kOpenTimeout);
    return true;
  }

  void Play() override {
    if (playbin_) {
      gst_element_set_state(playbin_.get(), GST_STATE_PLAYING);
    }
  }

  // Returns once the song stands still (or after the limit): the position
  // read next is where it paused.
  void Pause() override { SetStateAndWait(GST_STATE_PAUSED, kPauseLandLimit); }

  void SetVolume(double linear) override {
    linearVolume_ = linear;
    if (volume_) {
      g_object_set(volume_.get(), "volume", linear, nullptr);
    }
  }

  // Asked again after each duration change: a file without a length header
  // (or sent without Content-Length) learns its length while it plays.
  std::optional<std::int64_t> LengthMs() override {
    DrainBus();
    QueryLength();
    if (!lengthMs_ && song_) {
      return song_->CountedLengthMs();  // whole now, and its frames tell
    }
    return lengthMs_;
  }

  std::optional<std::int64_t> PositionMs() override {
    if (!playbin_) {
      return std::nullopt;
    }
    // At the end the position query may fail; the end is where the song stands.
    DrainBus();
    if (reachedEnd_) {
      return LengthMs();
    }
    gint64 position = 0;
    if (!gst_element_query_position(playbin_.get(), GST_FORMAT_TIME, &position) || position < 0) {
      return std::nullopt;
    }
    return position / GST_MSECOND;
  }

  MediaMode Mode() override {
    if (!playbin_) {
      return failure_.empty() ? MediaMode::kEnded : MediaMode::kFailed;
    }
    DrainBus();
    NoteSongFailure();
    if (!failure_.empty()) {
      return MediaMode::kFailed;
    }
    return reachedEnd_ ? MediaMode::kEnded : MediaMode::kPlaying;
  }

  std::string Failure() override {
    DrainBus();
    NoteSongFailure();
    return failure_;
  }

  // A streaming thread waiting for bytes must let go before the pipeline
  // can stop.
  void Stop() override {
    if (song_) {
      song_->CancelReads();
    }
    SetStateAndWait(GST_STATE_READY);
  }

  void Close() override {
    if (song_) {
      song_->CancelReads();
    }
    SetStateAndWait(GST_STATE_NULL);
    bus_.reset();
    volume_.reset();
    playbin_.reset();
    feed_.reset();
    song_.reset();
    failure_.clear();
    reachedEnd_ = false;
    lengthMs_.reset();
  }

 private:
  OpenResult AwaitSongStart(std::chrono::steady_clock::time_point deadline) {
    switch (song_->AwaitStart(stop_, deadline)) {
      case download::SongBytes::Start::kReady:
        return OpenResult::kOpened;
      case download::SongBytes::Start::kStopped:
        song_.reset();
        return OpenResult::kStopped;
      case download::SongBytes::Start::kTimedOut:
        song_.reset();
        failure_ = "no answer within " + std::to_string(kOpenTimeout.count()) + " s";
        return OpenResult::kTimedOut;
      case download::SongBytes::Start::kFailed:
        break;
    }
    failure_ = song_->Failure();
    song_.reset();
    return OpenResult::kFailed;
  }

  OpenResult WaitForPreroll(std::chrono::steady_clock::time_point deadline) {
    const GstStateChangeReturn change = gst_element_set_state(playbin_.get(), GST_STATE_PAUSED);
    if (change == GST_STATE_CHANGE_FAILURE) {
      DrainBus();
      if (failure_.empty()) {
        failure_ = "playback failed";
      }
      return OpenResult::kFailed;
    }
    if (change != GST_STATE_CHANGE_ASYNC) {
      return OpenResult::kOpened;
    }
    const OpenResult result = AwaitAsyncDone(deadline);
    if (result == OpenResult::kTimedOut) {
      failure_ = "no answer within " + std::to_string(kOpenTimeout.count()) + " s";
    }
    return result;
  }

  // Until the pipeline has its data (after an open or a seek), it fails, or
  // the worker is told to stop.
  OpenResult AwaitAsyncDone(std::chrono::steady_clock::time_point deadline) {
    while (std::chrono::steady_clock::now() < deadline) {
      if (stop_.stop_requested()) {
        return OpenResult::kStopped;
      }
      const gst::MessagePtr message(
          gst_bus_timed_pop_filtered(bus_.get(), kBusSlice, kNotedMessages));
      NoteSongFailure();
      if (message) {
        Note(message.get());
      }
      if (!failure_.empty()) {
        return OpenResult::kFailed;
      }
      if (message && GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ASYNC_DONE) {
        return OpenResult::kOpened;
      }
    }
    return OpenResult::kTimedOut;
  }

  // The fetch's reason (the HTTP status, a lost connection) names the cause
  // better than what the pipeline makes of the bytes that stopped coming.
  void NoteSongFailure() {
    if (song_) {
      if (std::string failure = song_->Failure(); !failure.empty()) {
        failure_ = std::move(failure);
      }
    }
  }

  void DrainBus() {
    while (bus_) {
      const gst::MessagePtr message{gst_bus_pop_filtered(bus_.get(), kNotedMessages)};
      if (!message) {
        return;
      }
      Note(message.get());
    }
  }

  void Note(GstMessage* message) {
    switch (GST_MESSAGE_TYPE(message)) {
      case GST_MESSAGE_EOS:
        reachedEnd_ = true;
        NoteLengthAtEnd();
        break;
      case GST_MESSAGE_ERROR:
        // The first error names the cause; those after it only echo it.
        if (failure_.empty()) {
          failure_ = FailureText(message);
        }
        break;
      case GST_MESSAGE_DURATION_CHANGED:
        lengthMs_.reset();
        break;
      default:
        break;
    }
  }

  // A stream sent without its size (chunked) may not know its length
  // before its end; there, where it stands is its length.
  void NoteLengthAtEnd() {
    QueryLength();
    gint64 position = 0;
    if (!lengthMs_ && gst_element_query_position(playbin_.get(), GST_FORMAT_TIME, &position) &&
        position > 0) {
      lengthMs_ = position / GST_MSECOND;
    }
  }

  void QueryLength() {
    gint64 length = 0;
    if (!lengthMs_ && playbin_ &&
        gst_element_query_duration(playbin_.get(), GST_FORMAT_TIME, &length) && length > 0) {
      lengthMs_ = length / GST_MSECOND;
    }
  }

  // Every song can seek: within what is cached at once, beyond it by a new
  // request or by reading on.
  bool CanSeek() const { return playbin_ != nullptr; }

  void SetStateAndWait(GstState state, GstClockTime limit = kStateChangeLimit) {
    if (playbin_ && gst_element_set_state(playbin_.get(), state) == GST_STATE_CHANGE_ASYNC) {
      gst_element_get_state(playbin_.get(), nullptr, nullptr, limit);
    }
  }

  const std::stop_token stop_;
  const SongOpener openSong_;
  std::shared_ptr<download::SongBytes> song_;
  std::unique_ptr<CacheFeed> feed_;  // read by the source-setup callback and appsrc
  gst::ElementPtr playbin_;
  gst::BusPtr bus_;
  gst::ElementPtr volume_;
  double linearVolume_ = 1.0;  // kept for the next open
  std::string failure_;
  bool reachedEnd_ = false;
  std::optional<std::int64_t> lengthMs_;
};

}  // namespace
}  // namespace melo::playback

MELO_MODULE_VERSION_DEFINITION;

extern "C" MELO_MODULE_EXPORT melo::playback::MediaDevice* melo_make_media_device(
    std::stop_token stop, const melo::playback::SongOpener& openSong) {
  return std::make_unique<melo::playback::GstMediaDevice>(std::move(stop), openSong).release();
}
static_assert(std::is_same_v<decltype(melo_make_media_device), melo::playback::MakeDeviceEntry>);
