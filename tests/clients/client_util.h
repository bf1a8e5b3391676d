// Running the other programs that read what we write (ffmpeg, node).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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

/// One cue as ffmpeg writes it in SubRip.
struct SrtCue {
    long long startMs = 0;
    long long endMs = 0;
    std::string text;  ///< lines joined with "\n"
};

/// SubRip as ffmpeg writes it: number, "start --> end", text lines, blank line.
inline std::vector<SrtCue> parseSrt(const std::string& srt) {
    std::vector<SrtCue> cues;
    std::vector<std::string> lines;
    std::size_t from = 0;
    while (from <= srt.size()) {
        auto nl = srt.find('\n', from);
        if (nl == std::string::npos) nl = srt.size();
        std::string line = srt.substr(from, nl - from);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        from = nl + 1;
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].find(" --> ") == std::string::npos) continue;
        long long h = 0, m = 0, s = 0, ms = 0, h2 = 0, m2 = 0, s2 = 0, ms2 = 0;
        if (std::sscanf(lines[i].c_str(), "%lld:%lld:%lld,%lld --> %lld:%lld:%lld,%lld", &h, &m, &s, &ms, &h2,
                        &m2, &s2, &ms2) != 8) {
            continue;
        }
        SrtCue cue;
        cue.startMs = ((h * 60 + m) * 60 + s) * 1000 + ms;
        cue.endMs = ((h2 * 60 + m2) * 60 + s2) * 1000 + ms2;
        for (++i; i < lines.size() && !lines[i].empty(); ++i) {
            if (!cue.text.empty()) cue.text += '\n';
            cue.text += lines[i];
        }
        cues.push_back(cue);
    }
    return cues;
}

/// What ffmpeg reads from a subtitle file, as SubRip cues; `ok` false when
/// it could not read it.
inline std::vector<SrtCue> ffmpegCues(const std::string& path, bool& ok) {
    return parseSrt(run("ffmpeg -nostdin -v error -i " + quoted(path) + " -f srt -", ok));
}

}  // namespace lumeval::test
