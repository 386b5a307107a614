// kvrshot: pictures and keys for the windows of one process on an X display, for the scripts
// that show or photograph the windowed programs (scripts/demo --windows, scripts/screenshots).
//
// A process's windows are the viewable windows whose _NET_WM_PID names it, found anywhere
// in the window tree (so both on a bare Xvfb and under a window manager). A picture is taken
// from the screen, cropped to the box around those windows, so a message box over a window
// is in it too.

#include "platform/desktop/command_line.h"

#include <QColor>
#include <QHash>
#include <QImage>
#include <QString>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::string_view kName = "kvrshot";

const char* const kUsage =
    "Usage: kvrshot [OPTIONS] COMMAND ARGUMENTS\n"
    "Pictures and keys for the windows of one process on an X display (DISPLAY, or\n"
    "--display), for the scripts that show the windowed programs.\n"
    "\n"
    "  wait PID          waits until a window of process PID is on screen\n"
    "  shot PID FILE     saves, as a PNG, the part of the screen the windows of PID cover (a\n"
    "                    message box over a window included), once the picture has held\n"
    "                    still for --still ms (one that keeps changing is taken at the\n"
    "                    time-out, with a warning)\n"
    "  screen FILE       saves the whole screen as a PNG\n"
    "  key PID KEY...    gives the topmost window of PID the input focus and presses each\n"
    "                    KEY: an X key name, modifiers joined with '+' (ctrl+Tab, alt+a,\n"
    "                    Escape, Return)\n"
    "\n"
    "  --display NAME    the X display (default: DISPLAY)\n"
    "  --timeout S       how long to wait for a window, or for a still picture (default 20 s)\n"
    "  --still MS        how long a picture must hold still to be taken (default 300 ms)\n"
    "  --after MS        take the picture MS after the window is there, as it is then (for a\n"
    "                    picture that never holds still: progress, a flashing target)\n"
    "\n";

struct ShotTiming {
    std::chrono::milliseconds timeout = 20s;
    std::chrono::milliseconds still = 300ms;
    std::optional<std::chrono::milliseconds> after;
};

struct Box {
    int x = 0, y = 0, width = 0, height = 0;
    [[nodiscard]] bool empty() const { return width <= 0 || height <= 0; }
};

Box unite(const Box& a, const Box& b) {
    if (a.empty()) return b;
    if (b.empty()) return a;
    const int left = std::min(a.x, b.x), top = std::min(a.y, b.y);
    const int right = std::max(a.x + a.width, b.x + b.width);
    const int bottom = std::max(a.y + a.height, b.y + b.height);
    return {left, top, right - left, bottom - top};
}

Box clip(const Box& b, int width, int height) {
    const int left = std::max(b.x, 0), top = std::max(b.y, 0);
    const int right = std::min(b.x + b.width, width), bottom = std::min(b.y + b.height, height);
    return {left, top, right - left, bottom - top};
}

struct ProcessWindow {
    ::Window id = 0;
    Box box; // in screen coordinates
};

// A window can go away between finding it and asking about it; the call then fails (and
// says so by its result) instead of Xlib's default handler ending the program.
int ignoreXError(::Display*, XErrorEvent*) {
    return 0;
}

class XScreen {
public:
    explicit XScreen(::Display* dpy)
        : dpy_(dpy), root_(DefaultRootWindow(dpy)),
          pidAtom_(XInternAtom(dpy, "_NET_WM_PID", False)) {
        XSetErrorHandler(ignoreXError);
    }

    [[nodiscard]] int width() const { return DisplayWidth(dpy_, DefaultScreen(dpy_)); }
    [[nodiscard]] int height() const { return DisplayHeight(dpy_, DefaultScreen(dpy_)); }

    // The viewable windows of process `pid`, in stacking order.
    std::vector<ProcessWindow> windowsOf(long pid) {
        std::vector<ProcessWindow> found;
        collect(root_, pid, found, 0);
        return found;
    }

    QImage grab(const Box& box) {
        XImage* x = XGetImage(dpy_, root_, box.x, box.y, unsigned(box.width), unsigned(box.height),
                              AllPlanes, ZPixmap);
        if (x == nullptr) return {};
        QImage image;
        if (x->bits_per_pixel == 32 && x->byte_order == LSBFirst && x->red_mask == 0xFF0000) {
            image = QImage(reinterpret_cast<const uchar*>(x->data), box.width, box.height,
                           x->bytes_per_line, QImage::Format_RGB32)
                        .copy();
            // The server leaves the fourth byte undefined; RGB32 wants it opaque.
            for (int y = 0; y < box.height; ++y) {
                auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
                for (int col = 0; col < box.width; ++col)
                    line[col] |= 0xFF000000u;
            }
        } else {
            image = QImage(box.width, box.height, QImage::Format_RGB32);
            for (int y = 0; y < box.height; ++y)
                for (int col = 0; col < box.width; ++col)
                    image.setPixel(col, y, QRgb(XGetPixel(x, col, y)) | 0xFF000000u);
        }
        XDestroyImage(x);
        return image;
    }

