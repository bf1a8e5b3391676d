// Time texts both ways. The readers run once per time of every cue, so the
// fixed forms are matched by hand and the common "HH:MM:SS,mmm" form is read
// and written without touching the heap.

#include "engine/timecode.h"

#include <bit>
#include <charconv>
#include <cstring>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace lumeval {

double RoundHalfEven(double value) {
    // Whole numbers (nearly every time) are already rounded; nearbyint saves
    // and restores the floating-point state on every call.
    if (std::fabs(value) < 9.0e15) {
        const auto whole = static_cast<int64_t>(value);
        if (static_cast<double>(whole) == value) return value;
    }
    // Under the default rounding mode nearbyint rounds ties to even.
    return std::nearbyint(value);
}

namespace {

constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// ---------------------------------------------------------------------------
// Writing

// Largest double below 2^63: every count up to it converts to a 64-bit integer
// without undefined behaviour and its hours still fit comfortably in 64 bits.
constexpr double kMaxMSecs = 9223372036854774784.0;

// Rounds once, then splits in integers. Rounding the whole count first keeps
// every field consistent: 999.6 ms becomes 1000 ms and so 1 s, never a
// millisecond field of "1000" (the rest is always a whole 0..999).
struct Clock {
    bool negative = false;
    uint64_t hours = 0;
    uint64_t minutes = 0;
    uint64_t seconds = 0;
    uint64_t millis = 0;
};

// NaN counts as 0; magnitudes beyond kMaxMSecs are clamped to it.
uint64_t RoundedMagnitude(double msecs, bool& negative) {
    negative = false;
    if (std::isnan(msecs)) return 0;
    double r = RoundHalfEven(msecs);
    if (r < 0) {
        negative = true;
        r = -r;
    }
    if (r > kMaxMSecs) r = kMaxMSecs;
    if (r == 0) negative = false;
    return static_cast<uint64_t>(r);
}

Clock Decompose(double msecs, bool clampNegative) {
    Clock c;
    bool negative = false;
    uint64_t total = RoundedMagnitude(msecs, negative);
    if (negative && clampNegative) return c;
    c.negative = negative;
    c.hours = total / 3600000;
    total %= 3600000;
    c.minutes = total / 60000;
    total %= 60000;
    c.seconds = total / 1000;
    c.millis = total % 1000;
    return c;
}

// Writes v with at least `width` digits (zero-padded) and returns the end.
char* PutNumber(char* out, uint64_t v, int width) {
    char tmp[24];
    int n = 0;
    do {
        tmp[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    while (n < width) tmp[n++] = '0';
    while (n > 0) *out++ = tmp[--n];
    return out;
}

// The widest text is style 3 with clamped input: 16 + 1 + 2 + 1 + 3 digits.
constexpr std::size_t kTimeBuffer = 64;

}  // namespace

std::string MSecsToTime(double LngMSecs, int16_t TimeStyle) {
    if (TimeStyle == 0) {
        std::string out;
        AppendTimeStyle0(out, LngMSecs);
        return out;
    }
    const Clock c = Decompose(LngMSecs, /*clampNegative=*/true);
    const uint64_t totalMinutes = c.hours * 60 + c.minutes;
    const uint64_t centis = c.millis / 10;
    char buf[kTimeBuffer];
    char* p = buf;
    switch (TimeStyle) {
        case 1:  // H:MM:SS.cc
            p = PutNumber(p, c.hours, 1);
            *p++ = ':';
            p = PutNumber(p, c.minutes, 2);
            *p++ = ':';
            p = PutNumber(p, c.seconds, 2);
            *p++ = '.';
            p = PutNumber(p, centis, 2);
            break;
        case 2:  // MM:SS.cc
        case 3:  // MM:SS.mmm
        case 4:  // MM:SS
            p = PutNumber(p, totalMinutes, 2);
            *p++ = ':';
            p = PutNumber(p, c.seconds, 2);
            if (TimeStyle == 2) {
                *p++ = '.';
                p = PutNumber(p, centis, 2);
            } else if (TimeStyle == 3) {
                *p++ = '.';
                p = PutNumber(p, c.millis, 3);
            }
            break;
        default:  // 0, 5, 98, 99 and every other value: HH:MM:SS then the tail
            p = PutNumber(p, c.hours, 2);
            *p++ = ':';
            p = PutNumber(p, c.minutes, 2);
            *p++ = ':';
            p = PutNumber(p, c.seconds, 2);
            if (TimeStyle == 5) {
                *p++ = ':';
                p = PutNumber(p, centis, 2);
            } else if (TimeStyle == 98) {
                *p++ = '.';
                p = PutNumber(p, c.millis, 3);
            } else if (TimeStyle != 99) {
                *p++ = ',';
                p = PutNumber(p, c.millis, 3);
            }
            break;
    }
    return std::string(buf, p);
}

std::string MSecsToCueTime(double LngMSecs) {
    bool negative = false;
    uint64_t total = RoundedMagnitude(LngMSecs, negative);
    if (negative) total = 0;
    char buf[kTimeBuffer];
    char* p = PutNumber(buf, total / 60000, 2);
    *p++ = ':';
    p = PutNumber(p, total % 60000 / 1000, 2);
    *p++ = ':';
    p = PutNumber(p, total % 1000 / 10, 2);
    return std::string(buf, p);
}

std::string FormatTime(double LngMSecs, bool MSecUse, std::string_view MSecString) {
    // Not clamped: a negative count gives fields that each carry a sign, the
    // way a signed number is written with at least two digits ("-01").
    const Clock c = Decompose(LngMSecs, /*clampNegative=*/false);
    auto put = [&c](std::string& out, uint64_t v, int width) {
        char buf[24];
        char* p = buf;
        if (c.negative && v != 0) *p++ = '-';
        p = PutNumber(p, v, width);
        out.append(buf, p);
    };
    std::string out;
    out.reserve(16 + MSecString.size());
    put(out, c.hours, 2);
    out += ':';
    put(out, c.minutes, 2);
    out += ':';
    put(out, c.seconds, 2);
    if (MSecUse) {
        out += MSecString;
        put(out, c.millis, 3);
    }
    return out;
}

// ---------------------------------------------------------------------------
// Reading

namespace {

// Whole-text match; '#' stands for one decimal digit.
bool Matches(std::string_view s, std::string_view pattern) {
    if (s.size() != pattern.size()) return false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (pattern[i] == '#' ? !IsDigit(s[i]) : s[i] != pattern[i]) return false;
    }
    return true;
}

// Value of n digits at pos (already known to be digits).
int32_t DigitsAt(std::string_view s, std::size_t pos, std::size_t n) {
    int32_t v = 0;
    for (std::size_t i = pos; i < pos + n; ++i) v = v * 10 + (s[i] - '0');
    return v;
}

// Length of the longest prefix that is a decimal number: an optional sign,
// digits, optionally "." and more digits, at least one digit in all. No
// exponent, hexadecimal or digit grouping: time texts never use them, and a
// text like "1e3" is far more likely damage than a thousand seconds.
std::size_t NumberPrefix(std::string_view s) {
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
    std::size_t end = digits > 0 ? i : 0;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
        if (digits > 0) end = i;
    }
    return end;
}

bool IsNumber(std::string_view s) { return !s.empty() && NumberPrefix(s) == s.size(); }

// A decimal number (as NumberPrefix accepts it) times 10^scale, rounded half
// to even exactly on the decimal digits, so "0.0025" seconds is 2 ms, not
// whatever a binary double would make of it. nullopt when the magnitude
// passes kFieldLimit, however many digits the text has.
constexpr int64_t kFieldLimit = kMaxTimeMs;

std::optional<int64_t> ScaledRounded(std::string_view num, int scale) {
    bool negative = false;
    std::size_t i = 0;
    if (i < num.size() && (num[i] == '+' || num[i] == '-')) negative = num[i++] == '-';
    int64_t v = 0;
    auto push = [&v](int d) {
        v = v * 10 + d;
        return v <= kFieldLimit;  // stays far inside 64 bits
    };
    for (; i < num.size() && IsDigit(num[i]); ++i) {
        if (!push(num[i] - '0')) return std::nullopt;
    }
    if (i < num.size() && num[i] == '.') ++i;
    for (int k = 0; k < scale; ++k) {
        int d = (i < num.size() && IsDigit(num[i])) ? num[i++] - '0' : 0;
        if (!push(d)) return std::nullopt;
    }
    // The rest decides the rounding: above half, exactly half, or below.
    if (i < num.size() && IsDigit(num[i])) {
        const int first = num[i++] - '0';
        bool beyond = false;
        for (; i < num.size() && IsDigit(num[i]); ++i) {
            if (num[i] != '0') {
                beyond = true;
                break;
            }
        }
        if (first > 5 || (first == 5 && (beyond || (v & 1) != 0))) ++v;
    }
    if (v > kFieldLimit) return std::nullopt;
    return negative ? -v : v;
}

// A field of the fallback form, rounded to a whole number. TimeToMSecs reads
// the field from its start as far as it forms a number, TimeToSec only a field
// that is a number throughout; anything else counts as 0.
std::optional<int64_t> FieldValue(std::string_view field, bool lenient) {
    const std::size_t n = NumberPrefix(field);
    if (n == 0 || (!lenient && n != field.size())) return 0;
    return ScaledRounded(field.substr(0, n), 0);
}

// What a time text says, before the total is formed.
struct Reading {
    bool overflow = false;  // a field beyond any time a text can hold
    int64_t hours = 0;
    int64_t minutes = 0;
    int64_t seconds = 0;
    int64_t fractionMs = 0;       // milliseconds added
    int64_t fraction = 0;         // the fraction's own value
    int64_t fractionPerSec = 0;   // 100 or 1000; 0 when there is none
    bool bare = false;            // form 8: the text is a number of seconds
    std::string_view bareText;    // that number (a view into the read text)
};

// The fixed forms, tried in the documented order. Forms of one length never
// match the same text, so only the fallback loses texts to the dotted SubRip
// forms that sit right after form 2.
bool ReadFixed(std::string_view t, Reading& r) {
    auto hms = [&](std::size_t hPos, std::size_t hLen, std::size_t mPos, std::size_t sPos) {
        r.hours = DigitsAt(t, hPos, hLen);
        r.minutes = DigitsAt(t, mPos, 2);
        r.seconds = DigitsAt(t, sPos, 2);
    };
    auto frac = [&](std::size_t pos, std::size_t len) {
        r.fraction = DigitsAt(t, pos, len);
        r.fractionPerSec = len == 3 ? 1000 : 100;
        r.fractionMs = len == 3 ? r.fraction : r.fraction * 10;
    };
    switch (t.size()) {
        case 12:
            if (Matches(t, "##:##:##,###") || Matches(t, "##:##:##.###")) {  // 1, dotted SubRip
                hms(0, 2, 3, 6);
                frac(9, 3);
                return true;
            }
            break;
        case 11:
            if (Matches(t, "#:##:##,###") || Matches(t, "#:##:##.###")) {  // 1, dotted SubRip
                hms(0, 1, 2, 5);
                frac(8, 3);
                return true;
            }
            if (Matches(t, "##:##:##.##")) {  // dotted SubRip with hundredths
                hms(0, 2, 3, 6);
                frac(9, 2);
                return true;
            }
            if (Matches(t, "##:##:##:##")) {  // 6
                hms(0, 2, 3, 6);
                frac(9, 2);
                return true;
            }
            break;
        case 10:
            if (Matches(t, "#:##:##.##")) {  // 2
                hms(0, 1, 2, 5);
                frac(8, 2);
                return true;
            }
            if (Matches(t, "###:##.###")) {  // 4, three-digit minutes
                r.minutes = DigitsAt(t, 0, 3);
                r.seconds = DigitsAt(t, 4, 2);
                frac(7, 3);
                return true;
            }
            break;
        case 9:
            if (Matches(t, "##:##.###")) {  // 4
                r.minutes = DigitsAt(t, 0, 2);
                r.seconds = DigitsAt(t, 3, 2);
                frac(6, 3);
                return true;
            }
            break;
        case 8:
            if (Matches(t, "##:##.##")) {  // 3
                r.minutes = DigitsAt(t, 0, 2);
                r.seconds = DigitsAt(t, 3, 2);
                frac(6, 2);
                return true;
            }
            if (Matches(t, "##:##:##")) {  // 7
                hms(0, 2, 3, 6);
                return true;
            }
            break;
        case 5:
            if (Matches(t, "##:##")) {  // 5
                r.minutes = DigitsAt(t, 0, 2);
                r.seconds = DigitsAt(t, 3, 2);
                return true;
            }
            break;
        default:
            break;
    }
    // Hours of three digits or more (100 hours and past, as the table writes
    // them): the two-digit forms with a wider hours field.
    std::size_t h = 0;
    while (h < t.size() && IsDigit(t[h])) ++h;
    if (h < 3 || h > 9) return false;  // more hours than a time holds go to the fallback
    const std::string_view tail = t.substr(h);
    const bool comma3 = Matches(tail, ":##:##,###");
    const bool dot3 = Matches(tail, ":##:##.###");
    const bool dot2 = Matches(tail, ":##:##.##");
    const bool colon2 = Matches(tail, ":##:##:##");
    if (!(comma3 || dot3 || dot2 || colon2)) return false;
    hms(0, h, h + 1, h + 4);
    frac(h + 7, comma3 || dot3 ? 3 : 2);
    return true;
}

// Form 9: ":" fields 0, 1 and 2 of the part before the first separator are
// hours, minutes and seconds (missing ones are 0); the part after it is the
// fraction. An empty separator splits nothing off.
void ReadFallback(std::string_view t, std::string_view sep, bool lenient, Reading& r) {
    std::string_view head = t;
    std::string_view tail;
    bool hasTail = false;
    if (!sep.empty()) {
        const std::size_t at = t.find(sep);
        if (at != std::string_view::npos) {
            head = t.substr(0, at);
            tail = t.substr(at + sep.size());
            hasTail = true;
        }
    }
    int64_t* fields[3] = {&r.hours, &r.minutes, &r.seconds};
    std::string_view rest = head;
    for (int i = 0; i < 3; ++i) {
        const std::size_t colon = rest.find(':');
        const std::string_view field = rest.substr(0, colon);
        const auto v = FieldValue(field, lenient);
        if (!v) {
            r.overflow = true;
            return;
        }
        *fields[i] = *v;
        if (colon == std::string_view::npos) break;
        rest = rest.substr(colon + 1);
    }
    if (hasTail) {
        const auto v = FieldValue(tail, lenient);
        if (!v) {
            r.overflow = true;
            return;
        }
        r.fraction = *v;
        r.fractionMs = *v;
        r.fractionPerSec = sep == "." ? 100 : 1000;
    }
}

// Spaces read as "0" (a padded "00:00:01, 50" is 1050 ms). Short texts, the
// only ones a fixed form can match, are rewritten in a stack buffer.
class SpacesAsZeros {
public:
    explicit SpacesAsZeros(std::string_view s) {
        if (s.find(' ') == std::string_view::npos) {
            view_ = s;
            return;
        }
        char* out = buf_;
        if (s.size() > sizeof(buf_)) {
            heap_.assign(s);
            out = heap_.data();
        } else {
            s.copy(buf_, s.size());
        }
        for (std::size_t i = 0; i < s.size(); ++i) {
            if (out[i] == ' ') out[i] = '0';
        }
        view_ = std::string_view(out, s.size());
    }
    SpacesAsZeros(const SpacesAsZeros&) = delete;
    SpacesAsZeros& operator=(const SpacesAsZeros&) = delete;
    std::string_view view() const { return view_; }

private:
    char buf_[32];
    std::string heap_;
    std::string_view view_;
};

Reading Read(std::string_view text, std::string_view sep, bool lenient) {
    Reading r;
    if (ReadFixed(text, r)) return r;
    if (IsNumber(text)) {
        r.bare = true;
        r.bareText = text;
        return r;
    }
    ReadFallback(text, sep, lenient, r);
    return r;
}

// hours x 3600 + minutes x 60 + seconds; nullopt beyond what a time can hold.
std::optional<int64_t> WholeSeconds(const Reading& r) {
    int64_t h = 0;
    int64_t m = 0;
    int64_t sum = 0;
    if (__builtin_mul_overflow(r.hours, int64_t{3600}, &h) ||
        __builtin_mul_overflow(r.minutes, int64_t{60}, &m) ||
        __builtin_add_overflow(h, m, &sum) || __builtin_add_overflow(sum, r.seconds, &sum) ||
        sum > kMaxTimeMs / 1000 || sum < -kMaxTimeMs / 1000) {
        return std::nullopt;
    }
    return sum;
}

// The double value of a bare number; nullopt when it is out of range.
std::optional<double> BareSeconds(std::string_view num) {
    bool negative = false;
    if (!num.empty() && (num.front() == '+' || num.front() == '-')) {
        negative = num.front() == '-';
        num.remove_prefix(1);
    }
    double v = 0;
    const auto res = std::from_chars(num.data(), num.data() + num.size(), v);
    if (res.ec != std::errc() || !std::isfinite(v) || v * 1000 > static_cast<double>(kMaxTimeMs)) {
        return std::nullopt;
    }
    return negative ? -v : v;
}

// A leading "-" makes the whole time negative ("-00:00:05,000" is -5 s); the
// fields themselves are read without it.
bool TakeSign(std::string_view& t) {
    if (t.size() > 1 && t.front() == '-' && t[1] != '-' && t[1] != '+') {
        t.remove_prefix(1);
        return true;
    }
    return false;
}

std::optional<int64_t> ReadMs(std::string_view TimeString, std::string_view MSecString) {
    const SpacesAsZeros text(TimeString);
    std::string_view t = text.view();
    const bool negative = TakeSign(t);
    const Reading r = Read(t, MSecString, /*lenient=*/true);
    int64_t total = 0;
    if (r.bare) {
        const auto ms = ScaledRounded(r.bareText, 3);
        if (!ms) return std::nullopt;
        total = *ms;
    } else {
        if (r.overflow) return std::nullopt;
        const auto secs = WholeSeconds(r);
        if (!secs) return std::nullopt;
        total = *secs * 1000 + r.fractionMs;
    }
    if (total > kMaxTimeMs || total < -kMaxTimeMs) return std::nullopt;
    return negative ? -total : total;
}

std::optional<double> ReadSec(std::string_view TimeString, bool MSecUse, std::string_view MSecString) {
    const SpacesAsZeros text(TimeString);
    std::string_view t = text.view();
    const bool negative = TakeSign(t);
    const Reading r = Read(t, MSecString, /*lenient=*/false);
    double result = 0;
    if (r.bare) {
        // The whole number is seconds. Without MSecUse only its whole seconds
        // count, as for every other form (a bare "12" is 12 s, not 0).
        const auto v = BareSeconds(r.bareText);
        if (!v) return std::nullopt;
        result = MSecUse ? *v : std::trunc(*v) + 0.0;  // no negative zero
    } else {
        if (r.overflow) return std::nullopt;
        const auto secs = WholeSeconds(r);
        if (!secs) return std::nullopt;
        result = static_cast<double>(*secs);
        if (MSecUse && r.fractionPerSec != 0) {
            result += static_cast<double>(r.fraction) / static_cast<double>(r.fractionPerSec);
        }
    }
    if (std::fabs(result) * 1000 > static_cast<double>(kMaxTimeMs)) return std::nullopt;
    return negative && result != 0 ? -result : result;
}

}  // namespace

