#include "platform/linux/X11WindowSystem.h"

#include "platform/AsciiCase.h"

#include <signal.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace orvel::platform {

namespace {

// Frames of reparenting window managers nest the client at most a few levels
// below the root (frame, sometimes a wrapper, then the client).
constexpr int kMaxDepth = 4;
constexpr std::uint32_t kCurrentTime = 0;
constexpr std::uint32_t kSourcePager = 2;
constexpr std::uint32_t kStateRemove = 0;

// Writing to a connection whose server has gone raises SIGPIPE, which would
// end the whole program. The guard blocks it for this thread during one call
// and swallows one that arrived meanwhile; the write then fails with EPIPE
// and xcb marks the connection broken.
class SigpipeGuard {
  public:
    SigpipeGuard() {
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        blocked_ = pthread_sigmask(SIG_BLOCK, &pipe, &previous_) == 0;
    }
    ~SigpipeGuard() {
        if (!blocked_) return;
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        if (!wasPending_) {
            sigset_t pending;
            sigpending(&pending);
            if (sigismember(&pending, SIGPIPE) == 1) {
                const timespec noWait{0, 0};
                int savedErrno = errno;
                while (sigtimedwait(&pipe, nullptr, &noWait) < 0 && errno == EINTR) {
                }
                errno = savedErrno;
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

  private:
    sigset_t previous_{};
    bool wasPending_ = false;
    bool blocked_ = false;
};

template <typename Reply>
struct FreeReply {
    void operator()(Reply* reply) const { std::free(reply); }
};
template <typename Reply>
using ReplyPtr = std::unique_ptr<Reply, FreeReply<Reply>>;

// Takes the reply of a checked request; an error (a window destroyed in the
// meantime) gives nullptr and is freed here.
template <typename Reply, typename Cookie, typename Fetch>
ReplyPtr<Reply> TakeReply(xcb_connection_t* connection, Fetch fetch, Cookie cookie) {
    xcb_generic_error_t* error = nullptr;
    Reply* reply = fetch(connection, cookie, &error);
    std::free(error);
    return ReplyPtr<Reply>(reply);
}

ReplyPtr<xcb_get_property_reply_t> TakeProperty(xcb_connection_t* connection,
                                                xcb_get_property_cookie_t cookie) {
    return TakeReply<xcb_get_property_reply_t>(connection, xcb_get_property_reply, cookie);
}

bool HasValue(const xcb_get_property_reply_t* reply) {
    return reply != nullptr && reply->type != XCB_ATOM_NONE;
}

std::string Folded(std::string_view text) {
    std::string folded(text);
    for (char& c : folded) c = AsciiLower(c);
    return folded;
}

// The property's bytes when it is a complete 8-bit text; nullopt when it was
// longer than asked for (so it cannot equal the searched title) or no text.
std::optional<std::string_view> TextOf(const xcb_get_property_reply_t* reply) {
    if (!HasValue(reply) || reply->format != 8 || reply->bytes_after != 0) return std::nullopt;
    const auto* data = static_cast<const char*>(xcb_get_property_value(reply));
    return std::string_view(data, static_cast<std::size_t>(xcb_get_property_value_length(reply)));
}

std::string Latin1ToUtf8(std::string_view text) {
    std::string utf8;
    utf8.reserve(text.size() * 2);
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            utf8.push_back(c);
        } else {
            utf8.push_back(static_cast<char>(0xC0 | (byte >> 6)));
            utf8.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
    return utf8;
}

// A window's title as UTF-8: _NET_WM_NAME, else a WM_NAME (Latin-1 when of
// type STRING); nullopt when it has none or it was longer than asked for.
std::optional<std::string> TitleText(const xcb_get_property_reply_t* netWmName,
                                     const xcb_get_property_reply_t* wmName) {
    if (HasValue(netWmName)) {
        auto text = TextOf(netWmName);
        return text ? std::optional<std::string>(*text) : std::nullopt;
    }
    if (!HasValue(wmName)) return std::nullopt;
    auto text = TextOf(wmName);
    if (!text) return std::nullopt;
    return wmName->type == XCB_ATOM_STRING ? Latin1ToUtf8(*text) : std::string(*text);
}

// One window of the search, with where it stands: the place in the search
// order of the window or of the frame it lies under, and below a frame its
// own rank among its siblings (0 = topmost).
struct Node {
    xcb_window_t window = XCB_WINDOW_NONE;
    std::uint32_t order = 0;  // place of the window (or the frame above it) in the search
    std::uint32_t siblingRank = 0;
};

struct Requests {
    xcb_get_property_cookie_t netWmName{};
    xcb_get_property_cookie_t wmName{};
    xcb_get_property_cookie_t wmState{};
    xcb_query_tree_cookie_t tree{};
    bool askedState = false;
    bool askedTree = false;
};

// Where a match stands: (place in the search order, depth, sibling rank);
// the smaller wins.
using Rank = std::tuple<std::uint32_t, int, std::uint32_t>;

// The titles searched for, folded once, and the best match of each so far.
// An empty title finds nothing.
class TitleSearch {
  public:
    explicit TitleSearch(std::span<const std::string_view> titles)
        : folded_(titles.size()), best_(titles.size()), found_(titles.size(), 0) {
        for (std::size_t t = 0; t < titles.size(); ++t) {
            if (titles[t].empty()) continue;
            anyTitle_ = true;
            longest_ = std::max(longest_, titles[t].size());
            folded_[t] = Folded(titles[t]);
        }
    }

    bool AnyTitle() const { return anyTitle_; }
    // Enough of a title to compare it: one more than the longest searched
    // length, so a longer title shows as incomplete. A Latin-1 WM_NAME is
    // never longer in bytes than its UTF-8 form, so the same length serves
    // for both.
    std::uint32_t TitleUnits() const { return static_cast<std::uint32_t>(longest_ / 4 + 1); }
    const std::vector<std::string>& FoldedTitles() const { return folded_; }
    std::vector<HWND>& Found() { return found_; }

    // Offers a window's title (_NET_WM_NAME, else WM_NAME); false when the
    // window has no title at all.
    bool OfferTitle(const xcb_get_property_reply_t* netWmName,
                    const xcb_get_property_reply_t* wmName, const Rank& rank, xcb_window_t window) {
        if (!HasValue(netWmName) && !HasValue(wmName)) return false;
        if (auto text = TitleText(netWmName, wmName)) Offer(*text, rank, window);
        return true;
    }

    // Once every title has a match, windows at or after this place in the
    // search order can no longer win; nullopt while a title is unmatched.
    std::optional<std::uint32_t> OrderToBeat() const {
        std::optional<std::uint32_t> lastOrder;
        for (std::size_t t = 0; t < folded_.size(); ++t) {
            if (folded_[t].empty()) continue;
            if (!best_[t]) return std::nullopt;
            lastOrder = std::max(lastOrder.value_or(0), std::get<0>(*best_[t]));
        }
        return lastOrder;
    }

  private:
    void Offer(std::string_view text, const Rank& rank, xcb_window_t window) {
        const std::string foldedText = Folded(text);
        for (std::size_t t = 0; t < folded_.size(); ++t) {
            if (folded_[t].empty() || folded_[t] != foldedText) continue;
            if (!best_[t] || rank < *best_[t]) {
                best_[t] = rank;
                found_[t] = window;
            }
        }
    }

    std::vector<std::string> folded_;
    std::vector<std::optional<Rank>> best_;
    std::vector<HWND> found_;
    std::size_t longest_ = 0;
    bool anyTitle_ = false;
};

// The first level of the search and how to go on below it.
struct SearchStart {
    std::vector<Node> level;
    // Without a client list a window manager that reparents may still run
    // (one without EWMH): then the client, marked by WM_STATE, lies below an
    // untitled frame, and the search goes down the tree for it.
    bool descend = false;
    std::size_t firstRootChild = 0;  // level[firstRootChild..] are root children
};

// The managed clients from the top of the stacking order (or the newest of
// the client list), from a 32-bit window list property.
std::vector<xcb_window_t> ClientsOf(const xcb_get_property_reply_t* stacking,
                                    const xcb_get_property_reply_t* list) {
    std::vector<xcb_window_t> clients;
    for (const auto* property : {stacking, list}) {
        if (HasValue(property) && property->format == 32 && clients.empty()) {
            const auto* windows =
                static_cast<const xcb_window_t*>(xcb_get_property_value(property));
            clients.assign(windows, windows + xcb_get_property_value_length(property) / 4);
            std::reverse(clients.begin(), clients.end());  // topmost (or newest) first
        }
    }
    return clients;
}

// The search order: the managed clients from the top of the stacking order,
// then the root's children from the top. The latter are the top-level
// windows without a window manager, and with one the windows their programs
// hid (withdrawn windows leave the client list but keep their title); frames
// of a reparenting manager carry no title. Nullopt when the root's tree
// cannot be read.
std::optional<SearchStart> FirstLevel(xcb_connection_t* c, xcb_window_t root,
                                      xcb_atom_t clientListStacking, xcb_atom_t clientList) {
    const xcb_query_tree_cookie_t treeCookie = xcb_query_tree(c, root);
    const xcb_get_property_cookie_t stackingCookie =
        xcb_get_property(c, 0, root, clientListStacking, XCB_ATOM_WINDOW, 0, 16384);
    const xcb_get_property_cookie_t listCookie =
        xcb_get_property(c, 0, root, clientList, XCB_ATOM_WINDOW, 0, 16384);
    auto rootTree = TakeReply<xcb_query_tree_reply_t>(c, xcb_query_tree_reply, treeCookie);
    auto stacking = TakeProperty(c, stackingCookie);
    auto list = TakeProperty(c, listCookie);
    if (rootTree == nullptr) return std::nullopt;

    const std::vector<xcb_window_t> clients = ClientsOf(stacking.get(), list.get());
    const xcb_window_t* children = xcb_query_tree_children(rootTree.get());
    const int childCount = xcb_query_tree_children_length(rootTree.get());
    SearchStart start;
    start.level.reserve(clients.size() + static_cast<std::size_t>(childCount));
    for (xcb_window_t client : clients) {
        start.level.push_back({client, static_cast<std::uint32_t>(start.level.size()), 0});
    }
    std::vector<xcb_window_t> listed(clients);
    std::sort(listed.begin(), listed.end());
    for (int i = childCount - 1; i >= 0; --i) {
        if (std::binary_search(listed.begin(), listed.end(), children[i])) continue;
        start.level.push_back({children[i], static_cast<std::uint32_t>(start.level.size()), 0});
    }
    start.descend = clients.empty();
    start.firstRootChild = clients.size();
    return start;
}

// The windows below a frame, topmost first, each keeping the frame's place.
void AppendChildren(const xcb_query_tree_reply_t* tree, const Node& frame,
                    std::vector<Node>& next) {
    const xcb_window_t* below = xcb_query_tree_children(tree);
    const int count = xcb_query_tree_children_length(tree);
    for (int k = count - 1; k >= 0; --k) {
        next.push_back({below[k], frame.order, static_cast<std::uint32_t>(count - 1 - k)});
    }
}

// The atoms a level of the search asks for.
struct TitleAtoms {
    xcb_atom_t netWmName = XCB_ATOM_NONE;
    xcb_atom_t wmState = XCB_ATOM_NONE;
};

// One level of the search: the titles (and below the root WM_STATE and, when
// descending, the children) of every window are asked for before the first
// reply is read. Offers the titles found; answers the windows of the next level.
std::vector<Node> SearchLevel(xcb_connection_t* c, const TitleAtoms& atoms,
                              const std::vector<Node>& level, int depth, const SearchStart& start,
                              TitleSearch& search) {
    const std::uint32_t titleUnits = search.TitleUnits();
    std::vector<Requests> requests(level.size());
    for (std::size_t i = 0; i < level.size(); ++i) {
        const xcb_window_t w = level[i].window;
        requests[i].netWmName =
            xcb_get_property(c, 0, w, atoms.netWmName, XCB_GET_PROPERTY_TYPE_ANY, 0, titleUnits);
        requests[i].wmName =
            xcb_get_property(c, 0, w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, titleUnits);
        requests[i].askedState = depth > 1;
        requests[i].askedTree =
            start.descend && depth < kMaxDepth && (depth > 1 || i >= start.firstRootChild);
        if (requests[i].askedState) {
            requests[i].wmState =
                xcb_get_property(c, 0, w, atoms.wmState, XCB_GET_PROPERTY_TYPE_ANY, 0, 1);
        }
        if (requests[i].askedTree) requests[i].tree = xcb_query_tree(c, w);
    }
    std::vector<Node> next;
    for (std::size_t i = 0; i < level.size(); ++i) {
        const Node& node = level[i];
        auto netWmName = TakeProperty(c, requests[i].netWmName);
        auto wmName = TakeProperty(c, requests[i].wmName);
        ReplyPtr<xcb_get_property_reply_t> wmState;
        if (requests[i].askedState) wmState = TakeProperty(c, requests[i].wmState);
        ReplyPtr<xcb_query_tree_reply_t> tree;
        if (requests[i].askedTree) {
            tree = TakeReply<xcb_query_tree_reply_t>(c, xcb_query_tree_reply, requests[i].tree);
        }
        // Below the root only a managed client (one with WM_STATE) counts.
        const bool client = depth == 1 || HasValue(wmState.get());
        const bool titled =
            client && search.OfferTitle(netWmName.get(), wmName.get(),
                                        Rank{node.order, depth, node.siblingRank}, node.window);
        const bool frame = depth == 1 ? !titled : !client;
        if (frame && tree != nullptr) AppendChildren(tree.get(), node, next);
    }
    return next;
}

}  // namespace

X11WindowSystem::X11WindowSystem(std::string displayName) : displayName_(std::move(displayName)) {}

X11WindowSystem::~X11WindowSystem() {
    Disconnect();
}

bool X11WindowSystem::Connect() {
    if (connection_ != nullptr) {
        if (Healthy()) {
            // Errors of requests sent without a reply (an event to a window
            // that is gone) queue up as events: drop them.
            while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) std::free(event);
            if (Healthy()) return true;
        }
        return false;  // Healthy() dropped it; the next call opens a new one
    }
    int screenNumber = 0;
    connection_ = xcb_connect(displayName_.empty() ? nullptr : displayName_.c_str(), &screenNumber);
    if (xcb_connection_has_error(connection_) != 0) {
        Disconnect();
        return false;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i) xcb_screen_next(&screens);
    if (screens.rem == 0) {
        Disconnect();
        return false;
    }
    root_ = screens.data->root;

    const std::array<std::pair<const char*, std::uint32_t*>, 12> names{{
        {"UTF8_STRING", &atoms_.utf8String},
        {"_NET_WM_NAME", &atoms_.netWmName},
        {"WM_STATE", &atoms_.wmState},
        {"WM_PROTOCOLS", &atoms_.wmProtocols},
        {"WM_DELETE_WINDOW", &atoms_.wmDeleteWindow},
        {"_NET_CLOSE_WINDOW", &atoms_.netCloseWindow},
        {"_NET_ACTIVE_WINDOW", &atoms_.netActiveWindow},
        {"_NET_WM_STATE", &atoms_.netWmState},
        {"_NET_WM_STATE_MAXIMIZED_VERT", &atoms_.netWmStateMaximizedVert},
        {"_NET_WM_STATE_MAXIMIZED_HORZ", &atoms_.netWmStateMaximizedHorz},
        {"_NET_CLIENT_LIST_STACKING", &atoms_.netClientListStacking},
        {"_NET_CLIENT_LIST", &atoms_.netClientList},
    }};
    std::array<xcb_intern_atom_cookie_t, names.size()> cookies{};
    for (std::size_t i = 0; i < names.size(); ++i) {
        cookies[i] =
            xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(std::strlen(names[i].first)),
                            names[i].first);
    }
    bool complete = true;
    for (std::size_t i = 0; i < names.size(); ++i) {
        auto reply =
            TakeReply<xcb_intern_atom_reply_t>(connection_, xcb_intern_atom_reply, cookies[i]);
        if (reply == nullptr) complete = false;
        *names[i].second = reply != nullptr ? reply->atom : std::uint32_t{XCB_ATOM_NONE};
    }
    if (!complete || !Healthy()) {
        Disconnect();
        return false;
    }
    return true;
}

void X11WindowSystem::Disconnect() {
    if (connection_ != nullptr) xcb_disconnect(connection_);
    connection_ = nullptr;
    root_ = 0;
    atoms_ = Atoms{};
    lastFound_.clear();
}

bool X11WindowSystem::Healthy() {
    if (connection_ != nullptr && xcb_connection_has_error(connection_) == 0) return true;
    Disconnect();
    return false;
}

HWND X11WindowSystem::FindWindowA(std::string_view title) {
    return FindWindows(std::span<const std::string_view>(&title, 1)).front();
}

std::vector<HWND> X11WindowSystem::FindWindows(std::span<const std::string_view> titles) {
    TitleSearch search(titles);
    if (!search.AnyTitle()) return search.Found();
    SigpipeGuard guard;
    if (!Connect()) return search.Found();
    std::optional<SearchStart> start =
        FirstLevel(connection_, root_, atoms_.netClientListStacking, atoms_.netClientList);
    if (!start) {
        Healthy();
        return search.Found();
    }
    std::vector<Node> level = std::move(start->level);
    for (int depth = 1; depth <= kMaxDepth && !level.empty(); ++depth) {
        std::vector<Node> next = SearchLevel(connection_, {atoms_.netWmName, atoms_.wmState}, level,
                                             depth, *start, search);
        if (!Healthy()) return std::vector<HWND>(titles.size(), 0);
        if (const std::optional<std::uint32_t> beat = search.OrderToBeat()) {
            std::erase_if(next, [order = *beat](const Node& n) { return n.order >= order; });
        }
        level.swap(next);
    }
    RecheckMisses(search.FoldedTitles(), search.TitleUnits(), search.Found());
    return search.Found();
}

// While a window manager takes a window into a frame (or out of one), the
// window is for a moment neither in the client list nor a child of the root.
// A title that was found before is therefore asked of the window it was found
// as once more before the search answers "no window"; a window that is gone
// or carries another title now is forgotten.
void X11WindowSystem::RecheckMisses(const std::vector<std::string>& folded,
                                    std::uint32_t titleUnits, std::vector<HWND>& found) {
    struct Recheck {
        std::size_t title = 0;
        xcb_window_t window = 0;
        xcb_get_property_cookie_t netWmName{};
        xcb_get_property_cookie_t wmName{};
    };
    std::vector<Recheck> rechecks;
    for (std::size_t t = 0; t < folded.size(); ++t) {
        if (folded[t].empty()) continue;
        if (found[t] != 0) {
            lastFound_[folded[t]] = found[t];
            continue;
        }
        auto last = lastFound_.find(folded[t]);
        if (last == lastFound_.end()) continue;
        rechecks.push_back({t, last->second,
                            xcb_get_property(connection_, 0, last->second, atoms_.netWmName,
                                             XCB_GET_PROPERTY_TYPE_ANY, 0, titleUnits),
                            xcb_get_property(connection_, 0, last->second, XCB_ATOM_WM_NAME,
                                             XCB_GET_PROPERTY_TYPE_ANY, 0, titleUnits)});
    }
    for (const Recheck& recheck : rechecks) {
        auto netWmName = TakeProperty(connection_, recheck.netWmName);
        auto wmName = TakeProperty(connection_, recheck.wmName);
        auto text = TitleText(netWmName.get(), wmName.get());
        if (text && Folded(*text) == folded[recheck.title]) {
            found[recheck.title] = recheck.window;
        } else {
            lastFound_.erase(folded[recheck.title]);
        }
    }
}

bool X11WindowSystem::WindowExists(HWND window) {
    if (window == 0) return false;
    auto attributes = TakeReply<xcb_get_window_attributes_reply_t>(
        connection_, xcb_get_window_attributes_reply,
        xcb_get_window_attributes(connection_, window));
    return attributes != nullptr && Healthy();
}

void X11WindowSystem::SendToRoot(HWND window, std::uint32_t type, std::uint32_t d0,
                                 std::uint32_t d1, std::uint32_t d2, std::uint32_t d3) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    event.data.data32[0] = d0;
    event.data.data32[1] = d1;
    event.data.data32[2] = d2;
    event.data.data32[3] = d3;
    xcb_send_event(connection_, 0, root_,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&event));
}

