// Running the other programs that read what we write (ffmpeg, node).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace lumeval::test {

inline bool toolExists(const char* tool) {
    const std::string cmd = std::string("command -v ") + tool + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

// Standard output of a shell command; `ok` false when it could not run or
// exited non-zero.
inline std::string run(const std::string& cmd, bool& ok) {
    std::string out;
    ok = false;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ok = pclose(p) == 0;
    return out;
}

inline std::string quoted(const std::string& path) { return "'" + path + "'"; }

}  // namespace lumeval::test
