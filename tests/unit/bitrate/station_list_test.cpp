#include "player/bitrate/station_list.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace {

constexpr std::string_view kKey = "radio42";
// A station line in the layout the rewrite produces.
constexpr std::string_view kLine =
    "[\"Jazz\",\"http://jazz.example/\",\"Jazz\",\"128kbps\",radio42]\n";

std::string list_line(std::string_view text, int kbps, std::string_view key = kKey) {
    std::array<char, 1024> out{};
    auto r = rebuild_list_line(text, kbps, key, out.data(), out.size());
    return r ? std::string(*r) : std::string("<none>");
}

std::string user_entry(std::string_view value, int kbps, std::string_view key = kKey) {
    std::array<char, 1024> out{};
    auto r = rebuild_user_entry(value, kbps, key, out.data(), out.size());
    return r ? std::string(*r) : std::string("<none>");
}

TEST(StationList, KbpsTruncatesTowardZero) {
    EXPECT_EQ(bitrate_to_kbps(128000), 128);
    EXPECT_EQ(bitrate_to_kbps(44100), 44);
    EXPECT_EQ(bitrate_to_kbps(999), 0);
    EXPECT_EQ(bitrate_to_kbps(-1500), -1);
    EXPECT_EQ(bitrate_to_kbps(-999), 0);
}

TEST(StationList, ThirdComma) {
    EXPECT_EQ(find_third_comma("a,b,c,d"), 5u);
    EXPECT_EQ(find_third_comma(",,,"), 2u);
    EXPECT_EQ(find_third_comma("a,b,c"), std::nullopt);
    EXPECT_EQ(find_third_comma(""), std::nullopt);
}

TEST(StationList, RadioTableChoosesByLeadingNumber) {
    EXPECT_FALSE(radio_table_selects_user_list(nullptr));
    EXPECT_FALSE(radio_table_selects_user_list(""));
    EXPECT_FALSE(radio_table_selects_user_list("0"));
    EXPECT_FALSE(radio_table_selects_user_list("000"));
    EXPECT_FALSE(radio_table_selects_user_list("-0"));
    EXPECT_FALSE(radio_table_selects_user_list("abc1"));
    EXPECT_FALSE(radio_table_selects_user_list("0x1"));
    EXPECT_TRUE(radio_table_selects_user_list("1"));
    EXPECT_TRUE(radio_table_selects_user_list(" 2 tables"));
    EXPECT_TRUE(radio_table_selects_user_list("-1"));
    EXPECT_TRUE(radio_table_selects_user_list("+007"));
    // atoi would wrap this to an arbitrary value; it is plainly non-zero.
    EXPECT_TRUE(radio_table_selects_user_list("4294967296"));
}

TEST(StationList, ListLineNumberIsRightAlignedInThree) {
    const std::string_view old = kLine.substr(0, kLine.size() - 1);
    EXPECT_EQ(list_line(old, 128), old);
    EXPECT_EQ(list_line(old, 64),
              "[\"Jazz\",\"http://jazz.example/\",\"Jazz\",\" 64kbps\",radio42]");
    EXPECT_EQ(list_line(old, 0),
              "[\"Jazz\",\"http://jazz.example/\",\"Jazz\",\"  0kbps\",radio42]");
    EXPECT_EQ(list_line(old, -1),
              "[\"Jazz\",\"http://jazz.example/\",\"Jazz\",\" -1kbps\",radio42]");
    EXPECT_EQ(list_line(old, 1411),
              "[\"Jazz\",\"http://jazz.example/\",\"Jazz\",\"1411kbps\",radio42]");
}

TEST(StationList, RebuildKeepsOnlyTheFirstThreeFields) {
    EXPECT_EQ(list_line("a,b,c,d,e,f", 128), "a,b,c,\"128kbps\",radio42]");
    EXPECT_EQ(user_entry("a,b,c,d,e,f", 128), "a,b,c,\"128kbps\",radio42]");
    EXPECT_EQ(list_line("a,b,c", 128), "<none>");
    EXPECT_EQ(user_entry("a,b", 128), "<none>");
    EXPECT_EQ(user_entry("", 128), "<none>");
    // Bytes of the head are kept as they are, a NUL among them too.
    EXPECT_EQ(list_line(std::string_view("a\0b,c,d,e", 9), 128),
              std::string("a\0b,c,d,\"128kbps\",radio42]", 26));
}

