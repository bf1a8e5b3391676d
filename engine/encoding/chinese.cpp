// GB / BIG5 classification and simplified / traditional mapping over OpenCC.
#include "engine/encoding/chinese.h"

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <opencc/Config.hpp>
#include <opencc/Conversion.hpp>
#include <opencc/ConversionChain.hpp>
#include <opencc/Converter.hpp>
#include <opencc/Dict.hpp>
#include <opencc/DictGroup.hpp>
#include <opencc/DictEntry.hpp>
#include <opencc/Lexicon.hpp>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/encoding/codepage.h"

#ifndef LUMEVAL_OPENCC_DATADIR
#define LUMEVAL_OPENCC_DATADIR "/usr/share/opencc"
#endif

namespace lumeval {

namespace {

// ---------------------------------------------------------------------------
// Classification
// ---------------------------------------------------------------------------

// What one character tells the scan; 0 means "not looked up yet".
enum CharVerdict : uint8_t { kVerdictUnknown = 0, kVerdictNext, kVerdictBig5, kVerdictGb };

uint8_t ClassifyCodePoint(char32_t cp, int32_t page) {
    unsigned char bytes[8];
    // Characters the page cannot hold say nothing about it: the scan moves on.
    if (EncodeCodePoint(cp, page, bytes) != 2) return kVerdictNext;
    if (bytes[1] >= 0x7F) return kVerdictGb;
    if (bytes[1] >= 0x40) return kVerdictBig5;
    return kVerdictNext;
}

// Verdicts for the Basic Multilingual Plane, filled lazily per page and
// thread: a text of characters the page lacks (Thai in GBK, say) would
// otherwise cost one ICU call per character all the way to its end.
uint8_t* VerdictTableFor(int32_t page) {
    struct Table {
        int32_t page;
        std::unique_ptr<uint8_t[]> verdicts;
    };
    thread_local std::vector<Table> tables;
    for (Table& t : tables) {
        if (t.page == page) return t.verdicts.get();
    }
    if (tables.size() >= 8) return nullptr;
    tables.push_back({page, std::make_unique<uint8_t[]>(0x10000)});  // zeroed: all unknown
    return tables.back().verdicts.get();
}

// ---------------------------------------------------------------------------
// OpenCC
// ---------------------------------------------------------------------------

enum Direction { kToSimplified = 0, kToTraditional = 1 };

// The dictionaries' folder: LUMEVAL_OPENCC_DATADIR in the environment (a
// relocated install, and the tests of a missing dictionary), else the build's.
std::string ConfigFile(Direction d) {
    const char* dir = std::getenv("LUMEVAL_OPENCC_DATADIR");
    std::string path = dir != nullptr && *dir != '\0' ? dir : LUMEVAL_OPENCC_DATADIR;
    path += d == kToSimplified ? "/t2s.json" : "/s2t.json";
    return path;
}

// Loaded once per thread on first use; null when OpenCC or its data is missing.
const opencc::Converter* ConverterFor(Direction d) {
    struct Slot {
        bool tried = false;
        opencc::ConverterPtr converter;
    };
    thread_local Slot slots[2];
    Slot& slot = slots[d];
    if (!slot.tried) {
        slot.tried = true;
        try {
            opencc::Config config;
            slot.converter = config.NewFromFile(ConfigFile(d));
        } catch (...) {
            slot.converter.reset();
        }
    }
    return slot.converter.get();
}

// Code points whose absence proves that OpenCC leaves a text unchanged.
//
// OpenCC only ever replaces a dictionary key found in the text by its value.
// Keys whose value equals the key change nothing (they only steer the
// segmentation), so a text can change only if it contains a changing key.
// The set holds every single-character changing key and, for each longer
// changing key, one of its characters (preferably the one that differs from
// the value). A text without any member contains no changing key, so the
// shortcut is exact, not a heuristic.
struct Witness {
    bool usable = false;
    std::vector<uint64_t> bits;

