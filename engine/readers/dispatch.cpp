#include "engine/formats.h"
#include "engine/readers/readers.h"

namespace lumeval {

void ReadLine(int32_t kind, std::string_view line, bool isLastLine, ReaderContext& ctx) {
    switch (kind) {
        case kKindSrt: ReadSubRipLine(line, isLastLine, ctx); break;
        case kKindStxt: ReadTimedTextLine(line, ctx); break;
        case kKindTxt: ReadPlainTextLine(line, ctx); break;
        default: break;  // no reader for this kind yet
    }
}

}  // namespace lumeval
