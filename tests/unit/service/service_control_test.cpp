// Service controls over the service socket: delivered controls and the status record, and
// every way a control can fail without hanging the caller.

#include "platform/service/service_control.h"
#include "tests/unit/service/fake_service.h"

#include <cstring>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

namespace kvr::svc {
namespace {

using test::FakeService;
using namespace std::chrono_literals;

constexpr const char* kName = "LumarconTouch Service";

TEST(ServiceControl, DeliveredControlReachesServiceAndReturnsItsStatus) {
    FakeService service(kName, FakeService::running());
    ASSERT_TRUE(service.listening());
    for (std::uint32_t code : {222u, 223u, 224u, 225u, 230u}) {
        const ControlResult r = controlService(kName, code);
        EXPECT_TRUE(r.delivered()) << code << ": error " << r.error;
        EXPECT_EQ(r.status.currentState, kStateRunning);
        EXPECT_EQ(r.status.serviceType, 0x10u);
        EXPECT_EQ(r.status.controlsAccepted, 7u);
    }
    EXPECT_EQ(service.controls(), (std::vector<std::uint32_t>{222, 223, 224, 225, 230}));
}

TEST(ServiceControl, NameComparesWithoutCase) {
    FakeService service(kName, FakeService::running());
    EXPECT_TRUE(controlService("lumarcontouch SERVICE", 224).delivered());
    EXPECT_EQ(service.controls(), std::vector<std::uint32_t>{224});
}

TEST(ServiceControl, ServiceRefusalIsPassedOn) {
    FakeService service(kName, [](const std::vector<std::uint8_t>&) {
        ControlResult r;
        r.error = kErrorServiceCannotAcceptControl;
        r.status.currentState = kStateStopPending;
        std::uint8_t bytes[kReplyBytes];
        encodeReply(r, bytes);
        return std::vector<std::uint8_t>(bytes, bytes + sizeof bytes);
    });
    const ControlResult r = controlService(kName, 224);
    EXPECT_FALSE(r.delivered());
    EXPECT_EQ(r.error, kErrorServiceCannotAcceptControl);
    EXPECT_EQ(r.status.currentState, kStateStopPending);
}

TEST(ServiceControl, NoServiceFailsAtOnce) {
    EXPECT_EQ(controlService(kName, 224).error, kErrorServiceNotActive);

    // A socket left behind by a service that died: nobody listens on it.
    const auto path = controlSocketPath(kName);
    ASSERT_TRUE(path);
    std::filesystem::create_directories(path->parent_path());
    {
        UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET, 0));
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path->c_str(), sizeof addr.sun_path - 1);
        ASSERT_EQ(::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    }
    EXPECT_EQ(controlService(kName, 224).error, kErrorServiceNotActive);
}

TEST(ServiceControl, SilentServiceTimesOut) {
    FakeService service(kName, FakeService::running(), /*silent=*/true);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(controlService(kName, 224, 100ms).error, kErrorServiceRequestTimeout);
    // Generous bound: only shows that the call is not waiting for the service for ever.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 15s);
}

TEST(ServiceControl, BadAnswersAreRefused) {
    const std::vector<std::vector<std::uint8_t>> answers = {
        {1, 2, 3},                        // short
        std::vector<std::uint8_t>(36, 0), // no magic
        std::vector<std::uint8_t>(37, 0), // too long
    };
    for (const auto& answer : answers) {
        FakeService service(kName, [&](const std::vector<std::uint8_t>&) { return answer; });
        EXPECT_EQ(controlService(kName, 224).error, kErrorInvalidData) << answer.size();
    }
    // Closed without any answer: the service went away.
    FakeService closing(
        kName, [](const std::vector<std::uint8_t>&) { return std::vector<std::uint8_t>{}; });
    EXPECT_EQ(controlService(kName, 224).error, kErrorServiceNotActive);
}

TEST(ServiceControlWire, RequestsWithWrongLengthOrMagicAreRefused) {
    std::uint8_t req[kRequestBytes];
    encodeRequest({230}, req);
    ASSERT_TRUE(decodeRequest(req, sizeof req));
    EXPECT_EQ(decodeRequest(req, sizeof req)->control, 230u);
    EXPECT_FALSE(decodeRequest(req, sizeof req - 1));
    req[0] ^= 1;
    EXPECT_FALSE(decodeRequest(req, sizeof req));
    EXPECT_EQ(controlService("a/b", 224).error, kErrorInvalidName);
}

} // namespace
} // namespace kvr::svc
