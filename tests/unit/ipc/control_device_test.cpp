#include "platform/clock/clock.h"
#include "platform/ipc/control_device.h"
#include "platform/ipc/event.h"
#include "tests/support/test_env.h"

#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using kvr::UniqueFd;
using kvr::ipc::ControlDevice;
using kvr::ipc::ControlServer;
using kvr::ipc::Event;
using kvr::ipc::Reply;
using kvr::ipc::Request;
namespace status = kvr::ipc::status;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kEcho = 0x220000;     // leaves the buffer as it is, info = inLength
constexpr std::uint32_t kScripted = 0x220004; // writes the scripted reply
constexpr std::uint32_t kAdoptEvent = 0x220014;
constexpr std::uint32_t kBlock = 0x220018; // waits until the test lets it go
constexpr std::uint32_t kThrow = 0x22001C;

// What the dispatch saw and what it answers to kScripted.
struct Script {
    std::mutex mutex;
    std::uint32_t code = 0, inLength = 0, outLength = 0;
    Bytes buffer;               // the system buffer as the dispatch received it
    std::size_t writeBytes = 0; // kScripted writes 0x80 + i into the first writeBytes bytes
    Reply reply;
    std::optional<Event> adopted;
    std::atomic<int> blocked{0};
    std::optional<Event> release = Event::create();
};

Reply dispatch(Script& s, Request& r) {
    std::lock_guard lock(s.mutex);
    s.code = r.code;
    s.inLength = r.inLength;
    s.outLength = r.outLength;
    s.buffer.assign(r.buffer.begin(), r.buffer.end());
    switch (r.code) {
    case kEcho:
        return {status::kSuccess, r.inLength};
    case kScripted:
        for (std::size_t i = 0; i < s.writeBytes && i < r.buffer.size(); ++i) {
            r.buffer[i] = static_cast<std::uint8_t>(0x80 + i);
        }
        return s.reply;
    case kAdoptEvent: {
        std::uint32_t st = 0;
        auto e = Event::adopt(std::move(r.passedFd), &st);
        if (e) {
            e->set();
            s.adopted = std::move(e);
        }
        return {st, 0};
    }
    default:
        return {0xC0000010, 0}; // STATUS_INVALID_DEVICE_REQUEST
    }
}

class ControlDeviceTest : public ::testing::Test {
protected:
    void SetUp() override { startServer(); }

    void startServer() {
        std::string error;
        server_ = ControlServer::start(
            "KvrTestD",
            [this](Request& r) -> Reply {
                if (r.code == kBlock) {
                    ++script_.blocked;
                    script_.release->wait(20s);
                    --script_.blocked;
                    return {status::kSuccess, 0};
                }
                if (r.code == kThrow) throw std::runtime_error("dispatch fault");
                return dispatch(script_, r);
            },
            "", error);
        ASSERT_TRUE(server_) << error;
    }

    static ControlDevice openDevice() {
        auto d = ControlDevice::open("\\\\.\\KvrTestD");
        if (!d) throw std::runtime_error("open");
        return std::move(*d);
    }

    // A raw client socket for frames the client API would never send.
    static UniqueFd rawConnect() {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::string path = (kvr::test::runtimeDir() / "dev" / "KvrTestD").string();
        std::memcpy(addr.sun_path, path.c_str(), path.size());
        UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
        if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return {};
        return fd;
    }

