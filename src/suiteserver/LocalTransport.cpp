#include "suiteserver/LocalTransport.h"

#include <fcntl.h>
#include <grp.h>
#include <grpcpp/server_posix.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace orvel::suiteserver {

namespace {

std::optional<gid_t> SuiteGroupId() {
    std::vector<char> buffer(16384);
    group entry{};
    group* found = nullptr;
    if (getgrnam_r(kSuiteGroup, &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr) {
        return std::nullopt;
    }
    return found->gr_gid;
}

}  // namespace

bool MayUseSuiteServer(uid_t uid, gid_t primaryGid, uid_t serverUid) {
    if (uid == 0 || uid == serverUid) return true;
    auto suiteGroup = SuiteGroupId();
    if (!suiteGroup) return false;
    if (primaryGid == *suiteGroup) return true;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
        return false;
    }
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    if (getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<std::size_t>(count));
        if (getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) return false;
    }
    groups.resize(static_cast<std::size_t>(count));
    for (gid_t gid : groups) {
        if (gid == *suiteGroup) return true;
    }
    return false;
}

LocalListener::~LocalListener() {
    Stop();
}

std::string LocalListener::Open(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return "socket path too long: " + path;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    listenFd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listenFd_ < 0) return std::string("socket: ") + std::strerror(errno);
    unlink(path.c_str());  // the lock file guarantees no other server uses it
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listenFd_, 128) != 0) {
        std::string problem = "cannot listen on " + path + ": " + std::strerror(errno);
        close(listenFd_);
        listenFd_ = -1;
        return problem;
    }
    if (pipe2(wakeFds_, O_CLOEXEC | O_NONBLOCK) != 0)
        return "pipe: " + std::string(std::strerror(errno));
    return {};
}

void LocalListener::Start(grpc::Server& server) {
    thread_ = std::thread([this, &server] { AcceptLoop(&server); });
}

void LocalListener::Stop() {
    if (thread_.joinable()) {
        char byte = 1;
        [[maybe_unused]] auto ignored = write(wakeFds_[1], &byte, 1);
        thread_.join();
    }
    for (int& fd : {std::ref(listenFd_), std::ref(wakeFds_[0]), std::ref(wakeFds_[1])}) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
}

std::optional<LocalPeer> LocalListener::PeerOf(const std::string& peer) {
    if (peer.rfind("fd:", 0) != 0) return std::nullopt;
    int fd = std::atoi(peer.c_str() + 3);
    std::lock_guard lock(mutex_);
    auto it = uids_.find(fd);
    if (it == uids_.end()) return std::nullopt;
    return it->second;
}

void LocalListener::AcceptLoop(grpc::Server* server) {
    uid_t self = geteuid();
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            log_.Line(std::string("local socket: poll failed: ") + std::strerror(errno));
            return;
        }
        if (fds[1].revents != 0) return;
        int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                log_.Line(std::string("local socket: accept failed: ") + std::strerror(errno) +
                          "; trying again");
                poll(nullptr, 0, 100);  // let descriptors be freed
            }
            continue;  // EAGAIN, ECONNABORTED, EINTR: the next one
        }
        ucred credentials{};
        socklen_t length = sizeof credentials;
        if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) {
            close(fd);
            continue;
        }
        // A refused caller still gets its answer ("permission denied" on every
        // call) rather than a connection that merely breaks.
        bool allowed = MayUseSuiteServer(credentials.uid, credentials.gid, self);
        if (!allowed) {
            log_.Line("local socket: uid " + std::to_string(credentials.uid) + " (pid " +
                      std::to_string(credentials.pid) +
                      ") refused: not the server's user, root, nor in group " + kSuiteGroup);
        }
        {
            std::lock_guard lock(mutex_);
            uids_[fd] = LocalPeer{credentials.uid, allowed};
        }
        grpc::AddInsecureChannelFromFd(server, fd);
    }
}

}  // namespace orvel::suiteserver
