#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "StoppedTerminal.h"
#include "cli/OutputQueue.h"

namespace {

using namespace std::chrono_literals;

// A terminal that stopped reading: appending never waits for it, what would
// go past the bound is dropped with one note, and once the terminal reads
// again the rest comes out in the order it was written.
TEST(OutputQueue, StoppedTerminalBoundsTheQueueAndNotesTheDropOnce)
{
    StoppedTerminal terminal;
    const int fd = terminal.Slave();
    OutputQueue queue(16, fd);
    queue.Append(fd, "0123456789");
    queue.Append(fd, "abcdefghij"); // past the bound: dropped, noted
    queue.Append(fd, "klmnopqrst"); // dropped, no second note
    EXPECT_FALSE(queue.DrainFor(20ms));
    ASSERT_TRUE(terminal.StartAndReadUntil("not being read.\r\n", 30s)) << terminal.Shown();
    queue.Drain();
    EXPECT_EQ(terminal.Shown(),
              "0123456789\r\nkvm-upgrade-cli: output was dropped: stdout or stderr was not being read.\r\n");
}

// A descriptor that fails (the reader or the terminal has gone) loses its
// own bytes only.
TEST(OutputQueue, AFailedWriteDropsOnlyItsOwnBytes)
{
    StoppedTerminal terminal;
    const int fd = terminal.Slave();
    OutputQueue queue(1024, fd);
    queue.Append(-1, "lost");
    queue.Append(fd, "kept\n");
    ASSERT_TRUE(terminal.StartAndReadUntil("kept\r\n", 30s)) << terminal.Shown();
    queue.Drain();
    EXPECT_EQ(terminal.Shown(), "kept\r\n");
}

} // namespace
