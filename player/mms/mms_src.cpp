// "mmssrc": a GstBaseSrc that hands on the ASF byte stream libmms receives.
//
// The connection is opened by the streaming thread on the first create(),
// not in start(): start() runs inside the application's state change, and a
// server that accepts and then says nothing would otherwise hold that state
// change (and with it the player's main loop and its watchdogs) for ever.
// All network waits happen in MmsIo, which unlock() interrupts.
//
// Sizes and seeking: the source works in bytes, as libmms does. Once
// connected it publishes the stream's byte length (header plus packets, what
// libmms can deliver); a TIME duration query then cannot be answered in
// bytes here and falls to asfdemux, which answers from the ASF header. A
// TIME seek makes asfdemux send a BYTES seek up to us, which becomes an
// mmsx_seek(): for MMS over HTTP a new request at that packet.

#include "mms/mms_src.h"

#include "gst_ptr.h"
#include "mms/mms_failure.h"
#include "mms/mms_io.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <gst/base/gstbasesrc.h>
#include <libmms/mmsx.h>
#include <new>

GST_DEBUG_CATEGORY_STATIC(mms_src_debug);
#define GST_CAT_DEFAULT mms_src_debug

namespace {

// Offered to libmms's stream selection: high enough that the best audio
// stream of a station is always chosen.
constexpr int kBandwidth = 100 * 1000 * 1000;

enum { PROP_0, PROP_LOCATION };

struct MmsSrcState {
    gchar *location = nullptr; // under the object lock
    guint64 size = 0;          // under the object lock; 0 while unknown
    std::atomic<int> seekable{0};

    // Streaming thread only (and start()/stop(), when it is not running).
    MmsIo io;
    mmsx_t *conn = nullptr;
    guint64 position = 0; // byte offset of the next byte libmms hands us
    bool broken = false;  // an interrupted exchange left libmms mid-chunk
    bool discont = false; // the next buffer does not follow the last one
};

} // namespace

struct MmsSrc {
    GstBaseSrc parent;
    MmsSrcState state;
};

struct MmsSrcClass {
    GstBaseSrcClass parent_class;
};

static void mms_src_uri_handler_init(gpointer iface, gpointer data);

G_DEFINE_TYPE_WITH_CODE(MmsSrc, mms_src, GST_TYPE_BASE_SRC,
                        G_IMPLEMENT_INTERFACE(GST_TYPE_URI_HANDLER, mms_src_uri_handler_init))

namespace {

MmsSrc *as_mms_src(gpointer p) {
    return static_cast<MmsSrc *>(p);
}

GstStaticPadTemplate src_template =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS("video/x-ms-asf"));

// One place posts every error (the macro expands to a lot of code each time).
void post_error(MmsSrc *self, GstResourceError code, const char *text) {
    gst_element_message_full(GST_ELEMENT(self), GST_MESSAGE_ERROR, GST_RESOURCE_ERROR, code,
                             g_strdup(text), nullptr, __FILE__, GST_FUNCTION, __LINE__);
}

GstResourceError resource_error(MmsErrorKind kind) {
    switch (kind) {
    case MmsErrorKind::NotFound:
        return GST_RESOURCE_ERROR_NOT_FOUND;
    case MmsErrorKind::NotAuthorized:
        return GST_RESOURCE_ERROR_NOT_AUTHORIZED;
    case MmsErrorKind::Read:
        return GST_RESOURCE_ERROR_READ;
    case MmsErrorKind::OpenRead:
        break;
    }
    return GST_RESOURCE_ERROR_OPEN_READ;
}

void close_connection(MmsSrcState &st) {
    if (st.conn)
        mmsx_close(st.conn);
    st.conn = nullptr;
}

// Makes the byte length known to GstBaseSrc (its duration in bytes) now
// that libmms has read the header, and tells the application to ask again.
void publish_size(MmsSrc *self, guint64 size) {
    GST_OBJECT_LOCK(self);
    self->state.size = size;
    self->parent.segment.duration = static_cast<gint64>(size);
    GST_OBJECT_UNLOCK(self);
    gst_element_post_message(GST_ELEMENT(self), gst_message_new_duration_changed(GST_OBJECT(self)));
}

