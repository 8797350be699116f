// Drives the bitrate recording against files in a scratch directory. The
// settings store is replaced at link level by a recorder that logs every call
// in order and, like a real store, may reuse the text it handed out.
#include "player/iradio_update.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <map>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

std::map<std::string, std::string> g_store;
std::vector<std::string> g_calls;
char g_handed_out[8192];

} // namespace

extern "C" char *nvram_get(const char *key) {
    g_calls.push_back(std::string("get ") + key);
    auto it = g_store.find(key);
    if (it == g_store.end())
        return nullptr;
    std::snprintf(g_handed_out, sizeof g_handed_out, "%s", it->second.c_str());
    return g_handed_out;
}

extern "C" int nvram_set(const char *key, const char *value) {
    g_calls.push_back(std::string("set ") + key + "=" + value);
    // Like the real store, refuse a value holding a line end.
    if (std::strchr(value, '\n') != nullptr)
        return -22;
    g_store[key] = value;
    // A store is free to reuse the text it returned once it is written to.
    std::memset(g_handed_out, '#', sizeof g_handed_out - 1);
    return 0;
}

extern "C" int nvram_unset(const char *key) {
    g_calls.push_back(std::string("unset ") + key);
    g_store.erase(key);
    std::memset(g_handed_out, '#', sizeof g_handed_out - 1);
    return 0;
}

namespace {

constexpr const char *kJazz = "[\"Jazz\",\"http://jazz/\",\"Jazz\",\"  1kbps\",radio42]\n";
constexpr const char *kRock = "[\"Rock\",\"http://rock/\",\"Rock\",\" 96kbps\",rock7]\n";
constexpr const char *kPop = "[\"Pop\",\"http://pop/\",\"Pop\",\"128kbps\",pop3]\n";

std::string read_file(const std::string &path) {
    std::string text;
    if (FILE *f = std::fopen(path.c_str(), "rb")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
            text.append(buf, n);
        std::fclose(f);
    }
    return text;
}

void write_file(const std::string &path, const std::string &text) {
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

ino_t inode_of(const std::string &path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_ino;
}

std::set<std::string> names_in(const std::string &dir) {
    std::set<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (const dirent *e = readdir(d)) {
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.insert(e->d_name);
        }
        closedir(d);
    }
    return names;
}

class IradioUpdate : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/iradio_update_test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        key_ = dir_ + "/iradio";
        builtin_ = dir_ + "/builtin.list";
        user_ = dir_ + "/user_builtin.list";
        urls_ = dir_ + "/url";
        files_ = {key_.c_str(), builtin_.c_str(), user_.c_str(), urls_.c_str()};
        g_store.clear();
        g_calls.clear();
    }
    void TearDown() override {
        const std::string cmd = "rm -rf '" + dir_ + "'";
        (void)std::system(cmd.c_str());
    }

    // Runs one recording and returns what it printed on standard error.
    std::string run(int bitrate, int *result = nullptr) {
        testing::internal::CaptureStderr();
        const int r = iradio_update_in(files_, bitrate);
        if (result != nullptr)
            *result = r;
        return testing::internal::GetCapturedStderr();
    }

    std::string dir_, key_, builtin_, user_, urls_;
    BitrateRecordingFiles files_{};
};

TEST_F(IradioUpdate, WithoutStationNothingIsTouched) {
    write_file(builtin_, std::string(kJazz) + kRock);
    write_file(urls_, "radio42\n");
    g_store["usr_url0"] = "Jazz,http://jazz/,x,old";
    int result = 0;
    EXPECT_EQ(run(128000, &result), "");
    EXPECT_NE(result, 0);
    EXPECT_TRUE(g_calls.empty());
    EXPECT_EQ(read_file(builtin_), std::string(kJazz) + kRock);

    // A link planted as the key file is not followed: whatever it points
    // at would be copied into the settings store.
    write_file(dir_ + "/secret", "radio42");
    ASSERT_EQ(symlink((dir_ + "/secret").c_str(), key_.c_str()), 0);
    EXPECT_EQ(run(128000, &result), "");
    EXPECT_NE(result, 0);
    EXPECT_TRUE(g_calls.empty());
    EXPECT_EQ(read_file(builtin_), std::string(kJazz) + kRock);
}

