// The library's command exchange and request layouts, against a scripted stand-in for the
// driver's control device: every request the library makes is recorded (code, bytes, time),
// and the replies are whatever the script says, so the steps, attempt counts, the 255-byte
// rule and the reply tests can be checked exactly.

#include "platform/clock/clock.h"
#include "platform/ipc/nt_status.h"
#include "platform/registry/registry.h"
#include "tests/support/test_env.h"
#include "tsapi/internal.h"
#include "tsapi/tsapi.h"

#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <sys/eventfd.h>
#include <vector>

namespace kvr::tsapi {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

struct Call {
    std::uint32_t code = 0;
    Bytes in;
    std::uint32_t outLength = 0;
    bool fdPassed = false;
    clock::TimePoint at;
};

// A control device served in-process. `answer` decides each reply; by default reads find an
// empty queue and every other request succeeds with no reply bytes.
class FakeDriver {
public:
    struct Answer {
        std::uint32_t status = ipc::status::kSuccess;
        Bytes reply;
    };
    using Script = std::function<Answer(const Call&)>;

    explicit FakeDriver(const std::string& name = "KvrRs232D") {
        std::string error;
        server_ = ipc::ControlServer::start(
            name,
            [this](ipc::Request& r) {
                Call call;
                call.code = r.code;
                call.in.assign(r.buffer.begin(), r.buffer.begin() + r.inLength);
                call.outLength = r.outLength;
                call.fdPassed = r.passedFd.get() >= 0;
                call.at = clock::now();
                Answer a;
                {
                    std::lock_guard lock(mutex_);
                    calls_.push_back(call);
                    if (script_) a = script_(call);
                }
                ipc::Reply reply;
                reply.status = a.status;
                const std::size_t n = std::min(a.reply.size(), r.buffer.size());
                std::copy(a.reply.begin(), a.reply.begin() + static_cast<std::ptrdiff_t>(n),
                          r.buffer.begin());
                reply.information = static_cast<std::uint32_t>(n);
                return reply;
            },
            "", error);
    }
    [[nodiscard]] bool ok() const { return server_ != nullptr; }
    void script(Script s) {
        std::lock_guard lock(mutex_);
        script_ = std::move(s);
    }
    std::vector<Call> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    std::vector<std::uint32_t> codes() const {
        std::vector<std::uint32_t> out;
        for (const auto& c : calls())
            out.push_back(c.code);
        return out;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        calls_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<Call> calls_;
    Script script_;
    std::unique_ptr<ipc::ControlServer> server_;
};

Bytes dword(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
            static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

// A controller's reply queue as the script sees it: one batch of bytes per attempt.
struct QueueScript {
    std::deque<Bytes> batches; // the pending bytes of attempt 1, 2, ...
    Bytes current;

    FakeDriver::Answer operator()(const Call& c) {
        switch (c.code) {
        case IOCTL_RS232_WRITE_BUFFER:
            current = batches.empty() ? Bytes{} : batches.front();
            if (!batches.empty()) batches.pop_front();
            return {};
        case IOCTL_RS232_READ_LENGTH:
            return {ipc::status::kSuccess, dword(static_cast<std::uint32_t>(current.size()))};
        case IOCTL_RS232_READ_BUFFER: {
            const std::size_t n = std::min<std::size_t>(c.outLength, current.size());
            Bytes out(current.begin(), current.begin() + static_cast<std::ptrdiff_t>(n));
            current.erase(current.begin(), current.begin() + static_cast<std::ptrdiff_t>(n));
            return {ipc::status::kSuccess, out};
        }
        case IOCTL_RS232_FLUSH_READ_BUFFER:
            current.clear();
            return {};
        default:
            return {ipc::status::kSuccess, {1}};
        }
    }
};

constexpr std::uint32_t kFlush = IOCTL_RS232_FLUSH_READ_BUFFER;
constexpr std::uint32_t kWrite = IOCTL_RS232_WRITE_BUFFER;
constexpr std::uint32_t kLength = IOCTL_RS232_READ_LENGTH;
constexpr std::uint32_t kRead = IOCTL_RS232_READ_BUFFER;

class TsapiExchange : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(driver.ok());
        deviceState(DriverKind::Serial).device = openControlDevice(DriverKind::Serial);
        ASSERT_TRUE(deviceState(DriverKind::Serial).device.has_value());
    }
    void TearDown() override { deviceState(DriverKind::Serial).device.reset(); }