    void Set(char32_t cp) { bits[cp >> 6] |= uint64_t(1) << (cp & 63); }
    bool Test(char32_t cp) const { return (bits[cp >> 6] >> (cp & 63)) & 1; }
};

bool ToCodePoints(const std::string& s, std::vector<char32_t>& out) {
    out.clear();
    for (std::size_t i = 0; i < s.size();) {
        const Utf8Char c = DecodeUtf8At(s, i);
        if (!c.valid) return false;
        out.push_back(c.cp);
        i += c.length;
    }
    return true;
}

void BuildWitness(const opencc::Converter& converter, Witness& w) {
    w.bits.assign(0x110000 / 64, 0);
    std::vector<std::pair<std::vector<char32_t>, std::vector<char32_t>>> phrases;
    std::vector<char32_t> key;
    std::vector<char32_t> value;
    // A group's own lexicon is a merged and sorted copy; the order does not
    // matter here, so its members are read one by one.
    std::vector<opencc::DictPtr> dicts;
    const auto collect = [&dicts](const auto& self, const opencc::DictPtr& dict) -> void {
        if (const auto group = std::dynamic_pointer_cast<opencc::DictGroup>(dict)) {
            for (const opencc::DictPtr& member : group->GetDicts()) self(self, member);
        } else if (dict) {
            dicts.push_back(dict);
        }
    };
    for (const opencc::ConversionPtr& conversion :
         converter.GetConversionChain()->GetConversions()) {
        collect(collect, conversion->GetDict());
    }
    for (const opencc::DictPtr& dict : dicts) {
        const opencc::LexiconPtr lexicon = dict->GetLexicon();
        for (const auto& entry : *lexicon) {
            const std::string k = entry->Key();
            const std::string v = entry->GetDefault();
            if (k == v) continue;
            // A key that is not UTF-8 could match inside a character; no
            // shortcut can be trusted then.
            if (!ToCodePoints(k, key) || key.empty()) return;
            if (key.size() == 1) {
                w.Set(key[0]);
            } else {
                ToCodePoints(v, value);
                phrases.emplace_back(key, value);
            }
        }
    }
    for (const auto& [k, v] : phrases) {
        bool covered = false;
        for (char32_t cp : k) covered = covered || w.Test(cp);
        if (covered) continue;
        char32_t pick = 0;
        for (std::size_t i = 0; i < k.size() && !pick; ++i) {
            if (k[i] >= 0x80 && (i >= v.size() || k[i] != v[i])) pick = k[i];
        }
        for (std::size_t i = k.size(); i > 0 && !pick; --i) {
            if (k[i - 1] >= 0x80) pick = k[i - 1];
        }
        // An all-ASCII changing key would break the ASCII shortcut too.
        if (!pick) return;
        w.Set(pick);
    }
    w.usable = true;
}

// Shared by all threads: the dictionaries are the same files everywhere.
const Witness& WitnessFor(Direction d, const opencc::Converter& converter) {
    static std::once_flag once[2];
    static Witness witness[2];
    std::call_once(once[d], [&] {
        try {
            BuildWitness(converter, witness[d]);
        } catch (...) {
            witness[d].usable = false;
        }
    });
    return witness[d];
}

bool ContainsWitness(std::string_view text, const Witness& w) {
    const auto* b = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    const uint64_t* bits = w.bits.data();
    bool hit = false;
    // Character by character from `i` (a character start) until `stop` is
    // reached or passed, or a witness is found; returns the next character start.
    const auto scalar = [&](std::size_t i, std::size_t stop) {
        while (i < n && i < stop) {
            if (b[i] < 0x80) {
                ++i;
                // Runs of ASCII eight bytes at a time.
                while (i + 8 <= n) {
                    uint64_t word;
                    std::memcpy(&word, b + i, 8);
                    if ((word & 0x8080808080808080ULL) != 0) break;
                    i += 8;
                }
                continue;
            }
            // Three-byte sequences (all of CJK) decoded inline. A malformed one
            // can at worst produce a false hit, which only costs the shortcut.
            // The lead's low bits and the second byte's pick the witness word,
            // the third byte's the bit.
            if ((b[i] & 0xF0) == 0xE0 && i + 2 < n && (b[i + 1] & 0xC0) == 0x80 &&
                (b[i + 2] & 0xC0) == 0x80) {
                if ((bits[((b[i] & 0x0Fu) << 6) | (b[i + 1] & 0x3Fu)] >> (b[i + 2] & 0x3Fu)) & 1u) {
                    hit = true;
                    return i;
                }
                i += 3;
                continue;
            }
            const Utf8Char c = DecodeUtf8At(text, i);
            if (c.valid && w.Test(c.cp)) {
                hit = true;
                return i;
            }
            i += c.length;
        }
        return i;
    };
    std::size_t i = 0;
#if defined(__SSE2__)
    while (i + 16 <= n) {
        // Sixteen bytes that hold only ASCII and three-byte sequences (a lead
        // E0..EF, two continuation bytes) have their leads visited bit by
        // bit, with no branch per byte; any other block goes the long way.
        uint32_t owedNext = 0;
        std::size_t at = i;
        for (; at + 16 <= n; at += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + at));
            const auto high = static_cast<uint32_t>(_mm_movemask_epi8(v));
            if (high == 0 && owedNext == 0) continue;
            // Signed bytes: continuation 0x80..0xBF is below -64, leads
            // 0xE0..0xEF lie between -33 and -16.
            const auto cont = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmplt_epi8(v, _mm_set1_epi8(-64))));
            const auto lead = static_cast<uint32_t>(_mm_movemask_epi8(
                _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(-33)), _mm_cmplt_epi8(v, _mm_set1_epi8(-16)))));
            const uint32_t owed = (lead << 1) | (lead << 2) | owedNext;
            if ((high & ~(cont | lead)) != 0 || cont != (owed & 0xFFFFu)) break;
            for (uint32_t m = lead; m != 0; m &= m - 1) {
                const std::size_t k = at + static_cast<std::size_t>(__builtin_ctz(m));
                // A lead in the last two places owes bytes of the next block,
                // not checked yet.
                if (k + 2 >= n || (k >= at + 14 && ((b[k + 1] & 0xC0) != 0x80 || (b[k + 2] & 0xC0) != 0x80))) {
                    continue;
                }
                if ((bits[((b[k] & 0x0Fu) << 6) | (b[k + 1] & 0x3Fu)] >> (b[k + 2] & 0x3Fu)) & 1u) return true;
            }
            owedNext = owed >> 16;
        }
        // Back to the start of a character whose continuation bytes were owed
        // (checked once more below, which changes nothing).
        i = at - (owedNext == 3 ? 1 : owedNext == 1 ? 2 : 0);
        if (at + 16 > n) break;
        i = scalar(i, at + 16);
        if (hit) return true;
    }
