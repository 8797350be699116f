// The settings store through libshared.so, as the programs use it, with the
// store in a private directory named by NVRAM_FILE.
#include "shared.h"

#include <errno.h>
#include <fcntl.h>
#include <malloc.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#if defined(__SANITIZE_ADDRESS__)
#define HEAP_FROM_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HEAP_FROM_SANITIZER 1
#endif
#endif
#ifdef HEAP_FROM_SANITIZER
// The runtime's own count; declared here because GCC ships no header for it.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

#include <atomic>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

// Bytes the process has allocated and not yet freed.
size_t heap_in_use() {
#ifdef HEAP_FROM_SANITIZER
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

class NvramStore : public testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/nvram_store_test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        path_ = dir_ + "/store";
        setenv("NVRAM_FILE", path_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("NVRAM_FILE");
        std::string cmd = "rm -rf '" + dir_ + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
    }

    std::string file() const {
        std::ifstream in(path_, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void put_file(const std::string &text) const {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out << text;
    }
    // Runs `fn` in a child process and waits for it to succeed.
    template <class Fn> static void in_child(Fn fn) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0)
            _exit(fn() ? 0 : 1);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    std::string dir_;
    std::string path_;
};

TEST_F(NvramStore, SetGetUnsetAndTheFileAHumanReads) {
    errno = 0;
    EXPECT_EQ(nvram_get("radio_table"), nullptr);
    EXPECT_EQ(errno, ENOENT);

    ASSERT_EQ(nvram_set("radio_table", "1"), 0);
    ASSERT_EQ(nvram_set("usr_url0", "Jazz,http://h/s?a=b,x,128kbps"), 0);
    ASSERT_EQ(nvram_set("empty", ""), 0);
    ASSERT_EQ(nvram_set("radio_table", "0"), 0);
    EXPECT_STREQ(nvram_get("radio_table"), "0");
    EXPECT_STREQ(nvram_get("usr_url0"), "Jazz,http://h/s?a=b,x,128kbps");
    EXPECT_STREQ(nvram_get("empty"), "");
    EXPECT_EQ(file(), "radio_table=0\nusr_url0=Jazz,http://h/s?a=b,x,128kbps\nempty=\n");

    ASSERT_EQ(nvram_unset("radio_table"), 0);
    errno = 0;
    EXPECT_EQ(nvram_get("radio_table"), nullptr);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(nvram_unset("never_set"), 0);
    EXPECT_EQ(file(), "usr_url0=Jazz,http://h/s?a=b,x,128kbps\nempty=\n");
    // A new store is private: it may hold a Wi-Fi passphrase.
    struct stat st;
    ASSERT_EQ(stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(NvramStore, BadInputIsRefusedAndLosesNothing) {
    ASSERT_EQ(nvram_set("keep", "me"), 0);
    const std::string before = file();

    const std::string long_key(65, 'k');
    const std::string long_value(4097, 'v');
    EXPECT_NE(nvram_set("", "v"), 0);
    EXPECT_NE(nvram_set("a=b", "v"), 0);
    EXPECT_NE(nvram_set("a\nb", "v"), 0);
    EXPECT_NE(nvram_set("a\rb", "v"), 0);
    EXPECT_NE(nvram_set(long_key.c_str(), "v"), 0);
    EXPECT_NE(nvram_set("k", "line\nbreak"), 0);
    EXPECT_NE(nvram_set("k", "cr\r"), 0);
    EXPECT_NE(nvram_set("k", long_value.c_str()), 0);
    EXPECT_NE(nvram_set(nullptr, "v"), 0);
    EXPECT_NE(nvram_set("k", nullptr), 0);
    EXPECT_NE(nvram_unset("a=b"), 0);
    EXPECT_NE(nvram_unset(nullptr), 0);
    EXPECT_EQ(nvram_get(nullptr), nullptr);
    EXPECT_EQ(nvram_get("a=b"), nullptr);
    EXPECT_EQ(file(), before);

    // The bounds themselves are accepted.
    const std::string max_key(64, 'k');
    const std::string max_value(4096, 'v');
    ASSERT_EQ(nvram_set(max_key.c_str(), max_value.c_str()), 0);
    EXPECT_EQ(nvram_get(max_key.c_str()), max_value);
}

TEST_F(NvramStore, DamagedStoreIsReportedAndNeverRewritten) {
    const std::string damaged[] = {
        "a=1\nno separator here\n",
        "a=1\nb=2",                // cut short
        std::string("a=1\0\n", 5), // NUL byte
        "a=1\nb=2\na=3\n",         // repeated key
        std::string(70000, 'x'),   // oversized
    };
    for (const std::string &text : damaged) {
        put_file(text);
        errno = 0;
        EXPECT_EQ(nvram_get("a"), nullptr);
        EXPECT_EQ(errno, EBADMSG);
        EXPECT_NE(nvram_set("a", "new"), 0);
        EXPECT_NE(nvram_set("other", "new"), 0);
        EXPECT_NE(nvram_unset("a"), 0);
        EXPECT_EQ(file(), text);
    }
}

TEST_F(NvramStore, ValuesStayValidUntilTheCallersOwnWrite) {
    ASSERT_EQ(nvram_set("a", "first"), 0);
    ASSERT_EQ(nvram_set("b", "bee"), 0);
    const char *a1 = nvram_get("a");
    ASSERT_STREQ(a1, "first");

    // Another process changes the store twice: later reads see its values,
    // and what this process was given earlier still reads as it was.
    in_child([] { return nvram_set("a", "second") == 0; });
    const char *a2 = nvram_get("a");
    const char *b2 = nvram_get("b");
    in_child([] { return nvram_set("a", "third") == 0; });
    const char *a3 = nvram_get("a");
    EXPECT_STREQ(a1, "first");
    EXPECT_STREQ(a2, "second");
    EXPECT_STREQ(b2, "bee");
    EXPECT_STREQ(a3, "third");

    // A value handed out may be written back as it is.
    ASSERT_EQ(nvram_set("c", nvram_get("a")), 0);
    EXPECT_STREQ(nvram_get("c"), "third");
    // Reading an unchanged store gives the same text again.
    EXPECT_EQ(nvram_get("c"), nvram_get("c"));
}

TEST_F(NvramStore, HeldValuesOutliveAnyNumberOfOutsideChanges) {
    // A 32 KB store whose key "a" changes 1,000 times behind this process's
    // back, as another writer would change it, while this process reads each
    // value and holds the first. Values of one size, so that a copy freed
    // too early is soon reused for a newer one and the held text visibly
    // changes.
    std::string filler;
    for (int i = 0; i < 8; ++i)
        filler += "f" + std::to_string(i) + "=" + std::string(4000, 'x') + "\n";
    const auto value_of = [](int i) {
        char value[16];
        snprintf(value, sizeof value, "v%05d", i);
        return std::string(value);
    };
    ASSERT_EQ(nvram_set("mine", "0"), 0);
    put_file(filler + "a=" + value_of(0) + "\n");
    const char *held = nvram_get("a");
    ASSERT_STREQ(held, "v00000");
    const size_t before = heap_in_use();
    for (int i = 1; i <= 1000; ++i) {
        put_file(filler + "a=" + value_of(i) + "\n");
        ASSERT_EQ(nvram_get("a"), value_of(i));
        ASSERT_EQ(nvram_get("a"), nvram_get("a")); // the same value again costs nothing
    }
    EXPECT_STREQ(held, "v00000");
    // The reader keeps each distinct value it read (under 128 bytes each),
    // not a copy of the store per change (32 MB).
    EXPECT_LT(heap_in_use(), before + 1000 * 128);
    // This process's own write ends them all (the allocator may keep a few
    // freed blocks aside for reuse).
    ASSERT_EQ(nvram_set("mine", "1"), 0);
    EXPECT_LT(heap_in_use(), before + 4096);
    EXPECT_STREQ(nvram_get("a"), "v01000");
}

TEST_F(NvramStore, ReadersOnSeveralThreadsGetWholeValues) {
    // Many distinct values, so that the values kept are rearranged while
    // other threads look among them; each round starts from none kept.
    std::string text;
    for (int k = 0; k < 512; ++k)
        text += "k" + std::to_string(k) + "=value " + std::to_string(k) + "\n";
    std::atomic<int> wrong{0};
    for (int round = 0; round < 8; ++round) {
        ASSERT_EQ(nvram_set("round", std::to_string(round).c_str()), 0);
        put_file(text);
        std::thread readers[4];
        for (int t = 0; t < 4; ++t) {
            readers[t] = std::thread([t, &wrong] {
                for (int k = 0; k < 512; ++k) {
                    const int key = (k * 7 + t * 128) % 512;
                    const char *got = nvram_get(("k" + std::to_string(key)).c_str());
                    if (got == nullptr || got != "value " + std::to_string(key))
                        ++wrong;
                }
            });
        }
        for (std::thread &reader : readers)
            reader.join();
    }
    EXPECT_EQ(wrong.load(), 0);
}

TEST_F(NvramStore, ConcurrentWritersInManyProcessesLoseNothing) {
    constexpr int kWriters = 8;
    constexpr int kKeysEach = 30;
    pid_t pids[kWriters];
    for (int w = 0; w < kWriters; ++w) {
        pids[w] = fork();
        ASSERT_GE(pids[w], 0);
        if (pids[w] == 0) {
            bool ok = true;
            for (int k = 0; k < kKeysEach; ++k) {
                char key[32], value[32];
                snprintf(key, sizeof key, "w%d_k%d", w, k);
                snprintf(value, sizeof value, "v%d", w * 1000 + k);
                ok = ok && nvram_set(key, value) == 0;
                // Every writer also rewrites one key all share.
                ok = ok && nvram_set("shared", value) == 0;
            }
            _exit(ok ? 0 : 1);
        }
    }
    for (pid_t pid : pids) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int w = 0; w < kWriters; ++w) {
        for (int k = 0; k < kKeysEach; ++k) {
            char key[32], value[32];
            snprintf(key, sizeof key, "w%d_k%d", w, k);
            snprintf(value, sizeof value, "v%d", w * 1000 + k);
            const char *got = nvram_get(key);
            ASSERT_NE(got, nullptr) << key;
            EXPECT_STREQ(got, value);
        }
    }
    EXPECT_NE(nvram_get("shared"), nullptr);
}

} // namespace
