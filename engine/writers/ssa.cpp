// Sub Station Alpha v4 scripts (also for ".ass" and unknown extensions).
//
// The script is written in the SSA v4 form every player reads: "[v4 Styles]"
// with the SSA style fields, colours as "&H" + BGR hex. With a karaoke effect
// every cue gets a lead-in, per-character (or per-syllable for KSC sources)
// timing tags, and the cues alternate between a left and a right style.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/encoding/codepage.h"
#include "engine/formats.h"
#include "engine/linetable.h"
#include "engine/subtitle.h"
#include "engine/textutil.h"
#include "engine/timecode.h"
#include "engine/writers/writers.h"

namespace lumeval {
namespace {

constexpr double kFirstLeadInMs = 3000;
constexpr double kMaxLeadInMs = 3000;

// ---- number formatting ----

void appendInt(std::string& out, long long value) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, r.ptr);
}

// Shortest decimal form with at most 15 significant digits (so 288 * 0.05
// prints as 14.4, not 14.400000000000002), "." as the decimal point whatever
// the locale, whole numbers without a point.
void appendNumber(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out += '0';
        return;
    }
    if (value == std::floor(value) && std::fabs(value) < 1e15) {
        appendInt(out, static_cast<long long>(value));
        return;
    }
    char buf[40];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
    out.append(buf, r.ptr);
}

// "&H" and the upper-case hex digits of a 0x00BBGGRR colour, no leading zeros.
void appendColour(std::string& out, uint32_t colour) {
    char buf[16];
    const auto r = std::to_chars(buf, buf + sizeof buf, colour, 16);
    out += "&H";
    for (const char* p = buf; p != r.ptr; ++p) {
        out += (*p >= 'a' && *p <= 'f') ? static_cast<char>(*p - 'a' + 'A') : *p;
    }
}

void appendTime(std::string& out, double ms) { AppendTimeStyle1(out, ms); }

// An entry time in the table's own form (TableTimeMs holds) as "H:MM:SS.cc",
// rewritten as text: that gives what formatting its milliseconds gives (the
// hours lose a leading zero, the milliseconds are cut to hundredths). Writes
// at most 18 bytes.
char* putCanonicalTime(char* out, std::string_view t) {
    const std::size_t skip = t[0] == '0' ? 1 : 0;  // only two-digit hours start with 0
    const std::size_t head = t.size() - 4 - skip;   // hours, ":MM:SS"
    // Two-digit hours, nearly every time: eight bytes copied as one word
    // (the last may be the ","; it is written over below).
    if (t.size() == 12) {
        std::memcpy(out, t.data() + skip, 8);
    } else {
        std::memcpy(out, t.data() + skip, head);
    }
    out += head;
    const std::size_t millis = t.size() - 3;
    out[0] = '.';
    out[1] = t[millis];
    out[2] = t[millis + 1];
    return out + 3;
}

// An entry time in the table's form with the hours of any width: the value
// (nearly every time, the checks cheapest first), else -1.
int64_t tableTime(std::string_view t) {
    return IsCanonicalTime(t) ? CanonicalTimeMs(t) : TableTimeMs(t);
}

// An entry time as "H:MM:SS.cc": from its text when that is in the table's
// form, else from `ms`.
void appendEntryTime(std::string& out, std::string_view t, bool canonical, double ms) {
    if (!canonical) {
        appendTime(out, ms);
        return;
    }
    char buf[24];
    out.append(buf, putCanonicalTime(buf, t));
}

// ---- entries ----

double startOf(std::string_view entry) { return ReadEntryTimeMs(SplitEntry(entry).start); }

// What follows a KSC-source entry's text: the syllable durations.
std::string_view durationField(std::string_view entry) {
    const auto bar1 = entry.find('|');
    if (bar1 == std::string_view::npos) return {};
    const auto sep = entry.find(kTimingSeparator, bar1 + 1);
    if (sep == std::string_view::npos) return {};
    std::string_view rest = entry.substr(sep + 1);
    return rest.substr(0, rest.find(kTimingSeparator));
}

