#include "document/findreplace.h"

#include <unicode/regex.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <limits>
#include <unordered_map>

#include "document/document.h"
#include "engine/encoding/chinese.h"

namespace lumeval::doc {

namespace {

// ICU counts its time limit in steps of its own: 2000 stop (a+)+$ on a run
// of a's after about half a second here.
constexpr int32_t kDefaultSteps = 2000;
// A whole operation (every row of a large document) stops after this.
constexpr std::chrono::milliseconds kDefaultBudget{20000};

// ICU's reason for a bad pattern, in the window's language.
QString RegexReason(UErrorCode code) {
    switch (code) {
        case U_REGEX_MISMATCHED_PAREN: return QStringLiteral("括号不成对");
        case U_REGEX_MISSING_CLOSE_BRACKET: return QStringLiteral("缺少 ]");
        case U_REGEX_BAD_ESCAPE_SEQUENCE: return QStringLiteral("无效的转义序列");
        case U_REGEX_BAD_INTERVAL: return QStringLiteral("无效的重复次数 {…}");
        case U_REGEX_MAX_LT_MIN: return QStringLiteral("重复次数的上限小于下限");
        case U_REGEX_INVALID_RANGE: return QStringLiteral("无效的字符范围");
        case U_REGEX_INVALID_BACK_REF: return QStringLiteral("引用了不存在的组");
        case U_REGEX_LOOK_BEHIND_LIMIT: return QStringLiteral("后行断言的长度必须有上限");
        case U_REGEX_NUMBER_TOO_BIG: return QStringLiteral("数字太大");
        case U_REGEX_PROPERTY_SYNTAX: return QStringLiteral("无效的字符属性");
        case U_REGEX_INVALID_FLAG: return QStringLiteral("无效的选项");
        case U_REGEX_INVALID_CAPTURE_GROUP_NAME: return QStringLiteral("无效的组名");
        case U_REGEX_RULE_SYNTAX: return QStringLiteral("语法错误");
        default: return QStringLiteral("语法错误");
    }
}

const QString kTimedOut = QStringLiteral("正则表达式运行时间太长，已停止（常见于嵌套的重复，如 (a+)+）");
const QString kBudgetSpent = QStringLiteral("查找用时太长，已停止");

// Whole words: a match may not run on into a word on either side, unless
// its own edge is no word character ("-b" in "a-b"). Chinese and Japanese
// run their words together, so each ideograph or kana stands alone and a
// Latin word next to one is whole; the letter of "\N", "\n" or "\h" (a
// line break or hard space in cue text) is no word either. As lookarounds
// round the pattern, ICU's backtracking finds the whole alternative
// ("category" of cat|category) where a check after the match would not.
constexpr char16_t kWordChar[] = u"[[\\p{L}\\p{M}\\p{Nd}\\p{Pc}]-[\\p{Ideographic}\\p{sc=Hira}\\p{sc=Kana}]]";

icu::UnicodeString WholeWords(const icu::UnicodeString& pattern, bool regex) {
    const icu::UnicodeString w(kWordChar);
    const icu::UnicodeString escape(u"(?<=\\\\[Nnh])");
    icu::UnicodeString out;
    out += u"(?:(?<!" + w + u")|(?!" + w + u")|" + escape + u")";
    if (regex) {
        out += u"(?:" + pattern + u")";
    } else {
        // Quoted, with any \E inside it closed, escaped and reopened.
        icu::UnicodeString quoted(pattern);
        quoted.findAndReplace(u"\\E", u"\\E\\\\E\\Q");
        out += u"\\Q" + quoted + u"\\E";
    }
    out += u"(?:(?!" + w + u")|(?<!" + w + u")|" + escape + u")";
    return out;
}

char32_t FoldOnce(char32_t c) {
    std::string one;
    UChar32 cp = static_cast<UChar32>(c);
    char buf[4];
    int32_t n = 0;
    UBool error = false;
    U8_APPEND(reinterpret_cast<uint8_t*>(buf), n, 4, cp, error);
    if (error) return c;
    one.assign(buf, static_cast<std::size_t>(n));
    const std::string mapped = ToSimplifiedChinese(one);
    // Only a single character of the same UTF-16 length keeps positions.
    int32_t i = 0;
    UChar32 out = 0;
    const auto* b = reinterpret_cast<const uint8_t*>(mapped.data());
    const auto len = static_cast<int32_t>(mapped.size());
    if (len == 0) return c;
    U8_NEXT(b, i, len, out);
    if (out < 0 || i != len || U16_LENGTH(out) != U16_LENGTH(cp)) return c;
    return static_cast<char32_t>(out);
}

}  // namespace

char32_t FoldChinese(char32_t c) {
    // The CJK blocks start at U+2E80; nothing below maps.
    if (c < 0x2E80 || c > 0x10FFFF) return c;
    const auto fold = [](char32_t x) {
        // A few characters map on once more (A to B to C): go to the end,
        // so text and pattern land on the same form whichever they hold.
        for (int i = 0; i < 3; ++i) {
            const char32_t y = FoldOnce(x);
            if (y == x) break;
            x = y;
        }
        return x;
    };
    if (c <= 0xFFFF) {
        thread_local std::vector<char16_t> table;
        if (table.empty()) table.assign(0x10000, 0);
        char16_t& slot = table[c];
        if (slot == 0) slot = static_cast<char16_t>(fold(c));
        return slot;
    }
    thread_local std::unordered_map<char32_t, char32_t> wide;
    auto it = wide.find(c);
    if (it == wide.end()) it = wide.emplace(c, fold(c)).first;
    return it->second;
}

struct Searcher::Impl {
    std::unique_ptr<icu::RegexPattern> pattern;
    std::unique_ptr<icu::RegexMatcher> matcher;
    // Plain text with case counting and no folding: rows without its bytes
    // cannot match, and most rows are skipped on a byte search alone.
    std::string prefilter;
    bool usePrefilter = false;
    // ASCII text with case ignored: in a row whose other characters cannot
    // fold to ASCII, a byte search without case decides as well.
    std::string lowered;
    bool asciiFilter = false;
    bool fold = false;

