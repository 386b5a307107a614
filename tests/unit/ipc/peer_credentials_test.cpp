// Who may change state on a control socket: root and the server's own user always, the
// members of the socket's group (primary or supplementary) for configuration, others only read.

#include "platform/common/unique_fd.h"
#include "platform/ipc/peer_credentials.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

using kvr::ipc::judgePeer;
using kvr::ipc::PeerCredentials;
using kvr::ipc::PeerTrust;

TEST(PeerCredentials, TrustFollowsUserAndGroups) {
    constexpr uid_t kServer = 990; // the daemons' user
    constexpr gid_t kGroup = 990;  // the socket's group
    constexpr gid_t kDialout = 20;
    const struct {
        const char* who;
        PeerCredentials peer;
        PeerTrust trust;
    } cases[] = {
        {"root", {1, 0, 0, {}}, PeerTrust::Owner},
        {"the server's user", {1, kServer, 100, {}}, PeerTrust::Owner},
        {"member by primary group", {1, 1000, kGroup, {}}, PeerTrust::Member},
        {"member by supplementary group", {1, 1000, 1000, {kDialout, kGroup}}, PeerTrust::Member},
        {"outsider", {1, 1001, 1001, {kDialout, 27}}, PeerTrust::Other},
        {"outsider whose uid equals the group id", {1, kGroup + 1, 1001, {}}, PeerTrust::Other},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.who);
        EXPECT_EQ(judgePeer(c.peer, kServer, kGroup), c.trust);
    }
}

TEST(PeerCredentials, TheKernelNamesTheConnectedPeer) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds), 0);
    kvr::UniqueFd a(fds[0]), b(fds[1]);
    const auto peer = kvr::ipc::peerCredentials(a.get());
    ASSERT_TRUE(peer);
    EXPECT_EQ(peer->pid, ::getpid());
    EXPECT_EQ(peer->uid, ::geteuid());
    EXPECT_EQ(peer->gid, ::getegid());
    EXPECT_EQ(kvr::ipc::judgeSocketPeer(a.get(), 12345), PeerTrust::Owner);

    // Not a socket: nothing is known, so nothing is trusted.
    EXPECT_FALSE(kvr::ipc::peerCredentials(STDIN_FILENO + 1000));
    EXPECT_EQ(kvr::ipc::judgeSocketPeer(-1, 12345), PeerTrust::Other);
}