#endif
    scalar(i, n);
    return hit;
}

struct Mapper {
    const opencc::Converter* converter = nullptr;
    const Witness* witness = nullptr;  // null: always ask OpenCC

    bool MayChange(std::string_view text) const {
        if (IsAscii(text)) return false;
        return !witness || !witness->usable || ContainsWitness(text, *witness);
    }

    // `piece` is well-formed UTF-8 without NUL: OpenCC stops at a NUL and
    // reads past the end of a truncated sequence.
    void MapPiece(std::string_view piece, std::string& out) const {
        if (!MayChange(piece)) {
            out.append(piece);
            return;
        }
        try {
            out += converter->Convert(std::string(piece));
        } catch (...) {
            out.append(piece);
        }
    }

    // Plain text: NULs and ill-formed bytes are kept as they are and split the
    // text into pieces OpenCC can take.
    void MapPlain(std::string_view run, std::string& out) const {
        const auto* b = reinterpret_cast<const unsigned char*>(run.data());
        std::size_t start = 0;
        std::size_t i = 0;
        while (i < run.size()) {
            if (b[i] != 0 && b[i] < 0x80) {
                ++i;
                continue;
            }
            std::size_t length = 1;
            if (b[i] != 0) {
                const Utf8Char c = DecodeUtf8At(run, i);
                if (c.valid) {
                    i += c.length;
                    continue;
                }
                length = c.length;
            }
            MapPiece(run.substr(start, i - start), out);
            out.append(run.substr(i, length));
            i += length;
            start = i;
        }
        MapPiece(run.substr(start), out);
    }

