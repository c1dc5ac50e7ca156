#include "playback/CacheFeed.h"

namespace melo::playback {
namespace {

// What one answer asks of the file at most, however much the pipeline wants.
constexpr guint kMaxAnswerBytes = 1024 * 1024;

}  // namespace

void CacheFeed::Attach(GstAppSrc* source) {
  gst_app_src_set_stream_type(source, GST_APP_STREAM_TYPE_SEEKABLE);
  const auto total = song_->TotalBytes();
  gst_app_src_set_size(source, total ? static_cast<gint64>(*total) : -1);
  sizeKnown_ = total.has_value();
  GstAppSrcCallbacks callbacks{};
  callbacks.need_data = &CacheFeed::OnNeedData;
  callbacks.seek_data = &CacheFeed::OnSeekData;
  gst_app_src_set_callbacks(source, &callbacks, this, nullptr);
  GstPad* pad = gst_element_get_static_pad(GST_ELEMENT(source), "src");
  gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_FLUSH, &CacheFeed::OnFlush, this, nullptr);
  gst_object_unref(pad);
}

GstPadProbeReturn CacheFeed::OnFlush(GstPad* /*pad*/, GstPadProbeInfo* info, gpointer self) {
  auto& feed = *static_cast<CacheFeed*>(self);
  const GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
  if (event != nullptr) {
    feed.flushing_ = GST_EVENT_TYPE(event) == GST_EVENT_FLUSH_START;
  }
  return GST_PAD_PROBE_OK;
}

// On the streaming thread: blocks until the bytes are in. A song without
// Content-Length gets its size (and so its length) the moment it is whole.
void CacheFeed::OnNeedData(GstAppSrc* source, guint length, gpointer self) {
  auto& feed = *static_cast<CacheFeed*>(self);
  const std::uint64_t offset = feed.offset_;
  const guint wanted = length == 0 ? 4096 : std::min(length, kMaxAnswerBytes);
  GstBuffer* buffer = gst_buffer_new_allocate(nullptr, wanted, nullptr);
  GstMapInfo map;
  std::size_t got = 0;
  if (gst_buffer_map(buffer, &map, GST_MAP_WRITE)) {
    got = feed.song_->Read(offset, reinterpret_cast<char*>(map.data), wanted,
                           [&feed] { return feed.flushing_.load(); });
    gst_buffer_unmap(buffer, &map);
  }
  if (!feed.sizeKnown_) {
    if (const auto total = feed.song_->TotalBytes()) {
      gst_app_src_set_size(source, static_cast<gint64>(*total));
      feed.sizeKnown_ = true;
    }
  }
  if (got == 0) {
    gst_buffer_unref(buffer);
    // At the end, or after a failure (which the device reads from the song
    // itself). A read given up for a flush or a stop ends nothing.
    if (feed.song_->EndsBy(offset) || !feed.song_->Failure().empty()) {
      gst_app_src_end_of_stream(source);
    }
    return;
  }
  gst_buffer_set_size(buffer, static_cast<gssize>(got));
  GST_BUFFER_OFFSET(buffer) = offset;
  feed.offset_ = offset + got;
  gst_app_src_push_buffer(source, buffer);  // takes the buffer
}

gboolean CacheFeed::OnSeekData(GstAppSrc* /*source*/, guint64 offset, gpointer self) {
  static_cast<CacheFeed*>(self)->offset_ = offset;
  return TRUE;
}

}  // namespace melo::playback
