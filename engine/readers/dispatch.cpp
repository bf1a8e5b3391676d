#include "engine/formats.h"
#include "engine/readers/readers.h"

namespace lumeval {

void ReadLine(int32_t kind, std::string_view line, bool isLastLine, ReaderContext& ctx) {
    switch (kind) {
        case kKindSrt: ReadSubRipLine(line, isLastLine, ctx); break;
        case kKindStxt: ReadTimedTextLine(line, ctx); break;
        case kKindTxt: ReadPlainTextLine(line, ctx); break;
        case kKindSsa: ReadSsaLine(line, ctx); break;
        case kKindLrc: ReadLrcLine(line, ctx); break;
        case kKindKsc: ReadKscLine(line, ctx); break;
        case kKindKrc: ReadKrcLine(line, ctx); break;
        case kKindSmi: ReadSamiLine(line, ctx); break;
        case kKindSnc: ReadSncLine(line, ctx); break;
        case kKindQly: ReadQlyLine(line, ctx); break;
        case kKindStl: ReadStlLine(line, ctx); break;
        case kKindVsf: ReadVsfLine(line, ctx); break;
        case kKindDks: ReadDksLine(line, ctx); break;
        default: break;
    }
}

void FinishReading(ReaderContext& ctx) {
    FinishSubRip(ctx);
    FinishDks(ctx);
}

}  // namespace lumeval
