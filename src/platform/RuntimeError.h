#pragma once

// The old numbered run-time errors and their usual descriptions.

#include <string>
#include <utility>

namespace orvel::platform {

struct RuntimeError {
    int number = 0;
    std::string description;
    // Why, where the console can tell ("certificate revoked", ...); empty when it cannot.
    std::string reason{};
};

inline constexpr int kErrInvalidCall = 5;
inline constexpr int kErrOverflow = 6;
inline constexpr int kErrTypeMismatch = 13;
inline constexpr int kErrPermissionDenied = 70;
inline constexpr int kErrObjectNotSet = 91;
inline constexpr int kErrCannotCreateObject = 429;
inline constexpr int kErrServerUnavailable = 462;

// "Invalid procedure call or argument", "Overflow", ... for the numbers above.
std::string ErrorDescription(int number);
inline RuntimeError MakeError(int number) {
    return {number, ErrorDescription(number)};
}

// A value, or the error that took its place: the console's run-time error by
// default; the suite server gives its own reasons for a refusal.
template <typename T, typename Error = RuntimeError>
class Outcome {
  public:
    Outcome(T value) : value_(std::move(value)), ok_(true) {}  // NOLINT: implicit by design
    Outcome(Error error) : error_(std::move(error)) {}         // NOLINT
    explicit operator bool() const { return ok_; }
    bool ok() const { return ok_; }
    const T& operator*() const { return value_; }
    const T* operator->() const { return &value_; }
    const T& value() const { return value_; }
    const Error& error() const { return error_; }
    // The value, or fallback when the call failed ("the variable keeps its content").
    T value_or(T fallback) const { return ok_ ? value_ : std::move(fallback); }

  private:
    T value_{};
    Error error_{};
    bool ok_ = false;
};

}  // namespace orvel::platform