// A live stream picked up again after an interruption starts once more with
// its header, which must not reach the demuxer in the middle of the stream.
void skip_header(MmsSrcState &st) {
    guint32 left = mmsx_get_asf_header_len(st.conn);
    char scratch[1024];
    while (left > 0 && !st.io.interrupted()) {
        int want =
            left < sizeof scratch ? static_cast<int>(left) : static_cast<int>(sizeof scratch);
        int n = mmsx_read(st.io.table(), st.conn, scratch, want);
        if (n <= 0)
            break;
        left -= static_cast<guint32>(n);
    }
}

GstFlowReturn open_connection(MmsSrc *self, guint64 offset) {
    MmsSrcState &st = self->state;
    GST_OBJECT_LOCK(self);
    GCharPtr location(g_strdup(st.location));
    GST_OBJECT_UNLOCK(self);

    GST_DEBUG_OBJECT(self, "connecting to %s", location.get());
    st.io.begin_connect();
    mmsx_t *conn = mmsx_connect(st.io.table(), nullptr, location.get(), kBandwidth);
    if (!conn) {
        if (st.io.interrupted())
            return GST_FLOW_FLUSHING;
        char text[512];
        MmsErrorKind kind =
            mms_describe_open_failure(st.io.connect_failure(), location.get(), text, sizeof text);
        post_error(self, resource_error(kind), text);
        return GST_FLOW_ERROR;
    }

    bool resumed = st.broken;
    st.conn = conn;
    st.broken = false;
    st.position = 0;
    int seekable = mmsx_get_seekable(conn);
    st.seekable.store(seekable ? 1 : 0);
    guint64 length = mmsx_get_length(conn);
    guint32 header = mmsx_get_asf_header_len(conn);
    GST_DEBUG_OBJECT(self, "connected: seekable %d, length %" G_GUINT64_FORMAT ", header %u",
                     seekable, length, header);
    // A broadcast has no meaningful length; its header may say anything.
    if (seekable && length > header)
        publish_size(self, length);

    if (offset > 0 && !seekable) {
        skip_header(st);
        st.position = offset;
    }
    st.discont = resumed;
    return GST_FLOW_OK;
}

GstFlowReturn reposition(MmsSrc *self, guint64 offset) {
    MmsSrcState &st = self->state;
    if (!st.seekable.load()) {
        // Cannot happen through a seek (we refuse those); keep counting.
        st.position = offset;
        return GST_FLOW_OK;
    }
    GST_DEBUG_OBJECT(self, "seeking from %" G_GUINT64_FORMAT " to %" G_GUINT64_FORMAT, st.position,
                     offset);
    st.io.clear_error();
    mms_off_t got = mmsx_seek(st.io.table(), st.conn, static_cast<mms_off_t>(offset), SEEK_SET);
    if (st.io.interrupted()) {
        st.broken = true;
        return GST_FLOW_FLUSHING;
    }
    if (got < 0) {
        // libmms seeks by asking the server anew; say why that failed when
        // the new request itself did, else that the stream cannot go there.
        char text[512];
        const MmsAttempt &attempt = st.io.current();
        if (attempt.failed)
            mms_describe_open_failure(attempt, "", text, sizeof text);
        else
            mms_describe_seek_failure(attempt, offset, text, sizeof text);
        post_error(self, GST_RESOURCE_ERROR_SEEK, text);
        return GST_FLOW_ERROR;
    }
    if (static_cast<guint64>(got) != offset)
        GST_WARNING_OBJECT(self,
                           "server resumed at byte %" G_GINT64_FORMAT " for %" G_GUINT64_FORMAT,
                           static_cast<gint64>(got), offset);
    st.position = offset;
    st.discont = true;
    return GST_FLOW_OK;
}