    // True when the server has closed the raw connection (end of stream within the deadline).
    static bool closedByServer(int fd) {
        timeval tv{20, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        char b[64];
        return ::recv(fd, b, sizeof b, 0) == 0;
    }

    static bool echoWorks(ControlDevice& d, std::uint8_t tag) {
        Bytes in = {tag, 1, 2, 3};
        Bytes out(4, 0);
        std::uint32_t ret = 0;
        return d.ioctl(kEcho, in.data(), 4, out.data(), 4, &ret) && ret == 4 && out == in;
    }

    Script script_;
    std::unique_ptr<ControlServer> server_;
};

// ---- buffered semantics ---------------------------------------------------------------------

TEST_F(ControlDeviceTest, BufferedRepliesShorterLongerAndBeyondTheCapacity) {
    struct Case {
        const char* what;
        std::uint32_t inLength, outLength;
        std::size_t writeBytes;
        Reply reply;
        bool ok;
        std::uint32_t returned;
    };
    const Case cases[] = {
        {"reply shorter than the request", 9, 9, 1, {status::kSuccess, 1}, true, 1},
        {"reply longer than the request", 1, 9, 9, {status::kSuccess, 9}, true, 9},
        {"reply of the untouched buffer", 5, 5, 0, {status::kSuccess, 5}, true, 5},
        {"information above outLength", 8, 4, 8, {status::kSuccess, 8}, true, 4},
        {"information above the buffer", 2, 4, 4, {status::kSuccess, 1000}, true, 4},
        {"nothing out", 4, 0, 4, {status::kSuccess, 4}, true, 0},
        {"no bytes either way", 0, 0, 0, {status::kSuccess, 0}, true, 0},
        {"error status copies nothing", 2, 4, 4, {0xC0000023, 4}, false, 0},
        {"warning status copies but fails", 2, 4, 4, {0x80000005, 4}, false, 4},
        {"largest transfer",
         kvr::ipc::kMaxTransfer,
         kvr::ipc::kMaxTransfer,
         300,
         {status::kSuccess, kvr::ipc::kMaxTransfer},
         true,
         kvr::ipc::kMaxTransfer},
    };
    ControlDevice d = openDevice();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes in(c.inLength);
        for (std::size_t i = 0; i < in.size(); ++i)
            in[i] = static_cast<std::uint8_t>(i + 1);
        Bytes out(c.outLength + 8, 0xEE); // 8 sentinel bytes beyond outLength
        {
            std::lock_guard lock(script_.mutex);
            script_.writeBytes = c.writeBytes;
            script_.reply = c.reply;
        }
        std::uint32_t ret = 0xFFFF, st = 0xFFFF;
        bool ok = d.ioctl(kScripted, in.data(), c.inLength, out.data(), c.outLength, &ret, -1, &st);
        EXPECT_EQ(ok, c.ok);
        EXPECT_EQ(st, c.reply.status);
        EXPECT_EQ(ret, c.returned);

        std::lock_guard lock(script_.mutex);
        // The dispatch saw one buffer of max(in, out) bytes: the input, then zeros.
        ASSERT_EQ(script_.buffer.size(), std::max(c.inLength, c.outLength));
        EXPECT_EQ(script_.inLength, c.inLength);
        EXPECT_EQ(script_.outLength, c.outLength);
        for (std::size_t i = 0; i < script_.buffer.size(); ++i) {
            ASSERT_EQ(script_.buffer[i], i < c.inLength ? in[i] : 0) << "byte " << i;
        }
        // The caller got the reply bytes (the buffer after the dispatch) and nothing more.
        for (std::size_t i = 0; i < out.size(); ++i) {
            std::uint8_t after = i < c.writeBytes ? static_cast<std::uint8_t>(0x80 + i)
                                                  : (i < c.inLength ? in[i] : 0);
            ASSERT_EQ(out[i], i < c.returned ? after : 0xEE) << "byte " << i;
        }
    }
}

TEST_F(ControlDeviceTest, ClientRefusesWhatItCannotSend) {
    ControlDevice d = openDevice();
    Bytes big(kvr::ipc::kMaxTransfer + 1);
    std::uint32_t ret = 7, st = 0;
    EXPECT_FALSE(d.ioctl(kEcho, big.data(), kvr::ipc::kMaxTransfer + 1, nullptr, 0, &ret, -1, &st));
    EXPECT_EQ(st, status::kInvalidParameter);
    EXPECT_EQ(ret, 0U);
    EXPECT_FALSE(
        d.ioctl(kEcho, big.data(), 4, big.data(), kvr::ipc::kMaxTransfer + 1, &ret, -1, &st));
    EXPECT_EQ(st, status::kInvalidParameter);
    EXPECT_FALSE(d.ioctl(kEcho, nullptr, 4, nullptr, 0, &ret, -1, &st));
    EXPECT_EQ(st, status::kInvalidParameter);
    EXPECT_TRUE(echoWorks(d, 1)); // the connection is still good

    d.close();
    EXPECT_FALSE(d.isOpen());
    EXPECT_FALSE(d.ioctl(kEcho, big.data(), 4, big.data(), 4, &ret, -1, &st));
    EXPECT_EQ(st, status::kInvalidHandle);
}

