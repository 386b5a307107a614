#pragma once
// The thin shell around the controller model: a pty whose slave end is the controller's
// serial line, an optional dosdevices link to it, a receive log file and a control socket,
// all served by one thread. kvrsim is this class plus a command line; tests can also run it
// in-process.

#include "emulator/controller.h"
#include "platform/common/unique_fd.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace kvr::emu {

struct PtyOptions {
    ControllerProfile profile = *profileByName("nvlt3000");
    // "COMn" links $KVR_STATE_DIR/dosdevices/comN, "usbN" links dosdevices/usbN; empty: none.
    // An entry of that name that is there already (a link to a real adapter, another
    // emulator's link, a file) makes start fail, unless `replaceLink`: then it is set aside
    // and put back when the emulator ends. A link to a pty that no longer exists is a stale
    // emulator link and is replaced without a word.
    std::string link;
    bool replaceLink = false;
    std::filesystem::path frameLog;      // empty: no file
    std::filesystem::path controlSocket; // empty: no control channel
    std::vector<Statement> scenario;     // played from the start
    std::vector<FaultSetting> faults;    // in force from the start
    // Serve an existing serial line (a real port on a null-modem cable, or one end of a pty
    // pair) instead of making a pty; no link is made then.
    std::filesystem::path serialDevice;
    uint32_t baudRate = 9600;
    // Called (on the serving thread, or in start()) with the slave path of every new line:
    // once at start and after each reconnect.
    std::function<void(const std::string& slavePath)> onLine;
};

// "COM3" -> "com3", "usb0" -> "usb0" (case-insensitive); empty when it is neither.
std::string dosDeviceLinkName(std::string_view port);
// $KVR_STATE_DIR/dosdevices/<dosDeviceLinkName(port)>.
std::filesystem::path dosDeviceLinkPath(std::string_view port);
// What is at `path` that a link would replace, in words ("/x/com1 -> /dev/ttyUSB0", "/x/com1
// (a regular file)"); empty when nothing is there, or only a stale emulator link.
std::string occupiedLinkEntry(const std::filesystem::path& path);

class PtyEmulator {
public:
    static std::unique_ptr<PtyEmulator> start(PtyOptions options, std::string* error);
    ~PtyEmulator(); // stops serving, removes the link and the control socket
    PtyEmulator(const PtyEmulator&) = delete;
    PtyEmulator& operator=(const PtyEmulator&) = delete;

    [[nodiscard]] std::string slavePath() const;
    [[nodiscard]] const std::filesystem::path& linkPath() const { return linkPath_; }

    // Queues one scenario statement; false and a message when it does not parse.
    bool execute(std::string_view line, std::string* error);
    // Waits until everything queued so far has been played and sent.
    bool waitIdle(std::chrono::milliseconds deadline);
    // A descriptor that becomes readable when the control channel asked kvrsim to quit or
    // the serving thread ended.
    [[nodiscard]] int quitFd() const { return quitFd_.get(); }

    [[nodiscard]] std::vector<FrameRecord> frames() const;
    template <typename F> auto inspect(F&& f) const {
        std::lock_guard lock(mutex_);
        return f(controller_);
    }

private:
    struct Client;
    explicit PtyEmulator(PtyOptions options);
    bool openLine(std::string* error); // a fresh pty (and link); mutex_ not needed
    bool openSerial(std::string* error);
    bool updateLink(std::string* error);
    bool claimLink(const std::filesystem::path& path, std::string* error);
    void removeLink();
    void serve();
    void pump(SimTime now); // controller output to the line
    void handleClientInput(Client& c);
    void controlLine(Client& c, std::string_view line);
    SimTime now() const;
    void wake();

    PtyOptions options_;
    std::chrono::steady_clock::time_point start_;
    mutable std::mutex mutex_; // guards controller_, slave path
    std::condition_variable idleChanged_;
    Controller controller_;
    std::unique_ptr<class FrameLogFile> log_;

    UniqueFd master_, slaveHold_, wakeFd_, quitFd_, listenFd_;
    std::string slavePath_;
    std::filesystem::path linkPath_;   // the link this emulator made (empty: none)
    std::string linkTarget_;           // where it points: the line it made it for
    std::filesystem::path savedEntry_; // the entry it set aside (--replace), put back at the end
    std::vector<std::unique_ptr<Client>> clients_;
    uint64_t writeDrops_ = 0;
    bool stopping_ = false; // guarded by mutex_
    // Guarded by mutex_: output taken from the controller is not yet on the line (its bytes
    // written, its hang-up or new line done), so the emulator is not idle yet.
    bool emitting_ = false;
    std::thread thread_;
};

} // namespace kvr::emu