    // Text inside "{...}" and "<...>" is markup and stays as it is. An opening
    // brace without its closing partner is plain text: nothing marks it up.
    std::string Map(std::string_view text) const {
        std::string out;
        out.reserve(text.size() + 16);
        bool noBraceClose = false;  // remembered so "{{{{..." stays linear
        bool noAngleClose = false;
        std::size_t runStart = 0;
        std::size_t i = 0;
        while (i < text.size()) {
            const char c = text[i];
            if (c != '{' && c != '<') {
                ++i;
                continue;
            }
            bool& none = c == '{' ? noBraceClose : noAngleClose;
            const std::size_t close =
                none ? std::string_view::npos : text.find(c == '{' ? '}' : '>', i + 1);
            if (close == std::string_view::npos) {
                none = true;
                ++i;
                continue;
            }
            MapPlain(text.substr(runStart, i - runStart), out);
            out.append(text.substr(i, close + 1 - i));
            i = close + 1;
            runStart = i;
        }
        MapPlain(text.substr(runStart), out);
        return out;
    }
};

std::string MapChinese(std::string_view text, Direction d, bool shortcut) {
    try {
        if (IsAscii(text)) return std::string(text);
        Mapper mapper;
        mapper.converter = ConverterFor(d);
        if (!mapper.converter) return std::string(text);
        if (shortcut) {
            mapper.witness = &WitnessFor(d, *mapper.converter);
            if (!mapper.MayChange(text)) return std::string(text);
        }
        return mapper.Map(text);
    } catch (...) {
        return std::string(text);
    }
}

// True when mapping to simplified could change the text: the hot path of a
// load (GB text, mode 0) asks this for every line and copies nothing.
bool SimplifiedMayChange(std::string_view text) {
    try {
        if (IsAscii(text)) return false;
        const opencc::Converter* converter = ConverterFor(kToSimplified);
        if (!converter) return false;
        Mapper mapper;
        mapper.converter = converter;
        mapper.witness = &WitnessFor(kToSimplified, *converter);
        return mapper.MayChange(text);
    } catch (...) {
        return true;  // let the full path decide
    }
}

}  // namespace

bool ChineseConversionAvailable(int32_t mode, std::string* why) {
    if (mode < kConvertBig5ToGb || mode > kConvertAuto) return true;
    // Every mode maps to simplified; GB to BIG5 maps to traditional as well.
    for (const Direction d : {kToSimplified, kToTraditional}) {
        if (d == kToTraditional && mode != kConvertGbToBig5) continue;
        if (ConverterFor(d) == nullptr) {
            if (why) *why = "cannot load the OpenCC dictionary " + ConfigFile(d);
            return false;
        }
    }
    return true;
}

int32_t CheckChineseInternalCodeSpecification(const std::string& text, int32_t AnsiCodePage) {
    try {
        const int32_t page = ResolveCodePage(AnsiCodePage);
        uint8_t* table = VerdictTableFor(page);
        const auto* b = reinterpret_cast<const unsigned char*>(text.data());
        const std::size_t n = text.size();
        std::size_t i = 0;
        while (i < n) {
            if (b[i] < 0x80) {
                ++i;
                continue;
            }
            const Utf8Char c = DecodeUtf8At(text, i);
            i += c.length;
            if (!c.valid) continue;  // stray bytes: no character to encode
            uint8_t verdict;
            if (table && c.cp < 0x10000) {
                verdict = table[c.cp];
                if (verdict == kVerdictUnknown)
                    verdict = table[c.cp] = ClassifyCodePoint(c.cp, page);
            } else {
                verdict = ClassifyCodePoint(c.cp, page);
            }
            if (verdict == kVerdictGb) return kClassGb;
            if (verdict == kVerdictBig5) return kClassBig5;
        }
        return kClassUndecided;
    } catch (...) {
        return kClassUndecided;
    }
}

