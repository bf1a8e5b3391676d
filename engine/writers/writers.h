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

struct WriterContext {
    const std::vector<std::string>& entries;
    const SaveSettings& settings;
    int32_t interval;                 ///< at least 1
    const WriterProgress& onProgress; ///< may be empty
    std::vector<std::string>& out;    ///< output lines
};

/// Runs the writer of `kind`; false when stopped by the progress callback.
/// Kinds without a writer produce no lines.
bool WriteEntries(int32_t kind, WriterContext& ctx);

bool WriteSubRip(WriterContext& ctx);
bool WritePlainText(WriterContext& ctx);
bool WriteTimedText(WriterContext& ctx);

/// Trims the text, then replaces every "\N" and then every "\n" by `separator`.
std::string ReplaceLineBreaks(std::string_view text, std::string_view separator);

/// Reports progress for entry `index` when it is due; false when stopped.
bool WriterStep(WriterContext& ctx, std::size_t index);

}  // namespace lumeval