    void focus(::Window w) {
        XSetInputFocus(dpy_, w, RevertToParent, CurrentTime);
        XSync(dpy_, False);
    }

    // "ctrl+Tab": the modifiers down, the key down and up, the modifiers up.
    bool press(std::string_view chord) {
        std::vector<KeyCode> codes;
        std::size_t start = 0;
        while (start <= chord.size()) {
            const std::size_t plus = chord.find('+', start + 1);
            std::string part(chord.substr(
                start, plus == std::string_view::npos ? std::string_view::npos : plus - start));
            const KeySym sym = XStringToKeysym(modifierKey(part).c_str());
            const KeyCode code = sym == NoSymbol ? 0 : XKeysymToKeycode(dpy_, sym);
            if (code == 0) return false;
            codes.push_back(code);
            if (plus == std::string_view::npos) break;
            start = plus + 1;
        }
        for (KeyCode c : codes)
            XTestFakeKeyEvent(dpy_, c, True, 0);
        for (auto c = codes.rbegin(); c != codes.rend(); ++c)
            XTestFakeKeyEvent(dpy_, *c, False, 0);
        XSync(dpy_, False);
        return true;
    }

private:
    static std::string modifierKey(const std::string& part) {
        if (part == "ctrl") return "Control_L";
        if (part == "alt") return "Alt_L";
        if (part == "shift") return "Shift_L";
        return part;
    }

    std::optional<long> pidOf(::Window w) {
        Atom type = 0;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        std::optional<long> pid;
        if (XGetWindowProperty(dpy_, w, pidAtom_, 0, 1, False, XA_CARDINAL, &type, &format, &items,
                               &after, &data) == Success &&
            data != nullptr && format == 32 && items == 1)
            pid = *reinterpret_cast<long*>(data);
        if (data != nullptr) XFree(data);
        return pid;
    }

    void collect(::Window w, long pid, std::vector<ProcessWindow>& found, int depth) {
        ::Window root = 0, parent = 0, *children = nullptr;
        unsigned n = 0;
        if (depth > 4 || !XQueryTree(dpy_, w, &root, &parent, &children, &n)) return;
        for (unsigned i = 0; i < n; ++i) {
            XWindowAttributes a{};
            if (!XGetWindowAttributes(dpy_, children[i], &a) || a.map_state != IsViewable) continue;
            if (pidOf(children[i]) == pid) {
                int x = 0, y = 0;
                ::Window child = 0;
                XTranslateCoordinates(dpy_, children[i], root_, 0, 0, &x, &y, &child);
                found.push_back({children[i], {x, y, a.width, a.height}});
            } else {
                collect(children[i], pid, found, depth + 1);
            }
        }
        if (children != nullptr) XFree(children);
    }

    ::Display* dpy_;
    ::Window root_;
    Atom pidAtom_;
};

// Lossless and small: a picture of at most 256 colours is stored with a palette.
bool savePng(const QImage& image, const QString& file) {
    QHash<QRgb, int> index;
    for (int y = 0; y < image.height() && index.size() <= 256; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width() && index.size() <= 256; ++x)
            if (!index.contains(line[x])) index.insert(line[x], int(index.size()));
    }
    if (index.size() > 256) return image.save(file, "PNG", 0);
    QList<QRgb> table(index.size());
    for (auto it = index.cbegin(); it != index.cend(); ++it)
        table[it.value()] = it.key();
    QImage indexed(image.size(), QImage::Format_Indexed8);
    indexed.setColorTable(table);
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        uchar* out = indexed.scanLine(y);
        for (int x = 0; x < image.width(); ++x)
            out[x] = uchar(index.value(line[x]));
    }
    return indexed.save(file, "PNG", 0);
}

struct Options {
    std::string display;
    ShotTiming timing;
    std::vector<std::string> words; // command and its arguments
};

std::optional<long> parsePid(const std::string& text) {
    char* end = nullptr;
    const long pid = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || pid <= 0) return std::nullopt;
    return pid;
}

// The windows of `pid` once there is one, or nothing at the time-out.
std::vector<ProcessWindow> waitForWindows(XScreen& screen, long pid,
                                          std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        auto windows = screen.windowsOf(pid);
        if (!windows.empty() || Clock::now() >= deadline) return windows;
        std::this_thread::sleep_for(50ms);
    }
}

Box boxAround(const std::vector<ProcessWindow>& windows, const XScreen& screen) {
    Box box;
    for (const auto& w : windows)
        box = unite(box, w.box);
    return clip(box, screen.width(), screen.height());
}