// Reads as much of the field as forms a number; anything else counts as 0.
double leadingNumber(std::string_view field) {
    field = TrimSpaces(field);
    if (!field.empty() && field.front() == '+') field.remove_prefix(1);
    double value = 0;
    const auto r = std::from_chars(field.data(), field.data() + field.size(), value);
    if (r.ec != std::errc() || !std::isfinite(value)) return 0;
    return value;
}

// "'1,2,3'" -> {1, 2, 3}. An empty list stays empty.
std::vector<double> parseDurations(std::string_view field) {
    std::string list(field);
    std::erase(list, '\'');
    const std::string_view trimmed = TrimSpaces(list);
    std::vector<double> out;
    if (trimmed.empty()) return out;
    std::size_t from = 0;
    for (;;) {
        const auto comma = trimmed.find(',', from);
        out.push_back(leadingNumber(trimmed.substr(
            from, comma == std::string_view::npos ? std::string_view::npos : comma - from)));
        if (comma == std::string_view::npos) break;
        from = comma + 1;
    }
    return out;
}

std::string withoutBrackets(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c != '[' && c != ']') out += c;
    }
    return out;
}

// Sixteen bytes at a time where SSE2 is there, else eight: find_first_of
// would search its two-character set once per character of the text.
bool hasBrackets(std::string_view text) {
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i open = _mm_set1_epi8('[');
    const __m128i close = _mm_set1_epi8(']');
    for (; i + 16 <= text.size(); i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
        if (_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, open), _mm_cmpeq_epi8(v, close))) != 0) {
            return true;
        }
    }
#endif
    constexpr uint64_t kOnes = 0x0101010101010101ULL;
    constexpr uint64_t kHighs = 0x8080808080808080ULL;
    const auto zeroByte = [](uint64_t w) { return ((w - kOnes) & ~w & kHighs) != 0; };
    for (; i + 8 <= text.size(); i += 8) {
        uint64_t w;
        std::memcpy(&w, text.data() + i, 8);
        if (zeroByte(w ^ (kOnes * '[')) || zeroByte(w ^ (kOnes * ']'))) return true;
    }
    for (; i < text.size(); ++i) {
        if (text[i] == '[' || text[i] == ']') return true;
    }
    return false;
}

// Calls `visit` with every character of the text, a "\N" line break being one
// character: putting a timing tag between its two halves would break it.
template <typename Visit>
void forEachCharacter(std::string_view text, Visit&& visit) {
    for (std::size_t i = 0; i < text.size();) {
        std::size_t n = 1;
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'N') {
            n = 2;
        } else {
            n = DecodeUtf8At(text, i).length;
        }
        visit(text.substr(i, n));
        i += n;
    }
}

std::size_t characterCount(std::string_view text) {
    std::size_t n = 0;
    forEachCharacter(text, [&](std::string_view) { ++n; });
    return n;
}

// ---- the writer's fixed pieces ----

struct Options {
    int32_t effect = 0;        ///< 0 none, 1 fill ("kf"), 2 outline ("ko")
    std::string_view tag;      ///< "kf" or "ko"
    double speed = 1;          ///< above 0
    std::string prefix;        ///< the style override block of every cue
    std::string fontAndAlign;  ///< "{\fn...}{\an...}"
};

Options makeOptions(const SaveSettings& s) {
    Options o;
    // Effect kinds other than fill and outline do not exist: plain styles.
    o.effect = (s.s_EffectStyle == 1 || s.s_EffectStyle == 2) ? s.s_EffectStyle : 0;
    o.tag = o.effect == 2 ? "ko" : "kf";
    // The speed divides durations; a speed of 0 or less would divide by zero
    // or reverse time.
    o.speed = s.s_EffectSpeed > 0 ? s.s_EffectSpeed : 1;

    o.prefix = "{\\b";
    appendInt(o.prefix, s.s_FontBold);
    o.prefix += "\\i";
    appendInt(o.prefix, s.s_FontItalic);
    if (s.s_FontOutline > 0) {
        o.prefix += "\\bord";
        appendInt(o.prefix, s.s_FontOutline);
        o.prefix += "\\3c";
        appendColour(o.prefix, s.s_EffectColor);
    }
    if (s.s_FontShadow > 0) {
        o.prefix += "\\shad";
        appendInt(o.prefix, s.s_FontShadow);
        o.prefix += "\\4c";
        appendColour(o.prefix, s.s_ShadowColor);
    }
    o.prefix += '}';

    o.fontAndAlign = "{\\fn" + s.s_FontName + "}{\\an";
    appendInt(o.fontAndAlign, s.s_SubtitleAlign);
    o.fontAndAlign += '}';
    return o;
}

