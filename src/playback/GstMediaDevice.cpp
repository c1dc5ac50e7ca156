#include "playback/GstMediaDevice.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>

#include "playback/GstOwners.h"

namespace melo::playback {
namespace {

// How often a waiting open looks at the stop token.
constexpr GstClockTime kBusSlice = 100 * GST_MSECOND;
constexpr GstClockTime kStateChangeLimit = 5 * GST_SECOND;
// playbin's "flags": audio only (a cover picture must not ask for a video
// output), with its own volume element.
constexpr guint kPlayFlagAudio = 1u << 1;
constexpr guint kPlayFlagSoftVolume = 1u << 4;

void InitGstOnce() {
  static std::once_flag once;
  std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

gst::ElementPtr MakeAudioSink() {
  const char* description = std::getenv("MELODRIFT_AUDIO_SINK");
  if (description == nullptr || *description == '\0') {
    return gst::AdoptFloating(gst_element_factory_make("autoaudiosink", nullptr));
  }
  GError* rawError = nullptr;
  gst::ElementPtr sink =
      gst::AdoptFloating(gst_parse_bin_from_description(description, TRUE, &rawError));
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

class GstMediaDevice final : public MediaDevice {
 public:
  explicit GstMediaDevice(std::stop_token stop) : stop_(std::move(stop)) {}
  ~GstMediaDevice() override { Close(); }
  GstMediaDevice(const GstMediaDevice&) = delete;
  GstMediaDevice& operator=(const GstMediaDevice&) = delete;

  OpenResult Open(const std::string& address) override {
    Close();
    InitGstOnce();
    // Songs stream from web servers; any other scheme (file, fd, udp...)
    // would let an address read local files or open ports.
    if (!gst_uri_is_valid(address.c_str()) || !IsWebAddress(address)) {
      return OpenResult::kFailed;
    }
    gst::ElementPtr playbin = gst::AdoptFloating(gst_element_factory_make("playbin", nullptr));
    const gst::ElementPtr sink = MakeAudioSink();
    if (!playbin || !sink) {
      return OpenResult::kFailed;
    }
    g_object_set(playbin.get(), "uri", address.c_str(), "flags",
                 kPlayFlagAudio | kPlayFlagSoftVolume, "audio-sink", sink.get(), nullptr);
    bus_.reset(gst_element_get_bus(playbin.get()));
    playbin_ = std::move(playbin);

    const OpenResult result = WaitForPreroll();
    if (result != OpenResult::kOpened) {
      Close();
    }
    return result;
  }

  void Seek(std::int64_t targetMs) override {
    if (!playbin_) {
      return;
    }
    DrainBus();
    reachedEnd_ = false;  // a flushing seek leaves an earlier end behind
    const auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
    gst_element_seek_simple(playbin_.get(), GST_FORMAT_TIME, flags,
                            std::max<std::int64_t>(targetMs, 0) * GST_MSECOND);
  }

  void Play() override {
    if (playbin_) {
      gst_element_set_state(playbin_.get(), GST_STATE_PLAYING);
    }
  }

  std::optional<std::int64_t> LengthMs() override {
    gint64 length = 0;
    if (!playbin_ || !gst_element_query_duration(playbin_.get(), GST_FORMAT_TIME, &length) ||
        length < 0) {
      return std::nullopt;
    }
    return length / GST_MSECOND;
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
      return MediaMode::kStopped;
    }
    DrainBus();
    return failed_ || reachedEnd_ ? MediaMode::kStopped : MediaMode::kPlaying;
  }

  void Stop() override { SetStateAndWait(GST_STATE_READY); }

  void Close() override {
    SetStateAndWait(GST_STATE_NULL);
    bus_.reset();
    playbin_.reset();
    failed_ = false;
    reachedEnd_ = false;
  }

 private:
  OpenResult WaitForPreroll() {
    const GstStateChangeReturn change = gst_element_set_state(playbin_.get(), GST_STATE_PAUSED);
    if (change == GST_STATE_CHANGE_FAILURE) {
      return OpenResult::kFailed;
    }
    if (change != GST_STATE_CHANGE_ASYNC) {
      return OpenResult::kOpened;
    }
    const GstClockTime limit = GST_SECOND * kOpenTimeout.count();
    for (GstClockTime waited = 0; waited < limit; waited += kBusSlice) {
      if (stop_.stop_requested()) {
        return OpenResult::kStopped;
      }
      const auto types = static_cast<GstMessageType>(GST_MESSAGE_ASYNC_DONE | GST_MESSAGE_ERROR);
      const gst::MessagePtr message(gst_bus_timed_pop_filtered(bus_.get(), kBusSlice, types));
      if (message) {
        return GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ERROR ? OpenResult::kFailed
                                                                    : OpenResult::kOpened;
      }
    }
    return OpenResult::kTimedOut;
  }

  // Notes an end or a failure that the stream has posted.
  void DrainBus() {
    const auto types = static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR);
    while (gst::MessagePtr message{gst_bus_pop_filtered(bus_.get(), types)}) {
      (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ERROR ? failed_ : reachedEnd_) = true;
    }
  }

  void SetStateAndWait(GstState state) {
    if (playbin_ && gst_element_set_state(playbin_.get(), state) == GST_STATE_CHANGE_ASYNC) {
      gst_element_get_state(playbin_.get(), nullptr, nullptr, kStateChangeLimit);
    }
  }

  const std::stop_token stop_;
  gst::ElementPtr playbin_;
  gst::BusPtr bus_;
  bool failed_ = false;
  bool reachedEnd_ = false;
};

}  // namespace

std::unique_ptr<MediaDevice> MakeGstMediaDevice(std::stop_token stop) {
  return std::make_unique<GstMediaDevice>(std::move(stop));
}

}  // namespace melo::playback
