#include "shared.h"

#include <dirent.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

class Writefile : public testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/file_helpers_test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        std::string cmd = "rm -rf '" + dir_ + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
    }
    std::string path(const char *name) const { return dir_ + "/" + name; }
    static std::string read(const std::string &p) {
        std::ifstream in(p, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::vector<std::string> names() const {
        std::vector<std::string> found;
        DIR *d = opendir(dir_.c_str());
        while (struct dirent *e = readdir(d))
            if (e->d_name[0] != '.')
                found.emplace_back(e->d_name);
        closedir(d);
        return found;
    }
    std::string dir_;
};

TEST_F(Writefile, FileHoldsExactlyTheTextAndNothingElseIsLeft) {
    const std::string p = path("wsc.apcli0");
    ASSERT_EQ(writefile(p.c_str(), "a much longer first text\n"), 0);
    EXPECT_EQ(read(p), "a much longer first text\n");
    // A shorter text leaves no tail of the longer one.
    ASSERT_EQ(writefile(p.c_str(), "34"), 0);
    EXPECT_EQ(read(p), "34");
    ASSERT_EQ(writefile(p.c_str(), ""), 0);
    EXPECT_EQ(read(p), "");
    EXPECT_EQ(names(), std::vector<std::string>{"wsc.apcli0"});

    struct stat st;
    ASSERT_EQ(stat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    // A file that exists keeps its permissions.
    ASSERT_EQ(chmod(p.c_str(), 0640), 0);
    ASSERT_EQ(writefile(p.c_str(), "3"), 0);
    ASSERT_EQ(stat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    // Privilege bits are never carried over.
    ASSERT_EQ(chmod(p.c_str(), 06755), 0);
    ASSERT_EQ(writefile(p.c_str(), "5"), 0);
    ASSERT_EQ(stat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
}

TEST_F(Writefile, PlantedLinksAreReplacedAndLendNothing) {
    // A link to a set-uid file, and one to a directory: each becomes a plain
    // file, and what it pointed to stays as it was.
    const std::string target = path("setuid-binary");
    { std::ofstream(target) << "binary"; }
    ASSERT_EQ(chmod(target.c_str(), 04755), 0);
    const std::string sub = path("subdir");
    ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
    for (const std::string &to : {target, sub}) {
        const std::string p = path("wsc.ra0");
        (void)unlink(p.c_str());
        ASSERT_EQ(symlink(to.c_str(), p.c_str()), 0);
        ASSERT_EQ(writefile(p.c_str(), "3"), 0);
        struct stat st;
        ASSERT_EQ(lstat(p.c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_mode & 07777, 0644u);
        EXPECT_EQ(read(p), "3");
    }
    struct stat st;
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 04755u);
    EXPECT_EQ(read(target), "binary");
}

TEST_F(Writefile, FailuresAreReportedAndChangeNothing) {
    EXPECT_LT(writefile(path("missing/dir/file").c_str(), "x"), 0);
    EXPECT_LT(writefile(dir_.c_str(), "x"), 0);
    EXPECT_LT(writefile(nullptr, "x"), 0);
    EXPECT_LT(writefile(path("f").c_str(), nullptr), 0);
    EXPECT_TRUE(names().empty());
}

TEST_F(Writefile, ReadersSeeTheOldTextOrTheNewNeverAPart) {
    const std::string p = path("status");
    const std::string small = "3";
    const std::string large(20000, 'L');
    ASSERT_EQ(writefile(p.c_str(), small.c_str()), 0);

    pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        for (;;) {
            (void)writefile(p.c_str(), large.c_str());
            (void)writefile(p.c_str(), small.c_str());
        }
    }
    int seen_small = 0, seen_large = 0, torn = 0;
    for (int i = 0; i < 3000; ++i) {
        std::string got = read(p);
        if (got == small)
            ++seen_small;
        else if (got == large)
            ++seen_large;
        else
            ++torn;
    }
    kill(writer, SIGKILL);
    waitpid(writer, nullptr, 0);
    EXPECT_EQ(torn, 0);
    EXPECT_GT(seen_small + seen_large, 0);
}

TEST(TrimR, RemovesTrailingWhiteSpaceOnly) {
    struct Case {
        const char *in;
        const char *out;
    };
    const Case cases[] = {
        {"MyHomeAP                        ", "MyHomeAP"},
        {"two words \t\r\n\v\f", "two words"},
        {"   ", ""},
        {"", ""},
        {"  lead kept", "  lead kept"},
        // Bytes of UTF-8 (and a Latin-1 no-break space) are not blanks.
        {"caf\xc3\xa9 ", "caf\xc3\xa9"},
        {"x\xa0", "x\xa0"},
    };
    for (const Case &c : cases) {
        std::string buf = c.in;
        EXPECT_EQ(trim_r(buf.data()), buf.data());
        EXPECT_STREQ(buf.c_str(), c.out);
    }
    EXPECT_EQ(trim_r(nullptr), nullptr);
}

} // namespace
