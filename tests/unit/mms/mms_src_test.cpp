#include "mms/mms_src.h"

#include <arpa/inet.h>
#include <chrono>
#include <gst/gst.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

class MmsSrcTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        gst_init(nullptr, nullptr);
        ASSERT_TRUE(mms_src_register());
    }
};

TEST_F(MmsSrcTest, RegistersOnceAndHandlesMmsUris) {
    EXPECT_TRUE(mms_src_register()) << "a second call finds the factory and keeps it";
    GstElementFactory *factory = gst_element_factory_find("mmssrc");
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(gst_element_factory_get_element_type(factory), mms_src_get_type());
    gst_object_unref(factory);

    GstElement *src =
        gst_element_make_from_uri(GST_URI_SRC, "mmsh://radio.example/live", nullptr, nullptr);
    ASSERT_NE(src, nullptr);
    gchar *location = nullptr;
    g_object_get(src, "location", &location, nullptr);
    EXPECT_STREQ(location, "mmsh://radio.example/live");
    g_free(location);
    gst_object_unref(src);
}

// Runs src ! fakesink and returns the first error message text, or "" at EOS.
std::string first_error(const std::string &location) {
    GstElement *pipeline =
        gst_parse_launch(("mmssrc location=" + location + " ! fakesink").c_str(), nullptr);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus *bus = gst_element_get_bus(pipeline);
    GstMessage *msg = gst_bus_timed_pop_filtered(
        bus, 5 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS));
    std::string text = msg ? "" : "(nothing)";
    if (msg && GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR) {
        GError *error = nullptr;
        gst_message_parse_error(msg, &error, nullptr);
        text = error->message;
        EXPECT_EQ(error->domain, GST_RESOURCE_ERROR);
        g_error_free(error);
    }
    if (msg)
        gst_message_unref(msg);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return text;
}

TEST_F(MmsSrcTest, FailuresBecomeReadableResourceErrors) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
    int port = ntohs(addr.sin_port);
    close(fd); // nobody listens there now

    EXPECT_EQ(first_error("mmsh://127.0.0.1:" + std::to_string(port) + "/x"),
              "Could not connect to 127.0.0.1:" + std::to_string(port) + ": Connection refused");
    EXPECT_EQ(first_error("mmsh:nothing"), "Not a valid MMS location: mmsh:nothing");
}

TEST_F(MmsSrcTest, StoppingDoesNotWaitForASilentServer) {
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    socklen_t len = sizeof addr;
    getsockname(listener, reinterpret_cast<sockaddr *>(&addr), &len);
    std::string location = "mmsh://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/live";

    GstElement *pipeline =
        gst_parse_launch(("mmssrc location=" + location + " ! fakesink").c_str(), nullptr);
    ASSERT_NE(pipeline, nullptr);
    auto started = Clock::now();
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(500))
        << "the state change must not wait for the server";

    // The element connects and sends its request; the server never answers.
    pollfd pfd = {listener, POLLIN, 0};
    ASSERT_EQ(poll(&pfd, 1, 5000), 1);
    int peer = accept(listener, nullptr, nullptr);
    char request[512];
    EXPECT_GT(read(peer, request, sizeof request), 0);

    started = Clock::now();
    gst_element_set_state(pipeline, GST_STATE_NULL);
    EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(500));
    gst_object_unref(pipeline);
    close(peer);
    close(listener);
}

} // namespace