double TimeToMSecs(std::string_view TimeString, std::string_view MSecString) {
    const auto ms = ReadMs(TimeString, MSecString);
    return ms ? static_cast<double>(*ms) : 0.0;
}

double TimeToSec(std::string_view TimeString, bool MSecUse, std::string_view MSecString) {
    return ReadSec(TimeString, MSecUse, MSecString).value_or(0.0);
}

std::optional<double> TimeToSecChecked(std::string_view TimeString, bool MSecUse,
                                       std::string_view MSecString) {
    return ReadSec(TimeString, MSecUse, MSecString);
}

std::optional<int64_t> TimeToMSecsChecked(std::string_view TimeString, std::string_view MSecString) {
    return ReadMs(TimeString, MSecString);
}

double CueTimeToMSecs(std::string_view TimeString) {
    if (!Matches(TimeString, "##:##:##")) return 0.0;
    const int32_t minutes = DigitsAt(TimeString, 0, 2);
    const int32_t seconds = DigitsAt(TimeString, 3, 2);
    const int32_t centis = DigitsAt(TimeString, 6, 2);
    return static_cast<double>((minutes * 60 + seconds) * 1000 + centis * 10);
}

namespace {

// Whole non-negative counts below 100 hours are nearly every time a table
// holds; the fast writers take them field by field.
struct FastClock {
    uint32_t h, m, s, ms;
};

bool ReadFastClock(double LngMSecs, FastClock& c) {
    if (!(LngMSecs >= 0 && LngMSecs < 360000000.0)) return false;
    const auto total = static_cast<uint32_t>(RoundHalfEven(LngMSecs));
    if (total >= 360000000u) return false;
    c = {total / 3600000u, total / 60000u % 60u, total / 1000u % 60u, total % 1000u};
    return true;
}

}  // namespace

