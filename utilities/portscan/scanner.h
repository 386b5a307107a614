#pragma once
// The scan itself, apart from its window and thread:
//   1. release every controller the driver serves (a COMPORT that is not 0): silence it with
//      "MI", close its port in the driver, and set its COMPORT to 0;
//   2. probe the listed ports one by one; each port with a controller is written to the next
//      device key's COMPORT and handed to the driver (connect on that COM number at 9600
//      baud, then the report-mode command for the driver's report mode), until the maximum
//      number of controllers is reached;
//   3. the final report.
//
// A port that cannot be opened (permission, busy, gone) is never counted as "no device", and
// a working setup is never taken apart on its account:
//   - a configured controller whose port this user cannot open at all (no permission, or the
//     port is not there) is not released: its COMPORT and its connection stay as they are;
//   - a released controller whose port the scan cannot prove empty (busy, not opened, not
//     probed before the end or a stop) is connected again, on its own device when that is
//     still free, else on the next free one;
//   - the report and stderr say why ("permission denied: add yourself to group dialout",
//     "in use by KvrRs232 (pid 4711)").
// The texts to show are handed to `show` as they change. Every wait ends at once when `stop`
// is set; the scan then only connects again what it released and could not prove empty.

#include "platform/ipc/event.h"
#include "platform/serial/line.h"
#include "utilities/portscan/port_list.h"
#include "utilities/portscan/probe.h"
#include "utilities/portscan/report_text.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kvr::portscan {

// Controllers the serial driver takes.
inline constexpr unsigned kMaxControllers = 4;
// Registry slots the release visits (the driver's device records).
inline constexpr std::uint8_t kDeviceSlots = 8;
inline constexpr std::uint32_t kProbeBaudRate = 9600;

// The driver's device key of slot n, and the connect markers under the product key.
std::string deviceKeyPath(std::uint8_t device);
inline constexpr const char* kProductKey =
    R"(HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Kvr)";

// Deletes the connect markers RS232_DEVICE0..7 (the driver writes them again as it connects).
void deleteConnectMarkers();

// What the scan asks of the system; systemCalls() are the real ones (the driver's control
// device, the ttys), tests give their own.
struct ScanCalls {
    // The tty of COMn (the dosdevices mapping).
    std::function<std::optional<std::filesystem::path>(unsigned comPort)> resolve;
    // Whether this user could open the tty at all (asked before its controller is released).
    std::function<serial::OpenFailure(const std::filesystem::path& tty)> accessProblem;
    std::function<ProbeOutcome(const std::filesystem::path& tty, const ipc::Event& stop)> probe;
    // The driver: silence device n ("MI") and close its port; false when stopped meanwhile.
    std::function<bool(std::uint8_t device, const ipc::Event& stop)> release;
    // The driver: connect device n on COMc and send its report-mode command; false when
    // stopped meanwhile.
    std::function<bool(std::uint8_t device, unsigned comPort, const ipc::Event& stop)> connect;
};
ScanCalls systemCalls();

class Scanner {
public:
    using Show = std::function<void(const std::string& text)>;
    Scanner(std::vector<ListedPort> ports, const ipc::Event& stop, Show show,
            ScanCalls calls = systemCalls());

    // Runs the whole scan. False when it was stopped before the end.
    bool run();

    [[nodiscard]] const std::vector<PortReport>& results() const { return results_; }
    [[nodiscard]] unsigned foundCount() const { return count_; }
    // The final report text (empty until the scan has ended).
    [[nodiscard]] const std::string& finalReport() const { return final_; }

private:
    // A controller configured before the scan: its device, its COM number, and what the scan
    // did with it.
    struct Configured {
        std::uint8_t device = 0;
        unsigned comPort = 0;
        bool released = false;   // silenced, disconnected, COMPORT 0
        bool settled = false;    // found again, proven gone, or connected again
        std::string keptBecause; // not released: why its port could not be opened
    };

    bool releaseServedControllers();
    // Writes COMPORT of a free device key and asks the driver to connect; the device used.
    std::optional<std::uint8_t> handOver(unsigned comPort, std::optional<std::uint8_t> preferred);
    std::optional<std::uint8_t> freeDevice(std::optional<std::uint8_t> preferred) const;
    Configured* configuredOn(unsigned comPort);
    // Connects again every released controller the scan could not prove gone.
    void reconnectUnsettled();
    void warn(const std::string& port, const std::string& why);

    std::vector<ListedPort> ports_;
    const ipc::Event& stop_;
    Show show_;
    ScanCalls calls_;
    std::vector<PortReport> results_;
    std::vector<Configured> configured_;
    std::array<bool, kDeviceSlots> taken_{}; // devices kept, or given in this scan
    std::vector<std::string> notes_;
    unsigned count_ = 0;
    std::string final_;
};

} // namespace kvr::portscan
