// KvrRs232: the serial touch driver daemon (or, with --usb, the stand-in for the USB touch
// driver). Loads the driver, serves its control device until SIGTERM/SIGINT, then unloads.
//
// The daemon always stays in the foreground: systemd runs it as a notify service (it says
// READY=1 once its control socket serves), and a shell user can put it in the background
// with '&'. --no-syslog keeps the log on stderr only (--foreground is its old name, still
// accepted); without it every line also goes to syslog under the daemon's name.

#include "driver/core/driver.h"
#include "platform/common/log.h"
#include "platform/common/run_as.h"
#include "platform/common/unique_fd.h"
#include "platform/desktop/cli11_app.h"
#include "platform/service/systemd_notify.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/signalfd.h>

namespace {

// Blocks the stop signals in every thread (the mask is inherited by the threads the driver
// starts) and hands them to a signalfd, so no work ever runs in a signal handler.
kvr::UniqueFd blockStopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return {};
    // A client that goes away mid-reply must not kill the daemon.
    signal(SIGPIPE, SIG_IGN);
    return kvr::UniqueFd(signalfd(-1, &set, SFD_CLOEXEC));
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"KvrRs232: Lumarcon serial touch driver daemon.\n"
                 "State folder from KVR_STATE_DIR (default /var/lib/lumarcon), control sockets\n"
                 "in KVR_RUNTIME_DIR (default /run/lumarcon). Runs until SIGTERM or SIGINT.",
                 "KvrRs232"};
    app.footer(
        "The daemon always stays in the foreground (run it as a Type=notify systemd "
        "service or with '&');\nwithout --no-syslog its log also goes to syslog. SIGTERM or SIGINT "
        "disconnects every\ncontroller and unloads the driver.\n"
        "COMn is the link $KVR_STATE_DIR/dosdevices/comN when it exists, else /dev/ttyS(n-1) "
        "for COM1-COM4,\nelse the USB serial adapters from COM5 up in the order of "
        "/dev/serial/by-id.\n"
        "It does not start (exit 1) when the state folder, the settings store or the "
        "runtime folder\ncannot be used, nor as root where those folders belong to another "
        "user (the installed\nunits' user lumarcon: use systemctl, or runuser -u lumarcon).\n"
        "Under systemd its log goes to the journal once (not to syslog as well).");
    kvr::cli::prepare(app, "KvrRs232", kvr::cli::exitStatusText());
    bool usb = false;
    bool noSyslog = false;
    std::string pointer = "auto";
    std::string trace;
    std::string group;
    std::string logLevel = "info";
    app.add_flag("--usb", usb,
                 "serve \\\\.\\KvrUsbMgr (only) with units 0-3 (ttys linked as "
                 "dosdevices/usbN), as the USB touch driver");
    app.add_flag("--no-syslog,--foreground", noSyslog,
                 "log to stderr only, not to syslog (--foreground: the old name)");
    app.add_option("--pointer", pointer, "pointer sink: auto, uinput, xtest, trace or none")
        ->check(CLI::IsMember({"auto", "uinput", "xtest", "trace", "none"}));
    app.add_option("--trace", trace,
                   "trace target (file, or a FIFO); given alone it selects --pointer=trace");
    app.add_option("--group", group, "group that may open the control socket");
    app.add_option("--log-level", logLevel, "error, warning, info or debug")
        ->check(CLI::IsMember({"error", "warning", "info", "debug"}));
    if (auto code = kvr::cli::parse(app, argc, argv)) return *code;

    if (!trace.empty() && pointer == "auto") pointer = "trace";
    if (pointer == "trace" && trace.empty())
        return kvr::cli::usageError("KvrRs232", "--pointer=trace needs --trace=FILE");
    if (!trace.empty() && pointer != "trace")
        return kvr::cli::usageError("KvrRs232",
                                    "--trace goes with --pointer=trace, not --pointer=" + pointer);
    kvr::log::setLevel(logLevel);
    if (!noSyslog) kvr::log::setSyslog(usb ? "KvrUsbMgr" : "KvrRs232");
    if (const std::string refusal =
            kvr::paths::rootRunRefusal("KvrRs232", usb ? "KvrUsbMgr" : "KvrRs232");
        !refusal.empty()) {
        KVR_LOG_ERROR("%s", refusal.c_str());
        return kvr::cli::kExitFailure;
    }

    kvr::UniqueFd signals = blockStopSignals();
    if (!signals) {
        std::fprintf(stderr, "KvrRs232: cannot set up signal handling\n");
        return 1;
    }

    kvr::driver::DriverOptions options;
    options.role = usb ? kvr::driver::Role::Usb : kvr::driver::Role::Serial;
    options.pointerKind = pointer;
    options.traceTarget = trace;
    options.group = group;
    std::string error;
    std::unique_ptr<kvr::driver::Driver> driver;
    try {
        driver = kvr::driver::Driver::load(options, error);
    } catch (const std::exception& e) {
        error = e.what();
    }
    if (!driver) {
        KVR_LOG_ERROR("cannot start: %s", error.c_str());
        return kvr::cli::kExitFailure;
    }
    KVR_LOG_INFO("serving %s", driver->controlDeviceName().c_str());
    // Its control socket is there: units ordered after this one (Type=notify) may start.
    kvr::svc::notifySystemd("READY=1");

    // Idle until a stop signal. The USB role also looks for its ttys once a second, as a
    // hot-plug notification would tell it; the serial role sleeps without any wake-up.
    const int timeoutMs = usb ? 1000 : -1;
    for (;;) {
        pollfd pfd{signals.get(), POLLIN, 0};
        const int n = poll(&pfd, 1, timeoutMs);
        if (n < 0 && errno != EINTR) break;
        if (n > 0) {
            signalfd_siginfo info{};
            if (read(signals.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                KVR_LOG_INFO("signal %u: unloading", info.ssi_signo);
                break;
            }
        }
        if (usb) driver->scanHotplug();
    }
    kvr::svc::notifySystemd("STOPPING=1");
    driver->unload();
    return 0;
}