    FakeDriver driver;
    const Controller unit3{DriverKind::Serial, 3};
};

// ---- reply tests -----------------------------------------------------------------------------

struct ReplyCase {
    const char* label;
    ReplyTest test;
    std::string reply;
    bool passes;
    std::uint16_t word; // value replies that pass
};

class TsapiReplyTest : public ::testing::TestWithParam<ReplyCase> {};

void PrintTo(const ReplyCase& c, std::ostream* os) {
    *os << c.label;
}

TEST_P(TsapiReplyTest, JudgesTheEndOfWhatWasRead) {
    const auto& c = GetParam();
    protocol::ParameterWord word;
    EXPECT_EQ(replyPasses(c.test, bytesOf(c.reply), &word), c.passes);
    if (c.passes && c.test == ReplyTest::Value) {
        EXPECT_EQ(word.word(), c.word);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, TsapiReplyTest,
    ::testing::Values(
        ReplyCase{"Value", ReplyTest::Value,
                  "\x01"
                  "4A37\r",
                  true, 0x4A37},
        ReplyCase{"ValueAfterStrayBytes", ReplyTest::Value,
                  "\x01"
                  "0\r\x01"
                  "0180\r",
                  true, 0x0180},
        ReplyCase{"ValueLowerCaseDigits", ReplyTest::Value,
                  "\x01"
                  "ab9f\r",
                  true, 0xAB9F},
        ReplyCase{"ValueStopsAtANonDigit", ReplyTest::Value,
                  "\x01"
                  "1G2X\r",
                  true, 0x0102},
        ReplyCase{"ValueTooShort", ReplyTest::Value,
                  "\x01"
                  "37\r",
                  false, 0},
        ReplyCase{"ValueWithoutSoh", ReplyTest::Value, "x4A37\r", false, 0},
        ReplyCase{"ValueWithoutCr", ReplyTest::Value,
                  "\x01"
                  "4A37\n",
                  false, 0},
        ReplyCase{"ValueFollowedByStrayBytes", ReplyTest::Value,
                  "\x01"
                  "4A37\rzz",
                  false, 0},
        ReplyCase{"Ack", ReplyTest::Acknowledgement,
                  "\x01"
                  "0\r",
                  true, 0},
        ReplyCase{"AckAfterStrayBytes", ReplyTest::Acknowledgement,
                  "\x01iT\r\x01"
                  "0\r",
                  true, 0},
        ReplyCase{"AckRefusal", ReplyTest::Acknowledgement,
                  "\x01"
                  "1\r",
                  false, 0},
        ReplyCase{"AckTooShort", ReplyTest::Acknowledgement, "0\r", false, 0},
        ReplyCase{"AckWrongFraming", ReplyTest::Acknowledgement, "x0\r", false, 0},
        ReplyCase{"ShortAckOnlyLooksAtTheStatus", ReplyTest::ShortAcknowledgement, "xx0y", true, 0},
        ReplyCase{"ShortAckRefusal", ReplyTest::ShortAcknowledgement,
                  "\x01"
                  "1\r",
                  false, 0},
        ReplyCase{"ShortAckTooShort", ReplyTest::ShortAcknowledgement, "0\r", false, 0},
        ReplyCase{"NothingRead", ReplyTest::ShortAcknowledgement, "", false, 0}),
    [](const auto& info) { return std::string(info.param.label); });

// ---- the exchange ----------------------------------------------------------------------------

TEST_F(TsapiExchange, OneAttemptFlushWriteWaitLengthRead) {
    driver.script(QueueScript{{bytesOf("\x01iT\r\x01"
                                       "7D00\r")},
                              {}});
    const auto frame = commandFrame("GP02");
    EXPECT_EQ(frame, bytesOf("\x01GP02\r"));
    const auto result = exchange(unit3, frame, kFourAttemptRules);
    EXPECT_TRUE(result.passed);
    EXPECT_EQ(result.attemptsMade, 1);
    EXPECT_EQ(result.word.word(), 0x7D00);
    EXPECT_EQ(result.word.firstText(), "7D");

    const auto calls = driver.calls();
    ASSERT_EQ(driver.codes(), (std::vector<std::uint32_t>{kFlush, kWrite, kLength, kRead}));
    EXPECT_EQ(calls[0].in, Bytes{3}); // every request starts with the unit byte
    EXPECT_EQ(calls[1].in, (Bytes{3, 0x01, 'G', 'P', '0', '2', 0x0D}));
    EXPECT_EQ(calls[2].outLength, 4U);
    EXPECT_EQ(calls[3].outLength, 10U) << "reads what is pending";
    EXPECT_GE(calls[2].at - calls[1].at, kReplyWait) << "the 50 ms wait for the reply";
}

TEST_F(TsapiExchange, SilentControllerSpendsEveryAttempt) {
    for (const auto& rules : {kFourAttemptRules, kThreeAttemptRules}) {
        driver.clear();
        driver.script(QueueScript{});
        const auto result = exchange(unit3, commandFrame("GP9C"), rules);
        EXPECT_FALSE(result.passed);
        EXPECT_EQ(result.attemptsMade, rules.attempts);
        std::vector<std::uint32_t> expected;
        // Nothing pending: no read is made.
        for (int i = 0; i < rules.attempts; ++i)
            expected.insert(expected.end(), {kFlush, kWrite, kLength});
        EXPECT_EQ(driver.codes(), expected);
    }
}

TEST_F(TsapiExchange, AFullQueueIsFlushedAndTheNextAttemptMade) {
    const Bytes flood(255, 'x');
    const Bytes almost = [] {
        Bytes b(248, 'x');
        const auto reply = bytesOf("\x01"
                                   "0180\r");
        b.insert(b.end(), reply.begin(), reply.end());
        return b;
    }();
    ASSERT_EQ(almost.size(), 254U);
    driver.script(QueueScript{{flood, almost}, {}});
    const auto result = exchange(unit3, commandFrame("GP9C"), kFourAttemptRules);
    EXPECT_TRUE(result.passed);
    EXPECT_EQ(result.attemptsMade, 2);
    EXPECT_EQ(result.word.word(), 0x0180);
    EXPECT_EQ(driver.codes(), (std::vector<std::uint32_t>{kFlush, kWrite, kLength, kFlush, kFlush,
                                                          kWrite, kLength, kRead}));
    EXPECT_EQ(driver.calls().back().outLength, 254U);
}

TEST_F(TsapiExchange, ThreeAttemptExchangesReadIntoTheirSmallBuffer) {
    // No 255-byte rule: the pending bytes are read, at most 128 of them, and judged by their end.
    Bytes pending(300, 'x');
    driver.script(QueueScript{{pending, pending, pending}, {}});
    const auto result = exchange(unit3, commandFrame("GP9F"), kThreeAttemptRules);
    EXPECT_FALSE(result.passed);
    EXPECT_EQ(result.attemptsMade, 3);
    for (const auto& c : driver.calls())
        if (c.code == kRead) {
            EXPECT_EQ(c.outLength, kSmallReplyBuffer);
        }
    EXPECT_EQ(result.reply.size(), kSmallReplyBuffer);
}

TEST_F(TsapiExchange, TheReplyTestOfTheRules) {
    driver.script(QueueScript{{bytesOf("\x01"
                                       "1\r"),
                               bytesOf("\x01"
                                       "0\r")},
                              {}});
    auto result =
        exchange(unit3, commandFrame("R"), withTest(kFourAttemptRules, ReplyTest::Acknowledgement));
    EXPECT_TRUE(result.passed);
    EXPECT_EQ(result.attemptsMade, 2) << "a refusal is no acknowledgement";
    driver.script(QueueScript{{bytesOf("?0!")}, {}});
    result = exchange(unit3, commandFrame("R"),
                      withTest(kFourAttemptRules, ReplyTest::ShortAcknowledgement));
    EXPECT_TRUE(result.passed);
}

TEST_F(TsapiExchange, PreambleWritesZAndWaits) {
    driver.script(QueueScript{});
    const auto started = clock::now();
    sendPreamble(unit3);
    EXPECT_GE(clock::now() - started, kPreambleWait);
    const auto calls = driver.calls();
    ASSERT_EQ(calls.size(), 1U);
    EXPECT_EQ(calls[0].code, kWrite);
    EXPECT_EQ(calls[0].in, (Bytes{3, 0x01, 'Z', 0x0D}));
}

// ---- request layouts of the exports ----------------------------------------------------------

class TsapiRequests : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(driver.ok());
        ASSERT_EQ(reg::createKey("HKLM\\SYSTEM\\CurrentControlSet\\Control\\Kvr"), reg::Status::Ok);
        ASSERT_EQ(
            reg::setDword("HKLM\\SYSTEM\\CurrentControlSet\\Control\\Kvr", "RS232_DEVICE5", 1),
            reg::Status::Ok);
        ASSERT_EQ(GetExistControllers(), 1);
        ASSERT_EQ(OpenController("RS232_DEVICE5"), 105);
        driver.clear();
    }
    void TearDown() override { CloseController(105); }
    FakeDriver driver;
};

