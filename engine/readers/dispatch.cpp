#include "engine/formats.h"
#include "engine/readers/readers.h"

namespace lumeval {

LineReader ReaderOfKind(int32_t kind) {
    const FormatKey* row = RowOfKind(kind);
    return row != nullptr ? row->reader : nullptr;
}

void ReadLine(int32_t kind, std::string_view line, bool isLastLine, ReaderContext& ctx) {
    if (const LineReader read = ReaderOfKind(kind)) read(line, isLastLine, ctx);
}

void FinishReading(ReaderContext& ctx) {
    // Each finisher once, whichever formats the run read: a block may be
    // left open by any source of the run.
    for (std::size_t i = 0; i < kFormatKeys.size(); ++i) {
        const ReadFinisher finish = kFormatKeys[i].finish;
        if (finish == nullptr) continue;
        bool seen = false;
        for (std::size_t k = 0; k < i && !seen; ++k) seen = kFormatKeys[k].finish == finish;
        if (!seen) finish(ctx);
    }
}

}  // namespace lumeval
