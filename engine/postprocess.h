// The stages a line table passes through after reading: duplicates, filter
// words, merging of shared spans, the credit line and sorting.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "engine/linetable.h"

namespace lumeval {

/// Keeps the first of every group of entries (1..N) that are equal ignoring
/// letter case. One pass over a hash set. True when the pass also found the
/// entries left already in SortLines' order (SortLines need not look again).
bool RemoveDuplicateLines(LineTable& table);

/// Removes entries whose trimmed text holds any of the words (separated by
/// U+0000; an empty word matches every entry). Case-sensitive.
void RemoveFilteredLines(LineTable& table, std::string_view filters);

/// Called every `interval` kept entries during merging with (index, last
/// index); returns false to stop (the merge then leaves the table as it is).
using MergeProgress = std::function<bool(int32_t, int32_t)>;

/// Every later entry whose trimmed span equals an earlier entry's (and which
/// is not identical to it as a whole) is appended to it with "\N" and removed.
/// Grouped by span, so the cost is linear in the table. False when stopped.
bool MergeSamePosition(LineTable& table, int32_t interval, const MergeProgress& onProgress);

/// Appends the credit line (seconds; swapped when reversed). A SubRip
/// destination gets 10 ms more on the end.
void AppendCreditLine(LineTable& table, std::string_view text, double startSec, double endSec,
                      int32_t destinationKind);

/// Ordinal order of UTF-16 code units, on UTF-8 text.
bool OrdinalLess(std::string_view a, std::string_view b);

/// Time order of entries: those without "|" first, then by start time, a span
/// before a lone start, then by end time, then OrdinalLess of the whole entry.
/// Times count, not their texts, so 99 hours sorts before 100 hours.
bool EntryLess(std::string_view a, std::string_view b);

/// Sorts items[first..last] (inclusive) in EntryLess order.
void SortEntries(std::vector<std::string>& items, std::size_t first, std::size_t last);
void SortEntries(LineTable& items, std::size_t first, std::size_t last);

/// Sets the placeholder to "0" and sorts the whole table. `knownInOrder`:
/// the entries are in that order already (as RemoveDuplicateLines said).
void SortLines(LineTable& table, bool knownInOrder = false);

/// Removes one entry, moving the later ones down.
void RemoveLineAt(LineTable& table, std::size_t index);

}  // namespace lumeval
