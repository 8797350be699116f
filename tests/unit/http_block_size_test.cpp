#include "http_block_size.h"
#include "pipeline.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

namespace {

constexpr size_t kBody = 16 << 20;

// One HTTP response of kBody bytes to the first client, as fast as the
// loopback link takes it: faster than any station's own pace.
gpointer serve_fast(gpointer listener) {
    int client = accept(GPOINTER_TO_INT(listener), nullptr, nullptr);
    if (client < 0)
        return nullptr;
    char buf[1 << 16];
    (void)recv(client, buf, sizeof buf, 0);
    int n = snprintf(buf, sizeof buf, "HTTP/1.0 200 OK\r\nContent-Length: %zu\r\n\r\n", kBody);
    bool ok = send(client, buf, static_cast<size_t>(n), MSG_NOSIGNAL) == n;
    for (size_t left = kBody; ok && left > 0;) {
        ssize_t sent = send(client, buf, left < sizeof buf ? left : sizeof buf, MSG_NOSIGNAL);
        ok = sent > 0;
        left -= ok ? static_cast<size_t>(sent) : 0;
    }
    close(client);
    return nullptr;
}

struct Received {
    size_t largest = 0;
    size_t total = 0;
};

GstPadProbeReturn count_buffer(GstPad *, GstPadProbeInfo *info, gpointer data) {
    auto *received = static_cast<Received *>(data);
    size_t size = gst_buffer_get_size(GST_PAD_PROBE_INFO_BUFFER(info));
    received->total += size;
    received->largest = size > received->largest ? size : received->largest;
    return GST_PAD_PROBE_OK;
}

// Left alone, the source doubled its reads while they came back full and
// handed on buffers of MB each, which the heap then kept.
TEST(HttpBlockSize, FastServerStillGivesBoundedBuffers) {
    gst_init(nullptr, nullptr);
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(0, bind(listener, reinterpret_cast<sockaddr *>(&address), length));
    ASSERT_EQ(0, listen(listener, 1));
    ASSERT_EQ(0, getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length));
    GThread *server = g_thread_new("fast-server", serve_fast, GINT_TO_POINTER(listener));
    char url[64];
    snprintf(url, sizeof url, "http://127.0.0.1:%d/", ntohs(address.sin_port));

    GstElement *pipeline = gst_pipeline_new("fast");
    GstElement *source = create_source("souphttpsrc", "source", url);
    GstElement *sink = gst_element_factory_make("fakesink", "sink");
    ASSERT_TRUE(source && sink);
    gst_bin_add_many(GST_BIN(pipeline), source, sink, nullptr);
    ASSERT_TRUE(gst_element_link(source, sink));
    Received received;
    GstPad *pad = gst_element_get_static_pad(sink, "sink");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, count_buffer, &received, nullptr);
    gst_object_unref(pad);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus *bus = gst_element_get_bus(pipeline);
    GstMessage *end = gst_bus_timed_pop_filtered(
        bus, 60 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    EXPECT_TRUE(end && GST_MESSAGE_TYPE(end) == GST_MESSAGE_EOS);
    if (end)
        gst_message_unref(end);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    g_thread_join(server);
    close(listener);

    // Every byte arrives, none of it in an oversized buffer, and reads still
    // grow past the source's first size where the data is there.
    EXPECT_EQ(kBody, received.total);
    EXPECT_LE(received.largest, kHttpMaxBlockSize);
    EXPECT_GT(received.largest, 4096u);
}

} // namespace
