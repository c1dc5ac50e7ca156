#pragma once
// Hands a song's cache file to GStreamer through a seekable appsrc: the
// pipeline asks for bytes from an offset, and the feed answers from the file
// once the fetch has brought them. Pushed, not pulled: pulling would have
// the tag reader read the file's end before the first note, which on a
// server without Range is the whole song, and a pulled read waiting for its
// bytes could not be cut short by a seek.

#include <gst/app/gstappsrc.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "core/download/SongBytes.h"

namespace melo::playback {

class CacheFeed {
 public:
  explicit CacheFeed(std::shared_ptr<download::SongBytes> song) : song_(std::move(song)) {}

  // For playbin's "source-setup" with an appsrc:// address.
  void Attach(GstAppSrc* source);

 private:
  static void OnNeedData(GstAppSrc* source, guint length, gpointer self);
  static gboolean OnSeekData(GstAppSrc* source, guint64 offset, gpointer self);
  static GstPadProbeReturn OnFlush(GstPad* pad, GstPadProbeInfo* info, gpointer self);

  const std::shared_ptr<download::SongBytes> song_;
  std::atomic<std::uint64_t> offset_{0};
  std::atomic<bool> sizeKnown_{false};
  // A seek flushes the source: the read waiting for the old place gives up.
  std::atomic<bool> flushing_{false};
};

}  // namespace melo::playback
