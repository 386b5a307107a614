#pragma once
// What the memory tools do with a controller around their real work: find the controller to
// work on (the search every tool runs at start), suspend its touch reports while they work
// and resume them when they end. Each step opens the controller by name and closes it again.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kvr::memtools {

// ---- the controller search ---------------------------------------------------------------------

// Entry of the name list for a controller name: from its kind word ("RS232", else "USB")
// through "DEVICE" and the one character after it, when "DEVICE" starts at the fourth
// character or later; empty when the name qualifies for neither ("COM_DEVICE3", "USB_DEV0").
std::string nameListEntry(std::string_view controllerName);

struct SearchOptions {
    bool reopenComPort = true;       // ReopenCOMPort on a serial controller before probing
    bool flushBeforeProbe = true;    // FlushReadBuffer before each "UT"
    std::uint16_t probeWaitMs = 200; // after each "UT"
    std::uint16_t pauseMs = 300;     // between one controller and the next
};

// The backup and restore programs' search; the pin definition program's differs.
inline constexpr SearchOptions kBackupSearch{};
inline constexpr SearchOptions kPinmapSearch{false, false, 100, 100};

struct SearchResult {
    int count = 0;                  // GetExistControllers
    std::string current;            // the controller chosen (or the last one tried)
    bool answered = false;          // it answered "UT"
    std::vector<std::string> names; // the name list, entry i for controller i + 1
};

// Lists the controllers and probes each with "UT" (twice when the first gets no reply);
// the first that answers with more than 5 bytes is chosen. With none answering, the last
// one tried stays current; with none listed, `count` is 0 and nothing was opened.
SearchResult searchController(const SearchOptions& options);

// ---- touch reports -----------------------------------------------------------------------------

// Suspends the controller's touch reports while a tool works: "MS", 30 ms, "MI", 300 ms,
// read (ignored).
void suspendReports(const std::string& name);

// Resumes them: "MS", then `waitMs`, then (when `readAnswer`) a read whose bytes are dropped.
// The tools send it when they end (300 ms and a read) and when their window is closed
// otherwise (200 ms, no read). False when the controller could not be opened or the library
// refused the frame.
bool resumeReports(const std::string& name, std::uint16_t waitMs, bool readAnswer);

inline constexpr std::uint16_t kResumeAtExitWaitMs = 300;
inline constexpr std::uint16_t kResumeAtUnloadWaitMs = 200;

} // namespace kvr::memtools
