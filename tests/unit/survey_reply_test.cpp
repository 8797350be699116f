#include "survey_reply.h"

#include "shared.h"

#include <gtest/gtest.h>

#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

namespace {

constexpr size_t kHeader = 115;

struct Rec {
    std::string channel = "  6";
    std::string ssid = "HomeNet";
    std::string yes = "YES";
    std::string pbc = "PBC";
};

// Writes `text` over the bytes of `s` from `pos` on.
void put(std::string &s, size_t pos, const std::string &text) {
    s.replace(pos, text.size(), text);
}

// One 115-byte record laid out as the driver prints its survey table.
std::string record(const Rec &r) {
    std::string s(kSurveyRecordSize, ' ');
    put(s, 0, r.channel.substr(0, 3));
    put(s, 4, r.ssid.substr(0, 32));
    put(s, 37, "00:11:22:33:44:55");
    put(s, 56, "WPA2PSK");
    put(s, 105, r.yes);
    put(s, 110, r.pbc);
    return s;
}

std::string header() {
    std::string h(kHeader, ' ');
    const std::string title = "Ch  SSID                            BSSID";
    h.replace(0, title.size(), title);
    h[kHeader - 1] = '\n';
    return h;
}

// The survey buffer as the client hands it over: cleared, then the reply.
struct Reply {
    char buf[kSurveyBufferSize] = {};
    unsigned reported = 0;

