// A subtitle file kept as written, so that saving it in place changes only
// the cues that were edited, inserted or deleted.
//
// The text is held once; each cue is indexed by where its lines lie. Cue
// values are not stored: they are read again from those lines, through the
// engine's own line readers, whenever they are asked for, so they agree with
// what a conversion with default settings delivers (same count, same order,
// same times and texts).
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace lumeval {

/// A cue as the editor holds it. end == kKeptNoEnd: absent.
inline constexpr int64_t kKeptNoEnd = std::numeric_limits<int64_t>::min();
struct KeptCue {
    int64_t start = 0;
    int64_t end = kKeptNoEnd;
    std::string text;
    bool operator==(const KeptCue&) const = default;
};

class KeptFile {
public:
    /// Indexes decoded text (UTF-8, no mark) of a file of format key "srt",
    /// "ass", "ssa", "vtt" or "lrc" (any letter case). nullptr for any other
    /// key. Never fails on arbitrary bytes (it may index nothing useful).
    static std::unique_ptr<KeptFile> Parse(std::string_view formatKey, std::string text);

    /// The cues as the engine reads them with default settings: same count,
    /// same order, same start/end in ms, same text. Computed from the kept
    /// text on demand.
    std::size_t Count() const;
    KeptCue Cue(std::size_t i) const;

    /// One cue of the output: `origin` is the index of the file cue it stems
    /// from (-1: a new one).
    struct Out {
        int64_t origin;
        int64_t start;
        int64_t end;
        std::string_view text;
    };
    /// Writes the file again with these cues, in pieces of whole lines, to
    /// `sink`. Unchanged cues are their original bytes; changed ones are
    /// rewritten from their originals (only the times and text that
    /// changed); new ones are written in the file's style. Everything that is
    /// no cue is written once, in its place. When the kept cues come in the
    /// order they were read (the usual case after edits, inserts and
    /// deletes), they keep the file's own order even where that is not time
    /// order; otherwise they follow the order given. SubRip counters follow
    /// the blocks' new places where they followed their old ones; a file that
    /// numbers its blocks its own way keeps its numbers. Blocks the reading
    /// leaves out (no length, a repeat of an earlier cue) stay as written.
    void Write(const std::vector<Out>& cues, const std::function<void(std::string_view)>& sink) const;

    /// Lets the kept text go and keeps only the index and a fingerprint of
    /// the text, so a large file is not held twice while it is edited.
    /// Count() still answers; Cue() and Write() need the text back.
    void ReleaseText();
    bool HasText() const;
    /// Gives the text back (read again from the file). False, and nothing
    /// changes, when it is not the text that was indexed: the file was
    /// changed by something else since.
    bool RestoreText(std::string text);

    ~KeptFile();
    KeptFile(const KeptFile&) = delete;
    KeptFile& operator=(const KeptFile&) = delete;

    struct Impl;

private:
    explicit KeptFile(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

}  // namespace lumeval
