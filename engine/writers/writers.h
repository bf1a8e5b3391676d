// Writers turn entries into output lines; the caller joins them with CRLF
// and saves them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace lumeval {

struct SaveSettings;

/// Called after a handled entry whose index is a multiple of the interval;
/// returns false to stop writing.
using WriterProgress = std::function<bool(std::size_t index)>;

/// The writer's output: lines joined with CRLF as they are appended (no
/// separator after the last), built in one buffer so a large file is never
/// held twice.
class OutputLines {
public:
    /// Starts a new line and returns the buffer to append its content to.
    std::string& NewLine() {
        if (m_count++ > 0) m_text += "\r\n";
        return m_text;
    }
    void AppendLine(std::string_view line) { NewLine().append(line); }
    bool empty() const { return m_count == 0; }
    std::size_t size() const { return m_count; }
    std::string& text() { return m_text; }
    const std::string& text() const { return m_text; }
    void reserve(std::size_t bytes) { m_text.reserve(bytes); }

private:
    std::string m_text;
    std::size_t m_count = 0;
};

struct WriterContext {
    const std::vector<std::string>& entries;
    const SaveSettings& settings;
    int32_t interval;                 ///< at least 1
    const WriterProgress& onProgress; ///< may be empty
    OutputLines& out;                 ///< output lines
};

/// Runs the writer of `kind`; false when stopped by the progress callback.
/// Kinds without a writer produce no lines.
bool WriteEntries(int32_t kind, WriterContext& ctx);

bool WriteSubRip(WriterContext& ctx);
bool WritePlainText(WriterContext& ctx);
bool WriteTimedText(WriterContext& ctx);
bool WriteSsa(WriterContext& ctx);        // ssa.cpp
bool WriteLrc(WriterContext& ctx);        // lyrics.cpp
bool WriteKsc(WriterContext& ctx);        // lyrics.cpp
bool WriteKrc(WriterContext& ctx);        // xml.cpp
bool WriteSami(WriterContext& ctx);       // xml.cpp
bool WriteSnc(WriterContext& ctx);        // players.cpp
bool WriteQly(WriterContext& ctx);        // players.cpp
bool WriteStl(WriterContext& ctx);        // players.cpp
bool WriteVsf(WriterContext& ctx);        // players.cpp
bool WriteDks(WriterContext& ctx);        // players.cpp

/// Trims the text, then replaces every "\N" and then every "\n" by `separator`.
std::string ReplaceLineBreaks(std::string_view text, std::string_view separator);
/// The same, appended to `out`.
void AppendReplacingLineBreaks(std::string& out, std::string_view text, std::string_view separator);

/// Reports progress for entry `index` when it is due; false when stopped.
bool WriterStep(WriterContext& ctx, std::size_t index);

}  // namespace lumeval
