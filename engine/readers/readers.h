// Line readers: each takes one prepared line of a source and the run's
// carry-over state, and adds entries through AddTimedLine (or by appending to
// the last entry).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/formats.h"
#include "engine/linetable.h"

namespace lumeval {

/// The states readers keep for themselves, one per type, made on first use.
/// A copy copies every state, so a copy of the run's ReaderState is a
/// snapshot that a reading which is thrown away can be undone with.
class OwnStates {
public:
    OwnStates() = default;
    OwnStates(const OwnStates& other) {
        m_slots.reserve(other.m_slots.size());
        for (const Slot& slot : other.m_slots) {
            m_slots.push_back({slot.key, slot.copy(slot.state.get()), slot.copy});
        }
    }
    OwnStates& operator=(const OwnStates& other) {
        if (this != &other) *this = OwnStates(other);
        return *this;
    }
    OwnStates(OwnStates&&) = default;
    OwnStates& operator=(OwnStates&&) = default;

    template <typename T>
    T& Get() {
        static constexpr char key = 0;  // one address per T
        for (auto& slot : m_slots) {
            if (slot.key == &key) return *static_cast<T*>(slot.state.get());
        }
        auto state = std::make_shared<T>();
        T& ref = *state;
        m_slots.push_back({&key, std::move(state), [](const void* from) -> std::shared_ptr<void> {
                               return std::make_shared<T>(*static_cast<const T*>(from));
                           }});
        return ref;
    }

private:
    struct Slot {
        const void* key;
        std::shared_ptr<void> state;
        std::shared_ptr<void> (*copy)(const void*);
    };
    std::vector<Slot> m_slots;
};

/// Fields that live for one conversion run and survive from one source file
/// to the next, so a block left open at the end of a file continues.
struct ReaderState {
    std::string pendingSpan;
    std::string pendingText;
    /// Where the last text line of a SubRip block begins in pendingText (at
    /// its "\N" separator), so a counter line read as text can be cut off.
    std::size_t pendingLastLine = 0;
    bool inBlock = false;
    // A blank line came inside the open SubRip block: the block stays open
    // until the next time line, since cue texts with an empty line in them
    // are common and players show all of it. A number alone after the blank
    // is held back: it is the next block's counter unless text follows.
    bool blankInBlock = false;
    uint8_t heldNumberLength = 0;  // 0: none held
    char heldNumber[23] = {};
    /// LRC "[offset:N]" of the file being read, milliseconds (reset per file).
    double lrcOffsetMs = 0;
    // Continuation lines belong to a cue the time window dropped: they are
    // dropped too instead of landing on an earlier cue.
    bool skipContinuation = false;
    // SSA column numbers of "start", "end" and "text", counted after the
    // "Format:" or "Dialogue:" tag. Until a "Format:" line names them they
    // are those of every SSA and ASS script ("Marked" or "Layer", Start,
    // End, ..., Text), as players assume.
    int32_t ssaStartColumn = 1;
    int32_t ssaEndColumn = 2;
    int32_t ssaTextColumn = 9;
    /// Not carried over but set for the run: frames a second of
    /// frame-counted formats as the run was told (s_FrameRate); 0: the
    /// file's own rate line, else kDefaultFrameRate.
    double frameRate = 0;

    /// Carry-over state a reader keeps for itself, made on first use: a
    /// format's reader file brings its own fields without changing this one.
    template <typename T>
    T& Own() {
        return m_own.Get<T>();
    }

private:
    OwnStates m_own;
};

/// What a reader needs besides the line.
struct ReaderContext {
    LineTable& table;
    const TimingRules& rules;
    ReaderState& state;
    /// False when the line at hand holds no ">" (told by the pass that split
    /// the text into lines): a reader need not look for an arrow in it.
    bool lineMayHoldGt = true;
};

/// Hands one prepared line to the reader of `kind`. `isLastLine`: the file's
/// last line after splitting. Kinds without a reader add nothing.
void ReadLine(int32_t kind, std::string_view line, bool isLastLine, ReaderContext& ctx);
/// The reader of `kind` from the format table; null for a write-only kind.
LineReader ReaderOfKind(int32_t kind);

/// Milliseconds of an LRC tag that is a time: minutes:seconds with an optional
/// fraction of 1 to 3 digits ("0:1.730", "01:02.5"), or hours:minutes:seconds
/// with one ("01:00:04.862"). nullopt: the tag is metadata.
std::optional<int64_t> LrcTagTime(std::string_view tag);
/// The signed milliseconds of an "offset:N" tag; nullopt for any other tag.
std::optional<double> LrcTagOffset(std::string_view tag);

/// Ends the run's reading: a SubRip block still open is added, and so is a
/// dks text line still waiting for its end tag (as a start-only cue).
void FinishReading(ReaderContext& ctx);

}  // namespace lumeval