GstFlowReturn read_block(MmsSrc *self, guint length, GstBuffer **out) {
    MmsSrcState &st = self->state;
    if (length > G_MAXINT)
        length = G_MAXINT;
    GstBuffer *buf = gst_buffer_new_allocate(nullptr, length, nullptr);
    GstMapInfo map;
    if (!buf || !gst_buffer_map(buf, &map, GST_MAP_WRITE)) {
        if (buf)
            gst_buffer_unref(buf);
        post_error(self, GST_RESOURCE_ERROR_READ, "Out of memory");
        return GST_FLOW_ERROR;
    }
    st.io.clear_error();
    int n = mmsx_read(st.io.table(), st.conn, reinterpret_cast<char *>(map.data),
                      static_cast<int>(length));
    gst_buffer_unmap(buf, &map);

    if (st.io.interrupted()) {
        gst_buffer_unref(buf);
        st.broken = true;
        return GST_FLOW_FLUSHING;
    }
    if (st.io.error() != 0) {
        gst_buffer_unref(buf);
        char text[512];
        mms_describe_read_failure(st.io.current(), st.io.error(), text, sizeof text);
        post_error(self, GST_RESOURCE_ERROR_READ, text);
        return GST_FLOW_ERROR;
    }
    if (n <= 0) {
        gst_buffer_unref(buf);
        GST_DEBUG_OBJECT(self, "end of stream at byte %" G_GUINT64_FORMAT, st.position);
        return GST_FLOW_EOS;
    }
    gst_buffer_set_size(buf, n);
    GST_BUFFER_OFFSET(buf) = st.position;
    GST_BUFFER_OFFSET_END(buf) = st.position + static_cast<guint64>(n);
    if (st.discont) {
        GST_BUFFER_FLAG_SET(buf, GST_BUFFER_FLAG_DISCONT);
        st.discont = false;
    }
    st.position += static_cast<guint64>(n);
    *out = buf;
    return GST_FLOW_OK;
}

GstFlowReturn mms_src_create(GstBaseSrc *base, guint64 offset, guint length, GstBuffer **out) {
    MmsSrc *self = as_mms_src(base);
    MmsSrcState &st = self->state;
    if (st.io.interrupted())
        return GST_FLOW_FLUSHING;
    // libmms cannot pick up a connection whose exchange we cut off: start a
    // new one and move to where the reader is.
    if (st.conn && st.broken)
        close_connection(st);
    GstFlowReturn ret;
    if (!st.conn && (ret = open_connection(self, offset)) != GST_FLOW_OK)
        return ret;
    if (offset != st.position && (ret = reposition(self, offset)) != GST_FLOW_OK)
        return ret;
    return read_block(self, length, out);
}

gboolean mms_src_start(GstBaseSrc *base) {
    MmsSrc *self = as_mms_src(base);
    MmsSrcState &st = self->state;
    if (!st.io.open()) {
        GST_ERROR_OBJECT(self, "eventfd: %s", g_strerror(errno));
        post_error(self, GST_RESOURCE_ERROR_OPEN_READ, "Could not prepare the connection");
        return FALSE;
    }
    GST_OBJECT_LOCK(self);
    bool have_location = st.location && st.location[0];
    st.size = 0;
    GST_OBJECT_UNLOCK(self);
    if (!have_location) {
        post_error(self, GST_RESOURCE_ERROR_NOT_FOUND, "No location set");
        return FALSE;
    }
    st.io.resume();
    st.seekable.store(0);
    st.position = 0;
    st.broken = false;
    st.discont = false;
    return TRUE;
}

gboolean mms_src_stop(GstBaseSrc *base) {
    MmsSrc *self = as_mms_src(base);
    close_connection(self->state);
    self->state.seekable.store(0);
    GST_OBJECT_LOCK(self);
    self->state.size = 0;
    GST_OBJECT_UNLOCK(self);
    return TRUE;
}

gboolean mms_src_unlock(GstBaseSrc *base) {
    as_mms_src(base)->state.io.interrupt();
    return TRUE;
}

gboolean mms_src_unlock_stop(GstBaseSrc *base) {
    as_mms_src(base)->state.io.resume();
    return TRUE;
}

gboolean mms_src_is_seekable(GstBaseSrc *base) {
    return as_mms_src(base)->state.seekable.load() != 0;
}

gboolean mms_src_get_size(GstBaseSrc *base, guint64 *size) {
    MmsSrc *self = as_mms_src(base);
    GST_OBJECT_LOCK(self);
    guint64 known = self->state.size;
    GST_OBJECT_UNLOCK(self);
    if (known == 0)
        return FALSE;
    *size = known;
    return TRUE;
}

bool set_location(MmsSrc *self, const gchar *location, GError **error) {
    GST_OBJECT_LOCK(self);
    if (GST_STATE(self) > GST_STATE_READY) {
        GST_OBJECT_UNLOCK(self);
        g_set_error(error, GST_URI_ERROR, GST_URI_ERROR_BAD_STATE,
                    "The location can only be changed while the element is stopped");
        return false;
    }
    g_free(self->state.location);
    self->state.location = g_strdup(location);
    GST_OBJECT_UNLOCK(self);
    return true;
}

