#pragma once
// Owners for the GStreamer and GLib references the device holds, so every
// path releases them exactly once.

#include <gst/gst.h>

#include <memory>

namespace melo::playback::gst {

struct ObjectUnref {
  void operator()(gpointer object) const { gst_object_unref(object); }
};
struct MessageUnref {
  void operator()(GstMessage* message) const { gst_message_unref(message); }
};
struct QueryUnref {
  void operator()(GstQuery* query) const { gst_query_unref(query); }
};
struct StructureFree {
  void operator()(GstStructure* structure) const { gst_structure_free(structure); }
};
struct ErrorFree {
  void operator()(GError* error) const { g_error_free(error); }
};

using ElementPtr = std::unique_ptr<GstElement, ObjectUnref>;
using BusPtr = std::unique_ptr<GstBus, ObjectUnref>;
using MessagePtr = std::unique_ptr<GstMessage, MessageUnref>;
using QueryPtr = std::unique_ptr<GstQuery, QueryUnref>;
using StructurePtr = std::unique_ptr<GstStructure, StructureFree>;
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;

// Takes a floating reference (fresh from a factory) as a full one.
inline ElementPtr AdoptFloating(GstElement* element) {
  return ElementPtr(element ? GST_ELEMENT(gst_object_ref_sink(element)) : nullptr);
}

}  // namespace melo::playback::gst
