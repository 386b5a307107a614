#pragma once
// The message boxes of the windowed programs: a QMessageBox with Windows' buttons, icons and
// results (the values of platform/desktop/message_box.h), modal, on top.
//
// Automation switch: when KVR_MESSAGE_ANSWERS is set, no box is shown. Each box writes one
// line "messagebox: CAPTION: TEXT" to stderr (line breaks as "\n") and is answered with the
// next word of that comma-separated list (ok, cancel, yes, no, abort, retry, ignore, tryagain,
// continue), or with its default button once the list is used up. A word that names none of
// the box's buttons also gives the default button. Unattended runs and tests use it.

#include <cstdint>
#include <string>
#include <string_view>

namespace kvr::gui {

// Shows one box (or answers it under the automation switch); the ID* result.
int showMessageBox(std::string_view text, std::string_view caption, uint32_t type);

// The answer a word of the automation list stands for (IDOK ...), 0 for an unknown word.
int answerForWord(std::string_view word);

// The stderr line of the automation switch for a box.
std::string automationLine(std::string_view caption, std::string_view text);

// Forgets how far the automation list has been used (tests that change KVR_MESSAGE_ANSWERS
// between boxes).
void resetAutomatedAnswers();

} // namespace kvr::gui