void AppendTimeStyle0(std::string& out, double LngMSecs) {
    // The common case, digit by digit into a fixed buffer.
    if (FastClock c; ReadFastClock(LngMSecs, c)) {
        const uint32_t h = c.h, m = c.m, sec = c.s, ms = c.ms;
        const char buf[12] = {static_cast<char>('0' + h / 10),   static_cast<char>('0' + h % 10),
                              ':',
                              static_cast<char>('0' + m / 10),   static_cast<char>('0' + m % 10),
                              ':',
                              static_cast<char>('0' + sec / 10), static_cast<char>('0' + sec % 10),
                              ',',
                              static_cast<char>('0' + ms / 100), static_cast<char>('0' + ms / 10 % 10),
                              static_cast<char>('0' + ms % 10)};
        out.append(buf, sizeof buf);
        return;
    }
    const Clock c = Decompose(LngMSecs, /*clampNegative=*/true);
    char buf[kTimeBuffer];
    char* p = PutNumber(buf, c.hours, 2);
    *p++ = ':';
    p = PutNumber(p, c.minutes, 2);
    *p++ = ':';
    p = PutNumber(p, c.seconds, 2);
    *p++ = ',';
    p = PutNumber(p, c.millis, 3);
    out.append(buf, p);
}

void AppendTimeStyle1(std::string& out, double LngMSecs) {
    // The common case: hours unpadded, centiseconds truncated.
    if (FastClock c; ReadFastClock(LngMSecs, c)) {
        const uint32_t h = c.h, m = c.m, sec = c.s, cs = c.ms / 10u;
        char buf[11];
        char* p = buf;
        if (h >= 10) *p++ = static_cast<char>('0' + h / 10);
        *p++ = static_cast<char>('0' + h % 10);
        *p++ = ':';
        *p++ = static_cast<char>('0' + m / 10);
        *p++ = static_cast<char>('0' + m % 10);
        *p++ = ':';
        *p++ = static_cast<char>('0' + sec / 10);
        *p++ = static_cast<char>('0' + sec % 10);
        *p++ = '.';
        *p++ = static_cast<char>('0' + cs / 10);
        *p++ = static_cast<char>('0' + cs % 10);
        out.append(buf, p);
        return;
    }
    // Longer non-negative times (a long lyric file passes 100 hours) without
    // building a string first; the rest (negative, NaN, huge) below.
    if (LngMSecs >= 0 && LngMSecs <= kMaxMSecs) {
        const Clock c = Decompose(LngMSecs, /*clampNegative=*/true);
        char buf[kTimeBuffer];
        char* p = PutNumber(buf, c.hours, 1);
        *p++ = ':';
        p = PutNumber(p, c.minutes, 2);
        *p++ = ':';
        p = PutNumber(p, c.seconds, 2);
        *p++ = '.';
        p = PutNumber(p, c.millis / 10, 2);
        out.append(buf, p);
        return;
    }
    out += MSecsToTime(LngMSecs, 1);
}

