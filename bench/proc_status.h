// Memory figures of the benchmark process itself.
#pragma once

#include <cstdlib>
#include <fstream>
#include <string>

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM"), 0 when absent.
inline long StatusKb(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(in, line)) {
        if (line.rfind(prefix, 0) == 0) return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
    }
    return 0;
}
