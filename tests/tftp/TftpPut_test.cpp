// tftp-put run as a program: Ctrl-C while it waits for the server.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/ChildProcess.h"
#include "tests/support/Platform.h"

TEST(TftpPut, CtrlCDuringAWaitTellsTheServerAndEndsWith130) {
    if (const std::string why = CtrlCUnavailable(); !why.empty())
        GTEST_SKIP() << why;
    const std::string file = testing::TempDir() + "tftp-put-interrupted.bin";
    std::ofstream(file) << std::string(5000, 'x');
    TUdpPeer server;
    // Sent once, so that the first datagram after the Ctrl-C is its answer.
    TChildProcess put(TFTP_PUT_PATH,
                      {"--timeout", "10000", "--retries", "0", "--port",
                       std::to_string(server.Port()), server.IP(), file, "rrboot.bin"});
    const auto heard = InterruptDuringAWait(put, server, 10000);
    ASSERT_TRUE(heard);
    EXPECT_EQ(heard->Bytes, Words({5, 0}, std::string("Transfer cancelled") + '\0'));
    EXPECT_EQ(WaitForEnd(put, std::chrono::seconds(10)), 130);
    std::filesystem::remove(file);
}
