#include "panel/messages.h"

#include "panel/text_file.h"
#include "platform/common/paths.h"

namespace kvr::panel {
namespace {

// Spelled as the suite has always shown them, including their slips ("Controll", "Eixt").
constexpr std::array<std::string_view, MessageTable::kBuiltinSlots> kBuiltin = {
    "No device was found",
    "Open Controller Error!!",
    "Password Error!!",
    "Value must < 128 !!",
    "Are you sure ?!",
    "Write ok!!",
    "Update OK",
    "Update Error",
    "Controller Restore OK",
    "Controller Restore Error",
    "Controller Reset OK",
    "Controll Reset Error",
    "Remove the Driver(Release Comport) and Exit program?",
    "Restart the computer will Re_Connected again !!",
    "Remove the Driver and Release Comport",
    "Reset Function",
    "Set Calibration Row Error",
    "Wrong Position, Trial again please",
    "CX command Error",
    "2 pts calibration Function",
    "Calibration ERROR",
    "Clear All Drawing ?",
    "OutSide X,Y Limit",
    "Test Program",
    "Too many points ",
    "Update the pin definition ??",
    "Read Sensor Type Error!!",
    "Update OK ! Re-Connect the the Touch Sensor",
    "Disconnect the connector of touch sensor ",
    "Please set to FORMAT TABLET",
    "Report Rate",
    "Text too long !!",
    "Setting OK",
    "Setting Error",
    "Help/Eixt",
    "Clear Screen",
    "Exit Draw mode",
    "Thin",
    "Thick",
    "Change Color",
    "Toggle Grid",
    "Line mode",
    "Point mode",
    "Save Drawing",
    "Tolerance View",
    "View Drawing",
    "FixCalibration",
    "ESC",
    "AVG Report",
    "Exit Drawing",
    "Width",
    "Are you sure to disable the touch panel !!!",
    "Open already!",
};

const std::string kEmpty;

} // namespace

MessageTable::MessageTable() {
    for (std::size_t slot = 0; slot < kBuiltin.size(); ++slot)
        texts_[slot] = std::string(kBuiltin[slot]);
}

std::string_view MessageTable::builtinText(std::size_t slot) {
    return slot < kBuiltin.size() ? kBuiltin[slot] : std::string_view();
}

bool MessageTable::load(const std::filesystem::path& file) {
    *this = MessageTable();
    const auto lines = readTextLines(file);
    if (!lines) return false;
    fill(*lines);
    return true;
}

void MessageTable::parse(std::string_view contents) {
    *this = MessageTable();
    fill(splitTextLines(contents));
}

void MessageTable::fill(const std::vector<std::string>& lines) {
    for (std::size_t slot = 0; slot < kFileLines && slot < lines.size(); ++slot)
        texts_[slot] = lines[slot];
}

bool MessageTable::loadMessages() {
    return load(paths::findConfigFile(kMessageFile));
}

const std::string& MessageTable::text(std::size_t slot) const {
    return slot < texts_.size() ? texts_[slot] : kEmpty;
}

} // namespace kvr::panel