TEST_F(IradioUpdate, WithoutKeyNothingIsRecorded) {
    write_file(builtin_, std::string(kJazz) + kRock);
    g_store["usr_url0"] = "Jazz,http://jazz/,x,old";
    // A line end alone, as `echo "" > /tmp/iradio` leaves it, is no key
    // either: it would match every line.
    write_file(urls_, "radio42\n\n\r\n");
    for (const std::string &key : {std::string(), std::string("\0radio42", 8), std::string("\n"),
                                   std::string("\r\n"), std::string("\n\n")}) {
        write_file(key_, key);
        int result = 1;
        EXPECT_EQ(run(128000, &result), "");
        EXPECT_EQ(result, 0);
        EXPECT_TRUE(g_calls.empty());
        EXPECT_EQ(read_file(builtin_), std::string(kJazz) + kRock);
    }
}

TEST_F(IradioUpdate, RadioTableSelectsTheList) {
    write_file(key_, "radio42");
    const std::string list = std::string(kRock) + kJazz + kPop;
    const std::string updated =
        std::string(kRock) + "[\"Jazz\",\"http://jazz/\",\"Jazz\",\"128kbps\",radio42]\n" + kPop;
    struct Case {
        const char *table; // null: unset
        bool user_list;
    };
    for (const Case c : {Case{nullptr, false}, Case{"", false}, Case{"0", false}, Case{"1", true},
                         Case{"2", true}}) {
        SCOPED_TRACE(c.table ? c.table : "unset");
        write_file(builtin_, list);
        write_file(user_, list);
        g_store.clear();
        if (c.table != nullptr)
            g_store["radio_table"] = c.table;
        run(128000);
        EXPECT_EQ(read_file(builtin_), c.user_list ? list : updated);
        EXPECT_EQ(read_file(user_), c.user_list ? updated : list);
    }
}

TEST_F(IradioUpdate, SameLengthLinesAreWrittenInPlace) {
    write_file(key_, "radio42");
    const std::string second = "[\"Jazz 2\",\"http://jazz2/\",\"radio42\",\"999kbps\",radio42]\n";
    write_file(builtin_, std::string(kRock) + kJazz + kPop + second);
    const ino_t before = inode_of(builtin_);

    run(64000);
    EXPECT_EQ(read_file(builtin_),
              std::string(kRock) + "[\"Jazz\",\"http://jazz/\",\"Jazz\",\" 64kbps\",radio42]\n" +
                  kPop + "[\"Jazz 2\",\"http://jazz2/\",\"radio42\",\" 64kbps\",radio42]\n");
    EXPECT_EQ(inode_of(builtin_), before);

    run(500);
    EXPECT_NE(read_file(builtin_).find("\"  0kbps\",radio42]\n[\"Pop\""), std::string::npos);

    // A zero bitrate leaves the list as it is.
    const std::string now = read_file(builtin_);
    run(0);
    EXPECT_EQ(read_file(builtin_), now);
}

