#include "suiteserver/ServerLog.h"

#include <unistd.h>

#include <string>

namespace orvel::suiteserver {

std::string EscapeForLog(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7f) {
            out += "\\x";
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        } else if (c == 0xc2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
            auto next = static_cast<unsigned char>(text[++i]);
            out += "\\u00";
            out.push_back(kHex[next >> 4]);
            out.push_back(kHex[next & 15]);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

void StderrLog::Line(std::string_view text) {
    std::string line = EscapeForLog(text);
    line.push_back('\n');
    std::lock_guard lock(mutex_);
    std::size_t done = 0;
    while (done < line.size()) {
        ssize_t n = write(STDERR_FILENO, line.data() + done, line.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace orvel::suiteserver