TEST(StationList, UserEntryNumberIsUnpadded) {
    EXPECT_EQ(user_entry("Jazz,http://j/,x,\"1kbps\",radio42]", 128),
              "Jazz,http://j/,x,\"128kbps\",radio42]");
    EXPECT_EQ(user_entry("Jazz,http://j/,x,old", 64), "Jazz,http://j/,x,\"64kbps\",radio42]");
    EXPECT_EQ(user_entry("Jazz,http://j/,x,old", 0), "Jazz,http://j/,x,\"0kbps\",radio42]");
    EXPECT_EQ(user_entry("Jazz,http://j/,x,old", -1), "Jazz,http://j/,x,\"-1kbps\",radio42]");
}

TEST(StationList, KeyIsWrittenAsRead) {
    EXPECT_EQ(user_entry("a,b,c,d", 128, "radio42\n"), "a,b,c,\"128kbps\",radio42\n]");
    EXPECT_EQ(list_line("a,b,c,d", 128, "%s%n"), "a,b,c,\"128kbps\",%s%n]");
}

TEST(StationList, OverlongResultsAreRefused) {
    // ,"128kbps",radio42] is 19 characters.
    const std::string entry_head = "a,b," + std::string(130 - 4, 'x');
    EXPECT_EQ(user_entry(entry_head + ",old", 128).size(), 149u);
    EXPECT_EQ(user_entry(entry_head + "y,old", 128), "<none>");

    const std::string line_head = "a,b," + std::string(1004 - 4, 'x');
    EXPECT_EQ(list_line(line_head + ",old", 128).size(), 1023u);
    EXPECT_EQ(list_line(line_head + "y,old", 128), "<none>");

    // A buffer too small for the result never yields a cut-short text.
    std::array<char, 8> small{};
    EXPECT_FALSE(rebuild_user_entry("a,b,c,d", 128, kKey, small.data(), small.size()));
    EXPECT_FALSE(rebuild_list_line("abcdefgh,b,c,d", 128, kKey, small.data(), small.size()));
}

TEST(StationList, UrlLineMatchesOnItsBeginning) {
    EXPECT_TRUE(url_line_marks_station("radio42\n", kKey));
    EXPECT_TRUE(url_line_marks_station("radio42,more,fields\n", kKey));
    EXPECT_TRUE(url_line_marks_station("radio4200\n", kKey)); // the key is only its start
    EXPECT_FALSE(url_line_marks_station("x radio42\n", kKey));
    EXPECT_FALSE(url_line_marks_station("radio4", kKey));
    EXPECT_FALSE(url_line_marks_station("", kKey));
    // An empty key would otherwise mark every entry.
    EXPECT_FALSE(url_line_marks_station("radio42\n", ""));
    // A key read with its line end matches only a line that ends there.
    EXPECT_TRUE(url_line_marks_station("radio42\n", "radio42\n"));
    EXPECT_FALSE(url_line_marks_station("radio42,x\n", "radio42\n"));
}

ListLinePlan plan(std::string_view piece, int bitrate, std::string_view key,
                  std::array<char, 1024> &out) {
    return plan_list_line(piece, key, bitrate, out.data(), out.size());
}

TEST(StationList, PlanForALineOfTheList) {
    std::array<char, 1024> out{};

    auto p = plan(kLine, 64000, kKey, out);
    EXPECT_EQ(p.change, ListLineChange::in_place);
    EXPECT_EQ(p.text, "[\"Jazz\",\"http://jazz.example/\",\"Jazz\",\" 64kbps\",radio42]");

    // The last line of a file may lack its line end.
    p = plan(kLine.substr(0, kLine.size() - 1), 500, kKey, out);
    EXPECT_EQ(p.change, ListLineChange::in_place);

    // Four digits, or an old line in another layout, change the length.
    EXPECT_EQ(plan(kLine, 1000000, kKey, out).change, ListLineChange::resize);
    p = plan("a,b,c,\"1000kbps\",radio42]\n", 128000, kKey, out);
    EXPECT_EQ(p.change, ListLineChange::resize);
    EXPECT_EQ(p.text, "a,b,c,\"128kbps\",radio42]");
    EXPECT_EQ(plan("radio42,b,c\n", 128000, kKey, out).change, ListLineChange::keep);

    // The key may stand in any field.
    EXPECT_EQ(plan("radio42,b,c,\"128kbps\",x]\n", 128000, kKey, out).change,
              ListLineChange::resize);

    EXPECT_EQ(plan("[\"Rock\",\"u\",\"r\",\"128kbps\",rock]\n", 128000, kKey, out).change,
              ListLineChange::keep);
    EXPECT_EQ(plan(kLine, 0, kKey, out).change, ListLineChange::keep);
    EXPECT_EQ(plan(kLine, 128000, "", out).change, ListLineChange::keep);
    EXPECT_EQ(plan("\n", 128000, kKey, out).change, ListLineChange::keep);
}

} // namespace
