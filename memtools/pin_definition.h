#pragma once
// The sensor's pin definition: which electrode each connector pin carries, the wiring code
// derived from it, and writing that code into the controller.
//
// Entry: the user assigns the four electrode choices "Y+/UL", "X-/UR", "Y-/LR", "X+/LL" to
// the pins one by one. A five-wire sensor's pins are named 1, 2, 4, 5 (pin 3 is the probe
// wire), a four-wire sensor's 1, 2, 3, 4. The first letters of the choices, in pin order,
// make the electrode sequence, and the sequence gives the wiring code:
//
//   sequence        code (5 wire)   code (4 wire)
//   XYXY, YXYX      0               3
//   YXXY, XYYX      1               4
//   XXYY, YYXX      2               5
//
// Writing: the code goes into the low bits of the second byte of word 9E, beside the display
// assignment, which stays as it is:
//
//   word 9E   first byte   second byte
//             unchanged    high digit unchanged | bit 3 unchanged | bits 2..0 = code
//
// then "RD" makes the controller restart with the new wiring.

#include "protocol/replies.h"
#include "protocol/session.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvr::memtools {

inline constexpr std::array<std::string_view, 4> kElectrodeChoices = {"Y+/UL", "X-/UR", "Y-/LR",
                                                                      "X+/LL"};
inline constexpr int kPinsToAssign = 4;

// The wiring code of an electrode sequence (0..2, plus 3 for a four-wire sensor); nothing for
// a sequence that is not two X and two Y.
std::optional<std::uint16_t> wiringCode(std::string_view sequence, bool fourWire);

// The pin entry of the pin definition window, without the window.
class PinEntry {
public:
    PinEntry() { reset(false); }

    // A fresh entry: no electrode assigned, all four choices offered, "Pin #1".
    void reset(bool fourWire);

    // Assigns the choice `choice` (surrounding blanks ignored) to the current pin. False when
    // it is not one of the choices still offered or all pins are assigned.
    bool assign(std::string_view choice);

    [[nodiscard]] bool fourWire() const { return fourWire_; }
    [[nodiscard]] bool finished() const { return finished_; }
    [[nodiscard]] const std::vector<std::string>& remainingChoices() const { return remaining_; }
    [[nodiscard]] const std::string& pinLabel() const { return pinLabel_; }
    [[nodiscard]] const std::string& sequence() const { return sequence_; }
    // "Y+/UL <----> Pin #1", ... in assignment order.
    [[nodiscard]] const std::vector<std::string>& assignments() const { return assignments_; }
    // Once finished: the wiring code, and the hidden code label "[2] XXYY".
    [[nodiscard]] std::uint16_t code() const { return code_; }
    [[nodiscard]] std::string codeLabel() const;

private:
    void finishpin();

    bool fourWire_ = false;
    bool finished_ = false;
    std::vector<std::string> remaining_;
    std::vector<std::string> assignments_;
    std::string sequence_;
    std::string pinLabel_;
    std::uint16_t pinCounter_ = 1;
    std::uint16_t code_ = 0;
};

// The two byte texts written to 9E for `code` (0..5), given the "GP9E" reply's word: the
// first byte's digits unchanged; the second byte's high digit unchanged and its low digit the
// code, plus 8 when the reply's fourth digit is above '7' (bit 3 set).
struct WiringWord {
    std::string first;
    std::string second;
};
WiringWord wiringWord(const protocol::ParameterWord& current, std::uint16_t code);

enum class PinWriteOutcome {
    Written,        // "SP" and "RD" accepted by the library
    ReadFailed,     // no valid reply to "GP9E" in two tries; nothing written
    WriteRefused,   // the library refused "SP9E" four times
    RestoreRefused, // "SP9E" went through, the library refused "RD"
};

// The write sequence on an opened controller session: flush, "GP9E", 300 ms, read (twice at most);
// "SP9E" twice, 300 ms after each, twice more when the second was refused; flush, "RD",
// 300 ms. "Accepted" is the library's write result; the replies to "SP" and "RD" are not read.
PinWriteOutcome writeWiringCode(protocol::ControllerSession& controller, std::uint16_t code);

} // namespace kvr::memtools
