#pragma once
// Message boxes: every report to a person goes through one hook. Qt programs install a
// QMessageBox implementation at start; the default, for console programs and the library,
// prints "program: caption: text" to stderr and answers with the box's default button.
// Button and result values are Windows' own, since the suite's logic is written in them.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

namespace kvr::desktop {

// Buttons (low four bits of the type).
constexpr uint32_t MB_OK = 0x0;
constexpr uint32_t MB_OKCANCEL = 0x1;
constexpr uint32_t MB_ABORTRETRYIGNORE = 0x2;
constexpr uint32_t MB_YESNOCANCEL = 0x3;
constexpr uint32_t MB_YESNO = 0x4;
constexpr uint32_t MB_RETRYCANCEL = 0x5;
constexpr uint32_t MB_CANCELTRYCONTINUE = 0x6;
constexpr uint32_t MB_TYPEMASK = 0xF;
// Icons.
constexpr uint32_t MB_ICONHAND = 0x10;
constexpr uint32_t MB_ICONERROR = MB_ICONHAND;
constexpr uint32_t MB_ICONQUESTION = 0x20;
constexpr uint32_t MB_ICONEXCLAMATION = 0x30;
constexpr uint32_t MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr uint32_t MB_ICONASTERISK = 0x40;
constexpr uint32_t MB_ICONINFORMATION = MB_ICONASTERISK;
constexpr uint32_t MB_ICONMASK = 0xF0;
// Default button.
constexpr uint32_t MB_DEFBUTTON1 = 0x000;
constexpr uint32_t MB_DEFBUTTON2 = 0x100;
constexpr uint32_t MB_DEFBUTTON3 = 0x200;
constexpr uint32_t MB_DEFBUTTON4 = 0x300;
constexpr uint32_t MB_DEFMASK = 0xF00;
// Modality and placement (passed on to the hook, no meaning to the default).
constexpr uint32_t MB_APPLMODAL = 0x0000;
constexpr uint32_t MB_SYSTEMMODAL = 0x1000;
constexpr uint32_t MB_TASKMODAL = 0x2000;
constexpr uint32_t MB_SETFOREGROUND = 0x10000;
constexpr uint32_t MB_TOPMOST = 0x40000;

// Results.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;
constexpr int IDTRYAGAIN = 10;
constexpr int IDCONTINUE = 11;

// A hook shows the box and returns the button chosen (an ID* value).
using MessageBoxHook =
    std::function<int(std::string_view text, std::string_view caption, uint32_t type)>;

// One hook for the whole process. Every binary of the suite has its own copy of this code
// (the program, and libtsapi.so inside it); the program's copy is the one that counts. Each
// program exports kProcessMessageBoxSymbol (kvr_program does), and every other copy in the
// process hands its boxes to it, so the library's boxes appear as the program's own (a Qt box
// in a windowed program, a stderr line in a console one).
inline constexpr const char* kProcessMessageBoxSymbol = "kvr_desktop_message_box_v1";
using ProcessMessageBox = int (*)(const char* text, std::size_t textLength, const char* caption,
                                  std::size_t captionLength, uint32_t type);

// Installs the hook for the whole process; an empty function restores the default.
void setMessageBoxHook(MessageBoxHook hook);

// Shows a message box through the hook and returns its result. A hook that throws, or
// answers with no value of the box's buttons, counts as the default button.
int messageBox(std::string_view text, std::string_view caption, uint32_t type = MB_OK);

// The default button's result for a type: the MB_DEFBUTTONn-th button of its set, the first
// when there is no such button (as on Windows); unknown button sets count as MB_OK.
int defaultButtonResult(uint32_t type);

} // namespace kvr::desktop

// The program's entry point for the boxes of the whole process (see kProcessMessageBoxSymbol).
extern "C" __attribute__((visibility("default"))) int
kvr_desktop_message_box_v1(const char* text, std::size_t textLength, const char* caption,
                           std::size_t captionLength, uint32_t type);
