// Event registration: a real eventfd, a missing descriptor, a descriptor of another kind; the
// driver's own duplicate is what the engine sets; replacement releases the old duplicate.

#include "control_test_support.h"
#include "tests/support/test_env.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace kvr::driver::test {
namespace {

using namespace ntstatus;

ipc::Event newEvent() {
    auto e = ipc::Event::create();
    EXPECT_TRUE(e.has_value());
    return std::move(*e);
}

// The request bytes carry the caller's handle value, as the layout says; the descriptor travels
// beside them.
std::vector<std::uint8_t> eventRequest(std::optional<std::uint8_t> device, int handle) {
    std::vector<std::uint8_t> in;
    if (device) in.push_back(*device);
    putDword(in, static_cast<std::uint32_t>(handle));
    return in;
}

struct EventCode {
    std::uint32_t code;
    bool perDevice;
    engine::EventRef ref;
};

const EventCode kEventCodes[] = {
    {IOCTL_RS232_SET_DOWN_EVENT, true, EventTable::downEvent(2)},
    {IOCTL_RS232_SET_UP_EVENT, true, EventTable::upEvent(2)},
    {IOCTL_RS232_SET_MANUAL_RIGHT_EVENT, false, EventTable::manualRightEvent()},
    {IOCTL_RS232_SET_GLOBAL_DOWN_EVENT, false, EventTable::globalDownEvent()},
    {IOCTL_RS232_SET_GLOBAL_UP_EVENT, false, EventTable::globalUpEvent()},
};

std::optional<std::uint8_t> deviceOf(const EventCode& c) {
    return c.perDevice ? std::optional<std::uint8_t>(2) : std::nullopt;
}

TEST(ControlEvents, RegisteredEventfdIsSetThroughTheEngineReference) {
    for (const EventCode& c : kEventCodes) {
        DriverContext ctx;
        ipc::Event client = newEvent();
        const Result r = send(ctx, c.code, eventRequest(deviceOf(c), client.fd()), 0, client.fd());
        EXPECT_EQ(r.status, kSuccess) << std::hex << c.code;
        EXPECT_EQ(r.info, 0u);
        EXPECT_TRUE(ctx.events().holds(c.ref));
        EXPECT_FALSE(client.isSet());
        engine::SetEngineEvent(ctx.extension(), c.ref);
        EXPECT_TRUE(client.isSet()) << std::hex << c.code;
    }
}

TEST(ControlEvents, EngineFieldsNameTheRegisteredEvents) {
    DriverContext ctx;
    ipc::Event a = newEvent();
    ipc::Event b = newEvent();
    ipc::Event g = newEvent();
    ASSERT_EQ(send(ctx, IOCTL_RS232_SET_DOWN_EVENT, eventRequest(2, a.fd()), 0, a.fd()).status,
              kSuccess);
    ASSERT_EQ(send(ctx, IOCTL_RS232_SET_UP_EVENT, eventRequest(2, b.fd()), 0, b.fd()).status,
              kSuccess);
    ASSERT_EQ(
        send(ctx, IOCTL_RS232_SET_GLOBAL_UP_EVENT, eventRequest({}, g.fd()), 0, g.fd()).status,
        kSuccess);
    const engine::Rs232Device& d = ctx.device(2);
    EXPECT_EQ(d.DownEventRegistered, 1);
    EXPECT_EQ(d.UpEventRegistered, 1);
    engine::SetEngineEvent(ctx.extension(), d.DownEvent);
    EXPECT_TRUE(a.isSet());
    EXPECT_FALSE(b.isSet());
    engine::SetEngineEvent(ctx.extension(), ctx.extension().GlobalUpEvent);
    EXPECT_TRUE(g.isSet());
    EXPECT_EQ(ctx.device(3).DownEventRegistered, 0); // another device untouched
}

TEST(ControlEvents, MissingDescriptorIsAnInvalidHandle) {
    for (const EventCode& c : kEventCodes) {
        DriverContext ctx;
        const Result r = send(ctx, c.code, eventRequest(deviceOf(c), 5), 0);
        EXPECT_EQ(r.status, kInvalidHandle) << std::hex << c.code;
        EXPECT_EQ(r.info, 0u);
        EXPECT_EQ(ctx.events().size(), 0u);
        EXPECT_EQ(ctx.device(2).DownEventRegistered, 0);
        EXPECT_EQ(ctx.extension().GlobalDownEvent, engine::kNoEvent);
    }
}

TEST(ControlEvents, DescriptorOfAnotherKindIsATypeMismatch) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    UniqueFd readEnd(fds[0]);
    UniqueFd writeEnd(fds[1]);
    const std::filesystem::path file = std::filesystem::temp_directory_path() / "kvr-dctl-notevent";
    UniqueFd regular(::open(file.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600));
    ASSERT_TRUE(regular.valid());
    for (int foreign : {readEnd.get(), regular.get()}) {
        for (const EventCode& c : kEventCodes) {
            DriverContext ctx;
            const Result r = send(ctx, c.code, eventRequest(deviceOf(c), foreign), 0, foreign);
            EXPECT_EQ(r.status, kObjectTypeMismatch) << std::hex << c.code;
            EXPECT_EQ(r.info, 0u);
            EXPECT_EQ(ctx.events().size(), 0u);
            // a refused registration does not use up the device's one registration
            ipc::Event ok = newEvent();
            EXPECT_EQ(send(ctx, c.code, eventRequest(deviceOf(c), ok.fd()), 0, ok.fd()).status,
                      kSuccess);
        }
    }
    std::filesystem::remove(file);
}