    explicit Reply(const std::string &text) {
        memcpy(buf, text.data(), text.size() < sizeof buf ? text.size() : sizeof buf);
        reported = static_cast<unsigned>(text.size() + 1);
    }
    bool choose(PbcAp *ap) const { return choose_pbc_ap(buf, sizeof buf, reported, ap, trim_r); }
};

TEST(SurveyReply, SinglePbcRecordGivesTrimmedSsidAndChannel) {
    Rec r;
    r.ssid = "My Home Net";
    PbcAp ap{};
    ASSERT_TRUE(
        Reply(header() + record(Rec{"  1", "Other", "NO ", "   "}) + record(r)).choose(&ap));
    EXPECT_STREQ("My Home Net", ap.ssid);
    EXPECT_EQ(6, ap.channel);

    // A 32-character SSID fills its field; the byte after it is not part of it.
    std::string full = record(Rec{"149", std::string(32, 'S'), "YES", "PBC"});
    full[36] = 'X';
    ASSERT_TRUE(Reply(header() + full).choose(&ap));
    EXPECT_EQ(std::string(32, 'S'), ap.ssid);
    EXPECT_EQ(149, ap.channel);

    // Tabs and other trailing white space go as well.
    ASSERT_TRUE(Reply(header() + record(Rec{" 11", "Lab\t \r", "YES", "PBC"})).choose(&ap));
    EXPECT_STREQ("Lab", ap.ssid);
    EXPECT_EQ(11, ap.channel);
}

// The router's own trim decides what a blank is: one that also strips dots
// turns "..." into an empty SSID, which chooses nothing. It sees a copy only.
char *trim_dots_and_spaces(char *text) {
    size_t n = strlen(text);
    while (n > 0 && (text[n - 1] == '.' || text[n - 1] == ' '))
        --n;
    text[n] = '\0';
    return text;
}

TEST(SurveyReply, SsidIsTrimmedByTheGivenTrim) {
    Reply dotted(header() + record(Rec{"  6", "Cafe...", "YES", "PBC"}));
    PbcAp ap{};
    ASSERT_TRUE(
        choose_pbc_ap(dotted.buf, sizeof dotted.buf, dotted.reported, &ap, trim_dots_and_spaces));
    EXPECT_STREQ("Cafe", ap.ssid);
    EXPECT_EQ(0, memcmp(dotted.buf + kHeader + 4, "Cafe...", 7));

    Reply dots(header() + record(Rec{"  6", "...", "YES", "PBC"}));
    EXPECT_TRUE(dots.choose(&ap));
    EXPECT_FALSE(
        choose_pbc_ap(dots.buf, sizeof dots.buf, dots.reported, &ap, trim_dots_and_spaces));
}

TEST(SurveyReply, ChannelColumnReadsLikeAtoi) {
    EXPECT_EQ(6, survey_channel_value("  6"));
    EXPECT_EQ(149, survey_channel_value("149"));
    EXPECT_EQ(36, survey_channel_value(" 36"));
    EXPECT_EQ(1, survey_channel_value("1 2"));
    EXPECT_EQ(-1, survey_channel_value(" -1"));
    EXPECT_EQ(0, survey_channel_value("   "));
    EXPECT_EQ(0, survey_channel_value("ch6"));
    // The field is exactly three bytes: a fourth digit is not read.
    const char wide[] = "1491";
    EXPECT_EQ(149, survey_channel_value(wide));
}

TEST(SurveyReply, AnythingButExactlyOnePbcApChoosesNothing) {
    PbcAp ap{};
    ap.channel = -7;
    const std::string one = record(Rec{});
    const std::string two = record(Rec{" 11", "Neighbour", "YES", "PBC"});
    EXPECT_FALSE(Reply(header() + one + two).choose(&ap));
    EXPECT_FALSE(Reply(header() + one + one).choose(&ap));
    EXPECT_FALSE(Reply(header() + record(Rec{"  6", "", "YES", "PBC"})).choose(&ap));
    EXPECT_FALSE(Reply(header() + record(Rec{"  6", "    ", "YES", "PBC"})).choose(&ap));
    // A blank-SSID PBC AP still counts: with a named one there are two.
    EXPECT_FALSE(Reply(header() + record(Rec{"  6", "", "YES", "PBC"}) + two).choose(&ap));
    EXPECT_FALSE(Reply(header() + record(Rec{"  6", "x", "NO", "PBC"})).choose(&ap));
    // Left untouched on every refusal.
    EXPECT_EQ(-7, ap.channel);
}

TEST(SurveyReply, ColumnsMatchCaseSensitivelyAtTheirExactOffsets) {
    PbcAp ap{};
    EXPECT_FALSE(Reply(header() + record(Rec{"  6", "x", "yes", "PBC"})).choose(&ap));
    EXPECT_FALSE(Reply(header() + record(Rec{"  6", "x", "YES", "pbc"})).choose(&ap));

    std::string early = record(Rec{"  6", "x", "", ""});
    early.replace(104, 3, "YES");
    early.replace(110, 3, "PBC");
    EXPECT_FALSE(Reply(header() + early).choose(&ap));
    std::string late = record(Rec{"  6", "x", "YES", ""});
    late.replace(111, 3, "PBC");
    EXPECT_FALSE(Reply(header() + late).choose(&ap));

    // The neighbouring bytes of each column do not matter.
    std::string padded = record(Rec{"  6", "x", "YES", "PBC"});
    padded[104] = '[';
    padded[108] = ']';
    padded[109] = '<';
    padded[113] = '>';
    padded[114] = '|';
    EXPECT_TRUE(Reply(header() + padded).choose(&ap));
}

TEST(SurveyReply, ShortOrEmptyRepliesChooseNothing) {
    PbcAp ap{};
    EXPECT_FALSE(Reply("").choose(&ap));
    EXPECT_FALSE(Reply(header().substr(0, 60)).choose(&ap));
    EXPECT_FALSE(Reply(header()).choose(&ap));

    // A reported length of 0 means no table, whatever the buffer holds.
    Reply zero(header() + record(Rec{}));
    zero.reported = 0;
    EXPECT_FALSE(zero.choose(&ap));

    // The text ends at the NUL: a record after it is not read.
    Reply gap(header() + record(Rec{"  1", "a", "NO", ""}));
    const std::string hidden = record(Rec{});
    memcpy(gap.buf + kHeader + kSurveyRecordSize + 1, hidden.data(), hidden.size());
    EXPECT_FALSE(gap.choose(&ap));
}

TEST(SurveyReply, LastRecordCutShortIsExaminedWithTheRestAsNul) {
    PbcAp ap{};
    const std::string rec = record(Rec{"  6", "Cut", "YES", "PBC"});
    ASSERT_TRUE(Reply(header() + rec.substr(0, 113)).choose(&ap));
    EXPECT_STREQ("Cut", ap.ssid);
    EXPECT_FALSE(Reply(header() + rec.substr(0, 112)).choose(&ap));
    EXPECT_FALSE(Reply(header() + rec.substr(0, 20)).choose(&ap));

    // Bytes a driver left behind the terminating NUL still read as NUL.
    Reply junk(header() + rec.substr(0, 50));
    memcpy(junk.buf + kHeader + 51, rec.data() + 51, kSurveyRecordSize - 51);
    EXPECT_FALSE(junk.choose(&ap));

    // A cut-short SSID ends where the text ends.
    ASSERT_TRUE(Reply(header() + record(Rec{" 11", "a", "YES", "PBC"}) + record(Rec{}).substr(0, 7))
                    .choose(&ap));
    EXPECT_STREQ("a", ap.ssid);
}

// The survey buffer placed right before an inaccessible page: a read past its
// end is a crash, not a silent over-read.
class GuardedBuffer {
  public:
    GuardedBuffer() {
        page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        span_ = (kSurveyBufferSize + page_ - 1) / page_ * page_ + page_;
        void *m = mmap(nullptr, span_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (m == MAP_FAILED)
            return;
        base_ = static_cast<char *>(m);
        guard_ = base_ + span_ - page_;
        if (mprotect(guard_, page_, PROT_NONE) != 0)
            return;
        buf_ = guard_ - kSurveyBufferSize;
    }
    ~GuardedBuffer() {
        if (base_)
            munmap(base_, span_);
    }
    char *buf() const { return buf_; }

  private:
    size_t page_ = 0, span_ = 0;
    char *base_ = nullptr, *guard_ = nullptr, *buf_ = nullptr;
};

TEST(SurveyReply, ReplyFillingTheWholeBufferIsReadOnlyInsideIt) {
    GuardedBuffer g;
    ASSERT_NE(nullptr, g.buf());
    char *buf = g.buf();

    // Header, 70 whole records, and the start of a 71st; no NUL anywhere.
    std::string text = header();
    for (int k = 0; k < 69; ++k)
        text += record(Rec{"  1", "ap" + std::to_string(k), "NO", "   "});
    text += record(Rec{" 44", "Seventieth", "YES", "PBC"});
    ASSERT_EQ(kSurveyBufferSize - 27, text.size());
    text += std::string(27, 'Z');
    memcpy(buf, text.data(), kSurveyBufferSize);

    PbcAp ap{};
    // The driver's length cannot widen the reply past the buffer.
    ASSERT_TRUE(choose_pbc_ap(buf, kSurveyBufferSize, 65535, &ap, trim_r));
    EXPECT_STREQ("Seventieth", ap.ssid);
    EXPECT_EQ(44, ap.channel);

    // Same with the partial 71st record looking like the start of a PBC AP.
    std::string partial = record(Rec{"  9", "Beyond", "YES", "PBC"}).substr(0, 27);
    memcpy(buf + kSurveyBufferSize - 27, partial.data(), 27);
    ASSERT_TRUE(choose_pbc_ap(buf, kSurveyBufferSize, 8192, &ap, trim_r));
    EXPECT_STREQ("Seventieth", ap.ssid);

    // Without a PBC AP among the whole records nothing is chosen, and the
    // text running to the guard page is not followed past it.
    memcpy(buf + kHeader + 69 * kSurveyRecordSize, record(Rec{"  1", "x", "NO", ""}).data(),
           kSurveyRecordSize);
    EXPECT_FALSE(choose_pbc_ap(buf, kSurveyBufferSize, 8192, &ap, trim_r));
}

} // namespace