TEST_F(TsapiRequests, RawChannelAndStateLayouts) {
    driver.script([](const Call& c) -> FakeDriver::Answer {
        if (c.code == kRead) return {ipc::status::kSuccess, bytesOf("abc")};
        if (c.code == kLength) return {ipc::status::kSuccess, dword(0x01020304)};
        return {ipc::status::kSuccess, {1}};
    });
    const Bytes data{0x01, 'U', 'T', 0x0D};
    EXPECT_EQ(WriteBuffer(105, data.data(), 4), 1);
    std::uint8_t buffer[8] = {};
    EXPECT_EQ(ReadBuffer(105, buffer, sizeof buffer), 3U);
    EXPECT_EQ(ReadLength(105), 0x01020304U);
    EXPECT_EQ(FlushReadBuffer(105), 1);
    EXPECT_EQ(IsPenUp(105), 1);
    EXPECT_EQ(DisableTouchReport(105, 2), 1);
    EXPECT_EQ(GetReportStatus(105), 1);
    EXPECT_EQ(ChangeCOMPort(105, 0x11223344, 115200), 1);
    EXPECT_EQ(CurrentCOMPort(105), 1);

    const auto calls = driver.calls();
    ASSERT_EQ(calls.size(), 9U);
    struct Expected {
        std::uint32_t code;
        Bytes in;
        std::uint32_t out;
    };
    const Expected expected[] = {
        {kWrite, {5, 0x01, 'U', 'T', 0x0D}, 0},
        {kRead, {5}, 8},
        {kLength, {5}, 4},
        {kFlush, {5}, 0},
        {IOCTL_RS232_IS_PEN_UP, {5}, 1},
        {IOCTL_RS232_DISABLE_REPORT, {5, 2}, 1},
        {IOCTL_RS232_GET_REPORT_STATUS, {5}, 1},
        {IOCTL_RS232_CHANGE_COM_PORT, {5, 0x44, 0x33, 0x22, 0x11, 0x00, 0xC2, 0x01, 0x00}, 1},
        {IOCTL_RS232_CURRENT_COM_PORT, {5}, 1},
    };
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].code, expected[i].code) << i;
        EXPECT_EQ(calls[i].in, expected[i].in) << i;
        EXPECT_EQ(calls[i].outLength, expected[i].out) << i;
    }
}