TEST(ControlEvents, PerDeviceEventsRegisterOncePerLifetime) {
    DriverContext ctx;
    ipc::Event first = newEvent();
    ipc::Event second = newEvent();
    ASSERT_EQ(
        send(ctx, IOCTL_RS232_SET_DOWN_EVENT, eventRequest(0, first.fd()), 0, first.fd()).status,
        kSuccess);
    const Result r =
        send(ctx, IOCTL_RS232_SET_DOWN_EVENT, eventRequest(0, second.fd()), 0, second.fd());
    EXPECT_EQ(r.status, kUnsuccessful);
    EXPECT_EQ(r.info, 0u);
    engine::SetEngineEvent(ctx.extension(), ctx.device(0).DownEvent);
    EXPECT_TRUE(first.isSet());
    EXPECT_FALSE(second.isSet());
    // the up event of the same device is a separate registration
    EXPECT_EQ(
        send(ctx, IOCTL_RS232_SET_UP_EVENT, eventRequest(0, second.fd()), 0, second.fd()).status,
        kSuccess);
}

// Number of eventfd descriptors this process holds (each registration adds the driver's own
// duplicate; a release takes it away again).
int eventFdCount() {
    int count = 0;
    std::vector<int> fds;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        fds.push_back(std::stoi(entry.path().filename().string()));
    }
    for (int fd : fds)
        count += ipc::isEventFd(fd) ? 1 : 0;
    return count;
}

TEST(ControlEvents, ReplacingADriverWideEventReleasesTheOldOne) {
    DriverContext ctx;
    ipc::Event old = newEvent();
    ipc::Event fresh = newEvent();
    const int before = eventFdCount();
    ASSERT_EQ(send(ctx, IOCTL_RS232_SET_GLOBAL_DOWN_EVENT, eventRequest({}, old.fd()), 0, old.fd())
                  .status,
              kSuccess);
    EXPECT_EQ(eventFdCount(), before + 1); // the driver's own duplicate
    ASSERT_EQ(
        send(ctx, IOCTL_RS232_SET_GLOBAL_DOWN_EVENT, eventRequest({}, fresh.fd()), 0, fresh.fd())
            .status,
        kSuccess);
    EXPECT_EQ(eventFdCount(), before + 1); // the old duplicate released, the new one held
    engine::SetEngineEvent(ctx.extension(), ctx.extension().GlobalDownEvent);
    EXPECT_TRUE(fresh.isSet());
    EXPECT_FALSE(old.isSet());
}

TEST(ControlEvents, DestroyingTheContextReleasesEveryEvent) {
    ipc::Event e = newEvent();
    const int before = eventFdCount();
    {
        DriverContext ctx;
        for (const EventCode& c : kEventCodes) {
            ASSERT_EQ(send(ctx, c.code, eventRequest(deviceOf(c), e.fd()), 0, e.fd()).status,
                      kSuccess);
        }
        EXPECT_EQ(eventFdCount(), before + 5);
    }
    EXPECT_EQ(eventFdCount(), before);
}

