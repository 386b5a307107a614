// The windowed programs run as processes where they cannot do their work: each ends with one
// line on stderr that says why and a status its help lists, and changes nothing first.

#include "platform/registry/registry.h"
#include "tests/support/child_process.h"
#include "tests/support/test_env.h"

#include <filesystem>
#include <grp.h>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace kvr::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kProductKey = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Kvr";

struct Program {
    std::string name;
    std::vector<std::string> args;
};

const std::vector<Program> kPrograms = {
    {"tactivo", {}},
    {"cal3pt", {"RS232_DEVICE0"}},
    {"linear", {"RS232_DEVICE0", "-5"}},
    {"nvbackup", {}},
    {"nvrestore", {}},
    {"pinmap", {}},
    {"monmatch", {}},
    {"portscan", {"-u"}},
    {"sketch", {}},
    {"RClick", {}},
};

// Runs `p` (plus `extra` arguments) through env with `env` ("NAME=value", "-u NAME").
RunResult run(const Program& p, const std::vector<std::string>& env,
              const std::vector<std::string>& extra = {},
              const std::vector<std::string>& wrapper = {}) {
    std::vector<std::string> args = {"-u", "KVR_TRACE", "-u", "WAYLAND_DISPLAY"};
    args.insert(args.end(), env.begin(), env.end());
    args.insert(args.end(), wrapper.begin(), wrapper.end());
    args.push_back(program(p.name).string());
    args.insert(args.end(), p.args.begin(), p.args.end());
    args.insert(args.end(), extra.begin(), extra.end());
    return runProgram("/usr/bin/env", args, std::chrono::seconds(60));
}

// The stderr lines of the program itself (boxes shown through the automation switch aside).
std::vector<std::string> ownLines(const RunResult& r) {
    std::vector<std::string> lines;
    std::istringstream in(r.err);
    for (std::string line; std::getline(in, line);)
        if (!line.starts_with("messagebox: ")) lines.push_back(line);
    return lines;
}

// A display number no X server of this machine serves.
std::string unusedDisplay() {
    for (int n = 150; n < 400; ++n) {
        const std::string x = std::to_string(n);
        if (!fs::exists("/tmp/.X11-unix/X" + x) && !fs::exists("/tmp/.X" + x + "-lock"))
            return ":" + x;
    }
    return ":399";
}

TEST(WindowedPrograms, AnUnreachableDisplayEndsThemBeforeTheyChangeAnything) {
    // A marker and a listed port: portscan would delete the marker before its scan.
    ASSERT_EQ(reg::createKey(kProductKey), reg::Status::Ok);
    ASSERT_EQ(reg::setDword(kProductKey, "RS232_DEVICE0", 1), reg::Status::Ok);
    fs::create_directories(stateDir() / "dosdevices");
    fs::create_symlink("/dev/null", stateDir() / "dosdevices" / "com1");
    const std::string display = unusedDisplay();
    for (const Program& p : kPrograms) {
        SCOPED_TRACE(p.name);
        const RunResult r = run(p, {"-u", "QT_QPA_PLATFORM", "DISPLAY=" + display});
        EXPECT_EQ(r.exitCode, 8) << r.err;
        const auto lines = ownLines(r);
        ASSERT_EQ(lines.size(), 1U) << r.err;
        EXPECT_TRUE(lines[0].starts_with(p.name + ": cannot open the display '" + display + "'"))
            << lines[0];
        std::uint32_t marker = 0;
        EXPECT_EQ(reg::queryDword(kProductKey, "RS232_DEVICE0", marker), reg::Status::Ok);
    }
}

TEST(WindowedPrograms, AnUnknownLongOptionIsAUsageError) {
    for (const Program& p : kPrograms) {
        SCOPED_TRACE(p.name);
        const RunResult r = run(p, {"QT_QPA_PLATFORM=offscreen"}, {"--bogus"});
        EXPECT_EQ(r.exitCode, 2) << r.err;
        const auto lines = ownLines(r);
        ASSERT_EQ(lines.size(), 1U) << r.err;
        EXPECT_TRUE(lines[0].starts_with(p.name + ": unknown option '--bogus'")) << lines[0];
    }
}

// A socket file of mode 0 where the serial driver's control socket goes; `group` gets the
// name of its group.
void placeRefusingSocket(std::string& group) {
    const fs::path dev = runtimeDir() / "dev";
    fs::create_directories(dev);
    const std::string path = (dev / "KvrRs232D").string();
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    path.copy(addr.sun_path, sizeof addr.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    ::close(fd);
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    const struct group* g = ::getgrgid(st.st_gid);
    group = g ? g->gr_name : std::to_string(st.st_gid);
}

TEST(WindowedPrograms, AControllerOutOfReachIsExplained) {
    struct Case {
        Program program;
        int status;
        std::string box; // the box's first line, when it shows one
    };
    const std::vector<Case> cases = {
        {{"cal3pt", {"RS232_DEVICE0"}}, 253, ""},
        {{"linear", {"RS232_DEVICE0", "-5"}}, 255, ""},
        {{"nvbackup", {}}, 1, "No device was found"},
    };
    const std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen", "KVR_MESSAGE_ANSWERS=ok",
                                          "XDG_RUNTIME_DIR=" + makeTempDir("xdg").string(),
                                          "KVR_CONFIG_DIR=" + makeTempDir("config").string(),
                                          "KVR_DISPLAYS=D1:0,0,800,600"};
    fs::permissions(env[2].substr(env[2].find('=') + 1), fs::perms::owner_all);
    const auto check = [&](const std::string& cause, const std::vector<std::string>& wrapper) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.program.name + " / " + cause);
            const RunResult r = run(c.program, env, {}, wrapper);
            EXPECT_EQ(r.exitCode, c.status) << r.err;
            const auto lines = ownLines(r);
            ASSERT_EQ(lines.size(), 1U) << r.err;
            EXPECT_EQ(lines[0], c.program.name + ": " + cause);
            if (!c.box.empty()) {
                EXPECT_NE(
                    r.err.find("messagebox: " + c.program.name + ": " + c.box + "\\n" + cause),
                    std::string::npos)
                    << r.err;
            }
        }
    };
    check("the driver is not running", {});

    // Root passes any file mode; without its override capabilities it meets the mode as a
    // user outside the socket's group does.
    std::vector<std::string> wrapper;
    if (::geteuid() == 0) {
        if (!fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "no setpriv to drop root's override";
        wrapper = {"/usr/bin/setpriv", "--bounding-set=-dac_override,-dac_read_search",
                   "--inh-caps=-all"};
    }
    std::string group;
    ASSERT_NO_FATAL_FAILURE(placeRefusingSocket(group));
    check("permission denied (not in group " + group + ")", wrapper);
}

} // namespace
} // namespace kvr::test