TEST_F(ControlDeviceTest, DispatchExceptionFailsOnlyThatRequest) {
    ControlDevice d = openDevice();
    std::uint32_t ret = 0, st = 0;
    EXPECT_FALSE(d.ioctl(kThrow, nullptr, 0, nullptr, 0, &ret, -1, &st));
    EXPECT_EQ(st, status::kUnsuccessful);
    EXPECT_TRUE(echoWorks(d, 2));
}

// ---- names ----------------------------------------------------------------------------------

TEST_F(ControlDeviceTest, OpenByNameFormsAndFailsWithoutADaemon) {
    EXPECT_TRUE(ControlDevice::open("\\\\.\\KvrTestD"));
    EXPECT_TRUE(ControlDevice::open("KvrTestD"));
    EXPECT_TRUE(ControlDevice::open("\\\\.\\kvrtestd")); // device names ignore case
    for (const char* bad : {"", "\\\\.\\", "KvrOther", "dev/KvrTestD", "..", ".KvrTestD.lock",
                            "\\\\.\\a\\b", "../dev/KvrTestD"}) {
        EXPECT_FALSE(ControlDevice::open(bad)) << bad;
    }
    EXPECT_EQ(kvr::ipc::devicePath("\\\\.\\KvrRs232D"),
              (kvr::test::runtimeDir() / "dev" / "KvrRs232D").string());
}

TEST(ControlDeviceOpen, NoDaemonFailsAndLeavesTheRuntimeFolderAlone) {
    std::string saved = std::getenv("KVR_RUNTIME_DIR");
    auto empty = kvr::test::makeTempDir("run");
    ::setenv("KVR_RUNTIME_DIR", empty.c_str(), 1);
    EXPECT_FALSE(ControlDevice::open("\\\\.\\KvrRs232D"));
    EXPECT_FALSE(std::filesystem::exists(empty / "dev")); // a client never creates it
    ::setenv("KVR_RUNTIME_DIR", saved.c_str(), 1);
}

TEST_F(ControlDeviceTest, StartRefusesBadNamesAndASecondServer) {
    std::string error;
    const std::string tooLong(200, 'x');
    for (const char* bad : {"", "a/b", "\\\\.\\", ".hidden", tooLong.c_str()}) {
        error.clear();
        EXPECT_FALSE(ControlServer::start(bad, {}, "", error)) << bad;
        EXPECT_FALSE(error.empty());
    }
    error.clear();
    EXPECT_FALSE(ControlServer::start("KvrTestD", {}, "", error));
    EXPECT_NE(error.find("already served"), std::string::npos) << error;
    // The refused second server did not disturb the first.
    ControlDevice d = openDevice();
    EXPECT_TRUE(echoWorks(d, 3));
}

TEST_F(ControlDeviceTest, SocketModeAndGroup) {
    struct stat st {};
    ASSERT_EQ(::stat(server_->path().c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0660U);

    group* g = ::getgrgid(::getegid());
    ASSERT_NE(g, nullptr);
    std::string error;
    auto other = ControlServer::start("KvrGroupD", {}, g->gr_name, error);
    ASSERT_TRUE(other) << error;
    ASSERT_EQ(::stat(other->path().c_str(), &st), 0);
    EXPECT_EQ(st.st_gid, ::getegid());
    EXPECT_EQ(st.st_mode & 07777, 0660U);

    EXPECT_FALSE(ControlServer::start("KvrGroup2D", {}, "no-such-group-kvr", error));
    EXPECT_NE(error.find("no-such-group-kvr"), std::string::npos) << error;
}

TEST_F(ControlDeviceTest, StaleSocketOfADeadServerIsReplaced) {
    server_->stop();
    // What a crashed daemon leaves: a socket file that nobody listens on.
    std::string path = (kvr::test::runtimeDir() / "dev" / "KvrTestD").string();
    {
        UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET, 0));
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, path.c_str(), path.size());
        ASSERT_EQ(::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    }
    ASSERT_TRUE(std::filesystem::exists(path));
    EXPECT_FALSE(ControlDevice::open("KvrTestD"));
    startServer();
    ControlDevice d = openDevice();
    EXPECT_TRUE(echoWorks(d, 4));
}

