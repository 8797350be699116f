#include "nvram_format.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::string_view_literals;

namespace {

nvram::StoreCheck check(std::string_view text) {
    std::vector<nvram::KeySpan> scratch(nvram::scratch_spans(text.size()));
    return nvram::check_store(text, scratch.data());
}

std::string edit(std::string_view text, std::string_view key, const std::string_view *value,
                 long *rc = nullptr) {
    std::string out(nvram::edit_bound(text, key, value ? *value : ""sv), '\0');
    long n = nvram::apply_edit(text, key, value, out.data(), out.size());
    if (rc)
        *rc = n;
    out.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return out;
}

std::string lines(size_t count, size_t value_bytes = 1) {
    std::string text;
    for (size_t i = 0; i < count; ++i)
        text += "k" + std::to_string(i) + "=" + std::string(value_bytes, 'v') + "\n";
    return text;
}

} // namespace

TEST(NvramFormat, KeyAndValueBounds) {
    EXPECT_EQ(nvram::check_key("radio_preparing"), 0);
    EXPECT_EQ(nvram::check_key(std::string(64, 'k')), 0);
    EXPECT_EQ(nvram::check_key(std::string(65, 'k')), -ENAMETOOLONG);
    for (std::string_view bad : {""sv, "a=b"sv, "=a"sv, "a\nb"sv, "a\rb"sv, "a\0b"sv, "key\n"sv})
        EXPECT_EQ(nvram::check_key(bad), -EINVAL) << testing::PrintToString(std::string(bad));

    EXPECT_EQ(nvram::check_value(""), 0);
    EXPECT_EQ(nvram::check_value("a=b=c, ;#\t\x01\xff"), 0);
    EXPECT_EQ(nvram::check_value(std::string(4096, 'v')), 0);
    EXPECT_EQ(nvram::check_value(std::string(4097, 'v')), -E2BIG);
    for (std::string_view bad : {"a\nb"sv, "\r"sv, "a\0b"sv})
        EXPECT_EQ(nvram::check_value(bad), -EINVAL);
}

TEST(NvramFormat, SoundStoresPassAndAreRead) {
    EXPECT_EQ(check("").damage, nvram::Damage::none);

    std::string_view text = "a=1\nurl=http://h/?x=1&y=2\nempty=\nhigh=\xc3\xa9\xff\n";
    auto result = check(text);
    ASSERT_EQ(result.damage, nvram::Damage::none);
    EXPECT_EQ(result.entries, 4u);

    std::string_view value;
    ASSERT_TRUE(nvram::find_value(text, "url", value));
    EXPECT_EQ(value, "http://h/?x=1&y=2");
    ASSERT_TRUE(nvram::find_value(text, "empty", value));
    EXPECT_EQ(value, "");
    // Neither a prefix nor an extension of a key matches it.
    EXPECT_FALSE(nvram::find_value(text, "ur", value));
    EXPECT_FALSE(nvram::find_value(text, "a=1", value));
    EXPECT_FALSE(nvram::find_value(text, "url2", value));

    std::string_view rest = text;
    nvram::Entry e;
    std::vector<std::string> keys;
    while (nvram::next_entry(rest, e))
        keys.emplace_back(e.key);
    EXPECT_EQ(keys, (std::vector<std::string>{"a", "url", "empty", "high"}));
}

TEST(NvramFormat, DamageIsFoundWithItsLine) {
    struct Case {
        std::string text;
        nvram::Damage damage;
        size_t line;
    };
    const Case cases[] = {
        {"a=1\nb=2", nvram::Damage::unterminated, 2},
        {"a=1\nnoequals\n", nvram::Damage::no_separator, 2},
        {"\n", nvram::Damage::no_separator, 1},
        {"=v\n", nvram::Damage::empty_key, 1},
        {"a=1\r\n", nvram::Damage::bad_byte, 1},
        {std::string("a=1\nb=\0\n", 8), nvram::Damage::bad_byte, 2},
        {"a=1\nb=2\na=3\n", nvram::Damage::duplicate_key, 3},
        // The first repeat in line order is named, whichever key sorts first;
        // a key that is a prefix of another is no repeat.
        {"b=1\na=1\nab=1\nc=1\nb=2\na=2\n", nvram::Damage::duplicate_key, 5},
        {"ab=1\na=1\nb=1\nabc=1\n", nvram::Damage::none, 0},
        {std::string(65, 'k') + "=v\n", nvram::Damage::key_too_long, 1},
        {"k=" + std::string(4097, 'v') + "\n", nvram::Damage::value_too_long, 1},
        {lines(2049), nvram::Damage::too_many, 2049},
        {std::string(64 * 1024 + 1, 'x'), nvram::Damage::too_large, 0},
    };
    for (const Case &c : cases) {
        auto result = check(c.text);
        EXPECT_EQ(result.damage, c.damage) << testing::PrintToString(c.text.substr(0, 40));
        EXPECT_EQ(result.line, c.line) << testing::PrintToString(c.text.substr(0, 40));
    }
    // The limits themselves are sound.
    EXPECT_EQ(check(lines(2048)).damage, nvram::Damage::none);
    EXPECT_EQ(check(std::string(64, 'k') + "=" + std::string(4096, 'v') + "\n").damage,
              nvram::Damage::none);
}

TEST(NvramFormat, EditsKeepOrderAndRoundTrip) {
    const std::string_view text = "a=1\nb=2\nc=3\n";
    std::string_view v = "x=y=z";
    EXPECT_EQ(edit(text, "b", &v), "a=1\nb=x=y=z\nc=3\n");
    EXPECT_EQ(edit(text, "d", &v), "a=1\nb=2\nc=3\nd=x=y=z\n");
    EXPECT_EQ(edit(text, "b", nullptr), "a=1\nc=3\n");
    EXPECT_EQ(edit(text, "zz", nullptr), text);
    EXPECT_EQ(edit("", "a", nullptr), "");
    std::string_view empty = "";
    EXPECT_EQ(edit("", "a", &empty), "a=\n");

    // Whatever an edit writes reads back as a sound store with the value.
    std::string_view odd = "\t lead and trail \x7f\xfe=";
    std::string out = edit(text, "odd key", &odd);
    ASSERT_EQ(check(out).damage, nvram::Damage::none);
    std::string_view got;
    ASSERT_TRUE(nvram::find_value(out, "odd key", got));
    EXPECT_EQ(got, odd);
}

TEST(NvramFormat, EditsThatOutgrowTheStoreAreRefused) {
    long rc = 0;
    std::string_view v = "v";

    std::string full = lines(2048);
    edit(full, "new", &v, &rc);
    EXPECT_EQ(rc, -ENOSPC);
    // Changing a key that exists adds no entry.
    std::string changed = edit(full, "k7", &v, &rc);
    EXPECT_GT(rc, 0);
    EXPECT_EQ(check(changed).damage, nvram::Damage::none);

    // Fifteen lines of about 4100 bytes, and one more, pass 64 KiB.
    std::string big = lines(15, 4096);
    std::string value(4096, 'w');
    std::string_view wv = value;
    std::string grown = edit(big, "more", &wv, &rc);
    EXPECT_EQ(rc, -ENOSPC);

    // A buffer smaller than the result is never overrun.
    char small[8];
    EXPECT_EQ(nvram::apply_edit("a=1\nb=2\n", "c", &v, small, sizeof small), -ENOSPC);
}
