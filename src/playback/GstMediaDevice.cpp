#include "playback/GstMediaDevice.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>

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
// What the device reads off the bus; anything else is dropped as it passes.
constexpr auto kNotedMessages =
    static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR | GST_MESSAGE_ELEMENT |
                                GST_MESSAGE_DURATION_CHANGED | GST_MESSAGE_ASYNC_DONE);
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

bool HasProperty(GstElement* element, const char* name) {
  return g_object_class_find_property(G_OBJECT_GET_CLASS(element), name) != nullptr;
}

// playbin's "source-setup": how long the HTTP source waits on a silent
// server and how often it takes a broken transfer up again (over Range,
// where the server takes it).
void SetUpSource(GstElement* /*playbin*/, GstElement* source, gpointer data) {
  const auto& options = *static_cast<const GstDeviceOptions*>(data);
  if (HasProperty(source, "timeout") && HasProperty(source, "retries")) {
    g_object_set(source, "timeout", static_cast<guint>(options.stallLimit.count()), "retries",
                 options.transferRetries, nullptr);
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

// An error message as a person reads it: the HTTP status, "not audio", or
// what went wrong with the connection.
std::string FailureText(GstMessage* message) {
  GError* rawError = nullptr;
  gst_message_parse_error(message, &rawError, nullptr);
  const gst::ErrorPtr error(rawError);
  const GstStructure* details = nullptr;
  gst_message_parse_error_details(message, &details);
  guint status = 0;
  if (details != nullptr && gst_structure_get_uint(details, "http-status-code", &status) &&
      status >= 400) {
    // Appended piece by piece: GCC 12 misjudges `" " + std::string` as an overlapping copy.
    std::string text = "HTTP " + std::to_string(status);
    if (error)
      text.append(" ").append(error->message);
    return text;
  }
  if (!error) {
    return "playback failed";
  }
  if (IsNotAudio(*error)) {
    return std::string(kNotAudio);
  }
  if (error->domain == GST_RESOURCE_ERROR && error->code == GST_RESOURCE_ERROR_SEEK) {
    // The transfer broke off and the server cannot send the rest on its own.
    return "connection lost; the server cannot resume the transfer";
  }
  // The HTTP source gives up on a silent server with no error of its own,
  // only the generic one of a stopped stream.
  if (error->domain == GST_STREAM_ERROR && error->code == GST_STREAM_ERROR_FAILED &&
      GST_IS_ELEMENT(GST_MESSAGE_SRC(message)) &&
      HasProperty(GST_ELEMENT(GST_MESSAGE_SRC(message)), "retries")) {
    return "connection lost; the server stopped sending";
  }
  return error->message;
}

// Whether an "http-headers" answer says the server sends parts of the file:
// a 206, or "Accept-Ranges: bytes".
bool TakesRanges(const GstStructure& answer) {
  guint status = 0;
  if (gst_structure_get_uint(&answer, "http-status-code", &status) && status == 206) {
    return true;
  }
  GstStructure* rawHeaders = nullptr;
  if (!gst_structure_get(&answer, "response-headers", GST_TYPE_STRUCTURE, &rawHeaders, nullptr)) {
    return false;
  }
  const gst::StructurePtr headers(rawHeaders);
  bool ranges = false;
  gst_structure_foreach(
      headers.get(),
      [](GQuark field, const GValue* value, gpointer data) -> gboolean {
        if (g_ascii_strcasecmp(g_quark_to_string(field), "Accept-Ranges") == 0 &&
            G_VALUE_HOLDS_STRING(value) && g_value_get_string(value) != nullptr &&
            g_ascii_strcasecmp(g_value_get_string(value), "bytes") == 0) {
          *static_cast<bool*>(data) = true;
        }
        return TRUE;
      },
      &ranges);
  return ranges;
}

class GstMediaDevice final : public MediaDevice {
 public:
  GstMediaDevice(std::stop_token stop, GstDeviceOptions options)
      : stop_(std::move(stop)), options_(options) {}
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
    gst::ElementPtr playbin = gst::AdoptFloating(gst_element_factory_make("playbin", nullptr));
    const gst::ElementPtr sink = MakeAudioSink();
    if (!playbin || !sink) {
      failure_ = "no audio output";
      return OpenResult::kFailed;
    }
    g_object_set(playbin.get(), "uri", address.c_str(), "flags",
                 kPlayFlagAudio | kPlayFlagSoftVolume, "audio-sink", sink.get(), nullptr);
    volume_.reset(gst_bin_get_by_name(GST_BIN(sink.get()), kVolumeName));
    SetVolume(linearVolume_);
    g_signal_connect(playbin.get(), "source-setup", G_CALLBACK(SetUpSource), &options_);
    bus_.reset(gst_element_get_bus(playbin.get()));
    playbin_ = std::move(playbin);

    const OpenResult result = WaitForPreroll();
    if (result != OpenResult::kOpened) {
      const std::string failure = failure_;
      Close();
      failure_ = failure;
    }
    return result;
  }

  bool Seek(std::int64_t targetMs) override {
    if (!playbin_ || !CanSeek()) {
      return false;
    }
    reachedEnd_ = false;  // a flushing seek leaves an earlier end behind
    const auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
    return gst_element_seek_simple(playbin_.get(), GST_FORMAT_TIME, flags,
                                   std::max<std::int64_t>(targetMs, 0) * GST_MSECOND) != FALSE;
  }

  void Play() override {
    if (playbin_) {
      gst_element_set_state(playbin_.get(), GST_STATE_PLAYING);
    }
  }

  void Pause() override {
    if (playbin_) {
      gst_element_set_state(playbin_.get(), GST_STATE_PAUSED);
    }
  }

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
    if (!failure_.empty()) {
      return MediaMode::kFailed;
    }
    return reachedEnd_ ? MediaMode::kEnded : MediaMode::kPlaying;
  }

  std::string Failure() override {
    DrainBus();
    return failure_;
  }

  void Stop() override { SetStateAndWait(GST_STATE_READY); }

  void Close() override {
    SetStateAndWait(GST_STATE_NULL);
    bus_.reset();
    volume_.reset();
    playbin_.reset();
    failure_.clear();
    reachedEnd_ = false;
    takesRanges_ = false;
    lengthMs_.reset();
  }

 private:
  OpenResult WaitForPreroll() {
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
    const auto deadline = std::chrono::steady_clock::now() + kOpenTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
      if (stop_.stop_requested()) {
        return OpenResult::kStopped;
      }
      const gst::MessagePtr message(
          gst_bus_timed_pop_filtered(bus_.get(), kBusSlice, kNotedMessages));
      if (!message) {
        continue;
      }
      Note(message.get());
      if (!failure_.empty()) {
        return OpenResult::kFailed;
      }
      if (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ASYNC_DONE) {
        return OpenResult::kOpened;
      }
    }
    failure_ = "no answer within " + std::to_string(kOpenTimeout.count()) + " s";
    return OpenResult::kTimedOut;
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
      case GST_MESSAGE_ELEMENT:
        if (const GstStructure* answer = gst_message_get_structure(message);
            answer != nullptr && gst_structure_has_name(answer, "http-headers")) {
          takesRanges_ = TakesRanges(*answer);
        }
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

  // The HTTP source answers the seeking query with yes for any server that
  // told the size, but a seek on a server that does not send parts of the
  // file breaks the song off: only a server that said it does is asked.
  bool CanSeek() {
    DrainBus();
    if (!takesRanges_) {
      return false;
    }
    const gst::QueryPtr query(gst_query_new_seeking(GST_FORMAT_TIME));
    gboolean seekable = FALSE;
    if (gst_element_query(playbin_.get(), query.get())) {
      gst_query_parse_seeking(query.get(), nullptr, &seekable, nullptr, nullptr);
    }
    return seekable != FALSE;
  }

  void SetStateAndWait(GstState state) {
    if (playbin_ && gst_element_set_state(playbin_.get(), state) == GST_STATE_CHANGE_ASYNC) {
      gst_element_get_state(playbin_.get(), nullptr, nullptr, kStateChangeLimit);
    }
  }

  const std::stop_token stop_;
  GstDeviceOptions options_;  // read by the source-setup callback
  gst::ElementPtr playbin_;
  gst::BusPtr bus_;
  gst::ElementPtr volume_;
  double linearVolume_ = 1.0;  // kept for the next open
  std::string failure_;
  bool reachedEnd_ = false;
  bool takesRanges_ = false;
  std::optional<std::int64_t> lengthMs_;
};

}  // namespace

std::unique_ptr<MediaDevice> MakeGstMediaDevice(std::stop_token stop, GstDeviceOptions options) {
  return std::make_unique<GstMediaDevice>(std::move(stop), options);
}

}  // namespace melo::playback
