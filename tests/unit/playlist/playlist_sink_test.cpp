#include "playlist/playlist_sink.h"

#include "player_state.h"
#include "playlist/playlist.h"

#include <gst/app/gstappsrc.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string entry_of(const PlaylistText &text, bool uri_list = false) {
    auto found = find_playlist_location(text.view(), uri_list);
    return found ? std::string(text.view().substr(found->offset, found->length)) : "<no entry>";
}

// Kept off the stack: the text is as big as a thread's guard zone.
PlaylistText scratch;

TEST(PlaylistText, PiecesParseLikeTheWhole) {
    const std::string pls = "[playlist]\r\nNumberOfEntries=1\r\nFile1=http://radio/live\r\n";
    const std::string asx = "<asx version=\"3.0\"><entry><ref href=\"http://1/\"/>"
                            "<ref href=\"http://2/\"/></entry></asx>";
    const std::string m3u = "#EXTM3U\r\n#EXTINF:-1,x\r\nhttp://m3u/\r\n";
    struct Case {
        const std::string &text;
        bool uri_list;
        const char *entry;
    };
    for (const Case &c : {Case{pls, false, "http://radio/live"}, Case{asx, false, "http://2/"},
                          Case{m3u, true, "http://m3u/"}}) {
        // Split in two at every point: a marker or an entry cut across
        // network reads must not change the result.
        for (std::size_t cut = 0; cut <= c.text.size(); ++cut) {
            scratch.clear();
            scratch.append(c.text.data(), cut);
            scratch.append(c.text.data() + cut, c.text.size() - cut);
            ASSERT_EQ(entry_of(scratch, c.uri_list), c.entry) << "cut at " << cut;
        }
        scratch.clear();
        for (char byte : c.text) {
            scratch.append(&byte, 1);
        }
        EXPECT_EQ(entry_of(scratch, c.uri_list), c.entry);
    }
}

TEST(PlaylistText, KeepsWhatFitsAndSaysWhenFull) {
    scratch.clear();
    const std::string head = "[playlist]\nFile1=http://kept/\n";
    EXPECT_TRUE(scratch.append(head.data(), head.size()));
    const std::string filler(kPlaylistTextCapacity, 'x');
    EXPECT_FALSE(scratch.append(filler.data(), filler.size()));
    EXPECT_EQ(scratch.view().size(), kPlaylistTextCapacity);
    EXPECT_FALSE(scratch.append("y", 1));
    EXPECT_EQ(scratch.view().size(), kPlaylistTextCapacity);
    EXPECT_EQ(scratch.view().back(), 'x');
    EXPECT_EQ(entry_of(scratch), "http://kept/");

    // Exactly full is full: nothing more could be kept.
    scratch.clear();
    EXPECT_FALSE(scratch.append(filler.data(), filler.size()));
    scratch.clear();
    EXPECT_TRUE(scratch.append(filler.data(), filler.size() - 1));
}

// The real sink, fed through a real pipeline: appsrc -> "myapp".
class PlaylistSinkPipeline : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { gst_init(nullptr, nullptr); }

    void SetUp() override {
        player.uri_list_seen.store(0);
        pipeline_ = gst_pipeline_new("pipeline");
        player.pipeline.store(pipeline_);
        source_ = gst_element_factory_make("appsrc", "source");
        sink_ = create_playlist_sink();
        ASSERT_NE(sink_, nullptr);
        gst_bin_add_many(GST_BIN(pipeline_), source_, sink_, nullptr);
        ASSERT_TRUE(gst_element_link(source_, sink_));
        gst_element_set_state(pipeline_, GST_STATE_PLAYING);
    }

    void TearDown() override {
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        gst_object_unref(pipeline_);
        gst_object_unref(sink_);
        player.pipeline.store(nullptr);
        g_free(take_redirect_location());
    }

    GstFlowReturn push(const std::string &bytes) {
        GstBuffer *buffer = gst_buffer_new_memdup(bytes.data(), bytes.size());
        return gst_app_src_push_buffer(GST_APP_SRC(source_), buffer);
    }

    // Ends the stream and waits for the sink to have seen everything.
    bool finish() {
        gst_app_src_end_of_stream(GST_APP_SRC(source_));
        return wait_for_eos();
    }

    bool wait_for_eos() {
        GstBus *bus = gst_element_get_bus(pipeline_);
        GstMessage *msg = gst_bus_timed_pop_filtered(
            bus, 10 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
        bool eos = msg && GST_MESSAGE_TYPE(msg) == GST_MESSAGE_EOS;
        if (msg)
            gst_message_unref(msg);
        gst_object_unref(bus);
        return eos;
    }

    std::string take() {
        gchar *location = take_redirect_location();
        std::string result = location ? location : "<no entry>";
        g_free(location);
        return result;
    }

    GstElement *pipeline_ = nullptr;
    GstElement *source_ = nullptr;
    GstElement *sink_ = nullptr;
};

TEST_F(PlaylistSinkPipeline, EntrySplitAcrossBuffersIsFound) {
    for (const char *piece : {"[play", "list]\r\nFile1=ht", "tp://split/entry", "\r\n"}) {
        ASSERT_EQ(push(piece), GST_FLOW_OK);
    }
    ASSERT_TRUE(finish());
    EXPECT_EQ(take(), "http://split/entry");
    // Handed over once: the text is released with it.
    EXPECT_EQ(take(), "<no entry>");
}

TEST_F(PlaylistSinkPipeline, UriListRuleFollowsTheDecodersFinding) {
    player.uri_list_seen.store(1);
    ASSERT_EQ(push("#EXTM3U\n"), GST_FLOW_OK);
    ASSERT_EQ(push("http://listed/\n"), GST_FLOW_OK);
    ASSERT_TRUE(finish());
    EXPECT_EQ(take(), "http://listed/");
}

TEST_F(PlaylistSinkPipeline, OverlongTextEndsThePlaylistStream) {
    ASSERT_EQ(push("[playlist]\nFile1=http://first/\n"), GST_FLOW_OK);
    const std::string filler(4096, 'x');
    for (int i = 0; i < 20; ++i) {
        (void)push(filler);
    }
    // The source never ends the stream here: a server that never stops.
    // The end of stream can only come from the sink, once its text is full.
    EXPECT_TRUE(wait_for_eos());
    EXPECT_EQ(take(), "http://first/");
}

} // namespace
