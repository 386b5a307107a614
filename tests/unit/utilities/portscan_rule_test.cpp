// The scan's port-safety rule against scripted ports and a scripted driver: a port that
// cannot be opened is never "no device", a controller on a port this user cannot open is
// not released, and a released controller whose port the scan cannot prove empty is
// connected again.

#include "platform/registry/registry.h"
#include "utilities/portscan/scanner.h"

#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

namespace kvr::portscan {
namespace {

using serial::OpenFailure;

struct PortScript {
    unsigned com;
    OpenFailure access = OpenFailure::None; // before its controller is released
    ProbeResult probe = ProbeResult::NoDevice;
};

struct Case {
    const char* what;
    std::vector<std::pair<std::uint8_t, unsigned>> configured; // device, COM number
    std::vector<unsigned> listed;
    std::vector<PortScript> ports;
    std::vector<std::string> driverCalls;
    std::map<std::uint8_t, std::uint32_t> comPortAfter; // COMPORT per device
    std::vector<std::string> reportLines;               // the final text's lines before the summary
};

TEST(PortscanSafety, UnprovenPortsKeepOrGetBackTheirControllers) {
    const std::string busy = "in use by KvrRs232 (pid 42)";
    const std::vector<Case> cases = {
        {"no permission: left as it is, not probed",
         {{0, 1}},
         {1, 2},
         {{1, OpenFailure::PermissionDenied}, {2, {}, ProbeResult::Found}},
         {"connect 1 COM2"},
         {{0, 1}, {1, 2}},
         {"COM1: permission denied: add yourself to group dialout (its controller is left as "
          "it is).",
          "COM2: found a device."}},
        {"busy after the release: connected again",
         {{0, 3}},
         {1, 3},
         {{1, {}, ProbeResult::Found}, {3, {}, ProbeResult::Busy}},
         {"release 0", "connect 0 COM1", "connect 1 COM3"},
         {{0, 1}, {1, 3}},
         {"COM1: found a device.", "COM3: " + busy + " (its controller is connected again)."}},
        {"proven empty: released",
         {{0, 2}},
         {2},
         {{2}},
         {"release 0"},
         {{0, 0}},
         {"COM2: no device."}},
        {"not listed: connected again at the end",
         {{1, 5}},
         {1},
         {{1}},
         {"release 1", "connect 1 COM5"},
         {{1, 5}},
         {"COM1: no device.", "COM5: not probed (its controller is connected again)."}},
        {"held, nothing configured: nothing written",
         {},
         {1},
         {{1, {}, ProbeResult::Busy}},
         {},
         {{0, 0}},
         {"COM1: " + busy + "."}},
        {"port gone: left as it is",
         {{2, 4}},
         {1},
         {{1, {}, ProbeResult::Found}, {4, OpenFailure::Gone}},
         {"connect 0 COM1"},
         {{0, 1}, {2, 4}},
         {"COM1: found a device.", "COM4: not present (its controller is left as it is)."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (std::uint8_t n = 0; n < kDeviceSlots; ++n) {
            reg::deleteKey(deviceKeyPath(n));
            ASSERT_EQ(reg::createKey(deviceKeyPath(n)), reg::Status::Ok);
        }
        for (const auto& [device, com] : c.configured)
            reg::setDword(deviceKeyPath(device), "COMPORT", com);
        const auto script = [&](const std::filesystem::path& tty) {
            for (const PortScript& p : c.ports)
                if (tty == "/dev/fake" + std::to_string(p.com)) return p;
            return PortScript{0};
        };
        std::vector<std::string> driver;
        ScanCalls calls{
            .resolve =
                [](unsigned com) {
                    return std::filesystem::path("/dev/fake" + std::to_string(com));
                },
            .accessProblem = [&](const std::filesystem::path& tty) { return script(tty).access; },
            .probe =
                [&](const std::filesystem::path& tty, const ipc::Event&) {
                    const ProbeResult r = script(tty).probe;
                    return ProbeOutcome{r, r == ProbeResult::Busy ? busy : ""};
                },
            .release =
                [&](std::uint8_t n, const ipc::Event&) {
                    driver.push_back("release " + std::to_string(n));
                    return true;
                },
            .connect =
                [&](std::uint8_t n, unsigned com, const ipc::Event&) {
                    driver.push_back("connect " + std::to_string(n) + " COM" + std::to_string(com));
                    return true;
                },
        };
        std::vector<ListedPort> ports;
        for (unsigned com : c.listed)
            ports.push_back(*listedPort("COM" + std::to_string(com)));
        auto stop = ipc::Event::create();
        ASSERT_TRUE(stop);
        Scanner scanner(
            ports, *stop, [](const std::string&) {}, calls);
        ASSERT_TRUE(scanner.run());

        EXPECT_EQ(driver, c.driverCalls);
        for (const auto& [device, com] : c.comPortAfter) {
            std::uint32_t value = 0;
            reg::queryDword(deviceKeyPath(device), "COMPORT", value);
            EXPECT_EQ(value, com) << "Device" << int(device);
        }
        std::string expected;
        for (const std::string& line : c.reportLines)
            expected += line + "\r\n";
        EXPECT_EQ(scanner.finalReport().substr(0, expected.size()), expected);
    }
}

} // namespace
} // namespace kvr::portscan
