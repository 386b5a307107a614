// kvrsim: a Lumarcon touch controller on the far end of a pseudo-terminal.
// See emulator/README.md and `kvrsim --help`.

#include "emulator/controller.h"
#include "emulator/pty_emulator.h"
#include "platform/common/log.h"
#include "platform/common/unique_fd.h"
#include "platform/desktop/cli11_app.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <poll.h>
#include <signal.h>
#include <sstream>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

using namespace kvr::emu;

constexpr const char* kFooter = R"(
The line: kvrsim makes a pty, prints its slave path on stdout (one line, flushed; again after
each "reconnect"), optionally links it as $KVR_STATE_DIR/dosdevices/comN (--link COMn) or
dosdevices/usbN (--link usbN), and serves until SIGTERM, SIGINT or SIGHUP (or "quit" on the
control socket); then it removes the link and exits with 0. A name that is taken already (a
link to a real adapter, another kvrsim's link, a file) is refused (exit 2) unless --replace
is given: then the entry is set aside and put back when kvrsim ends. A link left by a kvrsim
that was killed (to a pty that is gone) is replaced without asking.

Commands it answers (SOH text CR in):
  GPaa          SOH + word aa as 4 upper-case hex digits + CR
  SPaahhll      stores the word; SOH '0' CR
  R             SOH '0' CR; after --restart-ms the restart announcement SOH 'i' 'T' CR
  RD            as R, with the settings memory back at its defaults (word 9E is kept)
  MI / MS / MP  touch reports off / every sample / first sample of each touch; SOH '0' CR
  Z CR PL iH1   SOH '0' CR
  SEn           n = 0..4 sets the first byte of word 9C; SOH '0' CR
  UT            SOH + unit type + CR      OI   SOH + identity text + CR
  ii            SOH + extension level as 4 decimal digits + CR (SOH '1' CR when none)
  Uu            vendor tag + '0' + packet format digit (10 bytes, no framing)
  anything else SOH '1' CR.  Bytes outside SOH...CR and frames over 64 bytes: no answer.
After a restart the report mode is the power-on mode (--power-on-mode, default stream).

Scenario language (--scenario FILE, --run LINE, control socket lines):
  rate HZ               sample rate of the following samples (1..1000; default --rate)
  touch X Y [N]         pen down at X,Y for N samples (default 1)
  hold [N]              N more pen-down samples where the pen is
  move X Y [N]          pen down, moving from where the pen is to X,Y in N samples
  drag X1 Y1 X2 Y2 [N]  pen down from X1,Y1 to X2,Y2 in N samples (both ends included)
  lift                  one pen-up sample where the pen is
  tap X Y [N]           touch X Y N, then lift
  button down|up        side button held / released in the following samples
  wait MS               nothing for MS milliseconds
  raw HEX...            these bytes on the line as they are (raw 01 69 54 0D)
  restart               restart now: announce SOH 'i' 'T' CR
  fault KIND [ARG] [N]  inject a fault (below)            fault clear: end every fault
  hangup                hang up the line (the pty master closes; the link stays)
  reconnect             a new pty after a hang-up, linked under the same name
X and Y are raw packet units (M 0..16383, E 0..4095) or percentages of that range ("50%").
Numbers may be separated by commas; '#' starts a comment. Statements run one after the
other; samples are one sample period apart.

Faults (N left out: until "fault clear"):
  silence [N]       the next N commands are neither carried out nor answered
  late MS [N]       the next N replies (and a restart announcement) come MS ms late
  garble [N]        the next N replies have every byte XORed with 0x40
  cut BYTES [N]     the next N replies stop after BYTES bytes
  nak [N]           the next N commands are refused with SOH '1' CR, not carried out
  drop EVERY [N]    every EVERY-th byte the controller sends is lost (N bytes in all)

Control socket (--control PATH, a unix stream socket): one scenario statement per line,
answered "ok" or "error: <message>". Also: "sync" (answered "ok" once everything queued
has been played and sent), "frames" (the receive log, then "end"), "quit".

Receive log (--frame-log FILE): one line per frame received, flushed at once:
  <ms since start> frame <hex bytes> "<text>"     e.g. 152.318 frame 01 47 50 39 45 0D "GP9E"
  <ms since start> stray <hex bytes> "<text>"     bytes that were no frame

Profiles (--profile): nvlt3000 (default: M packets low half first, format digit 0),
nvlt3000-hf (M high half first, digit 1), nvlt3000-yinv (M, digit 3), nvlt3000-e (E packets,
digit 2), legacy (unit type NVLT2000, firmware V32050, no "ii"), foreign (another maker's
tag), short-id (9-byte identification), mute (answers nothing). The identity options below
override the profile.

--serial DEVICE serves an existing serial line instead (a real port on a null-modem cable,
or one end of a pty pair), raw 8N1 at --baud; the device path is printed, no link is made,
"hangup" closes it and "reconnect" opens it again.

--write-stream FILE plays the scenario without a line, in simulated time, writes every byte
the controller sends to FILE ("-": hex on stdout) and exits: a quick way to make golden
byte streams.
)";