    // The text loaded: UTF-16 (folded when asked) and, for each unit, the
    // byte where it starts in the UTF-8 original (one more for the end).
    std::string_view text;
    icu::UnicodeString u16;
    std::vector<uint32_t> byteAt;
    bool offsetsReady = false;
    int32_t units = 0;

    struct Part {
        std::string literal;
        int32_t group = -1;  ///< -1: the literal
    };
    std::vector<Part> replacement;
    bool hasReplacement = false;

    int32_t steps = kDefaultSteps;
    std::chrono::milliseconds budget = kDefaultBudget;
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
    uint32_t ticks = 0;

    // True when `text` certainly holds no match from byte `from` on.
    bool CannotMatch(std::string_view t, std::size_t from) const {
        if (usePrefilter) return t.find(prefilter, from) == std::string_view::npos;
        if (!asciiFilter) return false;
        const auto* b = reinterpret_cast<const uint8_t*>(t.data());
        const std::size_t n = t.size();
        for (std::size_t i = 0; i < n; ++i) {
            const uint8_t c = b[i];
            if (c < 0x80) continue;
            const uint8_t d = i + 1 < n ? b[i + 1] : 0;
            // The characters whose case folding holds ASCII: U+0080..U+027F
            // (ß, ſ, İ, ...), U+1E00..U+1EFF (ẞ, ẖ, ...), U+2100..U+217F
            // (the Kelvin sign) and the ligatures from U+FB00.
            if ((c >= 0xC2 && c <= 0xC9) || (c == 0xE1 && d >= 0xB8 && d <= 0xBB) ||
                (c == 0xE2 && (d == 0x84 || d == 0x85)) || (c == 0xEF && d == 0xAC))
                return false;
        }
        const std::size_t m = lowered.size();
        const auto lower = [](uint8_t c) { return c >= 'A' && c <= 'Z' ? static_cast<uint8_t>(c + 32) : c; };
        for (std::size_t i = from; i + m <= n; ++i) {
            std::size_t k = 0;
            while (k < m && lower(b[i + k]) == static_cast<uint8_t>(lowered[k])) ++k;
            if (k == m) return false;
        }
        return true;
    }

