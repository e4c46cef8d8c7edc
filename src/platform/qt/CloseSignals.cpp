#include "platform/qt/CloseSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <csignal>

namespace orvel::platform {

namespace {

constexpr std::array<int, 3> kCloseSignals = {SIGTERM, SIGHUP, SIGINT};

// The write end of the pipe, for the handler: async-signal-safe code can
// reach nothing else.
volatile sig_atomic_t gWriteEnd = -1;

void OnCloseSignal(int signal) {
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    if (gWriteEnd >= 0) {
        // A full pipe already carries a request: the close runs anyway.
        [[maybe_unused]] auto written = write(gWriteEnd, &number, 1);
    }
    errno = saved;
}

}  // namespace

CloseSignals::CloseSignals(std::function<void(int)> onClose, QObject* parent)
    : QObject(parent), onClose_(std::move(onClose)) {
    int ends[2] = {-1, -1};
    if (gWriteEnd >= 0 || pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;
    readEnd_.reset(ends[0]);
    writeEnd_.reset(ends[1]);
    gWriteEnd = writeEnd_.get();
    notifier_ = new QSocketNotifier(readEnd_.get(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &CloseSignals::Drain);
    struct sigaction action {};
    action.sa_handler = OnCloseSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    installed_ = true;
    for (int signal : kCloseSignals) {
        if (sigaction(signal, &action, nullptr) != 0) installed_ = false;
    }
}

CloseSignals::~CloseSignals() {
    if (!writeEnd_) return;
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signal : kCloseSignals) sigaction(signal, &action, nullptr);
    // The handler lets go of the pipe before it closes.
    gWriteEnd = -1;
    delete notifier_;
}

void CloseSignals::Drain() {
    unsigned char number = 0;
    int last = 0;
    while (read(readEnd_.get(), &number, 1) == 1) last = number;
    // Several requests make one close.
    if (last != 0 && onClose_) onClose_(last);
}

}  // namespace orvel::platform