TEST_F(TsapiRequests, ReplyLengthsDecide) {
    struct Case {
        const char* label;
        Bytes reply;
        std::int32_t penUp;
        std::uint32_t length;
        std::uint8_t port;
    };
    const Case cases[] = {
        {"nothing", {}, 0, 0, 0},
        {"one byte 1", {1}, 1, 0, 1},
        {"one byte 2", {2}, 0, 0, 2},
        {"one byte 0", {0}, 0, 0, 0},
        {"three bytes", {7, 0, 0}, 0, 0, 7}, // a reply is cut at the size asked for
        {"four bytes", {7, 0, 0, 0}, 0, 7, 7},
    };
    for (const auto& c : cases) {
        driver.script([&](const Call&) {
            return FakeDriver::Answer{ipc::status::kSuccess, c.reply};
        });
        EXPECT_EQ(IsPenUp(105), c.penUp) << c.label;
        EXPECT_EQ(ReadLength(105), c.length) << c.label;
        EXPECT_EQ(CurrentCOMPort(105), c.port) << c.label;
    }
    // A failed request is a failure whatever came back with it.
    driver.script([](const Call&) { return FakeDriver::Answer{ipc::status::kUnsuccessful, {1}}; });
    EXPECT_EQ(IsPenUp(105), 0);
    EXPECT_EQ(WriteBuffer(105, reinterpret_cast<const std::uint8_t*>("\x01Z\r"), 3), 0);
    EXPECT_EQ(FlushReadBuffer(105), 0);
}

