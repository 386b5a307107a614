#include "panel/companions.h"

#include "platform/desktop/spawn.h"

#include <system_error>

namespace kvr::panel {
namespace {

std::filesystem::path ownFolder() {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::current_path(ec) : self.parent_path();
}

} // namespace

Companions::Companions() : folder_(ownFolder()) {}

Companions::Companions(std::filesystem::path folder) : folder_(std::move(folder)) {}

bool Companions::present(std::string_view program) const {
    // A path (it has a '/'), so only this folder is looked at.
    return desktop::resolveProgram((folder_ / program).string()).has_value();
}

std::optional<pid_t> Companions::start(std::string_view program,
                                       const std::vector<std::string>& args) const {
    desktop::reapDetachedChildren();
    return desktop::startDetached((folder_ / program).string(), args);
}

std::vector<std::string> scaleOffsetArgs(const std::string& controller) {
    return {controller};
}

std::vector<std::string> linearityArgs(const std::string& controller, int points) {
    return {controller, "-" + std::to_string(points)};
}

std::vector<std::string> drawingArgs(std::uint8_t displayNumber) {
    return {"-" + std::to_string(displayNumber + 1)};
}

} // namespace kvr::panel
