#include "suite/CertificateSerial.h"

namespace orvel::suite {

namespace {

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

char UpperHex(char c) {
    return (c >= 'a' && c <= 'f') ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

std::string NormalizeSerial(std::string_view text) {
    if (text.substr(0, 2) == "0x" || text.substr(0, 2) == "0X") text.remove_prefix(2);
    std::string out;
    bool digits = false;
    for (char c : text) {
        if (c == ':' || c == ' ' || c == '\t' || c == '\r') continue;
        if (!IsHexDigit(c)) return {};
        digits = true;
        if (out.empty() && c == '0') continue;
        out.push_back(UpperHex(c));
    }
    return out.empty() && digits ? "0" : out;
}

std::set<std::string> ParseRevokedSerials(std::string_view text) {
    std::set<std::string> serials;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        std::string serial = NormalizeSerial(line.substr(0, line.find_first_of(" \t#")));
        if (!serial.empty()) serials.insert(std::move(serial));
    }
    return serials;
}

}  // namespace orvel::suite
