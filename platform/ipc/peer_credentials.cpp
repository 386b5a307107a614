#include "platform/ipc/peer_credentials.h"

#include <algorithm>
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace kvr::ipc {

std::optional<PeerCredentials> peerCredentials(int fd) {
    ucred cred{};
    socklen_t length = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0 || length != sizeof cred)
        return std::nullopt;
    PeerCredentials peer;
    peer.pid = cred.pid;
    peer.uid = cred.uid;
    peer.gid = cred.gid;
    // The supplementary groups: asked with room for a few, then with the size the kernel
    // names when they do not fit.
    try {
        peer.groups.resize(32);
        for (int attempt = 0; attempt < 3; ++attempt) {
            socklen_t bytes = static_cast<socklen_t>(peer.groups.size() * sizeof(gid_t));
            if (::getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, peer.groups.data(), &bytes) == 0) {
                peer.groups.resize(bytes / sizeof(gid_t));
                return peer;
            }
            if (errno != ERANGE) break;
            peer.groups.resize(bytes / sizeof(gid_t) + 1);
        }
    } catch (...) {
    }
    // Without the list only the primary group counts.
    peer.groups.clear();
    return peer;
}

PeerTrust judgePeer(const PeerCredentials& peer, uid_t serverUid, gid_t group) {
    if (peer.uid == 0 || peer.uid == serverUid) return PeerTrust::Owner;
    if (peer.gid == group ||
        std::find(peer.groups.begin(), peer.groups.end(), group) != peer.groups.end())
        return PeerTrust::Member;
    return PeerTrust::Other;
}

PeerTrust judgeSocketPeer(int fd, gid_t group) {
    const auto peer = peerCredentials(fd);
    return peer ? judgePeer(*peer, ::geteuid(), group) : PeerTrust::Other;
}

} // namespace kvr::ipc
