#pragma once
// Who is on the other end of a local control socket, and what that peer may do.
//
// Every control socket (the drivers' control devices, the services' sockets) is mode 0660 in
// the suite's group, so only the group's members, the daemon's own user and root can connect
// at all. A connection can still reach someone else (a descriptor handed on, a socket whose
// mode an administrator loosened), so the servers look at the peer's credentials, taken by
// the kernel when it connected (SO_PEERCRED, SO_PEERGROUPS), before a control changes state:
//
//   Owner    root, or the user the server runs as: every control, also the service
//            manager's (stop, shutdown)
//   Member   the socket's group is the peer's primary or a supplementary group: every
//            control that configures the controllers (the library's and the tools' work)
//   Other    reads only
//
// No call throws.

#include <optional>
#include <sys/types.h>
#include <vector>

namespace kvr::ipc {

struct PeerCredentials {
    pid_t pid = 0;
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups; // supplementary groups, as the peer had them at connect
};

enum class PeerTrust { Other, Member, Owner };

// The credentials of the peer of connected Unix socket `fd`; nothing when the kernel does
// not tell (not a Unix socket, or no peer).
std::optional<PeerCredentials> peerCredentials(int fd);

// What a peer may do on a socket of group `group` served by user `serverUid`.
PeerTrust judgePeer(const PeerCredentials& peer, uid_t serverUid, gid_t group);

// judgePeer for the peer of `fd` with this process as the server; Other when the
// credentials cannot be read.
PeerTrust judgeSocketPeer(int fd, gid_t group);

} // namespace kvr::ipc
