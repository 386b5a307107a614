// footprint_bench: how much memory the suite's processes take, and how much disk it takes.
//
//   1. KvrRs232 with 8 emulated controllers connected (serial units 0..7 on COM1..COM8), then
//      touchsvc running against it once it has set the controllers up; goal: each < 8 MB.
//   2. Each windowed program under a private Xvfb (xcb, as on a desktop), against the daemon
//      and an emulated controller, 1.5 s after its window is on screen; goal: each < 50 MB.
//      A minimal Qt window (one label) is measured the same way, for comparison.
//   3. The installed size: of a Debian package (--deb FILE: its Installed-Size field), and of
//      the build installed stripped into a temporary folder (DESTDIR, cmake --install --strip).
//
// Figures per process, from /proc: VmRSS (resident, shared library pages included: what
// `ps` and `top` show), Pss (the shared pages divided among the processes that map them), and
// VmHWM (the most it was resident at any time).
//
//   footprint_bench [--screen WxH] [--deb FILE] [--gtest_filter=...]

#include "tests/integration/tsapi/tsapi_harness.h"
#include "tests/support/child_process.h"
#include "tests/support/test_env.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>
#include <stdlib.h>
#include <string>
#include <thread>
#include <vector>

namespace kvr::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::string g_screen = "1024x768";
std::string g_deb;

struct Memory {
    long rssKb = -1, pssKb = -1, hwmKb = -1;
};

// "Name:   1234 kB" from a /proc file; -1 when missing.
long procField(const fs::path& file, const std::string& name) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(name + ":", 0) == 0)
            return std::strtol(line.c_str() + name.size() + 1, nullptr, 10);
    return -1;
}

Memory memoryOf(pid_t pid) {
    const fs::path proc = fs::path("/proc") / std::to_string(pid);
    return {procField(proc / "status", "VmRSS"), procField(proc / "smaps_rollup", "Pss"),
            procField(proc / "status", "VmHWM")};
}

