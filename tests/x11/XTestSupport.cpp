#include "XTestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>

extern char** environ;

namespace orvel::xtest {

using namespace std::chrono_literals;

Child::Child(const std::string& program, const std::vector<std::string>& arguments, int passFd) {
    std::vector<std::string> args{program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (std::getenv("ORVEL_XTEST_VERBOSE") == nullptr) {
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    if (passFd >= 0) posix_spawn_file_actions_adddup2(&actions, passFd, 3);
    posix_spawn_file_actions_addclosefrom_np(&actions, passFd >= 0 ? 4 : 3);
    if (posix_spawnp(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
        pid_ = 0;
    }
    posix_spawn_file_actions_destroy(&actions);
}

Child::~Child() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    if (!Eventually([this] { return waitpid(pid_, nullptr, WNOHANG) == pid_; }, 5s)) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

bool ProcessEndedWithin(pid_t pid, std::chrono::milliseconds limit) {
    return Eventually(
        [pid] {
            std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
            std::string line;
            if (!std::getline(stat, line)) return true;
            auto close = line.rfind(')');
            return close != std::string::npos && close + 2 < line.size() &&
                   (line[close + 2] == 'Z' || line[close + 2] == 'X');
        },
        limit);
}

std::unique_ptr<XServer> XServer::Start(std::string& why, int displayNumber) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        why = "no pipe";
        return nullptr;
    }
    std::vector<std::string> arguments{"-displayfd", "3",       "-nolisten", "tcp",
                                       "-noreset",   "-screen", "0",         "1280x1024x24"};
    if (displayNumber >= 0)
        arguments.insert(arguments.begin(), ":" + std::to_string(displayNumber));
    std::unique_ptr<XServer> server(new XServer);
    server->server_ = std::make_unique<Child>("Xvfb", arguments, fds[1]);
    close(fds[1]);
    // Xvfb writes its display number once it accepts connections.
    std::string text;
    auto deadline = std::chrono::steady_clock::now() + 30s;
    while (server->server_->pid() > 0 && text.find('\n') == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buffer[32];
        ssize_t n = read(fds[0], buffer, sizeof(buffer));
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    close(fds[0]);
    if (text.find('\n') == std::string::npos) {
        why = server->server_->pid() > 0 ? "Xvfb did not come up" : "Xvfb is not installed";
        return nullptr;
    }
    server->number_ = std::atoi(text.c_str());
    server->display_ = ":" + std::to_string(server->number_);
    return server;
}

bool XServer::StartWindowManager(std::string& why) {
    if (HasWindowManager()) return true;
    XClient client(display_);
    if (!client.ok()) {
        why = "no connection to " + display_;
        return false;
    }
    // A check window left behind by an earlier manager must not count.
    xcb_delete_property(client.connection(), client.root(),
                        client.Atom("_NET_SUPPORTING_WM_CHECK"));
    client.Flush();
    // Through env, which gives it this display whatever DISPLAY says.
    windowManager_ = std::make_unique<Child>(
        "env", std::vector<std::string>{"DISPLAY=" + display_, "openbox", "--sm-disable"});
    bool up = Eventually([&] {
        auto check = client.Cardinal(client.root(), "_NET_SUPPORTING_WM_CHECK");
        return check && client.Cardinal(*check, "_NET_SUPPORTING_WM_CHECK") == check;
    });
    // The check window comes before the manager reads its configuration; a
    // window it lists is the sign that it handles map requests.
    for (int attempt = 0; up && attempt < 20; ++attempt) {
        const std::uint32_t probe = client.CreateWindow("orvel probe");
        bool listed = Eventually(
            [&] {
                auto list = client.Windows(client.root(), "_NET_CLIENT_LIST");
                return std::find(list.begin(), list.end(), probe) != list.end();
            },
            1s);
        xcb_destroy_window(client.connection(), probe);
        client.Flush();
        if (listed) break;
        up = attempt + 1 < 20;
    }
    if (!up) {
        why = "openbox did not come up (is it installed?)";
        windowManager_.reset();
    }
    return up;
}

void XServer::StopWindowManager() {
    windowManager_.reset();
    // Left on the root, these would make the bare server look managed.
    XClient client(display_);
    for (const char* property : {"_NET_SUPPORTING_WM_CHECK", "_NET_CLIENT_LIST",
                                 "_NET_CLIENT_LIST_STACKING", "_NET_ACTIVE_WINDOW"}) {
        xcb_delete_property(client.connection(), client.root(), client.Atom(property));
    }
    client.Flush();
}

XClient::XClient(const std::string& display) {
    int screenNumber = 0;
    connection_ = xcb_connect(display.c_str(), &screenNumber);
    if (xcb_connection_has_error(connection_) != 0) return;
    root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
}

XClient::~XClient() {
    xcb_disconnect(connection_);
}

bool XClient::ok() const {
    return xcb_connection_has_error(connection_) == 0 && root_ != 0;
}

std::uint32_t XClient::Atom(const char* name) {
    auto cookie =
        xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection_, cookie, nullptr);
    std::uint32_t atom = reply != nullptr ? reply->atom : 0;
    std::free(reply);
    return atom;
}

std::uint32_t XClient::NewWindow(std::uint32_t parent, const std::string& title) {
    xcb_window_t window = xcb_generate_id(connection_);
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window, parent, 10, 10, 200, 100, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    if (!title.empty()) {
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME,
                            XCB_ATOM_STRING, 8, static_cast<std::uint32_t>(title.size()),
                            title.data());
    }
    return window;
}

std::uint32_t XClient::CreatePlainWindow(std::uint32_t parent, const std::string& title,
                                         bool wmState) {
    const std::uint32_t window = NewWindow(parent, title);
    if (wmState) {
        const std::uint32_t state[2] = {1, 0};
        const xcb_atom_t atom = Atom("WM_STATE");
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, atom, atom, 32, 2, state);
    }
    xcb_map_window(connection_, window);
    Flush();
    return window;
}