// ---- descriptor passing ---------------------------------------------------------------------

TEST_F(ControlDeviceTest, PassedEventArrivesAndIsUsable) {
    ControlDevice d = openDevice();
    auto mine = Event::create();
    ASSERT_TRUE(mine);
    // As the callers do: the handle value in the request bytes, the descriptor attached.
    std::uint8_t in[5] = {0};
    int handle = mine->fd();
    std::memcpy(in + 1, &handle, 4);
    std::uint32_t ret = 9, st = 9;
    EXPECT_TRUE(d.ioctl(kAdoptEvent, in, 5, nullptr, 0, &ret, mine->fd(), &st));
    EXPECT_EQ(st, status::kSuccess);
    EXPECT_EQ(ret, 0U);
    // The daemon set its own copy; the caller's event sees it.
    EXPECT_TRUE(mine->wait(20s));
    mine->reset();
    {
        std::lock_guard lock(script_.mutex);
        ASSERT_TRUE(script_.adopted);
        EXPECT_NE(script_.adopted->fd(), mine->fd());
        script_.adopted->set();
    }
    EXPECT_TRUE(mine->wait(20s));
    EXPECT_TRUE(kvr::ipc::isEventFd(mine->fd())); // the caller still owns its own descriptor
}

TEST_F(ControlDeviceTest, PassedDescriptorOfAnotherKindIsRefusedAndClosed) {
    ControlDevice d = openDevice();
    int p[2];
    ASSERT_EQ(::pipe2(p, O_CLOEXEC), 0);
    UniqueFd readEnd(p[0]), writeEnd(p[1]);
    std::uint8_t in[5] = {0};
    std::uint32_t ret = 0, st = 0;
    EXPECT_FALSE(d.ioctl(kAdoptEvent, in, 5, nullptr, 0, &ret, writeEnd.get(), &st));
    EXPECT_EQ(st, status::kObjectTypeMismatch);
    EXPECT_FALSE(d.ioctl(kAdoptEvent, in, 5, nullptr, 0, &ret, -1, &st));
    EXPECT_EQ(st, status::kInvalidHandle);
    int closed = ::dup(readEnd.get());
    ::close(closed);
    EXPECT_FALSE(d.ioctl(kAdoptEvent, in, 5, nullptr, 0, &ret, closed, &st));
    EXPECT_EQ(st, status::kInvalidHandle);
    EXPECT_TRUE(echoWorks(d, 15)); // a bad handle is not a broken connection
    // The server closed its copy of the write end: once ours is gone the pipe reads as ended.
    writeEnd.reset();
    char b;
    EXPECT_EQ(::read(readEnd.get(), &b, 1), 0);
}

TEST_F(ControlDeviceTest, TwoDescriptorsInOneRequestCloseThatConnection) {
    ControlDevice good = openDevice();
    UniqueFd raw = rawConnect();
    ASSERT_TRUE(raw);
    int p[2];
    ASSERT_EQ(::pipe2(p, O_CLOEXEC), 0);
    UniqueFd readEnd(p[0]), writeEnd(p[1]);
    std::uint32_t header[3] = {kEcho, 0, 0};
    iovec iov{header, sizeof header};
    alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))] = {};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(2 * sizeof(int));
    int fds[2] = {writeEnd.get(), writeEnd.get()};
    std::memcpy(CMSG_DATA(c), fds, sizeof fds);
    ASSERT_GT(::sendmsg(raw.get(), &msg, MSG_NOSIGNAL), 0);
    EXPECT_TRUE(closedByServer(raw.get()));
    EXPECT_TRUE(echoWorks(good, 5));
    writeEnd.reset(); // neither copy was kept by the server
    char b;
    EXPECT_EQ(::read(readEnd.get(), &b, 1), 0);
}

