#include "mms/mms_io.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// A listening socket on 127.0.0.1 that the test accepts from by hand.
struct Listener {
    int fd = -1;
    int port = 0;
    Listener() {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
        EXPECT_EQ(listen(fd, 4), 0);
        socklen_t len = sizeof addr;
        getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
        port = ntohs(addr.sin_port);
    }
    ~Listener() { close(fd); }
    int accept_one() { return accept(fd, nullptr, nullptr); }
};

int free_port() {
    Listener l;
    return l.port; // closed again on return: connections to it are refused
}

class MmsIoTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(io.open()); }
    int connect_to(int port) {
        return io.table()->connect(io.table()->connect_data, "127.0.0.1", port);
    }
    mms_off_t read(int fd, char *buf, mms_off_t len) {
        return io.table()->read(io.table()->read_data, fd, buf, len);
    }
    mms_off_t write(int fd, const char *text) {
        return io.table()->write(io.table()->write_data, fd, const_cast<char *>(text),
                                 static_cast<mms_off_t>(strlen(text)));
    }
    MmsIo io;
};

TEST_F(MmsIoTest, InterruptEndsABlockedReadAtOnceAndResumeAllowsMore) {
    Listener server;
    io.begin_connect();
    int fd = connect_to(server.port);
    ASSERT_GE(fd, 0);
    int peer = server.accept_one();

    std::thread stopper([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        io.interrupt();
    });
    char buf[16];
    auto started = Clock::now();
    mms_off_t got = read(fd, buf, sizeof buf);
    auto waited = Clock::now() - started;
    stopper.join();
    // Never 0: libmms would take that for the clean end of the stream.
    EXPECT_EQ(got, -1);
    EXPECT_TRUE(io.interrupted());
    EXPECT_LT(waited, std::chrono::seconds(2));
    EXPECT_GE(waited, std::chrono::milliseconds(150));

    // Still interrupted: nothing waits until resume().
    started = Clock::now();
    EXPECT_EQ(read(fd, buf, sizeof buf), -1);
    EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(100));

    io.resume();
    EXPECT_FALSE(io.interrupted());
    ASSERT_EQ(::write(peer, "abcd", 4), 4);
    shutdown(peer, SHUT_WR);
    got = read(fd, buf, sizeof buf);
    EXPECT_EQ(got, 4) << "a short read at the end of the stream is what libmms expects";
    EXPECT_EQ(std::string(buf, 4), "abcd");
    EXPECT_EQ(io.error(), 0);
    close(peer);
    close(fd);
}

TEST_F(MmsIoTest, ReadGathersTheWholeRequestAcrossPieces) {
    Listener server;
    io.begin_connect();
    int fd = connect_to(server.port);
    int peer = server.accept_one();
    std::thread sender([peer] {
        for (const char *piece : {"HTTP/1.0 2", "00 OK\r\n", "rest"}) {
            (void)!::write(peer, piece, strlen(piece));
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
    });
    char buf[21];
    EXPECT_EQ(read(fd, buf, sizeof buf), 21);
    sender.join();
    EXPECT_STREQ(io.current().reply, "HTTP/1.0 200 OK");
    close(peer);
    close(fd);
}

TEST_F(MmsIoTest, RefusedConnectionIsRecordedForTheMessage) {
    int port = free_port();
    io.begin_connect();
    EXPECT_EQ(connect_to(port), -1);
    MmsAttempt failure = io.connect_failure();
    EXPECT_EQ(failure.stage, MmsStage::Connect);
    EXPECT_EQ(failure.error, ECONNREFUSED);
    EXPECT_STREQ(failure.host, "127.0.0.1");
    EXPECT_EQ(failure.port, port);
}

TEST_F(MmsIoTest, HttpRefusalOnTheFirstAttemptOutranksALaterOne) {
    Listener server;
    io.begin_connect();
    int fd = connect_to(server.port);
    int peer = server.accept_one();
    EXPECT_EQ(write(fd, "GET /x HTTP/1.0\r\n\r\n"), 19);
    const char answer[] = "HTTP/1.0 404 Not Found\r\n\r\n";
    ASSERT_EQ(::write(peer, answer, sizeof answer - 1), static_cast<ssize_t>(sizeof answer - 1));
    char buf[64];
    read(fd, buf, 1);
    read(fd, buf, sizeof answer - 2);
    close(peer);
    close(fd);

    // The second try (MMS over TCP) is reset by the peer.
    fd = connect_to(server.port);
    peer = server.accept_one();
    linger hard = {1, 0};
    setsockopt(peer, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    EXPECT_EQ(write(fd, "\x01\x00\x00\x00"), 1);
    close(peer);
    read(fd, buf, 8);
    close(fd);

    MmsAttempt failure = io.connect_failure();
    EXPECT_STREQ(failure.reply, "HTTP/1.0 404 Not Found");
    EXPECT_TRUE(failure.sent_http);
}

TEST_F(MmsIoTest, WriteToAClosedPeerFailsWithoutKillingTheProcess) {
    Listener server;
    io.begin_connect();
    int fd = connect_to(server.port);
    int peer = server.accept_one();
    close(peer);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::string big(1 << 20, 'x');
    // Without MSG_NOSIGNAL this would end the test binary with SIGPIPE.
    mms_off_t sent =
        io.table()->write(io.table()->write_data, fd, &big[0], static_cast<mms_off_t>(big.size()));
    EXPECT_LT(sent, static_cast<mms_off_t>(big.size()));
    EXPECT_NE(io.error(), 0);
    close(fd);
}

} // namespace