void mms_src_set_property(GObject *object, guint id, const GValue *value, GParamSpec *pspec) {
    MmsSrc *self = as_mms_src(object);
    switch (id) {
    case PROP_LOCATION: {
        GErrorPtr error;
        if (!set_location(self, g_value_get_string(value), error.out()))
            GST_WARNING_OBJECT(self, "%s", error->message);
        break;
    }
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
}

void mms_src_get_property(GObject *object, guint id, GValue *value, GParamSpec *pspec) {
    MmsSrc *self = as_mms_src(object);
    switch (id) {
    case PROP_LOCATION:
        GST_OBJECT_LOCK(self);
        g_value_set_string(value, self->state.location);
        GST_OBJECT_UNLOCK(self);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
}

void mms_src_finalize(GObject *object) {
    MmsSrc *self = as_mms_src(object);
    close_connection(self->state);
    g_free(self->state.location);
    self->state.~MmsSrcState();
    G_OBJECT_CLASS(mms_src_parent_class)->finalize(object);
}

GstURIType uri_get_type(GType) {
    return GST_URI_SRC;
}

const gchar *const *uri_get_protocols(GType) {
    // "mms" tries MMS over HTTP, then over TCP; the others name one of them.
    static const gchar *const protocols[] = {"mms", "mmsh", "mmst", nullptr};
    return protocols;
}

gchar *uri_get_uri(GstURIHandler *handler) {
    MmsSrc *self = as_mms_src(handler);
    GST_OBJECT_LOCK(self);
    gchar *uri = g_strdup(self->state.location);
    GST_OBJECT_UNLOCK(self);
    return uri;
}

gboolean uri_set_uri(GstURIHandler *handler, const gchar *uri, GError **error) {
    return set_location(as_mms_src(handler), uri, error) ? TRUE : FALSE;
}

} // namespace

static void mms_src_uri_handler_init(gpointer iface, gpointer) {
    auto *handler = static_cast<GstURIHandlerInterface *>(iface);
    handler->get_type = uri_get_type;
    handler->get_protocols = uri_get_protocols;
    handler->get_uri = uri_get_uri;
    handler->set_uri = uri_set_uri;
}

static void mms_src_class_init(MmsSrcClass *klass) {
    GObjectClass *object_class = G_OBJECT_CLASS(klass);
    GstElementClass *element_class = GST_ELEMENT_CLASS(klass);
    GstBaseSrcClass *base_class = GST_BASE_SRC_CLASS(klass);

    GST_DEBUG_CATEGORY_INIT(mms_src_debug, "mmssrc", 0, "MMS stream source");

    object_class->set_property = mms_src_set_property;
    object_class->get_property = mms_src_get_property;
    object_class->finalize = mms_src_finalize;

    g_object_class_install_property(
        object_class, PROP_LOCATION,
        g_param_spec_string("location", "Location",
                            "mms://, mmsh:// or mmst:// location of the stream", nullptr,
                            static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));

    gst_element_class_set_static_metadata(element_class, "MMS stream source", "Source/Network",
                                          "Receives a Windows Media stream over MMS over TCP "
                                          "or over HTTP",
                                          "sorvel");
    gst_element_class_add_static_pad_template(element_class, &src_template);

    base_class->start = mms_src_start;
    base_class->stop = mms_src_stop;
    base_class->unlock = mms_src_unlock;
    base_class->unlock_stop = mms_src_unlock_stop;
    base_class->is_seekable = mms_src_is_seekable;
    base_class->get_size = mms_src_get_size;
    base_class->create = mms_src_create;
}

static void mms_src_init(MmsSrc *self) {
    new (&self->state) MmsSrcState();
    GstBaseSrc *base = GST_BASE_SRC(self);
    gst_base_src_set_format(base, GST_FORMAT_BYTES);
    // libmms knows when the stream ends; a length computed from the header
    // must not cut it short.
    gst_base_src_set_automatic_eos(base, FALSE);
}

bool mms_src_register() {
    GstElementFactory *existing = gst_element_factory_find("mmssrc");
    if (existing) {
        gst_object_unref(existing);
        return true;
    }
    return gst_element_register(nullptr, "mmssrc", GST_RANK_SECONDARY, mms_src_get_type()) != FALSE;
}
