// Reads and writes that carry every byte however the system splits or
// interrupts them, reads past the end that say so, and the one wording of
// what a path is instead of a regular file.

#include "base/FileIo.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

using testing_support::noiseBytes;
using testing_support::TempDir;
using testing_support::writeFileBytes;

namespace {

void ignoreSignal(int) {}

} // namespace

// A pipe takes a few pages at a time, and a signal without SA_RESTART breaks
// the blocked write and read with EINTR or a short count: all must arrive.
TEST(FileIo, WriteAllAndReadAllCarryEveryByteThroughSignals) {
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = ignoreSignal;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    const std::vector<uint8_t> sent = noiseBytes(4 << 20, 7);
    std::vector<uint8_t> received(sent.size() + 1);
    std::atomic<bool> written{false};
    bool writeOk = false;
    std::thread writer([&] {
        writeOk = writeAll(ends[1], sent.data(), sent.size());
        ::close(ends[1]);
        written = true;
    });
    const pthread_t writerThread = writer.native_handle();
    ssize_t got = -1;
    std::thread reader([&] { got = readAll(ends[0], received.data(), received.size()); });
    while (!written) {
        ::pthread_kill(writerThread, SIGUSR1);
        ::pthread_kill(reader.native_handle(), SIGUSR1);
        std::this_thread::yield();
    }
    writer.join();
    reader.join();
    ::close(ends[0]);
    ::sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_TRUE(writeOk);
    ASSERT_EQ(got, static_cast<ssize_t>(sent.size())); // to the end, not past it
    received.resize(sent.size());
    EXPECT_EQ(received, sent);
}

TEST(FileIo, ExactReadsAndWritesAtAnOffset) {
    TempDir dir;
    const std::string path = dir.file("file");
    writeFileBytes(path, {1, 2, 3, 4, 5, 6});
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const uint8_t patch[] = {9, 9};
    EXPECT_TRUE(writeAllAt(fd, patch, sizeof patch, 2));
    uint8_t bytes[4] = {};
    EXPECT_TRUE(readExactlyAt(fd, bytes, 4, 2));
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 4), (std::vector<uint8_t>{9, 9, 5, 6}));
    errno = 0;
    EXPECT_FALSE(readExactlyAt(fd, bytes, 4, 4)); // two bytes short
    EXPECT_EQ(errno, EIO);
    ::close(fd);
}

TEST(FileIo, WhatAPathIsInsteadOfARegularFileHasOneWording) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    std::filesystem::create_directory(dir.file("folder"));
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = dir.file("socket");
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    writeFileBytes(dir.file("file"), {1});
    struct Case {
        std::string path;
        std::string problem;
    } const cases[] = {
        {dir.file("fifo"), "is a FIFO, not a regular file"},
        {"/dev/null", "is a character device, not a regular file"},
        {socketPath, "is a socket, not a regular file"},
        {dir.file("folder"), systemReason(EISDIR)},
        {dir.file("none"), "No such file or directory"},
        {dir.file("file"), ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(regularFileProblem(c.path.c_str()), c.problem) << c.path;
        const RegularFileContents read = readRegularFile(c.path.c_str(), 16);
        EXPECT_EQ(read.ok, c.problem.empty()) << c.path;
        EXPECT_EQ(read.problem, c.problem) << c.path;
    }
    EXPECT_EQ(notRegularReason(S_IFBLK), "a block device, not a regular file");
    EXPECT_EQ(notRegularReason(S_IFDIR), "a directory, not a regular file");
    ::close(sock);
}