// The whole path a client takes: the eventfd travels over the control-device socket, the
// dispatch keeps its duplicate, and the engine's reference sets the client's own event.
TEST(ControlEvents, RegistrationThroughTheControlDeviceSocket) {
    DriverContext ctx;
    std::string error;
    auto server = ipc::ControlServer::start(std::string(ctx.role().controlDeviceName),
                                            ControlDispatch(ctx), "", error);
    ASSERT_TRUE(server) << error;
    auto device = ipc::ControlDevice::open("\\\\.\\KvrRs232D");
    ASSERT_TRUE(device.has_value());
    ipc::Event client = newEvent();
    const std::vector<std::uint8_t> in = eventRequest({}, client.fd());
    std::uint32_t returned = 99;
    std::uint32_t status = 1;
    EXPECT_TRUE(device->ioctl(IOCTL_RS232_SET_GLOBAL_DOWN_EVENT, in.data(),
                              static_cast<std::uint32_t>(in.size()), nullptr, 0, &returned,
                              client.fd(), &status));
    EXPECT_EQ(status, kSuccess);
    EXPECT_EQ(returned, 0u);
    engine::SetEngineEvent(ctx.extension(), ctx.extension().GlobalDownEvent);
    EXPECT_TRUE(client.wait(std::chrono::seconds(20)));
    // without a descriptor
    EXPECT_FALSE(device->ioctl(IOCTL_RS232_SET_GLOBAL_UP_EVENT, in.data(),
                               static_cast<std::uint32_t>(in.size()), nullptr, 0, &returned, -1,
                               &status));
    EXPECT_EQ(status, kInvalidHandle);
    device->close();
    server->stop();
}

// A per-device event belongs to the connection that registered it: while that registrant
// lives a second registration is refused; once it closes its handle (or ends) the device
// takes one again, and the engine no longer sets the released event.
TEST(ControlEvents, PerDeviceEventIsFreedWhenItsConnectionCloses) {
    DriverContext ctx;
    std::string error;
    auto server = ipc::ControlServer::start(std::string(ctx.role().controlDeviceName),
                                            ControlDispatch(ctx), "", error, ControlClose(ctx));
    ASSERT_TRUE(server) << error;
    auto registerOn = [](ipc::ControlConnection& c, const ipc::Event& e) {
        const std::vector<std::uint8_t> in = eventRequest(1, e.fd());
        std::uint32_t status = 1;
        c.ioctl(IOCTL_RS232_SET_DOWN_EVENT, in.data(), static_cast<std::uint32_t>(in.size()),
                nullptr, 0, nullptr, e.fd(), &status);
        return status;
    };
    ipc::Event first = newEvent();
    ipc::Event second = newEvent();
    auto old = ipc::ControlConnection::open("KvrRs232D");
    auto fresh = ipc::ControlConnection::open("KvrRs232D");
    ASSERT_TRUE(old && fresh);
    ASSERT_EQ(registerOn(*old, first), kSuccess);
    EXPECT_EQ(registerOn(*fresh, second), kUnsuccessful) << "the registrant still lives";
    auto registered = [&] {
        std::lock_guard lock(ctx.device(1).Lock);
        return ctx.device(1).DownEventRegistered != 0;
    };
    old.reset();
    ASSERT_TRUE(kvr::test::waitUntil([&] { return !registered(); }));
    engine::SetEngineEvent(ctx.extension(), EventTable::downEvent(1));
    EXPECT_FALSE(first.isSet()) << "released";
    EXPECT_EQ(registerOn(*fresh, second), kSuccess);
    engine::SetEngineEvent(ctx.extension(), ctx.device(1).DownEvent);
    EXPECT_TRUE(second.isSet());
    server->stop();
    EXPECT_FALSE(registered()) << "a stopping server closes every handle";
}

TEST(ControlEvents, UnknownReferencesAreIgnored) {
    EventTable table;
    EXPECT_FALSE(table.install(0, *ipc::Event::create()));
    EXPECT_FALSE(table.install(100000, *ipc::Event::create()));
    table.setEvent(0);
    table.setEvent(~engine::EventRef{0});
    EXPECT_EQ(table.size(), 0u);
    EXPECT_EQ(EventTable::downEvent(8), engine::kNoEvent);
}

} // namespace
} // namespace kvr::driver::test
