#include "report/title_file.h"

#include "player_state.h"
#include "report/now_playing_title.h"
#include "report/status_files.h"

#include <cerrno>
#include <cstring>
#include <string_view>
#include <unistd.h>

namespace {

// What the file holds now (length 0: no file), so that the many tag
// messages repeating the same title (bitrate updates carry it along) cost
// no write.
TitleText shown;

std::string_view peek_tag(const GstTagList *tags, const char *name) {
    const gchar *value = nullptr;
    if (!gst_tag_list_peek_string_index(tags, name, 0, &value) || !value)
        return {};
    return value;
}

} // namespace

void note_title_tags(GstMessage *message) {
    // A playlist's server may describe itself in tags; that is not a title.
    if (player.sniffing)
        return;
    GstTagList *tags = nullptr;
    gst_message_parse_tag(message, &tags);
    if (!tags)
        return;
    const gchar *title = nullptr;
    const bool has_title = gst_tag_list_peek_string_index(tags, GST_TAG_TITLE, 0, &title);
    TitleText text;
    if (has_title)
        build_title_text(peek_tag(tags, GST_TAG_ARTIST), title ? title : "", &text);
    gst_tag_list_unref(tags);
    if (!has_title)
        return;

    if (text.length == shown.length && memcmp(text.bytes, shown.bytes, text.length) == 0)
        return;
    // A text that did not reach the file (no room in /tmp) is not shown:
    // the next tag with it tries again.
    const bool written = text.length == 0 ? unlink(kTitleFile) == 0 || errno == ENOENT
                                          : write_text_file(kTitleFile, text.bytes, text.length);
    if (written)
        shown = text;
}