    // Decodes UTF-8 (each bad byte a U+FFFD of its own, so offsets map back).
    static void Decode(std::string_view in, bool fold, icu::UnicodeString& out) {
        const int32_t n = Clamp(in.size());
        UChar* buf = out.getBuffer(n + 1);
        const auto* b = reinterpret_cast<const uint8_t*>(in.data());
        int32_t i = 0, u = 0;
        while (i < n) {
            if (b[i] < 0x80) {
                buf[u++] = b[i++];
                continue;
            }
            const int32_t start = i;
            UChar32 c;
            U8_NEXT(b, i, n, c);
            if (c < 0) {
                c = 0xFFFD;
                i = start + 1;
            } else if (fold) {
                c = static_cast<UChar32>(FoldChinese(static_cast<char32_t>(c)));
            }
            U16_APPEND_UNSAFE(buf, u, c);
        }
        out.releaseBuffer(u);
    }
    static int32_t Clamp(std::size_t size) {
        return static_cast<int32_t>(std::min<std::size_t>(size, std::numeric_limits<int32_t>::max() / 2));
    }

    void Load(std::string_view t) {
        text = t;
        Decode(t, fold, u16);
        units = u16.length();
        offsetsReady = false;
        matcher->reset(u16);
    }

    // For each unit the byte where its character starts (the second unit of
    // a pair: two bytes in), and the end: made only for texts that match.
    void MakeOffsets() {
        offsetsReady = true;
        byteAt.resize(static_cast<std::size_t>(units) + 1);
        const auto* b = reinterpret_cast<const uint8_t*>(text.data());
        const int32_t n = Clamp(text.size());
        int32_t i = 0, u = 0;
        while (i < n && u < units) {
            const int32_t start = i;
            UChar32 c = b[i];
            if (c < 0x80) {
                ++i;
            } else {
                U8_NEXT(b, i, n, c);
                if (c < 0) {
                    c = 0xFFFD;
                    i = start + 1;
                }
            }
            byteAt[static_cast<std::size_t>(u++)] = static_cast<uint32_t>(start);
            if (c > 0xFFFF && u < units) byteAt[static_cast<std::size_t>(u++)] = static_cast<uint32_t>(start + 2);
        }
        byteAt[static_cast<std::size_t>(units)] = static_cast<uint32_t>(n);
    }

    // The first unit whose character starts at byte `offset` or later.
    int32_t UnitAt(std::size_t offset) {
        if (offset == 0) return 0;
        if (!offsetsReady) MakeOffsets();
        const auto it = std::lower_bound(byteAt.begin(), byteAt.end(), offset);
        return static_cast<int32_t>(it - byteAt.begin());
    }
    std::size_t ByteAt(int32_t unit) {
        if (!offsetsReady) MakeOffsets();
        return byteAt[static_cast<std::size_t>(unit)];
    }

    // Calls f(start, end) for each match starting at unit `from` or later
    // until f returns false. False when ICU failed (`error` says how).
    template <typename F>
    bool Each(int32_t from, UErrorCode& error, F&& f) {
        if (from > units) return true;
        bool found = matcher->find(from, error);
        while (U_SUCCESS(error) && found) {
            const int32_t s = matcher->start(error);
            const int32_t e = matcher->end(error);
            if (U_FAILURE(error) || !f(s, e)) break;
            found = matcher->find(error);
        }
        return U_SUCCESS(error);
    }

