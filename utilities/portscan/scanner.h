#pragma once
// The scan itself, apart from its window and thread:
//   1. release every controller the driver serves (a COMPORT that is not 0): silence it with
//      "MI", close its port in the driver, and set its COMPORT to 0;
//   2. probe the listed ports one by one; each port with a controller is written to the next
//      device key's COMPORT and handed to the driver (connect on that COM number at 9600
//      baud, then the report-mode command for the driver's report mode), until the maximum
//      number of controllers is reached;
//   3. the final report.
// The texts to show are handed to `show` as they change. Every wait ends at once when `stop`
// is set, and then the scan ends without touching anything more; descriptors are closed on
// every path.

#include "platform/ipc/event.h"
#include "utilities/portscan/port_list.h"

#include <cstdint>
#include <functional>
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

class Scanner {
public:
    using Show = std::function<void(const std::string& text)>;
    Scanner(std::vector<ListedPort> ports, const ipc::Event& stop, Show show);

    // Runs the whole scan. False when it was stopped before the end.
    bool run();

    [[nodiscard]] const std::vector<bool>& found() const { return found_; }
    [[nodiscard]] unsigned foundCount() const { return count_; }
    // The final report text (empty until the scan has ended).
    [[nodiscard]] const std::string& finalReport() const { return final_; }

private:
    bool releaseServedControllers();
    bool handOver(std::uint8_t device, const ListedPort& port);

    std::vector<ListedPort> ports_;
    const ipc::Event& stop_;
    Show show_;
    std::vector<bool> found_;
    unsigned count_ = 0;
    std::string final_;
};

} // namespace kvr::portscan
