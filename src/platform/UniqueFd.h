#pragma once

#include <unistd.h>

#include <utility>

namespace orvel::platform {

// Owns one file descriptor and closes it when it goes out of scope, so that no
// early return or exception leaks a descriptor.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    explicit operator bool() const { return valid(); }

    // Gives up ownership without closing.
    int release() { return std::exchange(fd_, -1); }

    // Closes the descriptor held (if any) and takes fd. A close is never
    // retried after EINTR: on Linux the descriptor is gone either way.
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

    // Closes now and says whether the close succeeded: a written file must
    // check it, since a delayed write error shows there.
    bool close() {
        if (fd_ < 0) return true;
        return ::close(std::exchange(fd_, -1)) == 0;
    }

  private:
    int fd_ = -1;
};

}  // namespace orvel::platform