void writeHeader(const SaveSettings& s, OutputLines& out) {
    std::string& h = out.NewLine();
    h += "[Script Info]\r\n";
    h += "Title: QRV\r\n";
    h += "ScriptType: V4.00\r\n";
    h += "Original Script: Lumeval subtitle converter\r\n";
    h += "Collisions: Normal\r\n";
    h += "PlayResX: ";
    appendInt(h, s.s_ScreenWidth);
    h += "\r\nPlayResY: ";
    appendInt(h, s.s_ScreenHeight);
    h += "\r\nTimer: 100.0000\r\n";
    h += "[v4 Styles]\r\n";
    h += "Format: Name,Fontname,Fontsize,PrimaryColour,SecondaryColour,TertiaryColour,BackColour,"
         "Bold,Italic,BorderStyle,Outline,Shadow,Alignment,MarginL,MarginR,MarginV,AlphaLevel,Encoding";
}

void writeStyles(const SaveSettings& s, const Options& o, OutputLines& out) {
    const double H = s.s_ScreenHeight;
    const auto alphaAndEncoding = [&](std::string& line) {
        appendInt(line, s.s_FontAlphaLevel);
        line += ',';
        appendInt(line, s.s_FontEncoding);
    };
    const auto colours = [&](std::string& line, std::string_view middle) {
        // fore, then `middle` (secondary and tertiary), then shadow as back colour.
        line += ',';
        appendColour(line, s.s_ForeColor);
        line += middle;
        appendColour(line, s.s_ShadowColor);
    };
    if (o.effect != 0) {
        std::string secondary = ",";
        appendColour(secondary, s.s_EffectColor);
        secondary += ",&H0,";

        std::string& left = out.NewLine();
        left += "Style: Default0,Arial,";
        appendInt(left, s.s_FontSize);
        colours(left, secondary);
        left += ",0,0,1,0,0,1,15,15,";
        appendNumber(left, RoundHalfEven(s.s_FontSize * 1.5) + 20);
        left += ',';
        alphaAndEncoding(left);

        std::string& right = out.NewLine();
        right += "Style: Default1,Arial,";
        appendInt(right, s.s_FontSize);
        colours(right, secondary);
        right += ",0,0,1,0,0,3,15,15,20,";
        alphaAndEncoding(right);
    } else {
        std::string middle = ",&HFFFFFF,";
        appendColour(middle, s.s_EffectColor);
        middle += ',';

        std::string& plain = out.NewLine();
        plain += "Style: Default0,Arial,";
        appendInt(plain, s.s_FontSize);
        colours(plain, middle);
        plain += ",0,0,1,0,0,2,15,15,20,";
        alphaAndEncoding(plain);
    }
    if (!s.s_BannerString.empty()) {
        std::string& banner = out.NewLine();
        banner += "Style: Default2,Arial,";
        appendNumber(banner, H * 0.05);
        banner += ",&HFFFFFF,&H0,&H0,&H0,1,0,1,2,1,1,15,15,";
        appendNumber(banner, H * 0.9);
        banner += ",0,";
        appendInt(banner, s.s_FontEncoding);
    }
    if (!s.s_TitleString.empty()) {
        std::string& title = out.NewLine();
        title += "Style: Default3,Arial,";
        appendNumber(title, H * 0.08);
        title += ",&HFFFFFF,&HFFFFFF,&H0,&H0,1,0,1,2,1,10,35,35,0,0,";
        appendInt(title, s.s_FontEncoding);
        title += "\r\n";  // an empty line after the styles
    }
}

constexpr std::string_view kDialogueHead = "Dialogue: Marked=0,";

