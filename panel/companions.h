#pragma once
// The suite's programs the panel starts, without waiting for them: the calibration programs,
// the drawing test and the two memory tools. Each is the executable of that name (lower case)
// in the panel's own folder.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace kvr::panel {

namespace companion {
inline constexpr std::string_view kScaleOffset = "cal3pt";
inline constexpr std::string_view kLinearity = "linear";
inline constexpr std::string_view kDrawing = "sketch";
inline constexpr std::string_view kBackup = "nvbackup";
inline constexpr std::string_view kRestore = "nvrestore";
} // namespace companion

class Companions {
public:
    // The folder of the running program.
    Companions();
    explicit Companions(std::filesystem::path folder);

    [[nodiscard]] const std::filesystem::path& folder() const { return folder_; }
    // The program is there and can be run.
    [[nodiscard]] bool present(std::string_view program) const;
    // Starts it detached with `args`; its pid, nothing when it is missing or would not start.
    std::optional<pid_t> start(std::string_view program,
                               const std::vector<std::string>& args = {}) const;

private:
    std::filesystem::path folder_;
};

// The command lines: "cal3pt NAME", "linear NAME -5" / "linear NAME -9", "sketch -N" with N
// the display number + 1.
std::vector<std::string> scaleOffsetArgs(const std::string& controller);
std::vector<std::string> linearityArgs(const std::string& controller, int points);
std::vector<std::string> drawingArgs(std::uint8_t displayNumber);

} // namespace kvr::panel
