#include "suite/ServerName.h"

namespace orvel::suite {

namespace {

// ASCII only, whatever the process locale says.
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsIpv4Shaped(std::string_view name) {
    // Four dot-separated decimal parts, each 0-255.
    int parts = 0;
    std::size_t start = 0;
    while (true) {
        std::size_t dot = name.find('.', start);
        std::string_view part =
            name.substr(start, dot == std::string_view::npos ? name.npos : dot - start);
        if (part.empty() || part.size() > 3) return false;
        int value = 0;
        for (char c : part) {
            if (!IsDigit(c)) return false;
            value = value * 10 + (c - '0');
        }
        if (value > 255) return false;
        ++parts;
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    return parts == 4;
}

bool AllDigitsAndDots(std::string_view name) {
    for (char c : name) {
        if (!IsDigit(c) && c != '.') return false;
    }
    return true;
}

}  // namespace

bool IsValidServerName(std::string_view name) {
    if (name.empty() || name.size() > 253) return false;
    if (AllDigitsAndDots(name)) return IsIpv4Shaped(name);
    // Host name: labels of 1-63 characters, not beginning or ending with a hyphen.
    std::size_t start = 0;
    while (true) {
        std::size_t dot = name.find('.', start);
        std::string_view label =
            name.substr(start, dot == std::string_view::npos ? name.npos : dot - start);
        if (label.empty() || label.size() > 63) return false;
        if (label.front() == '-' || label.back() == '-') return false;
        for (char c : label) {
            if (!IsLetter(c) && !IsDigit(c) && c != '-' && c != '_') return false;
        }
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    return true;
}

}  // namespace orvel::suite