// ---- bad input ------------------------------------------------------------------------------

TEST_F(ControlDeviceTest, MalformedFramesCloseOnlyTheirConnection) {
    auto frame = [](std::uint32_t in, std::uint32_t out, std::size_t body) {
        Bytes b(12 + body, 0x5A);
        std::uint32_t h[3] = {kEcho, in, out};
        std::memcpy(b.data(), h, 12);
        return b;
    };
    struct Case {
        const char* what;
        Bytes bytes;
    };
    const Case cases[] = {
        {"empty message", Bytes{}},
        {"short header", Bytes(8, 0)},
        {"one byte short of the header", Bytes(11, 0)},
        {"input length beyond the message", frame(100, 0, 10)},
        {"input length short of the message", frame(4, 0, 10)},
        {"input length above 64 KiB",
         frame(kvr::ipc::kMaxTransfer + 1, 0, kvr::ipc::kMaxTransfer + 1)},
        {"output length above 64 KiB", frame(0, kvr::ipc::kMaxTransfer + 1, 0)},
        {"output length at the top", frame(0, 0xFFFFFFFF, 0)},
        {"message above the largest request", frame(0, 0, kvr::ipc::kMaxTransfer + 100)},
    };
    ControlDevice good = openDevice();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        UniqueFd raw = rawConnect();
        ASSERT_TRUE(raw);
        ASSERT_EQ(::send(raw.get(), c.bytes.data(), c.bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(c.bytes.size()));
        EXPECT_TRUE(closedByServer(raw.get()));
        EXPECT_TRUE(echoWorks(good, 6));
        auto fresh = ControlDevice::open("KvrTestD");
        ASSERT_TRUE(fresh);
        EXPECT_TRUE(echoWorks(*fresh, 7));
    }
    // The server lets go of every closed connection; only `good` remains.
    EXPECT_TRUE(kvr::test::waitUntil([&] { return server_->connectionCount() == 1; }))
        << server_->connectionCount();
}

TEST_F(ControlDeviceTest, ClientVanishingMidRequestDisturbsNobody) {
    ControlDevice good = openDevice();
    {
        UniqueFd raw = rawConnect();
        std::uint32_t header[3] = {kBlock, 0, 4};
        ASSERT_EQ(::send(raw.get(), header, sizeof header, MSG_NOSIGNAL), 12);
        ASSERT_TRUE(kvr::test::waitUntil([&] { return script_.blocked.load() == 1; }));
    }                                // the client is gone while its request is in the dispatch
    EXPECT_TRUE(echoWorks(good, 8)); // other connections are served meanwhile
    script_.release->set();
    // The reply goes to a closed socket: no SIGPIPE, the server goes on.
    ASSERT_TRUE(kvr::test::waitUntil([&] { return script_.blocked.load() == 0; }));
    EXPECT_TRUE(kvr::test::waitUntil([&] { return server_->connectionCount() == 1; }));
    EXPECT_TRUE(echoWorks(good, 9));
}

TEST_F(ControlDeviceTest, ASlowRequestHoldsUpNobodyElse) {
    ControlDevice shared = openDevice();
    std::thread slow([&] {
        std::uint32_t ret = 0;
        EXPECT_TRUE(shared.ioctl(kBlock, nullptr, 0, nullptr, 0, &ret));
    });
    ASSERT_TRUE(kvr::test::waitUntil([&] { return script_.blocked.load() == 1; }));
    // The same handle from another thread, and a second client, are both served meanwhile.
    EXPECT_TRUE(echoWorks(shared, 10));
    ControlDevice other = openDevice();
    EXPECT_TRUE(echoWorks(other, 11));
    script_.release->set();
    slow.join();
}

// ---- many clients ---------------------------------------------------------------------------

