#include "suiteserver/ServerLog.h"

#include <unistd.h>

#include <string>

namespace orvel::suiteserver {

void StderrLog::Line(std::string_view text) {
    std::string line;
    line.reserve(text.size() + 1);
    for (char c : text) line.push_back(c == '\n' || c == '\r' ? ' ' : c);
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
