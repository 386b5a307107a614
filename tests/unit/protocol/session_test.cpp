// The controller session against a scripted library: which calls an exchange makes in which
// order, what it hands back for each shape of reply, and that the controller is closed on
// every path.

#include "protocol/session.h"

#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kvr::protocol {
namespace {

using Clock = std::chrono::steady_clock;

// What the scripted library answers, and what it was asked.
struct Script {
    std::int32_t handle = 101;
    std::vector<std::uint8_t> reply; // the bytes waiting for the read
    std::uint32_t claimedCount = 0;  // the count the read reports (the reply's size if 0)
    std::vector<std::string> calls;  // "open NAME", "flush", "write <bytes>", "read N", ...
    Clock::time_point wroteAt, readAt;
};
Script g_script;

const ControllerCalls kScripted{
    .open =
        [](const char* name) {
            g_script.calls.push_back(std::string("open ") + name);
            return g_script.handle;
        },
    .close =
        [](std::int32_t) {
            g_script.calls.push_back("close");
            return 1;
        },
    .flush =
        [](std::int32_t) {
            g_script.calls.push_back("flush");
            return 1;
        },
    .write =
        [](std::int32_t, const std::uint8_t* bytes, std::uint32_t length) {
            g_script.calls.push_back("write " + std::string(bytes, bytes + length));
            g_script.wroteAt = Clock::now();
            return length > 0 ? 1 : 0;
        },
    .read =
        [](std::int32_t, std::uint8_t* buffer, std::uint32_t length) {
            g_script.calls.push_back("read " + std::to_string(length));
            g_script.readAt = Clock::now();
            const std::size_t n = std::min<std::size_t>(g_script.reply.size(), length);
            std::copy_n(g_script.reply.begin(), n, buffer);
            return g_script.claimedCount != 0 ? g_script.claimedCount
                                              : static_cast<std::uint32_t>(n);
        },
};

TEST(ControllerSession, OneExchangePerReplyShape) {
    const std::string ut = "\x01UT\r";
    struct Case {
        const char* what;
        std::int32_t handle;
        Flush flush;
        std::size_t replyBytes;
        std::vector<std::uint8_t> waiting;
        std::uint32_t claimedCount;
        std::vector<std::string> calls; // after "open RS232_DEVICE0", before "close"
        std::vector<std::uint8_t> bytes;
    };
    const std::vector<std::uint8_t> unitType = {1, 'N', 'V', 'L', 'T', '3', '0', '0', '0', 13};
    const std::vector<Case> cases = {
        {"whole reply",
         101,
         Flush::Before,
         10,
         unitType,
         0,
         {"flush", "write " + ut, "read 10"},
         unitType},
        {"reply cut short",
         101,
         Flush::Before,
         10,
         {1, 'N', 'V'},
         0,
         {"flush", "write " + ut, "read 10"},
         {1, 'N', 'V'}},
        {"no reply", 101, Flush::None, 10, {}, 0, {"write " + ut, "read 10"}, {}},
        {"more waiting than asked",
         101,
         Flush::Before,
         3,
         unitType,
         0,
         {"flush", "write " + ut, "read 3"},
         {1, 'N', 'V'}},
        {"a count above the buffer",
         101,
         Flush::Before,
         3,
         unitType,
         500,
         {"flush", "write " + ut, "read 3"},
         {1, 'N', 'V'}},
        {"flush after the write",
         101,
         Flush::After,
         3,
         {1, '0', 13},
         0,
         {"write " + ut, "flush", "read 3"},
         {1, '0', 13}},
        {"no read asked", 101, Flush::Before, 0, unitType, 0, {"flush", "write " + ut}, {}},
        {"controller not opened", -1, Flush::Before, 10, unitType, 0, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_script = Script{};
        g_script.handle = c.handle;
        g_script.reply = c.waiting;
        g_script.claimedCount = c.claimedCount;
        constexpr std::uint16_t kWaitMs = 30;
        ExchangeReply reply;
        {
            ControllerSession session("RS232_DEVICE0", kScripted);
            EXPECT_EQ(session.isOpen(), c.handle >= 0);
            reply = session.exchange("UT", kWaitMs, c.replyBytes, c.flush);
        }
        std::vector<std::string> expected = {"open RS232_DEVICE0"};
        expected.insert(expected.end(), c.calls.begin(), c.calls.end());
        if (c.handle >= 0) expected.push_back("close");
        EXPECT_EQ(g_script.calls, expected);
        EXPECT_EQ(reply.bytes, c.bytes);
        EXPECT_EQ(reply.written, c.handle >= 0 ? 1 : 0);
        if (c.handle >= 0 && c.replyBytes > 0) {
            EXPECT_GE(g_script.readAt - g_script.wroteAt, std::chrono::milliseconds(kWaitMs))
                << "read before the wait was over";
        }
    }
}

TEST(ControllerSession, ARefusedFrameWritesNothingAndAMovedSessionClosesOnce) {
    g_script = Script{};
    CommandFrame refused;
    BuildGetParameter(refused, "9"); // one address digit: refused, length 0
    ControllerSession first("USB_DEVICE1", kScripted);
    EXPECT_EQ(first.exchange(refused, 0, 0, Flush::None).written, 0);
    ControllerSession second = std::move(first);
    EXPECT_FALSE(first.isOpen());
    second.close();
    second.close();
    EXPECT_EQ(g_script.calls, (std::vector<std::string>{"open USB_DEVICE1", "write ", "close"}));
}

} // namespace
} // namespace kvr::protocol