TEST_F(ControlDeviceTest, SixteenConcurrentClientsGetTheirOwnReplies) {
    constexpr int kClients = 16;
    constexpr int kRequests = 300;
    std::atomic<int> wrong{0}, failed{0};
    auto worker = [&](ControlDevice* shared, int id) {
        std::optional<ControlDevice> own;
        if (shared == nullptr) own = ControlDevice::open("KvrTestD");
        ControlDevice* d = shared != nullptr ? shared : (own ? &*own : nullptr);
        if (d == nullptr) {
            failed += kRequests;
            return;
        }
        for (int i = 0; i < kRequests; ++i) {
            std::uint32_t in[3] = {static_cast<std::uint32_t>(id), static_cast<std::uint32_t>(i),
                                   0xC0FFEE};
            std::uint32_t out[3] = {};
            std::uint32_t ret = 0;
            if (!d->ioctl(kEcho, in, sizeof in, out, sizeof out, &ret)) {
                ++failed;
            } else if (ret != sizeof in || std::memcmp(in, out, sizeof in) != 0) {
                ++wrong;
            }
        }
    };
    // Twelve clients with their own handles, four threads sharing one handle.
    ControlDevice shared = openDevice();
    std::vector<std::thread> threads;
    for (int id = 0; id < kClients; ++id) {
        threads.emplace_back(worker, id < 12 ? nullptr : &shared, id);
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(failed.load(), 0);
    EXPECT_EQ(wrong.load(), 0);
}

// ---- stopping -------------------------------------------------------------------------------

TEST_F(ControlDeviceTest, StopWhileClientsAreConnected) {
    std::vector<ControlDevice> clients;
    for (int i = 0; i < 4; ++i)
        clients.push_back(openDevice());
    for (auto& c : clients)
        ASSERT_TRUE(echoWorks(c, 12));

    // One request is inside the dispatch when the server stops.
    std::atomic<bool> inFlightDone{false};
    std::uint32_t inFlightStatus = 0;
    std::thread inFlight([&] {
        std::uint32_t ret = 0;
        clients[0].ioctl(kBlock, nullptr, 0, nullptr, 0, &ret, -1, &inFlightStatus);
        inFlightDone = true;
    });
    ASSERT_TRUE(kvr::test::waitUntil([&] { return script_.blocked.load() == 1; }));

    // A connection accepted after all the others is shut down after them: once it sees the
    // end, the in-flight request's connection is shut down too.
    UniqueFd last = rawConnect();
    ASSERT_TRUE(kvr::test::waitUntil([&] { return server_->connectionCount() == 5; }));

    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        server_->stop();
        stopped = true;
    });
    EXPECT_TRUE(closedByServer(last.get()));
    EXPECT_FALSE(stopped.load()); // stop() waits for the dispatch in progress
    script_.release->set();
    ASSERT_TRUE(kvr::test::waitUntil([&] { return stopped.load(); }));
    stopper.join();
    inFlight.join();
    EXPECT_TRUE(inFlightDone);
    EXPECT_EQ(inFlightStatus, status::kPortDisconnected);

    // Every client now fails, nothing hangs, and the device is gone.
    for (auto& c : clients) {
        std::uint32_t ret = 5, st = 0;
        std::uint8_t b[4] = {};
        EXPECT_FALSE(c.ioctl(kEcho, b, 4, b, 4, &ret, -1, &st));
        EXPECT_EQ(st, status::kPortDisconnected);
        EXPECT_EQ(ret, 0U);
    }
    EXPECT_FALSE(std::filesystem::exists(kvr::test::runtimeDir() / "dev" / "KvrTestD"));
    EXPECT_FALSE(ControlDevice::open("KvrTestD"));
    server_->stop(); // a second stop is harmless

    // A daemon started again under the same name serves the handles opened before.
    startServer();
    EXPECT_TRUE(echoWorks(clients[1], 13));
}

TEST_F(ControlDeviceTest, DestroyingTheServerWithIdleClientsDoesNotHang) {
    std::vector<ControlDevice> clients;
    for (int i = 0; i < 8; ++i)
        clients.push_back(openDevice());
    server_.reset();
    for (auto& c : clients)
        EXPECT_FALSE(echoWorks(c, 14));
}

} // namespace