int shot(XScreen& screen, long pid, const QString& file, const ShotTiming& timing) {
    if (waitForWindows(screen, pid, timing.timeout).empty())
        return kvr::cli::failure(kName, "no window of process " + std::to_string(pid));
    const auto start = Clock::now();
    const auto deadline = start + (timing.after ? *timing.after : timing.timeout);
    QImage last;
    Box lastBox;
    auto stillSince = Clock::now();
    for (;;) {
        std::this_thread::sleep_for(timing.after ? std::min(*timing.after, 100ms) : 100ms);
        const Box box = boxAround(screen.windowsOf(pid), screen);
        if (box.empty()) return kvr::cli::failure(kName, "the window closed");
        QImage image = screen.grab(box);
        const auto now = Clock::now();
        if (box.x != lastBox.x || box.y != lastBox.y || image != last) stillSince = now;
        last = std::move(image);
        lastBox = box;
        if (!timing.after && now - stillSince >= timing.still) break;
        if (now >= deadline) {
            if (!timing.after)
                std::fprintf(stderr, "kvrshot: warning: the picture of %ld never held still\n",
                             pid);
            break;
        }
    }
    if (last.isNull() || !savePng(last, file))
        return kvr::cli::failure(kName, "cannot write " + file.toStdString());
    return kvr::cli::kExitOk;
}

int key(XScreen& screen, long pid, const std::vector<std::string>& keys,
        std::chrono::milliseconds timeout) {
    const auto windows = waitForWindows(screen, pid, timeout);
    if (windows.empty())
        return kvr::cli::failure(kName, "no window of process " + std::to_string(pid));
    screen.focus(windows.back().id); // the topmost: a message box before its window
    for (const std::string& k : keys) {
        if (!screen.press(k)) return kvr::cli::usageError(kName, "unknown key '" + k + "'");
        std::this_thread::sleep_for(100ms);
    }
    return kvr::cli::kExitOk;
}

// The command line's words, checked before the display is opened: a usage error is one
// whatever the display.
std::optional<std::string> usageProblem(const std::vector<std::string>& words) {
    const std::string& command = words[0];
    const std::size_t n = words.size();
    const bool forProcess = command == "wait" || command == "shot" || command == "key";
    if (!forProcess && command != "screen")
        return "unknown command '" + kvr::cli::quoted(command) + "'";
    const std::size_t least = command == "screen" || command == "wait" ? 2 : 3;
    const bool exact = command != "key";
    if (n < least || (exact && n > least)) return "wrong number of arguments for '" + command + "'";
    if (forProcess && !parsePid(words[1]))
        return "not a process id: '" + kvr::cli::quoted(words[1]) + "'";
    return std::nullopt;
}

int run(XScreen& screen, const Options& o) {
    const std::string& command = o.words[0];
    if (command == "screen") {
        const QImage image = screen.grab({0, 0, screen.width(), screen.height()});
        if (image.isNull() || !savePng(image, QString::fromStdString(o.words[1])))
            return kvr::cli::failure(kName, "cannot write " + o.words[1]);
        return kvr::cli::kExitOk;
    }
    const long pid = parsePid(o.words[1]).value_or(0);
    if (command == "shot") return shot(screen, pid, QString::fromStdString(o.words[2]), o.timing);
    if (command == "key")
        return key(screen, pid, {o.words.begin() + 2, o.words.end()}, o.timing.timeout);
    if (waitForWindows(screen, pid, o.timing.timeout).empty())
        return kvr::cli::failure(kName, "no window of process " + o.words[1]);
    return kvr::cli::kExitOk;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (kvr::cli::isHelp(arg)) {
            std::fputs(kUsage, stdout);
            std::fputs(kvr::cli::exitStatusText().c_str(), stdout);
            return kvr::cli::kExitOk;
        }
        if (kvr::cli::isVersion(arg)) return kvr::cli::printVersion(kName);
        const bool valued =
            arg == "--display" || arg == "--timeout" || arg == "--still" || arg == "--after";
        if (valued && i + 1 >= argc)
            return kvr::cli::usageError(kName, std::string(arg) + " needs a value");
        if (arg == "--display") {
            o.display = argv[++i];
        } else if (valued) {
            char* end = nullptr;
            const double value = std::strtod(argv[++i], &end);
            const double limit = arg == "--timeout" ? 3600 : 3600000;
            if (*end != '\0' || !(value > 0 && value <= limit))
                return kvr::cli::usageError(kName, std::string(arg) + " takes a number up to " +
                                                       std::to_string(long(limit)) + ", not '" +
                                                       kvr::cli::quoted(argv[i]) + "'");
            const std::chrono::milliseconds ms(long(arg == "--timeout" ? value * 1000 : value));
            if (arg == "--timeout") o.timing.timeout = ms;
            if (arg == "--still") o.timing.still = ms;
            if (arg == "--after") o.timing.after = ms;
        } else {
            o.words.assign(argv + i, argv + argc);
            break;
        }
    }
    if (o.words.empty()) return kvr::cli::usageError(kName, "no command");
    if (const auto problem = usageProblem(o.words)) return kvr::cli::usageError(kName, *problem);
    ::Display* dpy = XOpenDisplay(o.display.empty() ? nullptr : o.display.c_str());
    if (dpy == nullptr)
        return kvr::cli::failure(
            kName, "cannot open the X display '" +
                       std::string(XDisplayName(o.display.empty() ? nullptr : o.display.c_str())) +
                       "'");
    XScreen screen(dpy);
    const int status = run(screen, o);
    XCloseDisplay(dpy);
    return status;
}