std::string mb(long kb) {
    if (kb < 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", double(kb) / 1024.0);
    return text;
}

void printHeader() {
    std::printf("footprint: %-34s %9s %9s %9s  %s\n", "process", "VmRSS", "Pss", "VmHWM", "goal");
}

void printRow(const std::string& what, const Memory& m, long goalKb) {
    const char* verdict = goalKb <= 0 ? "" : (m.rssKb >= 0 && m.rssKb < goalKb ? "met" : "MISSED");
    std::printf("footprint: %-34s %9s %9s %9s  %s %s\n", what.c_str(), mb(m.rssKb).c_str(),
                mb(m.pssKb).c_str(), mb(m.hwmKb).c_str(),
                goalKb > 0 ? ("< " + mb(goalKb)).c_str() : "", verdict);
    std::fflush(stdout);
}

TEST(Footprint, DriverWithEightControllersAndTheService) {
    tsapi::Bench bench;
    ASSERT_TRUE(bench.ready()) << bench.diagnostics();
    ChildProcess& daemon = bench.serialDaemon()->process();
    const Memory idle = memoryOf(daemon.pid());
    for (std::uint8_t unit = 0; unit < 8; ++unit)
        ASSERT_NE(bench.addSerial(unit, unit + 1u), nullptr) << "unit " << int(unit);
    std::this_thread::sleep_for(1s); // the read threads settle in their waits
    const Memory eight = memoryOf(daemon.pid());

    ::setenv("KVR_TRACE", "1", 1);
    ChildProcess service(program("touchsvc"), {});
    ::unsetenv("KVR_TRACE");
    // Set up = each controller's "set up" log line; measured then, and after a while.
    const auto setUp = [&] {
        const std::string err = service.stderrText();
        std::size_t n = 0;
        for (auto at = err.find(" set up"); at != std::string::npos;
             at = err.find(" set up", at + 1))
            ++n;
        return n;
    };
    EXPECT_TRUE(waitUntil([&] { return setUp() >= 8 || !service.running(); }, 60s))
        << service.stderrText();
    std::this_thread::sleep_for(1s);
    const Memory svc = memoryOf(service.pid());
    const Memory withService = memoryOf(daemon.pid());

    printHeader();
    printRow("KvrRs232, no controller", idle, 0);
    printRow("KvrRs232, 8 controllers", eight, 8 * 1024);
    printRow("KvrRs232, 8 controllers + touchsvc", withService, 8 * 1024);
    printRow("touchsvc, 8 controllers", svc, 8 * 1024);
}

// One label in a window: what any Qt Widgets program costs at least.
constexpr const char* kQtWindow = "footprint_qt_window";

// Starts `name` under the X server and measures it once its window has been up for a while.
std::optional<Memory> windowedProgram(const std::string& display, const std::string& name,
                                      const std::vector<std::string>& args) {
    const fs::path path = name == kQtWindow
                              ? fs::path(KVR_BIN_DIR).parent_path() / "bench" / kQtWindow
                              : program(name);
    ChildProcess child(path, args);
    const RunResult up = runProgram(
        program("kvrshot"),
        {"--display", display, "--timeout", "30", "wait", std::to_string(child.pid())}, 40s);
    if (up.exitCode != 0) {
        ADD_FAILURE() << name << ": no window: " << up.err << child.stderrText();
        return std::nullopt;
    }
    std::this_thread::sleep_for(1500ms);
    if (!child.running()) {
        ADD_FAILURE() << name << " ended before it was measured: " << child.stderrText();
        return std::nullopt;
    }
    return memoryOf(child.pid());
}

TEST(Footprint, WindowedPrograms) {
    const std::string screen = g_screen + "x24";
    ChildProcess xvfb("/usr/bin/Xvfb",
                      {"-displayfd", "1", "-screen", "0", screen, "-nolisten", "tcp", "-noreset"});
    ASSERT_TRUE(waitUntil([&] { return xvfb.stdoutText().find('\n') != std::string::npos; }))
        << xvfb.stderrText();
    const std::string display = ":" + xvfb.stdoutText().substr(0, xvfb.stdoutText().find('\n'));
    ::setenv("DISPLAY", display.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    ::setenv("KVR_MESSAGE_ANSWERS", "ok", 1);
    ::unsetenv("KVR_DISPLAYS");
    tsapi::Bench bench;
    ASSERT_TRUE(bench.ready()) << bench.diagnostics();
    tsapi::Sim* sim = bench.addSerial(0, 1, tsapi::Sim::profile("nvlt3000-e"));
    ASSERT_NE(sim, nullptr);

    struct Program {
        std::string name;
        std::vector<std::string> args;
    };
    const std::vector<Program> programs{
        {kQtWindow, {}},
        {"tactivo", {}},
        {"cal3pt", {"RS232_DEVICE0"}},
        {"linear", {"RS232_DEVICE0", "-5"}},
        {"nvbackup", {}},
        {"nvrestore", {}},
        {"pinmap", {}},
        {"portscan", {}},
        {"monmatch", {}},
        {"sketch", {}},
        {"RClick", {}},
    };
    std::printf("footprint: windowed programs on a %s screen, 1.5 s after the window is up\n",
                g_screen.c_str());
    printHeader();
    for (const Program& p : programs) {
        // The backup would be over before it is measured: the controller answers slowly.
        if (p.name == "nvbackup") sim->play({"fault late 150 40"});
        const auto m = windowedProgram(display, p.name, p.args);
        if (p.name == "nvbackup") sim->play({"fault clear"});
        if (!m) continue;
        const bool reference = p.name == kQtWindow;
        printRow(reference ? "(a minimal Qt window)" : p.name, *m, reference ? 0 : 50 * 1024);
    }
    xvfb.stop();
}

long folderBytes(const fs::path& folder) {
    long bytes = 0;
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(folder, ec))
        if (e.is_regular_file(ec) && !e.is_symlink(ec)) bytes += long(e.file_size(ec));
    return bytes;
}

TEST(Footprint, InstalledSize) {
    if (!g_deb.empty()) {
        const RunResult field = runProgram("/usr/bin/dpkg-deb", {"-f", g_deb, "Installed-Size"});
        ASSERT_EQ(field.exitCode, 0) << field.err;
        std::error_code ec;
        std::printf("footprint: package %s: Installed-Size %s kB, the .deb %s\n", g_deb.c_str(),
                    field.out.substr(0, field.out.find('\n')).c_str(),
                    mb(long(fs::file_size(g_deb, ec) / 1024)).c_str());
    }
    const fs::path build = fs::path(KVR_BIN_DIR).parent_path();
    const fs::path root = makeTempDir("installed");
    ::setenv("DESTDIR", root.c_str(), 1);
    const RunResult install =
        runProgram("/usr/bin/env",
                   {"cmake", "--install", build.string(), "--strip", "--prefix", "/usr"}, 120s);
    ::unsetenv("DESTDIR");
    ASSERT_EQ(install.exitCode, 0) << install.out << install.err;
    std::printf("footprint: installed (cmake --install --strip, prefix /usr): %s\n",
                mb(folderBytes(root) / 1024).c_str());
}

} // namespace
} // namespace kvr::test

int main(int argc, char** argv) {
    std::vector<char*> rest{argv[0]};
    for (int i = 1; i < argc; ++i) {
        if ((std::strcmp(argv[i], "--screen") == 0 || std::strcmp(argv[i], "--deb") == 0) &&
            i + 1 < argc) {
            (std::strcmp(argv[i], "--screen") == 0 ? kvr::test::g_screen : kvr::test::g_deb) =
                argv[i + 1];
            ++i;
        } else {
            rest.push_back(argv[i]);
        }
    }
    int n = static_cast<int>(rest.size());
    rest.push_back(nullptr);
    return kvr::test::runAllTests(n, rest.data());
}
