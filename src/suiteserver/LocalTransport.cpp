#include "suiteserver/LocalTransport.h"

#include <fcntl.h>
#include <grp.h>
#include <grpcpp/server_posix.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <initializer_list>
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

// Descriptors a TCP connection may never take: the local socket's consoles,
// the component launches and the server's own files keep these.
constexpr int kDescriptorHeadroom = 64;

int OpenFileLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
        limit.rlim_cur > 1 << 30) {
        return 1 << 30;
    }
    return static_cast<int>(limit.rlim_cur);
}

// The pipe whose byte ends an accept loop; false (errno set) when it failed.
bool OpenWakePipe(platform::UniqueFd& readEnd, platform::UniqueFd& writeEnd) {
    int ends[2] = {-1, -1};
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    readEnd.reset(ends[0]);
    writeEnd.reset(ends[1]);
    return true;
}

// Ends the accept loop of thread (if it runs) and closes every descriptor given.
void StopAcceptLoop(std::thread& thread, const platform::UniqueFd& wakeWrite,
                    std::initializer_list<platform::UniqueFd*> descriptors) {
    if (thread.joinable()) {
        char byte = 1;
        [[maybe_unused]] auto ignored = write(wakeWrite.get(), &byte, 1);
        thread.join();
    }
    for (auto* fd : descriptors) fd->reset();
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
    platform::UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) return std::string("socket: ") + std::strerror(errno);
    unlink(path.c_str());  // the lock file guarantees no other server uses it
    if (bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd.get(), 128) != 0) {
        return "cannot listen on " + path + ": " + std::strerror(errno);
    }
    if (!OpenWakePipe(wakeRead_, wakeWrite_)) return "pipe: " + std::string(std::strerror(errno));
    listenFd_ = std::move(fd);
    return {};
}

void LocalListener::Start(grpc::Server& server) {
    thread_ = std::thread([this, &server] { AcceptLoop(&server); });
}

void LocalListener::Stop() {
    StopAcceptLoop(thread_, wakeWrite_, {&listenFd_, &wakeRead_, &wakeWrite_});
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
        pollfd fds[2] = {{listenFd_.get(), POLLIN, 0}, {wakeRead_.get(), POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            log_.Line(std::string("local socket: poll failed: ") + std::strerror(errno));
            return;
        }
        if (fds[1].revents != 0) return;
        platform::UniqueFd connection(
            accept4(listenFd_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!connection) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                log_.Line(std::string("local socket: accept failed: ") + std::strerror(errno) +
                          "; trying again");
                poll(nullptr, 0, 100);  // let descriptors be freed
            }
            continue;  // EAGAIN, ECONNABORTED, EINTR: the next one
        }
        ucred credentials{};
        socklen_t length = sizeof credentials;
        if (getsockopt(connection.get(), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) {
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
            uids_[connection.get()] = LocalPeer{credentials.uid, allowed};
        }
        // gRPC owns the connection from here on.
        grpc::AddInsecureChannelFromFd(server, connection.release());
    }
}

}  // namespace orvel::suiteserver

namespace orvel::suiteserver {

TcpListener::~TcpListener() {
    Stop();
}

std::string TcpListener::Open(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    std::string service = std::to_string(port);
    std::string name = host;
    if (name.size() > 1 && name.front() == '[' && name.back() == ']') {
        name = name.substr(1, name.size() - 2);
    }
    if (name.empty()) {
        hints.ai_family = AF_INET6;  // [::] with IPv4 mapped: every address
    }
    int rc = getaddrinfo(name.empty() ? nullptr : name.c_str(), service.c_str(), &hints, &found);
    if (rc != 0 || found == nullptr) return "cannot resolve " + host + ": " + gai_strerror(rc);
    std::string problem;
    for (addrinfo* at = found; at != nullptr && !listenFd_; at = at->ai_next) {
        platform::UniqueFd fd(
            socket(at->ai_family, at->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (!fd) {
            problem = std::string("socket: ") + std::strerror(errno);
            continue;
        }
        int on = 1;
        int off = 0;
        setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (at->ai_family == AF_INET6) {
            setsockopt(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
        }
        if (bind(fd.get(), at->ai_addr, at->ai_addrlen) != 0 || listen(fd.get(), 1024) != 0) {
            problem = std::strerror(errno);
            continue;
        }
        listenFd_ = std::move(fd);
    }
    freeaddrinfo(found);
    if (!listenFd_) return problem;
    reserveFd_.reset(open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (!OpenWakePipe(wakeRead_, wakeWrite_)) return "pipe: " + std::string(std::strerror(errno));
    return {};
}

void TcpListener::Start(std::unique_ptr<grpc::experimental::ExternalConnectionAcceptor> acceptor) {
    acceptor_ = std::move(acceptor);
    thread_ = std::thread([this] { AcceptLoop(); });
}

void TcpListener::Stop() {
    StopAcceptLoop(thread_, wakeWrite_, {&listenFd_, &reserveFd_, &wakeRead_, &wakeWrite_});
}

void TcpListener::ShedOne(int error) {
    // The reserved descriptor makes room to take the waiting connection off
    // the queue and close it; otherwise the listener would stay readable
    // with nothing that can be done about it.
    reserveFd_.reset();
    const bool taken =
        platform::UniqueFd(accept4(listenFd_.get(), nullptr, nullptr, SOCK_CLOEXEC)).valid();
    reserveFd_.reset(open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (shed_++ % 1000 == 0) {
        log_.Line(std::string("TCP: connection closed at once: ") + std::strerror(error) + " (" +
                  std::to_string(shed_) + " so far); the connections served keep theirs");
    }
    if (!taken) poll(nullptr, 0, 10);  // not even the reserve helps: let others free some
}

void TcpListener::AcceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listenFd_.get(), POLLIN, 0}, {wakeRead_.get(), POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            log_.Line(std::string("TCP: poll failed: ") + std::strerror(errno));
            return;
        }
        if (fds[1].revents != 0) return;
        platform::UniqueFd fd(
            accept4(listenFd_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!fd) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                ShedOne(errno);
            }
            continue;  // EAGAIN, ECONNABORTED, EINTR: the next one
        }
        // Descriptors are handed out lowest first: this one's number says how
        // many are open. The last ones are kept for the local socket.
        if (fd.get() >= OpenFileLimit() - kDescriptorHeadroom) {
            if (shed_++ % 1000 == 0) {
                log_.Line("TCP: connection closed at once: near the open-file limit (" +
                          std::to_string(shed_) + " so far); the connections served keep theirs");
            }
            continue;
        }
        int on = 1;
        setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        grpc::experimental::ExternalConnectionAcceptor::NewConnectionParameters connection;
        connection.listener_fd = listenFd_.get();
        connection.fd = fd.release();  // the TLS server's from here on
        acceptor_->HandleNewConnection(&connection);
    }
}

}  // namespace orvel::suiteserver