bool parseWordSetting(std::string_view text, uint8_t* address, uint16_t* value) {
    const auto eq = text.find('=');
    if (eq == std::string_view::npos) return false;
    const auto hexNumber = [](std::string_view t, unsigned max, unsigned* out) {
        if (t.empty()) return false;
        const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), *out, 16);
        return ec == std::errc() && end == t.data() + t.size() && *out <= max;
    };
    unsigned a = 0, w = 0;
    if (!hexNumber(text.substr(0, eq), 0xFF, &a) || !hexNumber(text.substr(eq + 1), 0xFFFF, &w))
        return false;
    *address = static_cast<uint8_t>(a);
    *value = static_cast<uint16_t>(w);
    return true;
}

int writeStream(const ControllerProfile& profile, const std::vector<Statement>& scenario,
                const std::vector<FaultSetting>& faults, const std::string& target) {
    Controller c(profile);
    for (const auto& f : faults)
        c.addFault(f);
    for (const auto& s : scenario)
        c.enqueue(s, SimTime(0));
    std::vector<uint8_t> all;
    while (auto due = c.nextDue()) {
        const Emission e = c.poll(*due);
        all.insert(all.end(), e.bytes.begin(), e.bytes.end());
    }
    if (target == "-") {
        for (size_t i = 0; i < all.size(); ++i)
            std::printf("%02X%c", all[i], (i + 1) % 16 == 0 || i + 1 == all.size() ? '\n' : ' ');
        std::fflush(stdout);
        return 0;
    }
    std::ofstream out(target, std::ios::binary);
    out.write(reinterpret_cast<const char*>(all.data()), static_cast<std::streamsize>(all.size()));
    if (!out) return kvr::cli::failure("kvrsim", "cannot write " + target);
    return 0;
}

