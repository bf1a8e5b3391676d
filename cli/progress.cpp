#include "cli/progress.h"

#include <algorithm>

namespace lumeval::cli {
namespace {

constexpr int kBarCells = 24;
constexpr auto kThrottle = std::chrono::milliseconds(100);

}  // namespace

std::string RenderProgress(const std::string& label, int64_t value, int64_t max) {
    std::string line = label;
    if (max <= 0) return line;
    value = std::clamp<int64_t>(value, 0, max);
    const int filled = static_cast<int>(value * kBarCells / max);
    const int percent = static_cast<int>(value * 100 / max);
    line += " [";
    line.append(static_cast<std::size_t>(filled), '#');
    line.append(static_cast<std::size_t>(kBarCells - filled), '.');
    line += "] ";
    line += std::to_string(percent);
    line += '%';
    return line;
}

void ProgressBar::Update(const std::string& label, int64_t value, int64_t max, bool force) {
    if (!m_enabled) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && label == m_lastLabel && now - m_lastDraw < kThrottle) return;
    m_lastDraw = now;
    m_lastLabel = label;
    std::string line = "\r" + RenderProgress(label, value, max);
    // Pad over what a longer previous line left behind.
    const std::size_t width = line.size() - 1;
    if (width < m_shownWidth) line.append(m_shownWidth - width, ' ');
    m_shownWidth = width;
    std::fputs(line.c_str(), m_stream);
    std::fflush(m_stream);
}

void ProgressBar::Clear() {
    if (!m_enabled || m_shownWidth == 0) return;
    std::string blank = "\r";
    blank.append(m_shownWidth, ' ');
    blank += '\r';
    std::fputs(blank.c_str(), m_stream);
    std::fflush(m_stream);
    m_shownWidth = 0;
    m_lastLabel.clear();
}

}  // namespace lumeval::cli