void appendDialogueStart(std::string& line, double from, double to, std::string_view style) {
    line.append(kDialogueHead);
    appendTime(line, from);
    line += ',';
    appendTime(line, to);
    line += ',';
    line += style;
}

// A negative duration (a next cue closer than the lead-in, or a negative
// duration in a KSC list) means nothing to a player: it becomes 0.
void appendKaraokeTag(std::string& out, std::string_view tag, double centiseconds) {
    const double rounded = RoundHalfEven(centiseconds);
    out += "{\\";
    out += tag;
    appendNumber(out, rounded > 0 ? rounded : 0);
    out += '}';
}

// Karaoke text of a cue from a KSC source: syllable durations come with the
// entry, in milliseconds; missing ones count as 0.
std::string kscKaraoke(std::string_view text, bool bracketed, const std::vector<double>& durations,
                       std::string_view tag) {
    const auto duration = [&](std::size_t i) { return i < durations.size() ? durations[i] : 0.0; };
    std::string out;
    std::size_t i = 0;
    if (bracketed) {
        // "[syl][la][ble]": one tag per bracketed piece.
        std::size_t from = 0;
        for (;;) {
            const auto cut = text.find("][", from);
            const std::string_view piece =
                text.substr(from, cut == std::string_view::npos ? std::string_view::npos : cut - from);
            appendKaraokeTag(out, tag, duration(i++) / 10);
            out += withoutBrackets(piece);
            if (cut == std::string_view::npos) break;
            from = cut + 2;
        }
    } else {
        forEachCharacter(text, [&](std::string_view c) {
            appendKaraokeTag(out, tag, duration(i++) / 10);
            out += c;
        });
    }
    return out;
}

// Karaoke text of any other cue: the time from the previous start to the next
// start, less the lead-in, spread evenly over the characters.
std::string evenKaraoke(std::string_view text, double spanMs, double speed, std::string_view tag) {
    const std::size_t count = characterCount(text);
    std::string out;
    if (count == 0) return out;
    const double each = spanMs / static_cast<double>(count) / 10 / speed;
    std::string tagText;
    appendKaraokeTag(tagText, tag, each);
    out.reserve(text.size() + count * tagText.size());
    forEachCharacter(text, [&](std::string_view c) {
        out += tagText;
        out += c;
    });
    return out;
}

}  // namespace

// The karaoke effects look back at the entry before and number the cues by
// their place in the whole list; plain cues need only the entry ahead.
bool SsaWritesInPieces(const SaveSettings& s) { return makeOptions(s).effect == 0; }