int run(int argc, char** argv) {
    CLI::App app{"kvrsim: a Lumarcon touch controller (M or E packets, command replies, faults) "
                 "on a pseudo-terminal"};
    app.footer(kFooter);
    kvr::cli::prepare(
        app, "kvrsim",
        kvr::cli::exitStatusText({"Exit status 1 also: the line or the control socket "
                                  "cannot be set up"}));
    std::string link, frameLog, control, scenarioFile, profileName = "nvlt3000", writeTo;
    std::vector<std::string> runLines, faultTexts, wordSettings;
    std::string unitType, identity, extLevel, vendorTag, format, formatDigit, identification;
    std::string powerOn, logLevel = "warning";
    uint32_t rate = 0, restartMs = 0;
    bool mute = false, listProfiles = false, replaceLink = false;
    std::string serial;
    uint32_t baud = 9600;
    app.add_option("--serial", serial,
                   "serve this serial device (a real port, a pty end) instead of making a pty");
    app.add_option("--baud", baud, "baud rate of --serial (1200..115200, default 9600)");
    app.add_option("--link", link,
                   "link the line as $KVR_STATE_DIR/dosdevices/comN (COMn) or usbN");
    app.add_flag("--replace", replaceLink,
                 "take over a --link name that is taken; put the old entry back at the end");
    app.add_option("--frame-log", frameLog, "write every received frame to FILE");
    app.add_option("--control", control, "serve scenario lines on this unix socket");
    app.add_option("--scenario", scenarioFile, "play this scenario file from the start");
    app.add_option("--run", runLines, "play this scenario statement (repeatable; after --scenario)")
        ->allow_extra_args(false);
    app.add_option("--fault", faultTexts,
                   "a fault in force from the start, e.g. \"late 200\" (repeatable)")
        ->allow_extra_args(false);
    app.add_option("--profile", profileName, "controller profile (see below)");
    app.add_flag("--list-profiles", listProfiles, "list the profiles and exit");
    app.add_option("--unit-type", unitType, "\"UT\" answer (8 characters on a good unit)");
    app.add_option("--identity", identity, "\"OI\" answer (identity / firmware text)");
    app.add_option("--ext-level", extLevel, "\"ii\" extension level 0..9999, or \"none\"");
    app.add_option("--vendor-tag", vendorTag, "maker tag of the \"Uu\" identification");
    app.add_option("--format", format, "packets: m (low half first), m-hf (high half first), e");
    app.add_option("--format-digit", formatDigit, "packet format digit of the identification");
    app.add_option("--identification", identification, "whole \"Uu\" answer, as it stands");
    app.add_option("--rate", rate, "samples per second (default 100)")->check(CLI::Range(1, 1000));
    app.add_option("--restart-ms", restartMs,
                   "time from the \"R\"/\"RD\" acknowledge to the announcement (default 600)");
    app.add_option("--power-on-mode", powerOn,
                   "report mode at power-on and after restarts: stream, point, off");
    app.add_option("--set", wordSettings, "settings word at power-on, AA=HHHH in hex (repeatable)")
        ->allow_extra_args(false);
    app.add_flag("--mute", mute, "answer no command at all");
    app.add_option(
        "--write-stream", writeTo,
        "play the scenario in simulated time, write the bytes to FILE ('-': hex) and exit");
    app.add_option("--log-level", logLevel, "error, warning, info or debug");
    if (auto code = kvr::cli::parse(app, argc, argv)) return *code;
    const auto usage = [](const std::string& message) {
        return kvr::cli::usageError("kvrsim", message);
    };
    if (!kvr::log::setLevel(logLevel)) return usage("bad --log-level " + logLevel);
    if (listProfiles) {
        for (const auto& p : builtinProfiles())
            std::printf("%-14s unit %-8s identity %-8s format %-4s digit %c%s\n", p.name.c_str(),
                        p.unitType.c_str(), p.identityText.c_str(),
                        std::string(packetKindName(p.packets)).c_str(), p.formatDigit,
                        p.mute ? " (mute)" : "");
        return 0;
    }
    auto profile = profileByName(profileName);
    if (!profile) return usage("unknown profile '" + profileName + "' (see --list-profiles)");
    if (!unitType.empty()) profile->unitType = unitType;
    if (!identity.empty()) profile->identityText = identity;
    if (!extLevel.empty()) {
        if (extLevel == "none") {
            profile->extensionLevel.reset();
        } else {
            char* end = nullptr;
            const unsigned long v = std::strtoul(extLevel.c_str(), &end, 10);
            if (*end != '\0' || v > 9999) return usage("bad --ext-level " + extLevel);
            profile->extensionLevel = static_cast<uint16_t>(v);
        }
    }
    if (!vendorTag.empty()) profile->vendorTag = vendorTag;
    if (!format.empty()) {
        const auto kind = packetKindFromName(format);
        if (!kind) return usage("bad --format " + format + " (m, m-hf or e)");
        profile->packets = *kind;
    }
    if (!formatDigit.empty()) {
        if (formatDigit.size() != 1) return usage("--format-digit takes one character");
        profile->formatDigit = formatDigit[0];
    }
    if (!identification.empty()) profile->identificationOverride = identification;
    if (rate != 0) profile->sampleRateHz = rate;
    if (app.count("--restart-ms") > 0) profile->restartDelayMs = restartMs;
    if (!powerOn.empty()) {
        if (powerOn == "stream")
            profile->powerOnMode = ReportMode::Stream;
        else if (powerOn == "point")
            profile->powerOnMode = ReportMode::Point;
        else if (powerOn == "off")
            profile->powerOnMode = ReportMode::Off;
        else
            return usage("bad --power-on-mode " + powerOn);
    }
    for (const auto& w : wordSettings) {
        uint8_t a = 0;
        uint16_t v = 0;
        if (!parseWordSetting(w, &a, &v)) return usage("bad --set " + w + " (AA=HHHH)");
        profile->defaults[a] = v;
    }
    if (mute) profile->mute = true;
    if (!link.empty() && dosDeviceLinkName(link).empty())
        return usage("bad link name '" + kvr::cli::quoted(link) + "' (COMn or usbN)");
    if (!link.empty() && !serial.empty()) return usage("a serial line gets no link (--link)");
    if (replaceLink && link.empty()) return usage("--replace goes with --link");

    std::vector<Statement> scenario;
    if (!scenarioFile.empty()) {
        std::error_code ec;
        if (std::filesystem::is_directory(scenarioFile, ec))
            return usage("cannot read scenario " + scenarioFile + ": it is a folder");
        std::ifstream in(scenarioFile);
        if (!in) return usage("cannot read scenario " + scenarioFile + ": " + std::strerror(errno));
        std::stringstream text;
        text << in.rdbuf();
        std::string error;
        if (!parseScenario(text.str(), &scenario, &error))
            return usage(scenarioFile + ": " + error);
    }
    for (const auto& line : runLines) {
        std::optional<Statement> s;
        std::string error;
        if (!parseStatement(line, &s, &error)) return usage("--run \"" + line + "\": " + error);
        if (s) scenario.push_back(std::move(*s));
    }
    std::vector<FaultSetting> faults;
    for (const auto& text : faultTexts) {
        std::optional<Statement> s;
        std::string error;
        if (!parseStatement("fault " + text, &s, &error) || !s || s->op != Op::Fault)
            return usage("--fault \"" + text + "\": " + (error.empty() ? "not a fault" : error));
        faults.push_back(s->fault);
    }

    if (!writeTo.empty()) return writeStream(*profile, scenario, faults, writeTo);
    if (!link.empty() && !replaceLink) {
        const std::string taken = occupiedLinkEntry(dosDeviceLinkPath(link));
        if (!taken.empty()) {
            // One line: what the name is linked to is what the user needs to see.
            kvr::cli::failure("kvrsim",
                              link + " is taken: " + taken +
                                  " (--replace takes it over and puts it back at the end)");
            return kvr::cli::kExitUsage;
        }
    }

    // Signals are taken through a signalfd; block them before the serving thread starts so
    // it inherits the mask.
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGHUP); // the terminal it ran in went away: stop as cleanly
    pthread_sigmask(SIG_BLOCK, &mask, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    kvr::UniqueFd sigFd(::signalfd(-1, &mask, SFD_CLOEXEC));
    if (!sigFd) {
        std::perror("kvrsim: signalfd");
        return 1;
    }

    PtyOptions options;
    options.profile = *profile;
    options.link = link;
    options.replaceLink = replaceLink;
    options.serialDevice = serial;
    options.baudRate = baud;
    options.frameLog = frameLog;
    options.controlSocket = control;
    options.scenario = std::move(scenario);
    options.faults = std::move(faults);
    options.onLine = [](const std::string& path) {
        std::printf("%s\n", path.c_str());
        std::fflush(stdout);
    };
    std::string error;
    auto emu = PtyEmulator::start(std::move(options), &error);
    if (!emu) return kvr::cli::failure("kvrsim", error);
    pollfd fds[2] = {{sigFd.get(), POLLIN, 0}, {emu->quitFd(), POLLIN, 0}};
    while (::poll(fds, 2, -1) < 0 && errno == EINTR) {
    }
    emu.reset(); // removes the link and the control socket
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kvrsim: %s\n", e.what());
        return 1;
    }
}