bool X11WindowSystem::PostMessageA(HWND window, unsigned message, std::intptr_t /*wParam*/,
                                   std::intptr_t /*lParam*/) {
    if (message != WM_CLOSE || window == 0) return false;
    SigpipeGuard guard;
    if (!Connect()) return false;
    auto protocols = TakeProperty(
        connection_,
        xcb_get_property(connection_, 0, window, atoms_.wmProtocols, XCB_ATOM_ATOM, 0, 64));
    if (protocols == nullptr) {
        Healthy();
        return false;  // no such window
    }
    bool takesDelete = false;
    if (protocols->format == 32) {
        const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(protocols.get()));
        const int count = xcb_get_property_value_length(protocols.get()) / 4;
        for (int i = 0; i < count; ++i)
            takesDelete = takesDelete || atoms[i] == atoms_.wmDeleteWindow;
    }
    if (takesDelete) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = window;
        event.type = atoms_.wmProtocols;
        event.data.data32[0] = atoms_.wmDeleteWindow;
        event.data.data32[1] = kCurrentTime;
        xcb_send_event(connection_, 0, window, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&event));
    } else {
        SendToRoot(window, atoms_.netCloseWindow, kCurrentTime, kSourcePager, 0, 0);
    }
    return xcb_flush(connection_) > 0 && Healthy();
}

bool X11WindowSystem::ShowWindow(HWND window, int command) {
    if (command != SW_SHOWNORMAL) return false;
    SigpipeGuard guard;
    if (!Connect() || !WindowExists(window)) return false;
    // Mapping shows a hidden window and de-iconifies a minimised one; the
    // state change and the activation go to the window manager, if any.
    xcb_map_window(connection_, window);
    SendToRoot(window, atoms_.netWmState, kStateRemove, atoms_.netWmStateMaximizedVert,
               atoms_.netWmStateMaximizedHorz, kSourcePager);
    SendToRoot(window, atoms_.netActiveWindow, kSourcePager, kCurrentTime, 0, 0);
    return xcb_flush(connection_) > 0 && Healthy();
}

bool X11WindowSystem::BringWindowToTop(HWND window) {
    SigpipeGuard guard;
    if (!Connect() || !WindowExists(window)) return false;
    SendToRoot(window, atoms_.netActiveWindow, kSourcePager, kCurrentTime, 0, 0);
    // Without a window manager the raise acts at once; with one it becomes a
    // configure request the manager carries out.
    const std::uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(connection_, window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    return xcb_flush(connection_) > 0 && Healthy();
}

}  // namespace orvel::platform