bool WriteSsa(WriterContext& ctx) {
    const SaveSettings& s = ctx.settings;
    const auto& entries = ctx.entries;
    const Options o = makeOptions(s);
    const bool fromKsc = s.src_Format == kKindKsc;
    const std::size_t last = entries.empty() ? 0 : entries.size() - 1;

    {
        // Each cue gains its dialogue head, prefix and (with an effect) a tag
        // per character; one reservation spares the doublings of a large file.
        const std::size_t perCue = 64 + o.prefix.size() + o.fontAndAlign.size() + (o.effect ? 96 : 0);
        std::size_t estimate = ctx.out.text().size() + 2048;
        for (const auto& e : entries) estimate += e.size() * (o.effect ? 4 : 1) + perCue;
        ctx.out.reserve(estimate);
    }
    if (ctx.from == 0) {
        writeHeader(s, ctx.out);
        writeStyles(s, o, ctx.out);
        ctx.out.AppendLine(
            "[Events]\r\nFormat: Marked,Start,End,Style,Name,MarginL,MarginR,MarginV,Effect,Text\r\n");
    }

    // Everything of a plain cue's line after its times, put together once.
    std::string plainTail = ",Default0,,0000,0000,0000,,";
    plainTail += o.prefix;
    plainTail += o.fontAndAlign;

    // A start alone lasts until the next cue starts (as ImpliedEndMs has it).
    // The start of the entry looked ahead to is kept for its own turn: in a
    // lyric file that is the very next entry.
    // Its start text is the end's text too when the end is that start.
    std::size_t aheadIndex = std::string::npos;
    EntryParts ahead;
    double aheadStart = 0;
    bool aheadCanonical = false;
    const auto impliedEnd = [&](std::size_t j, double startMs, bool& endIsAhead) {
        endIsAhead = false;
        for (std::size_t k = j + 1; k < entries.size(); ++k) {
            const EntryParts next = SplitEntry(entries[k]);
            if (!next.hasBar) continue;
            aheadIndex = k;
            ahead = next;
            const int64_t table = next.startMs >= 0 ? next.startMs : tableTime(next.start);
            aheadCanonical = table >= 0;
            aheadStart = aheadCanonical ? static_cast<double>(table) : TimeToMSecs(next.start, ",");
            endIsAhead = aheadStart > startMs;
            if (endIsAhead) return aheadStart;
            break;
        }
        return startMs + kDefaultDurationMs;
    };

    std::string normalised;
    const bool written = ForEachEntry(ctx, [&](const EntryParts& p, std::size_t j) {
        if (IsEndMarker(p)) return false;
        const std::string_view entry = entries[j];
        const bool known = aheadIndex == j;
        // ReadEntryTimeMs, with the text of each time kept for writing it
        // when it is in the table's form (TableTimeMs gives form and value).
        // tableTime is -1 exactly where a time is not in the table's form.
        // Splitting reads times of two and three hour digits already.
        const int64_t startTable = known ? -1 : p.startMs >= 0 ? p.startMs : tableTime(p.start);
        const bool startCanonical = known ? aheadCanonical : startTable >= 0;
        std::string_view endText = p.end;
        const int64_t endTable = !p.hasArrow ? -1 : p.endMs >= 0 ? p.endMs : tableTime(endText);
        bool endCanonical = endTable >= 0;
        const double start = known            ? aheadStart
                             : startCanonical ? static_cast<double>(startTable)
                                              : TimeToMSecs(p.start, ",");
        double end = 0;
        if (p.hasArrow) {
            end = endCanonical ? static_cast<double>(endTable) : TimeToMSecs(endText, ",");
        } else {
            bool endIsAhead = false;
            end = impliedEnd(j, start, endIsAhead);
            endText = ahead.start;
            endCanonical = endIsAhead && aheadCanonical;
        }
        // An end of 0 would put the cue's end before its start.
        if (end == 0) {
            end = start + kDefaultDurationMs;
            endCanonical = false;
        }

        // "[" and "]" go, except around the syllables of a KSC source
        // ("[syl][la][ble]"), which keep them to be split at "][".
        const bool syllables = fromKsc && TrimSpaces(p.text).find("][") != std::string_view::npos;
        std::string bracketFree;
        std::string_view text = p.text;
        if (!syllables && hasBrackets(text)) {
            bracketFree = withoutBrackets(text);
            text = bracketFree;
        }

        if (o.effect == 0) {
            const std::string_view trimmed = TrimSpaces(text);
            // Centiseconds: a cue shorter than one keeps one. Times in the
            // table's form are whole milliseconds of at least 0, whose step
            // KeepVisible finds by division.
            if (startCanonical && endCanonical) {
                const int64_t startStep = static_cast<int64_t>(start) / 10;
                if (static_cast<int64_t>(end) / 10 <= startStep) {
                    end = static_cast<double>((startStep + 1) * 10);
                    endCanonical = false;
                }
            } else if (const double shown = KeepVisible(start, end, 10); shown != end) {
                end = shown;
                endCanonical = false;
            }
            if (!trimmed.empty()) {
                std::string& line = ctx.out.NewLine();
                if (startCanonical && endCanonical) {
                    // The usual case, put together in one piece.
                    char head[80];
                    std::memcpy(head, kDialogueHead.data(), kDialogueHead.size());
                    char* q = putCanonicalTime(head + kDialogueHead.size(), p.start);
                    *q++ = ',';
                    q = putCanonicalTime(q, endText);
                    line.append(head, q);
                } else {
                    line.append(kDialogueHead);
                    appendEntryTime(line, p.start, startCanonical, start);
                    line += ',';
                    appendEntryTime(line, endText, endCanonical, end);
                }
                line.append(plainTail);
                // A text without a backslash has no line break to rewrite.
                if (trimmed.find('\\') == std::string_view::npos) {
                    line.append(trimmed);
                } else {
                    AppendReplacingLineBreaks(line, text, "\\N");
                }
            }
        } else {
            // Entry 0 is the placeholder of a converted table; a saved list
            // has no cue before it, so it gets no lead-in.
            double leadIn = 0;
            double previous = start;
            const double next = j == last ? start : startOf(entries[j + 1]);
            if (j == 1) {
                leadIn = kFirstLeadInMs;
            } else if (j > 1) {
                previous = startOf(entries[j - 1]);
                leadIn = start - previous;
            }
            if (leadIn > kMaxLeadInMs) leadIn = kMaxLeadInMs;

            normalised.clear();
            AppendReplacingLineBreaks(normalised, text, "\\N");
            const std::string karaoke =
                fromKsc ? kscKaraoke(normalised, syllables, parseDurations(durationField(entry)), o.tag)
                        : evenKaraoke(normalised, next - previous - leadIn, o.speed, o.tag);
            if (!karaoke.empty()) {
                const bool lastCue = j == last && j != 1;
                std::string& line = ctx.out.NewLine();
                const double from = start - leadIn;
                appendDialogueStart(line, from, KeepVisible(from, lastCue ? end + kDefaultDurationMs : end, 10),
                                    (j % 2) == 0 ? "Default0" : "Default1");
                line += ",,0000,0000,0000,,";
                line += o.prefix;
                line += "{\\t(0,1,\\fsp20)}{\\t(1,200,\\fsp1)}{\\fad(500,200)}";
                line += o.fontAndAlign;
                if (RoundHalfEven(leadIn / 10) >= 1) {
                    line += "{\\k";
                    appendNumber(line, RoundHalfEven(leadIn / 10));
                    line += '}';
                }
                line += karaoke;
            }
        }
        return true;
    }, StepAfter::kHandledEntry, [&](const LineTable& all, std::size_t j) {
        return j == aheadIndex ? ahead : SplitEntry(all[j]);  // split once, looking ahead
    });
    if (!written) return false;
    if (ctx.more) return true;  // the closing lines come with the last piece

    // The count-down runs up to the first cue; a list without a cue at index 1
    // has nothing to count down to.
    if (o.effect != 0 && last >= 1) {
        const double first = startOf(entries[1]);
        double from = 0;
        double to = 0;
        bool countDown = true;
        if (first > 5000) {
            from = first - 8000;
            to = first - 3000;
        } else if (first > 3000) {
            to = first - 3000;
        } else {
            countDown = false;
        }
        if (countDown) {
            std::string& line = ctx.out.NewLine();
            appendDialogueStart(line, from, KeepVisible(from, to, 10),
                                ((last + 1) % 2) == 0 ? "Default0" : "Default1");
            line += ",,0000,0000,0000,,{\\fad(80,150)}{\\fn";
            line += s.s_FontName;
            line += "}{\\k100}{\\ko50}..{\\ko50}..{\\ko50}.. {\\ko50}>{\\ko50}>{\\ko50}>{\\ko50}>{\\ko50}>";
        }
    }

    if (!s.s_BannerString.empty()) {
        std::string& line = ctx.out.NewLine();
        line += "Dialogue: Marked=0,0:00:03.00,0:02:00.00,Default2,,0000,0000,0000,Banner;30;0,"
                "{\\fad(5000,80)}{\\fn黑体}";
        line += s.s_BannerString;
    }

    if (!s.s_TitleString.empty()) {
        std::string& line = ctx.out.NewLine();
        line += "Dialogue: Marked=0,0:00:03.00,0:00:15.00,Default3,,0000,0000,0000,,{\\fad(500,80)}{\\fn";
        line += s.s_FontName;
        line += '}';
        std::string lineBreak = "\\N\\N{\\fs";
        appendNumber(lineBreak, std::floor(s.s_ScreenHeight * 0.07));
        lineBreak += '}';
        line += ReplaceAll(s.s_TitleString, "\r\n", lineBreak);
    }
    return true;
}

}  // namespace lumeval
