#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include <ostream>

#include <cstdint>
#include <string>
#include <vector>

#include "kvm/VersionReply.h"

namespace {

struct ReplyCase {
    const char* name;
    std::vector<std::uint8_t> bytes; // the buffer holds these, the rest 0x77
    int count;                       // what ReceiveReply returned
    int date[3];
    std::string model;
};

void PrintTo(const ReplyCase& c, std::ostream* os)
{
    *os << c.name;
}

class VersionReplyTest : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(VersionReplyTest, ReadsOnlyTheBytesThatArrived)
{
    const ReplyCase& c = GetParam();
    // Stale bytes from an earlier, longer reply lie beyond the count.
    std::uint8_t buffer[256];
    std::fill(std::begin(buffer), std::end(buffer), 0x77);
    std::copy(c.bytes.begin(), c.bytes.end(), buffer);

    const VersionReply reply = VersionReply::Parse(buffer, c.count);
    EXPECT_EQ(reply.DateField(1), c.date[0]);
    EXPECT_EQ(reply.DateField(2), c.date[1]);
    EXPECT_EQ(reply.DateField(3), c.date[2]);
    EXPECT_EQ(reply.Model(), c.model);
}

std::vector<std::uint8_t> FullReply(const std::string& model)
{
    // Sized up front: g++ 12 at -O2 mistakes an insert into a six-byte vector
    // for an overrun (-Warray-bounds).
    std::vector<std::uint8_t> bytes(6 + model.size() + 1, 0);
    const std::uint8_t head[6] = {0xF2, 0, 0, 7, 5, 3};
    std::copy(std::begin(head), std::end(head), bytes.begin());
    std::copy(model.begin(), model.end(), bytes.begin() + 6);
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Replies, VersionReplyTest,
    ::testing::Values(ReplyCase{"Complete", FullReply("PZN442"), 13, {7, 5, 3}, "PZN442"},
                      ReplyCase{"CodeOnly", {0xF2}, 1, {0, 0, 0}, ""},
                      ReplyCase{"FirstDateOnly", {0xF2, 0, 0, 9}, 4, {9, 0, 0}, ""},
                      ReplyCase{"DatesWithoutModel", {0xF2, 0, 0, 9, 8, 7}, 6, {9, 8, 7}, ""},
                      ReplyCase{"ModelCutWithoutZero", {0xF2, 0, 0, 1, 2, 3, 'A', 'B'}, 8, {1, 2, 3}, "AB"},
                      ReplyCase{"NothingArrived", {0xF1}, 0, {0, 0, 0}, ""},
                      ReplyCase{"DateBytesAbove127", {0xF3, 0, 0, 200, 255, 128, 0}, 7, {200, 255, 128}, ""},
                      // Kept as sent: the front end decides how they show.
                      ReplyCase{"ControlBytesKeptAsSent", FullReply("A\x1b]0;x\nB"), 15, {7, 5, 3},
                                "A\x1b]0;x\nB"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VersionReplyFullBuffer, ModelWithoutZeroEndsAtTheBuffersEnd)
{
    std::uint8_t buffer[256];
    std::fill(std::begin(buffer), std::end(buffer), 'M');
    buffer[0] = 0xF2;
    const VersionReply reply = VersionReply::Parse(buffer, 256);
    EXPECT_EQ(reply.Model(), std::string(250, 'M'));
    // A count past the buffer is no licence to read past it.
    EXPECT_EQ(VersionReply::Parse(buffer, 100000).Model(), std::string(250, 'M'));
}

} // namespace