namespace {
bool IsCanonicalTime12(std::string_view t);
}  // namespace

bool IsCanonicalTime(std::string_view t) {
    // Hours 100 to 499 also copy exactly: style 0 writes them unpadded, and
    // their milliseconds stay far from the 32-bit limit (596 hours).
    if (t.size() == 13) return t[0] >= '1' && t[0] <= '4' && IsCanonicalTime12(t.substr(1));
    return IsCanonicalTime12(t);
}

namespace {

bool IsCanonicalTime12(std::string_view t) { return t.size() == 12 && CanonicalTime12Ms(t.data()) >= 0; }

}  // namespace

int32_t CanonicalTimeMs(std::string_view t) {
    int32_t hundreds = 0;
    if (t.size() == 13) {
        hundreds = t[0] - '0';
        t.remove_prefix(1);
    }
    auto d = [&](std::size_t i) { return static_cast<int32_t>(t[i] - '0'); };
    return ((hundreds * 100 + d(0) * 10 + d(1)) * 3600 + (d(3) * 10 + d(4)) * 60 + d(6) * 10 +
            d(7)) * 1000 +
           d(9) * 100 + d(10) * 10 + d(11);
}

int64_t TableTimeMs(std::string_view t) {
    if (t.size() < 12 || t.size() > 19) return -1;
    // The last twelve bytes are "HH:MM:SS,mmm" whatever the width of the
    // hours; any hour digits before them come first.
    const std::string_view last = t.substr(t.size() - 12);
    if (!IsCanonicalTime12(last)) return -1;
    const std::size_t wide = t.size() - 12;
    if (wide > 0 && t[0] == '0') return -1;
    int64_t hours = 0;
    for (std::size_t i = 0; i < wide; ++i) {
        if (!IsDigit(t[i])) return -1;
        hours = hours * 10 + (t[i] - '0');
    }
    // The digits of "HH:MM:SS" and "mmm" a word at a time (byte i at bits 8i
    // where that is the order in memory).
    if constexpr (std::endian::native == std::endian::little) {
        uint64_t a;
        uint32_t b;
        std::memcpy(&a, last.data(), 8);
        std::memcpy(&b, last.data() + 8, 4);
        a -= 0x3030003030003030ULL;
        b -= 0x30303000u;
        const auto byte = [](uint64_t w, int i) { return static_cast<int64_t>((w >> (8 * i)) & 0xFF); };
        hours = hours * 100 + byte(a, 0) * 10 + byte(a, 1);
        const int64_t minutes = byte(a, 3) * 10 + byte(a, 4);
        const int64_t seconds = byte(a, 6) * 10 + byte(a, 7);
        const int64_t millis = byte(b, 1) * 100 + byte(b, 2) * 10 + byte(b, 3);
        return ((hours * 60 + minutes) * 60 + seconds) * 1000 + millis;
    }
    const auto d = [&last](std::size_t i) { return static_cast<int64_t>(last[i] - '0'); };
    hours = hours * 100 + d(0) * 10 + d(1);
    return ((hours * 60 + d(3) * 10 + d(4)) * 60 + d(6) * 10 + d(7)) * 1000 + d(9) * 100 + d(10) * 10 +
           d(11);
}

}  // namespace lumeval
