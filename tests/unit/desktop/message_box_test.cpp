#include "platform/desktop/message_box.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>

namespace kvr::desktop {
namespace {

TEST(MessageBox, DefaultButtonOfEachType) {
    struct Case {
        uint32_t type;
        int result;
    } cases[] = {
        {MB_OK, IDOK},
        {MB_OK | MB_ICONHAND, IDOK},
        {MB_OK | MB_DEFBUTTON2, IDOK}, // no second button: the first
        {MB_OKCANCEL, IDOK},
        {MB_OKCANCEL | MB_DEFBUTTON2, IDCANCEL},
        {MB_YESNO, IDYES},
        {MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION, IDNO},
        {MB_YESNOCANCEL | MB_DEFBUTTON3, IDCANCEL},
        {MB_ABORTRETRYIGNORE | MB_DEFBUTTON2, IDRETRY},
        {MB_RETRYCANCEL, IDRETRY},
        {MB_CANCELTRYCONTINUE | MB_DEFBUTTON3, IDCONTINUE},
        {MB_YESNO | MB_DEFBUTTON4, IDYES},
        {0xF, IDOK}, // unknown button set
    };
    for (const auto& c : cases)
        EXPECT_EQ(defaultButtonResult(c.type), c.result) << c.type;
}

TEST(MessageBox, DefaultPrintsProgramCaptionAndText) {
    setMessageBoxHook({});
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(messageBox("Error to Read Reg Value", "Message", MB_OK), IDOK);
    EXPECT_EQ(messageBox("Save?\n", "Tactivo", MB_YESNO | MB_DEFBUTTON2), IDNO);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "desktop_test: Message: Error to Read Reg Value\ndesktop_test: Tactivo: Save?\n");
}

TEST(MessageBox, HookShowsTheBoxAndChoosesTheResult) {
    std::string seen;
    setMessageBoxHook([&](std::string_view text, std::string_view caption, uint32_t type) {
        seen = std::string(caption) + "|" + std::string(text) + "|" + std::to_string(type);
        return IDNO;
    });
    EXPECT_EQ(messageBox("File not found!!", "Restore", MB_YESNO | MB_ICONQUESTION), IDNO);
    EXPECT_EQ(seen, "Restore|File not found!!|" + std::to_string(MB_YESNO | MB_ICONQUESTION));
    // An answer that is none of the box's buttons counts as the default button.
    EXPECT_EQ(messageBox("x", "y", MB_OK), IDOK);

    setMessageBoxHook([](std::string_view, std::string_view, uint32_t) -> int {
        throw std::runtime_error("window system gone");
    });
    EXPECT_EQ(messageBox("x", "y", MB_OKCANCEL | MB_DEFBUTTON2), IDCANCEL);

    setMessageBoxHook({}); // back to the default
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(messageBox("t", "c"), IDOK);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "desktop_test: c: t\n");
}

// A library's own copy of the box code hands its boxes to the program's hook.
TEST(MessageBox, LibraryBoxesGoThroughTheProgramsHook) {
    void* lib = ::dlopen(KVR_BOX_LIB, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << ::dlerror();
    auto* ask = reinterpret_cast<int (*)()>(::dlsym(lib, "box_lib_ask"));
    ASSERT_NE(ask, nullptr);
    std::string seen;
    setMessageBoxHook([&](std::string_view text, std::string_view caption, uint32_t) {
        seen = std::string(caption) + ": " + std::string(text);
        return IDNO;
    });
    EXPECT_EQ(ask(), IDNO);
    EXPECT_EQ(seen, "Message: Error to Read Reg Value");
    setMessageBoxHook({});
    ::dlclose(lib);
}

} // namespace
} // namespace kvr::desktop