bool CheckBIG5(const std::string& text, int32_t AnsiCodePage) {
    return CheckChineseInternalCodeSpecification(text, AnsiCodePage) == kClassBig5;
}

std::string ToSimplifiedChinese(std::string_view text) {
    return MapChinese(text, kToSimplified, true);
}

std::string ToTraditionalChinese(std::string_view text) {
    return MapChinese(text, kToTraditional, true);
}

namespace detail {

std::string ToSimplifiedChineseDirect(std::string_view text) {
    return MapChinese(text, kToSimplified, false);
}

std::string ToTraditionalChineseDirect(std::string_view text) {
    return MapChinese(text, kToTraditional, false);
}

}  // namespace detail

bool LooksLikeBig5ReadAsGbk(const std::string& text) {
    try {
        if (CheckChineseInternalCodeSpecification(text, 936) != kClassBig5) return false;
        std::string bytes;
        std::string big5;
        // U+FFFD (bytes GBK could not read) has no GBK form: such a text
        // fails here, as it should.
        if (!EncodeCodePage(text, 936, bytes, true).ok) return false;
        if (!DecodeCodePage(bytes, 950, big5)) return false;
        // Bytes outside BIG5 proper come back as U+FFFD, or as the private
        // use characters the Windows table gives its user-defined rows.
        for (std::size_t i = 0; i < big5.size();) {
            const Utf8Char c = DecodeUtf8At(big5, i);
            if (c.cp == kReplacementChar || (c.cp >= 0xE000 && c.cp <= 0xF8FF)) return false;
            i += c.length;
        }
        return true;
    } catch (...) {
        return false;
    }
}

namespace {

int32_t EffectiveMode(const ConversionContext& ctx) {
    return ctx.mode >= kConvertNone && ctx.mode <= kConvertAuto ? ctx.mode : kConvertNone;
}

// Which mapping a line gets; none for mode 0, whatever the class.
enum class Mapping { None, ToSimplified, ToTraditional };

Mapping MappingOf(const ConversionContext& ctx) {
    switch (EffectiveMode(ctx)) {
        case kConvertBig5ToGb:
            return Mapping::ToSimplified;
        case kConvertGbToBig5:
            return Mapping::ToTraditional;
        case kConvertAuto:
            return ctx.cls == kClassBig5 || ctx.cls == kClassGb ? Mapping::ToSimplified
                                                                 : Mapping::None;
        default:
            return Mapping::None;
    }
}

}  // namespace

std::string ApplyInternalCodeConversion(std::string_view line, const ConversionContext& ctx) {
    try {
        // Every row leaves ASCII as it is (all pages here extend ASCII).
        if (IsAscii(line)) return std::string(line);
        const Mapping mapping = MappingOf(ctx);
        if (mapping == Mapping::None) return std::string(line);

        std::string text(line);
        if (ctx.big5ReadAsGbk) {
            std::string bytes;
            std::string repaired;
            if (EncodeCodePage(line, 936, bytes, false).ok && DecodeCodePage(bytes, 950, repaired)) {
                text = std::move(repaired);
            }
        }
        if (mapping == Mapping::ToSimplified) return ToSimplifiedChinese(text);

        std::string traditional = ToTraditionalChinese(text);
        // BIG5 bytes dressed as GBK text only help a run that writes GBK
        // bytes; in Unicode output they would be mojibake.
        if (ctx.writesAnsi && ResolveCodePage(ctx.AnsiCodePage) == 936) {
            std::string bytes;
            std::string disguised;
            if (EncodeCodePage(traditional, 950, bytes, false).ok &&
                DecodeCodePage(bytes, 936, disguised)) {
                return disguised;
            }
        }
        return traditional;
    } catch (...) {
        return std::string(line);
    }
}

bool InternalCodeConversionMayChange(std::string_view line, const ConversionContext& ctx) {
    if (IsAscii(line)) return false;
    const Mapping mapping = MappingOf(ctx);
    if (mapping == Mapping::None) return false;
    if (ctx.big5ReadAsGbk || mapping == Mapping::ToTraditional) return true;
    return SimplifiedMayChange(line);
}

}  // namespace lumeval