TEST_F(TsapiRequests, CloseComPortSendsTheCloseOnlyAfterTheAcknowledgement) {
    struct Case {
        const char* label;
        std::string reply;
        std::int32_t result;
        std::size_t writes;
    };
    const Case cases[] = {
        {"acknowledged",
         "\x01"
         "0\r",
         1, 1},
        {"status only judged", "x0y", 1, 1},
        {"refused",
         "\x01"
         "1\r",
         0, 3},
        {"short",
         "\x01"
         "0",
         0, 3},
        {"silent", "", 0, 3},
    };
    for (const auto& c : cases) {
        driver.clear();
        driver.script([&](const Call& call) -> FakeDriver::Answer {
            if (call.code == kRead) {
                Bytes r = bytesOf(c.reply);
                r.resize(std::min<std::size_t>(r.size(), call.outLength));
                return {ipc::status::kSuccess, r};
            }
            return {};
        });
        EXPECT_EQ(CloseCOMPort(105), c.result) << c.label;
        std::size_t writes = 0, closes = 0;
        for (const auto& call : driver.calls()) {
            if (call.code == kWrite) {
                ++writes;
                EXPECT_EQ(call.in, (Bytes{5, 0x01, 'M', 'I', 0x0D})) << c.label;
            }
            if (call.code == kRead) {
                EXPECT_EQ(call.outLength, 3U) << c.label;
            }
            if (call.code == IOCTL_RS232_CLOSE_COM_PORT) {
                ++closes;
                EXPECT_EQ(call.in, Bytes{5}) << c.label;
            }
        }
        EXPECT_EQ(writes, c.writes) << c.label;
        EXPECT_EQ(closes, c.result == 1 ? 1U : 0U) << c.label;
    }
    // 1 once the controller acknowledged, whatever the close request reports.
    driver.script([](const Call& call) -> FakeDriver::Answer {
        if (call.code == kRead)
            return {ipc::status::kSuccess, bytesOf("\x01"
                                                   "0\r")};
        if (call.code == IOCTL_RS232_CLOSE_COM_PORT) return {ipc::status::kUnsuccessful, {}};
        return {};
    });
    EXPECT_EQ(CloseCOMPort(105), 1);
}

TEST_F(TsapiRequests, UpEventCarriesTheHandleAndTheDescriptor) {
    const int fd = ::eventfd(0, EFD_CLOEXEC);
    ASSERT_GE(fd, 0);
    struct Case {
        const char* label;
        FakeDriver::Answer answer;
        std::uint8_t result;
    };
    const Case cases[] = {
        {"taken, no reply bytes", {ipc::status::kSuccess, {}}, 1},
        {"reply byte 1", {ipc::status::kSuccess, {1}}, 1},
        {"reply byte 0", {ipc::status::kSuccess, {0}}, 0},
        {"refused", {ipc::status::kUnsuccessful, {}}, 0},
    };
    for (const auto& c : cases) {
        driver.clear();
        driver.script([&](const Call&) { return c.answer; });
        EXPECT_EQ(SetUpEventHandle(reinterpret_cast<void*>(std::intptr_t{105}),
                                   reinterpret_cast<void*>(static_cast<std::intptr_t>(fd))),
                  c.result)
            << c.label;
        const auto calls = driver.calls();
        ASSERT_EQ(calls.size(), 1U) << c.label;
        EXPECT_EQ(calls[0].code, IOCTL_RS232_SET_UP_EVENT);
        Bytes in{5};
        const Bytes value = dword(static_cast<std::uint32_t>(fd));
        in.insert(in.end(), value.begin(), value.end());
        EXPECT_EQ(calls[0].in, in);
        EXPECT_TRUE(calls[0].fdPassed);
    }
    ::close(fd);
}

TEST_F(TsapiRequests, LargeReadBuffersAskForWhatTheDriverServes) {
    driver.script([](const Call&) {
        return FakeDriver::Answer{ipc::status::kSuccess, bytesOf("ab")};
    });
    std::vector<std::uint8_t> large(4096);
    EXPECT_EQ(ReadBuffer(105, large.data(), static_cast<std::uint32_t>(large.size())), 2U);
    EXPECT_EQ(driver.calls().back().outLength, kMaxReadBytes);
}

} // namespace
} // namespace kvr::tsapi
