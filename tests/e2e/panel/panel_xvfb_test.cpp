// tactivo under a private X server: the window shows (its pixels are read back from the
// server), Ctrl+Tab pressed through XTest walks the six tabs, and Ctrl+E ends the program
// with status 0 without sending anything to the controller. With KVR_SCREENSHOT_DIR set,
// each tab is saved there as a PNG.

#include "tests/integration/memtools/first_backup.h"
#include "tests/integration/tsapi/tsapi_harness.h"
#include "tests/support/child_process.h"
#include "tests/support/test_env.h"
#include "tests/support/xvfb.h"

#include <QImage>
#include <QSet>

// clang-format off
// gtest before Xlib: Xlib defines macros (None, Bool) that clash with gtest's names.
#include <gtest/gtest.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <X11/extensions/XTest.h>
// clang-format on

#include <cstdlib>
#include <stdlib.h>
#include <string>

namespace kvr::test::panel {
namespace {

// The top-level window whose name holds "Tactivo", 0 while there is none.
::Window findPanel(::Display* dpy) {
    ::Window root = 0, parent = 0, *children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &children, &n)) return 0;
    ::Window found = 0;
    for (unsigned i = 0; i < n && found == 0; ++i) {
        XWindowAttributes a{};
        char* name = nullptr;
        if (XGetWindowAttributes(dpy, children[i], &a) && a.map_state == IsViewable &&
            XFetchName(dpy, children[i], &name) && name != nullptr) {
            if (std::string(name).find("Tactivo") != std::string::npos) found = children[i];
            XFree(name);
        }
    }
    if (children != nullptr) XFree(children);
    return found;
}

QImage grab(::Display* dpy, ::Window w) {
    XWindowAttributes a{};
    XGetWindowAttributes(dpy, w, &a);
    XImage* x = XGetImage(dpy, w, 0, 0, static_cast<unsigned>(a.width),
                          static_cast<unsigned>(a.height), AllPlanes, ZPixmap);
    if (x == nullptr) return {};
    QImage image(a.width, a.height, QImage::Format_RGB32);
    for (int y = 0; y < a.height; ++y)
        for (int xx = 0; xx < a.width; ++xx)
            image.setPixel(xx, y, static_cast<QRgb>(XGetPixel(x, xx, y)) | 0xFF000000u);
    XDestroyImage(x);
    return image;
}

int colours(const QImage& image) {
    QSet<QRgb> seen;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            seen.insert(image.pixel(x, y));
    return static_cast<int>(seen.size());
}

void press(::Display* dpy, KeySym modifier, KeySym key) {
    const KeyCode m = XKeysymToKeycode(dpy, modifier), k = XKeysymToKeycode(dpy, key);
    XTestFakeKeyEvent(dpy, m, True, 0);
    XTestFakeKeyEvent(dpy, k, True, 0);
    XTestFakeKeyEvent(dpy, k, False, 0);
    XTestFakeKeyEvent(dpy, m, False, 0);
    XSync(dpy, False);
}

TEST(PanelXvfb, ShowsItsTabsAndLeavesWithCtrlE) {
    XvfbServer server;
    ASSERT_TRUE(server.ok()) << server.log();
    ::Display* dpy = XOpenDisplay(server.name().c_str());
    ASSERT_NE(dpy, nullptr);
    tsapi::Bench bench;
    ASSERT_TRUE(bench.ready()) << bench.diagnostics();
    tsapi::Sim* sim = bench.addSerial(0, 1);
    ASSERT_NE(sim, nullptr);

    ::setenv("DISPLAY", server.name().c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    ::setenv("KVR_MESSAGE_ANSWERS", "ok", 1);
    ::setenv("KVR_CONFIG_DIR", makeTempDir("config").c_str(), 1);
    // Not the first start: the backup is there, so the start-up only reads the settings.
    ASSERT_TRUE(writeFirstBackup(tsapi::Sim::defaultProfile()));
    ChildProcess panel(program("tactivo"), {});
    ::Window w = 0;
    ASSERT_TRUE(waitUntil([&] { return (w = findPanel(dpy)) != 0; })) << panel.stderrText();
    // The start-up is over when the firmware page's last word has been read.
    ASSERT_TRUE(sim->waitFrame("GP98", 1, std::chrono::seconds(40))) << panel.stderrText();

    XSetInputFocus(dpy, w, RevertToParent, CurrentTime);
    const char* shots = std::getenv("KVR_SCREENSHOT_DIR");
    QImage previous;
    for (int tab = 0; tab < 6; ++tab) {
        // Each tab shows a new picture, with more colours than a background (texts, frames).
        // Taken once two grabs in a row agree (the repaint is over).
        QImage image, last;
        EXPECT_TRUE(waitUntil(
            [&] {
                image = grab(dpy, w);
                const bool settled = image == last;
                last = image;
                return settled && image != previous && colours(image) > 8;
            },
            std::chrono::seconds(20), std::chrono::milliseconds(100)))
            << "tab " << tab;
        if (shots != nullptr) image.save(QString("%1/tactivo-tab%2.png").arg(shots).arg(tab));
        previous = image;
        press(dpy, XK_Control_L, XK_Tab);
    }

    const std::size_t before = sim->frameTexts().size();
    press(dpy, XK_Control_L, XK_e);
    const auto status = panel.wait(std::chrono::seconds(20));
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << panel.stderrText();
    EXPECT_EQ(sim->frameTexts().size(), before) << "nothing changed: nothing sent at the exit";
    XCloseDisplay(dpy);
}

} // namespace
} // namespace kvr::test::panel