    std::string Expand(UErrorCode& error) {
        std::string out;
        for (const Part& p : replacement) {
            if (p.group < 0) {
                out += p.literal;
                continue;
            }
            const int32_t s = matcher->start(p.group, error);
            const int32_t e = matcher->end(p.group, error);
            if (U_FAILURE(error)) return out;
            if (s < 0 || e < s) continue;  // a group that took no part
            out.append(text.substr(ByteAt(s), ByteAt(e) - ByteAt(s)));
        }
        return out;
    }
};

Searcher::Searcher(std::string_view pattern, const FindOptions& options)
    : m_impl(std::make_unique<Impl>()), m_options(options) {
    m_impl->fold = options.foldChinese;
    if (pattern.empty()) {
        m_status = FindStatus::Invalid;
        m_message = QStringLiteral("查找内容为空");
        return;
    }
    icu::UnicodeString source;
    Impl::Decode(pattern, options.foldChinese, source);
    uint32_t flags = options.regex ? 0 : UREGEX_LITERAL;
    if (!options.matchCase) flags |= UREGEX_CASE_INSENSITIVE;
    UParseError where{};
    UErrorCode error = U_ZERO_ERROR;
    m_impl->pattern.reset(icu::RegexPattern::compile(source, flags, where, error));
    // The user's pattern alone first, so an error's position is in it.
    if (U_SUCCESS(error) && options.wholeWords)
        m_impl->pattern.reset(icu::RegexPattern::compile(WholeWords(source, options.regex),
                                                         flags & ~static_cast<uint32_t>(UREGEX_LITERAL), where, error));
    if (U_SUCCESS(error)) m_impl->matcher.reset(m_impl->pattern->matcher(error));
    if (U_FAILURE(error) || !m_impl->matcher) {
        m_impl->matcher.reset();
        m_status = FindStatus::Invalid;
        // ICU's offset counts UTF-16 units; the user counts characters.
        const int32_t at = std::clamp<int32_t>(where.offset, 0, source.length());
        const int32_t chars = source.countChar32(0, at);
        m_message = QStringLiteral("正则表达式有误：第 %1 个字符处%2（%3）")
                        .arg(chars + 1)
                        .arg(RegexReason(error), QString::fromLatin1(u_errorName(error)));
        return;
    }
    m_impl->matcher->setTimeLimit(m_impl->steps, error);
    m_impl->usePrefilter = !options.regex && options.matchCase && !options.foldChinese &&
                           pattern.find("\xEF\xBF\xBD") == std::string_view::npos;
    if (m_impl->usePrefilter) m_impl->prefilter.assign(pattern);
    m_impl->asciiFilter = !options.regex && !options.matchCase && !options.foldChinese &&
                          std::all_of(pattern.begin(), pattern.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (m_impl->asciiFilter)
        for (const char c : pattern) m_impl->lowered += c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

Searcher::~Searcher() = default;

bool Searcher::SetReplacement(std::string_view replacement) {
    if (!Ok()) return false;
    auto& parts = m_impl->replacement;
    parts.clear();
    m_impl->hasReplacement = true;
    if (!m_options.regex) {
        parts.push_back({std::string(replacement), -1});
        return true;
    }
    const int32_t groups = m_impl->matcher->groupCount();
    std::string literal;
    const auto flush = [&] {
        if (!literal.empty()) parts.push_back({std::move(literal), -1});
        literal.clear();
    };
    const auto fail = [&](const QString& why) {
        parts.clear();
        m_impl->hasReplacement = false;
        m_status = FindStatus::Invalid;
        m_message = why;
        return false;
    };
    for (std::size_t i = 0; i < replacement.size(); ++i) {
        const char c = replacement[i];
        // Only \$ and \\ are escapes: "\N" stays the line break it is in cue text.
        if (c == '\\' && i + 1 < replacement.size() && (replacement[i + 1] == '$' || replacement[i + 1] == '\\')) {
            literal += replacement[++i];
            continue;
        }
        if (c != '$' || i + 1 >= replacement.size()) {
            literal += c;
            continue;
        }
        const char d = replacement[i + 1];
        if (d >= '0' && d <= '9') {
            // As many digits as still name a group of the pattern.
            int32_t group = d - '0';
            if (group > groups) return fail(QStringLiteral("替换文本中的 $%1 没有对应的组").arg(group));
            std::size_t j = i + 2;
            while (j < replacement.size() && replacement[j] >= '0' && replacement[j] <= '9' &&
                   group * 10 + (replacement[j] - '0') <= groups) {
                group = group * 10 + (replacement[j] - '0');
                ++j;
            }
            flush();
            parts.push_back({std::string(), group});
            i = j - 1;
        } else if (d == '{') {
            const std::size_t close = replacement.find('}', i + 2);
            if (close == std::string_view::npos) return fail(QStringLiteral("替换文本中的 ${ 没有 }"));
            const std::string_view name = replacement.substr(i + 2, close - i - 2);
            UErrorCode error = U_ZERO_ERROR;
            const icu::UnicodeString uname =
                icu::UnicodeString::fromUTF8(icu::StringPiece(name.data(), static_cast<int32_t>(name.size())));
            const int32_t group = m_impl->pattern->groupNumberFromName(uname, error);
            if (U_FAILURE(error))
                return fail(QStringLiteral("替换文本中的组名 %1 不存在").arg(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()))));
            flush();
            parts.push_back({std::string(), group});
            i = close;
        } else {
            literal += c;
        }
    }
    flush();
    return true;
}

void Searcher::SetLimits(int32_t regexSteps, std::chrono::milliseconds operation) {
    m_impl->steps = regexSteps;
    m_impl->budget = operation;
    if (m_impl->matcher) {
        UErrorCode error = U_ZERO_ERROR;
        m_impl->matcher->setTimeLimit(regexSteps, error);
    }
}

void Searcher::StartOperation() {
    m_impl->deadline = std::chrono::steady_clock::now() + m_impl->budget;
    m_impl->ticks = 0;
}

bool Searcher::WithinBudget() {
    if (!Ok()) return false;
    // The clock is read every so many rows: reading it costs more than a
    // short row's search.
    if ((++m_impl->ticks & 255u) != 0) return true;
    if (std::chrono::steady_clock::now() <= m_impl->deadline) return true;
    m_status = FindStatus::TimedOut;
    m_message = kBudgetSpent;
    return false;
}

namespace {

// Records ICU's failure on the searcher: a time-out or a stack that ran
// out is the expression's doing; anything else is reported as it is.
void Failed(FindStatus& status, QString& message, UErrorCode error) {
    if (error == U_REGEX_TIME_OUT || error == U_REGEX_STACK_OVERFLOW) {
        status = FindStatus::TimedOut;
        message = kTimedOut;
    } else {
        status = FindStatus::Invalid;
        message = QStringLiteral("查找失败（%1）").arg(QString::fromLatin1(u_errorName(error)));
    }
}

}  // namespace

std::optional<TextMatch> Searcher::FindIn(std::string_view text, std::size_t from) {
    if (!Ok() || from > text.size()) return std::nullopt;
    if (m_impl->CannotMatch(text, from)) return std::nullopt;
    m_impl->Load(text);
    std::optional<TextMatch> found;
    UErrorCode error = U_ZERO_ERROR;
    m_impl->Each(m_impl->UnitAt(from), error, [&](int32_t s, int32_t e) {
        found = TextMatch{-1, m_impl->ByteAt(s), m_impl->ByteAt(e) - m_impl->ByteAt(s)};
        return false;
    });
    if (U_FAILURE(error)) {
        Failed(m_status, m_message, error);
        return std::nullopt;
    }
    return found;
}

std::optional<TextMatch> Searcher::FindLastIn(std::string_view text, std::size_t before) {
    if (!Ok() || before == 0) return std::nullopt;
    if (m_impl->CannotMatch(text, 0)) return std::nullopt;
    m_impl->Load(text);
    std::optional<TextMatch> found;
    UErrorCode error = U_ZERO_ERROR;
    m_impl->Each(0, error, [&](int32_t s, int32_t e) {
        if (m_impl->ByteAt(s) >= before) return false;
        found = TextMatch{-1, m_impl->ByteAt(s), m_impl->ByteAt(e) - m_impl->ByteAt(s)};
        return true;
    });
    if (U_FAILURE(error)) {
        Failed(m_status, m_message, error);
        return std::nullopt;
    }
    return found;
}

std::vector<TextMatch> Searcher::AllIn(std::string_view text) {
    std::vector<TextMatch> all;
    if (!Ok()) return all;
    if (m_impl->CannotMatch(text, 0)) return all;
    m_impl->Load(text);
    UErrorCode error = U_ZERO_ERROR;
    m_impl->Each(0, error, [&](int32_t s, int32_t e) {
        all.push_back(TextMatch{-1, m_impl->ByteAt(s), m_impl->ByteAt(e) - m_impl->ByteAt(s)});
        return true;
    });
    if (U_FAILURE(error)) {
        Failed(m_status, m_message, error);
        all.clear();
    }
    return all;
}

std::size_t Searcher::ReplaceIn(std::string_view text, std::string* out) {
    if (!Ok() || !m_impl->hasReplacement) return 0;
    if (m_impl->CannotMatch(text, 0)) return 0;
    m_impl->Load(text);
    std::string result;
    std::size_t copied = 0, count = 0;
    UErrorCode error = U_ZERO_ERROR;
    m_impl->Each(0, error, [&](int32_t s, int32_t e) {
        const std::size_t bs = m_impl->ByteAt(s);
        result.append(text.substr(copied, bs - copied));
        result += m_impl->Expand(error);
        copied = m_impl->ByteAt(e);
        ++count;
        return U_SUCCESS(error);
    });
    if (U_FAILURE(error)) {
        Failed(m_status, m_message, error);
        return 0;
    }
    if (count == 0) return 0;
    result.append(text.substr(copied));
    *out = std::move(result);
    return count;
}

std::optional<std::string> Searcher::ReplacementAt(std::string_view text, std::size_t offset, std::size_t length) {
    if (!Ok() || !m_impl->hasReplacement || offset > text.size()) return std::nullopt;
    m_impl->Load(text);
    std::optional<std::string> result;
    UErrorCode error = U_ZERO_ERROR;
    m_impl->Each(m_impl->UnitAt(offset), error, [&](int32_t s, int32_t e) {
        if (m_impl->ByteAt(s) == offset && m_impl->ByteAt(e) - m_impl->ByteAt(s) == length)
            result = m_impl->Expand(error);
        return false;
    });
    if (U_FAILURE(error)) {
        Failed(m_status, m_message, error);
        return std::nullopt;
    }
    return result;
}

// ---- documents -----------------------------------------------------------------

namespace {

// The rows of a scope by position: all rows, or the listed ones that exist.
struct Scope {
    const SubtitleDocument& doc;
    RowScope rows;
    int Size() const { return rows ? static_cast<int>(rows->size()) : doc.Count(); }
    int Row(int k) const { return rows ? (*rows)[static_cast<std::size_t>(k)] : k; }
    // The first position whose row is `row` or later.
    int FirstAtOrAfter(int row) const {
        if (!rows) return std::clamp(row, 0, doc.Count());
        return static_cast<int>(std::lower_bound(rows->begin(), rows->end(), row) - rows->begin());
    }
};

FindOutcome Stopped(const Searcher& s) { return {s.Status(), s.Message(), std::nullopt, false}; }

}  // namespace

FindOutcome FindNext(const SubtitleDocument& doc, Searcher& searcher, TextPosition from, RowScope rows) {
    if (!searcher.Ok()) return Stopped(searcher);
    searcher.StartOperation();
    const Scope scope{doc, rows};
    const int first = scope.FirstAtOrAfter(std::max(from.row, 0));
    const auto search = [&](int k, std::size_t offset) -> std::optional<TextMatch> {
        const int row = scope.Row(k);
        if (!doc.ValidRow(row)) return std::nullopt;
        auto m = searcher.FindIn(doc.Text(row), offset);
        if (m) m->row = row;
        return m;
    };
    for (int k = first; k < scope.Size(); ++k) {
        if (!searcher.WithinBudget()) return Stopped(searcher);
        const bool start = scope.Row(k) == from.row;
        if (auto m = search(k, start ? from.offset : 0)) return {FindStatus::Ok, {}, m, false};
        if (!searcher.Ok()) return Stopped(searcher);
    }
    if (!searcher.Options().wrap) return {};
    for (int k = 0; k < scope.Size() && k <= first; ++k) {
        if (!searcher.WithinBudget()) return Stopped(searcher);
        const bool start = scope.Row(k) == from.row;
        if (k == first && !start) break;
        auto m = search(k, 0);
        if (!searcher.Ok()) return Stopped(searcher);
        if (m && (!start || m->offset < from.offset)) return {FindStatus::Ok, {}, m, true};
        if (start) break;
    }
    return {};
}

FindOutcome FindPrevious(const SubtitleDocument& doc, Searcher& searcher, TextPosition from, RowScope rows) {
    if (!searcher.Ok()) return Stopped(searcher);
    searcher.StartOperation();
    const Scope scope{doc, rows};
    constexpr std::size_t kEnd = std::numeric_limits<std::size_t>::max();
    if (from.row >= doc.Count()) from = {doc.Count(), 0};
    // The last scope position at or before the start row.
    const int last = scope.FirstAtOrAfter(from.row + 1) - 1;
    const auto search = [&](int k, std::size_t before) -> std::optional<TextMatch> {
        const int row = scope.Row(k);
        if (!doc.ValidRow(row)) return std::nullopt;
        auto m = searcher.FindLastIn(doc.Text(row), before);
        if (m) m->row = row;
        return m;
    };
    for (int k = last; k >= 0; --k) {
        if (!searcher.WithinBudget()) return Stopped(searcher);
        const bool start = scope.Row(k) == from.row;
        if (auto m = search(k, start ? from.offset : kEnd)) return {FindStatus::Ok, {}, m, false};
        if (!searcher.Ok()) return Stopped(searcher);
    }
    if (!searcher.Options().wrap) return {};
    for (int k = scope.Size() - 1; k >= 0 && k >= last; --k) {
        if (!searcher.WithinBudget()) return Stopped(searcher);
        const bool start = scope.Row(k) == from.row;
        if (k == last && !start) break;
        auto m = search(k, kEnd);
        if (!searcher.Ok()) return Stopped(searcher);
        if (m && (!start || m->offset >= from.offset)) return {FindStatus::Ok, {}, m, true};
        if (start) break;
    }
    return {};
}

FindStatus FindAll(const SubtitleDocument& doc, Searcher& searcher, std::vector<TextMatch>* matches, RowScope rows) {
    matches->clear();
    if (!searcher.Ok()) return searcher.Status();
    searcher.StartOperation();
    const Scope scope{doc, rows};
    for (int k = 0; k < scope.Size(); ++k) {
        const int row = scope.Row(k);
        if (!doc.ValidRow(row)) continue;
        if (!searcher.WithinBudget()) break;
        for (TextMatch m : searcher.AllIn(doc.Text(row))) {
            m.row = row;
            matches->push_back(m);
        }
        if (!searcher.Ok()) break;
    }
    if (!searcher.Ok()) matches->clear();
    return searcher.Status();
}

TextPosition After(const SubtitleDocument& doc, const TextMatch& m) {
    if (m.length > 0) return {m.row, m.offset + m.length};
    if (!doc.ValidRow(m.row)) return {m.row + 1, 0};
    const std::string_view text = doc.Text(m.row);
    if (m.offset >= text.size()) return {m.row + 1, 0};
    std::size_t next = m.offset + 1;
    while (next < text.size() && (static_cast<unsigned char>(text[next]) & 0xC0) == 0x80) ++next;
    return {m.row, next};
}

ReplaceOutcome ReplaceCurrent(SubtitleDocument& doc, Searcher& searcher, const TextMatch& m) {
    ReplaceOutcome out;
    out.next = {m.row, m.offset};
    if (!doc.ValidRow(m.row)) return out;
    const std::string_view text = doc.Text(m.row);
    const std::optional<std::string> with = searcher.ReplacementAt(text, m.offset, m.length);
    out.status = searcher.Status();
    out.message = searcher.Message();
    if (!with) return out;
    std::string changed;
    changed.reserve(text.size() - m.length + with->size());
    changed.append(text.substr(0, m.offset)).append(*with).append(text.substr(m.offset + m.length));
    if (doc.SetTexts({{m.row, std::move(changed)}}, QStringLiteral("替换"))) out.documents = 1;
    out.count = 1;
    // Go on after what was put in; an empty match replaced by nothing
    // would be found again in place, so one character on.
    if (!with->empty()) {
        out.next = {m.row, m.offset + with->size()};
    } else if (m.length == 0) {
        out.next = After(doc, TextMatch{m.row, m.offset, 0});
    }
    return out;
}

namespace {

// The new texts of one document's replacements, without changing it.
bool Collect(const SubtitleDocument& doc, Searcher& searcher, RowScope rows,
             std::vector<std::pair<int, std::string>>* texts, std::size_t* count) {
    const Scope scope{doc, rows};
    std::string changed;
    for (int k = 0; k < scope.Size(); ++k) {
        const int row = scope.Row(k);
        if (!doc.ValidRow(row)) continue;
        if (!searcher.WithinBudget()) return false;
        const std::size_t n = searcher.ReplaceIn(doc.Text(row), &changed);
        if (!searcher.Ok()) return false;
        if (n == 0) continue;
        *count += n;
        texts->emplace_back(row, std::move(changed));
        changed = std::string();
    }
    return true;
}

ReplaceOutcome Failure(const Searcher& s) {
    ReplaceOutcome out;
    out.status = s.Status();
    out.message = s.Message();
    return out;
}

}  // namespace

ReplaceOutcome ReplaceAll(SubtitleDocument& doc, Searcher& searcher, RowScope rows) {
    if (!searcher.Ok()) return Failure(searcher);
    searcher.StartOperation();
    std::vector<std::pair<int, std::string>> texts;
    ReplaceOutcome out;
    if (!Collect(doc, searcher, rows, &texts, &out.count)) return Failure(searcher);
    if (doc.SetTexts(std::move(texts), QStringLiteral("全部替换"))) out.documents = 1;
    return out;
}

ReplaceOutcome ReplaceAll(const std::vector<SubtitleDocument*>& docs, Searcher& searcher) {
    if (!searcher.Ok()) return Failure(searcher);
    searcher.StartOperation();
    std::vector<std::vector<std::pair<int, std::string>>> texts(docs.size());
    ReplaceOutcome out;
    for (std::size_t i = 0; i < docs.size(); ++i)
        if (docs[i] && !Collect(*docs[i], searcher, nullptr, &texts[i], &out.count)) return Failure(searcher);
    for (std::size_t i = 0; i < docs.size(); ++i)
        if (docs[i] && !texts[i].empty() && docs[i]->SetTexts(std::move(texts[i]), QStringLiteral("全部替换")))
            ++out.documents;
    return out;
}

}  // namespace lumeval::doc