TEST_F(IradioUpdate, LengthChangesKeepEveryOtherLine) {
    write_file(key_, "radio42");
    // Lines beyond the read size, holding a NUL, or without a line end must
    // come through a rewrite byte for byte.
    const std::string long_line = "[\"Long\"," + std::string(3000, 'x') + ",\"128kbps\",long]\n";
    const std::string odd("[\"N\0L\",\"u\",\"n\",\"  1kbps\",nul]\n", 30);
    const std::string before = std::string(kRock) + long_line + odd;
    const std::string after = std::string(kPop) + "last line without end";
    write_file(builtin_, before + kJazz + after);
    chmod(builtin_.c_str(), 0640);

    run(1411000); // four digits: the line grows by one
    EXPECT_EQ(read_file(builtin_),
              before + "[\"Jazz\",\"http://jazz/\",\"Jazz\",\"1411kbps\",radio42]\n" + after);
    struct stat st {};
    stat(builtin_.c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    run(128000); // and shrinks back
    EXPECT_EQ(read_file(builtin_),
              before + "[\"Jazz\",\"http://jazz/\",\"Jazz\",\"128kbps\",radio42]\n" + after);

    // A line in another layout gets exactly the new text and its line end.
    write_file(builtin_, std::string(kRock) + "radio42,a,b,c,d,e\n" + kPop);
    run(128000);
    EXPECT_EQ(read_file(builtin_),
              std::string(kRock) + "radio42,a,b,\"128kbps\",radio42]\n" + kPop);

    // Every other line in the same call: one grows, one keeps its length.
    write_file(builtin_, std::string("radio42,a,b,c\n") + kRock + kJazz);
    run(128000);
    EXPECT_EQ(read_file(builtin_),
              std::string("radio42,a,b,\"128kbps\",radio42]\n") + kRock +
                  "[\"Jazz\",\"http://jazz/\",\"Jazz\",\"128kbps\",radio42]\n");

    EXPECT_EQ(names_in(dir_), (std::set<std::string>{"iradio", "builtin.list"}));
}

TEST_F(IradioUpdate, RewriteGoesThroughALinkToTheList) {
    write_file(key_, "radio42");
    const std::string real = dir_ + "/real.list";
    write_file(real, std::string(kJazz) + kPop);
    ASSERT_EQ(symlink("real.list", builtin_.c_str()), 0);
    run(1000000);
    struct stat st {};
    ASSERT_EQ(lstat(builtin_.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(read_file(real),
              std::string("[\"Jazz\",\"http://jazz/\",\"Jazz\",\"1000kbps\",radio42]\n") + kPop);
}

TEST_F(IradioUpdate, ListThatCannotBeReplacedStaysUntouched) {
    write_file(key_, "radio42");
    const std::string list = std::string(kRock) + kJazz + kPop;
    write_file(builtin_, list);
    write_file(urls_, "radio42\n");
    g_store["usr_url0"] = "Jazz,http://jazz/,x,old";
    // The list may be updated but nothing may be created beside it. Root
    // passes permission checks, so the recording runs as another user.
    chmod(builtin_.c_str(), 0666);
    chmod(dir_.c_str(), 0555);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && setuid(65534) != 0)
            _exit(2);
        (void)std::freopen("/dev/null", "w", stderr);
        (void)iradio_update_in(files_, 1000000);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    chmod(dir_.c_str(), 0700);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(read_file(builtin_), list);
    EXPECT_EQ(names_in(dir_), (std::set<std::string>{"iradio", "builtin.list", "url"}));
}

TEST_F(IradioUpdate, MatchingEntriesAreRewrittenInOrder) {
    write_file(key_, "radio42");
    write_file(urls_, "rock7\nradio42\npop3\nx\nradio42,second\nradio4\n");
    g_store["radio_table"] = "0";
    g_store["usr_url1"] = "Jazz,http://jazz/,x,\"1kbps\",radio42]";
    g_store["usr_url4"] = "Jazz,http://jazz2/,y,a,b,c";
    g_store["usr_url5"] = "untouched,a,b,c";
    int result = 1;
    EXPECT_EQ(run(128000, &result), "we found it at [1]\nwe found it at [4]\n");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(g_calls, (std::vector<std::string>{
                           "get radio_table",
                           "get usr_url1",
                           "unset usr_url1",
                           "set usr_url1=Jazz,http://jazz/,x,\"128kbps\",radio42]",
                           "set nvram_kbps=1",
                           "get usr_url4",
                           "unset usr_url4",
                           "set usr_url4=Jazz,http://jazz2/,y,\"128kbps\",radio42]",
                           "set nvram_kbps=1",
                       }));
    EXPECT_EQ(g_store["usr_url5"], "untouched,a,b,c");
}

TEST_F(IradioUpdate, EntriesRecordEveryBitrateEvenZero) {
    write_file(key_, "radio42");
    write_file(urls_, "radio42\n");
    write_file(builtin_, kJazz);
    for (const auto &[bitrate, text] : std::vector<std::pair<int, std::string>>{
             {64000, "64"}, {500, "0"}, {0, "0"}, {-1500, "-1"}, {44100, "44"}}) {
        g_store["usr_url0"] = "Jazz,http://jazz/,x,old";
        g_store.erase("nvram_kbps");
        run(bitrate);
        EXPECT_EQ(g_store["usr_url0"], "Jazz,http://jazz/,x,\"" + text + "kbps\",radio42]");
        EXPECT_EQ(g_store["nvram_kbps"], "1");
    }
    // The zero above left the list as the -1500 before it wrote it.
    EXPECT_EQ(read_file(builtin_), "[\"Jazz\",\"http://jazz/\",\"Jazz\",\" 44kbps\",radio42]\n");
}

TEST_F(IradioUpdate, EntriesThatCannotBeRebuiltStayAsTheyAre) {
    write_file(key_, "radio42");
    write_file(urls_, "radio42\nradio42\nradio42\n");
    g_store["usr_url0"] = "only,two";
    // usr_url1 unset
    g_store["usr_url2"] = "a,b," + std::string(140, 'x') + ",old";
    EXPECT_EQ(run(128000), "we found it at [0]\nwe found it at [1]\nwe found it at [2]\n");
    EXPECT_EQ(g_calls, (std::vector<std::string>{"get radio_table", "get usr_url0", "get usr_url1",
                                                 "get usr_url2"}));
}

TEST_F(IradioUpdate, OnlyTheFirstTenPiecesOfUrlCount) {
    write_file(key_, "radio42");
    // A line of 150 characters is read as two pieces, so the station's line
    // after it is the eleventh piece and is never examined.
    std::string urls = "radio42" + std::string(143, 'x') + "\n";
    for (int i = 0; i < 8; ++i)
        urls += "other\n";
    urls += "radio42\n";
    write_file(urls_, urls);
    EXPECT_EQ(run(128000), "we found it at [0]\n");

    // What follows the first 99 characters of a line is a line of its own.
    write_file(urls_, std::string(99, 'y') + "radio42\nradio42\n");
    EXPECT_EQ(run(128000), "we found it at [1]\nwe found it at [2]\n");
}

TEST_F(IradioUpdate, MissingFilesSkipTheirPassOnly) {
    write_file(key_, "radio42");
    write_file(urls_, "radio42\n");
    g_store["usr_url0"] = "Jazz,http://jazz/,x,old";
    // No list at all: the entries are still written, nothing is printed
    // about the list.
    EXPECT_EQ(run(128000), "we found it at [0]\n");
    EXPECT_EQ(g_store["usr_url0"], "Jazz,http://jazz/,x,\"128kbps\",radio42]");

    // No "/tmp/url": the list is still written and the result is 0.
    std::remove(urls_.c_str());
    write_file(builtin_, kJazz);
    int result = 1;
    EXPECT_EQ(run(64000, &result), "");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(read_file(builtin_), "[\"Jazz\",\"http://jazz/\",\"Jazz\",\" 64kbps\",radio42]\n");

    // A link in its place counts as no "/tmp/url" at all.
    write_file(dir_ + "/elsewhere", "radio42\n");
    ASSERT_EQ(symlink((dir_ + "/elsewhere").c_str(), urls_.c_str()), 0);
    EXPECT_EQ(run(32000, &result), "");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(g_store["usr_url0"], "Jazz,http://jazz/,x,\"128kbps\",radio42]");
}

TEST_F(IradioUpdate, KeyIsUsedAsRead) {
    // Read with its line end, the key matches only a "/tmp/url" line that
    // ends there and is written into the entry with it.
    write_file(key_, "radio42\nsecond line");
    write_file(urls_, "radio42,more\nradio42\n");
    g_store["usr_url1"] = "a,b,c,d";
    EXPECT_EQ(run(128000), "we found it at [1]\n");
    // A store that refuses the new text keeps the old one, and no bitrate
    // is announced.
    EXPECT_EQ(g_calls, (std::vector<std::string>{
                           "get radio_table", "get usr_url1", "unset usr_url1",
                           "set usr_url1=a,b,c,\"128kbps\",radio42\n]", "set usr_url1=a,b,c,d"}));
    EXPECT_EQ(g_store["usr_url1"], "a,b,c,d");
    // However long the old value is, all of it goes back.
    const std::string long_value = "a,b,c," + std::string(4090, 'd');
    g_store["usr_url1"] = long_value;
    run(128000);
    EXPECT_EQ(g_store["usr_url1"], long_value);

    // Only the first 99 characters of a longer key count.
    const std::string long_key(120, 'k');
    write_file(key_, long_key);
    write_file(urls_, long_key.substr(0, 99) + "\n");
    EXPECT_EQ(run(128000), "we found it at [0]\n");
}

} // namespace
