// One-line progress bar on standard error, redrawn in place with a carriage
// return. Redraws are throttled so a run of a million lines does not spend its
// time on the terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace lumeval::cli {

class ProgressBar {
  public:
    /// A disabled bar ignores every call, so callers need not test for it.
    ProgressBar(bool enabled, std::FILE* stream = stderr) : m_enabled(enabled), m_stream(stream) {}
    ~ProgressBar() { Clear(); }
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    /// Shows `label` with value of max (max 0: no bar, just the label).
    /// Skips the redraw when the last one was less than the throttle ago,
    /// unless the label changed or `force`.
    void Update(const std::string& label, int64_t value, int64_t max, bool force = false);
    /// Removes the bar so a normal line can be printed.
    void Clear();

  private:
    bool m_enabled;
    std::FILE* m_stream;
    std::string m_lastLabel;
    std::size_t m_shownWidth = 0;
    std::chrono::steady_clock::time_point m_lastDraw{};
};

/// Renders one bar line (without the carriage return): label, a 24-cell bar
/// and the percentage. Exposed for tests.
std::string RenderProgress(const std::string& label, int64_t value, int64_t max);

}  // namespace lumeval::cli