std::uint32_t XClient::CreateWindow(const std::string& title, bool map, bool deleteProtocol) {
    const std::uint32_t window = NewWindow(root_, title);
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, Atom("_NET_WM_NAME"),
                        Atom("UTF8_STRING"), 8, static_cast<std::uint32_t>(title.size()),
                        title.data());
    if (deleteProtocol) {
        xcb_atom_t deleteWindow = Atom("WM_DELETE_WINDOW");
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, Atom("WM_PROTOCOLS"),
                            XCB_ATOM_ATOM, 32, 1, &deleteWindow);
    }
    if (map) xcb_map_window(connection_, window);
    Flush();
    return window;
}

std::vector<std::uint32_t> XClient::Windows(std::uint32_t window, const char* property) {
    auto cookie = xcb_get_property(connection_, 0, window, Atom(property),
                                   XCB_GET_PROPERTY_TYPE_ANY, 0, 4096);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(connection_, cookie, nullptr);
    std::vector<std::uint32_t> values;
    if (reply != nullptr && reply->format == 32) {
        const auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
        values.assign(data, data + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return values;
}

int XClient::MapState(std::uint32_t window) {
    xcb_get_window_attributes_reply_t* reply = xcb_get_window_attributes_reply(
        connection_, xcb_get_window_attributes(connection_, window), nullptr);
    int state = reply != nullptr ? reply->map_state : -1;
    std::free(reply);
    return state;
}

// A WM_CHANGE_STATE to iconic, which a window manager takes from the root.
void XClient::Iconify(std::uint32_t window) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = Atom("WM_CHANGE_STATE");
    event.data.data32[0] = 3;  // IconicState
    xcb_send_event(connection_, 0, root_,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&event));
    Flush();
}

void XClient::Flush() {
    xcb_flush(connection_);
}

}  // namespace orvel::xtest
