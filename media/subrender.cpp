#include "media/subrender.h"

extern "C" {
#include <ass/ass.h>
}

#include <QObject>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdarg>
#include <climits>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <fstream>

#include "document/document.h"
#include "engine/encoding/textfile.h"

namespace lumeval::media {

namespace {

constexpr const char* kFallbackFamily = "WenQuanYi Micro Hei";

// Times beyond this are clamped before libass sees them, so a start plus a
// duration never overflows inside it (about 35 years either way).
constexpr int64_t kTimeLimit = int64_t{1} << 40;
constexpr int64_t kForever = kTimeLimit;

// The look of cues from formats without styles: white text with a dark
// outline and a soft shadow, centred at the bottom.
constexpr const char* kDefaultHeader =
    "[Script Info]\n"
    "ScriptType: v4.00+\n"
    "PlayResX: 384\n"
    "PlayResY: 288\n"
    "WrapStyle: 0\n"
    "ScaledBorderAndShadow: yes\n"
    "\n"
    "[V4+ Styles]\n"
    "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, "
    "Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, "
    "Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\n"
    "Style: Default,WenQuanYi Micro Hei,18,&H00FFFFFF,&H000000FF,&H00101010,&H80000000,"
    "0,0,0,0,100,100,0,0,1,1.5,0.5,2,12,12,12,1\n";

void Quiet(int, const char*, va_list, void*) {}

int64_t Clamp(int64_t t) { return std::clamp(t, -kTimeLimit, kTimeLimit); }

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char a = s[i], b = prefix[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

// Cuts at most `limit` bytes without splitting a UTF-8 sequence.
std::string_view CutUtf8(std::string_view s, std::size_t limit) {
    if (s.size() <= limit) return s;
    std::size_t n = limit;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
    return s.substr(0, n);
}

// "#RRGGBB", "RRGGBB" or a few colour names, as an ASS "&HBBGGRR&".
std::string AssColour(std::string_view v) {
    static constexpr struct {
        const char* name;
        const char* rgb;
    } kNames[] = {{"white", "FFFFFF"},  {"black", "000000"}, {"red", "FF0000"},    {"green", "008000"},
                  {"lime", "00FF00"},   {"blue", "0000FF"},  {"yellow", "FFFF00"}, {"cyan", "00FFFF"},
                  {"aqua", "00FFFF"},   {"magenta", "FF00FF"}, {"fuchsia", "FF00FF"}, {"gray", "808080"},
                  {"grey", "808080"},   {"orange", "FFA500"}, {"purple", "800080"}, {"silver", "C0C0C0"}};
    if (!v.empty() && v.front() == '#') v.remove_prefix(1);
    std::string rgb;
    if (v.size() == 6 && std::all_of(v.begin(), v.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); })) {
        rgb = std::string(v);
    } else {
        for (const auto& n : kNames)
            if (v.size() == std::strlen(n.name) && StartsWithNoCase(v, n.name)) rgb = n.rgb;
    }
    if (rgb.empty()) return {};
    for (char& ch : rgb) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return "&H" + rgb.substr(4, 2) + rgb.substr(2, 2) + rgb.substr(0, 2) + "&";
}

// The value of attribute `name` inside a tag's text ("font color=\"#ff0000\"").
std::string_view Attribute(std::string_view tag, std::string_view name) {
    for (std::size_t i = 0; i + name.size() < tag.size(); ++i) {
        if (!StartsWithNoCase(tag.substr(i), name)) continue;
        if (i > 0 && !std::isspace(static_cast<unsigned char>(tag[i - 1]))) continue;
        std::size_t j = i + name.size();
        while (j < tag.size() && tag[j] == ' ') ++j;
        if (j >= tag.size() || tag[j] != '=') continue;
        ++j;
        while (j < tag.size() && tag[j] == ' ') ++j;
        if (j < tag.size() && (tag[j] == '"' || tag[j] == '\'')) {
            const char q = tag[j];
            const std::size_t end = tag.find(q, j + 1);
            return tag.substr(j + 1, end == std::string_view::npos ? std::string_view::npos : end - j - 1);
        }
        std::size_t end = j;
        while (end < tag.size() && tag[end] != ' ') ++end;
        return tag.substr(j, end - j);
    }
    return {};
}

// One SubRip/HTML tag (without its angle brackets) as an ASS override; false
// when it is no tag we know (it then stays as text).
bool HtmlTag(std::string_view tag, std::string& out) {
    bool close = false;
    if (!tag.empty() && tag.front() == '/') {
        close = true;
        tag.remove_prefix(1);
    }
    std::size_t nameEnd = 0;
    while (nameEnd < tag.size() && std::isalpha(static_cast<unsigned char>(tag[nameEnd]))) ++nameEnd;
    const std::string_view name = tag.substr(0, nameEnd);
    const std::string_view rest = tag.substr(nameEnd);
    if (!rest.empty() && rest.front() != ' ' && rest != "/") return false;
    if (name.size() == 1 && std::strchr("ibusIBUS", name[0]) && rest.empty()) {
        out += "{\\";
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
        out += close ? "0}" : "1}";
        return true;
    }
    if (name.size() == 4 && StartsWithNoCase(name, "font")) {
        if (close) {
            out += "{\\c}";
            return true;
        }
        const std::string colour = AssColour(Attribute(rest, "color"));
        if (!colour.empty()) out += "{\\c" + colour + "}";
        return true;
    }
    return false;
}

// libass takes override values as they come; a few of them, made enormous,
// cost it seconds on one frame (scaling, blur, borders). They are held to
// bounds no real script needs to pass.
std::string Tame(std::string_view text) {
    static constexpr struct {
        const char* tag;
        double most;
    } kBounds[] = {{"fs", 1000},   {"fscx", 1000}, {"fscy", 1000}, {"fsp", 1000},  {"blur", 50},
                   {"be", 50},     {"bord", 100},  {"xbord", 100}, {"ybord", 100}, {"shad", 100},
                   {"xshad", 100}, {"yshad", 100}};
    std::string out;
    out.reserve(text.size());
    bool inBlock = false;
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == '{') inBlock = true;
        if (c == '}') inBlock = false;
        if (!inBlock || c != '\\') {
            out += c;
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        while (j < text.size() && std::isalpha(static_cast<unsigned char>(text[j]))) ++j;
        const std::string_view name = text.substr(i + 1, j - i - 1);
        std::size_t k = j;
        while (k < text.size() && (std::isdigit(static_cast<unsigned char>(text[k])) || text[k] == '.' || text[k] == '-' ||
                                   text[k] == '+'))
            ++k;
        const double* most = nullptr;
        for (const auto& b : kBounds)
            if (name == b.tag) most = &b.most;
        if (most && k > j) {
            const double value = std::strtod(std::string(text.substr(j, k - j)).c_str(), nullptr);
            char number[32];
            std::snprintf(number, sizeof number, "%g", std::clamp(value, -*most, *most));
            out += '\\';
            out += name;
            out += number;
        } else {
            out += text.substr(i, k - i);
        }
        i = k;
    }
    return out;
}

// Pixel memory for the overlay's images, kept from frame to frame: a fresh
// allocation of a few hundred kilobytes comes as untouched pages, and their
// faults cost milliseconds the first time a picture changes. An image lends
// its slot until the last copy of it is gone; a slot still lent is never
// written, so a caller's copy keeps its pixels.
class CanvasPool {
public:
    QImage Take(int w, int h) {
        const std::size_t need = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
        std::shared_ptr<Slot> pick;
        for (const auto& s : m_slots) {
            if (s->lent.load(std::memory_order_acquire)) continue;
            if (!pick || (s->capacity >= need && (pick->capacity < need || s->capacity < pick->capacity)) ||
                (pick->capacity < need && s->capacity > pick->capacity))
                pick = s;
        }
        if (!pick) {
            if (m_slots.size() >= kSlots) {  // more held than any painter keeps
                QImage plain(w, h, QImage::Format_ARGB32_Premultiplied);
                plain.fill(Qt::transparent);
                return plain;
            }
            pick = m_slots.emplace_back(std::make_shared<Slot>());
        }
        if (pick->capacity < need) {
            // Room to spare, so that a slot grows (fresh pages) seldom.
            pick->capacity = std::max<std::size_t>(need + need / 2, std::size_t{1} << 18);
            pick->pixels = std::make_unique<uint32_t[]>(pick->capacity);
        }
        std::memset(pick->pixels.get(), 0, need * sizeof(uint32_t));
        pick->lent.store(true, std::memory_order_release);
        auto* hold = new std::shared_ptr<Slot>(pick);
        return QImage(
            reinterpret_cast<uchar*>(pick->pixels.get()), w, h, static_cast<qsizetype>(w) * 4,
            QImage::Format_ARGB32_Premultiplied,
            [](void* info) {
                auto* slot = static_cast<std::shared_ptr<Slot>*>(info);
                (*slot)->lent.store(false, std::memory_order_release);
                delete slot;
            },
            hold);
    }

private:
    static constexpr std::size_t kSlots = 16;
    struct Slot {
        std::unique_ptr<uint32_t[]> pixels;
        std::size_t capacity = 0;
        std::atomic<bool> lent{false};
    };
    std::vector<std::shared_ptr<Slot>> m_slots;
};

}  // namespace

std::string PlainToAss(std::string_view text) {
    text = CutUtf8(text, SubtitleRenderer::kMaxTextBytes);
    std::string out;
    out.reserve(text.size() + 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\') {
            if (i + 1 < text.size() && text[i + 1] == 'N') {
                out += "\\N";
                ++i;
            } else {
                // A word joiner after the backslash keeps "\n", "\h" and the
                // like from being read as codes.
                out += "\\\u2060";
            }
        } else if (c == '{' || c == '}') {
            out += '\\';
            out += c;
        } else if (c == '<') {
            const std::size_t close = text.find('>', i + 1);
            // Tags are short; a lone "<" stays text.
            if (close != std::string_view::npos && close - i <= 64 && HtmlTag(text.substr(i + 1, close - i - 1), out)) {
                i = close;
            } else {
                out += c;
            }
        } else if (c == '\n') {
            out += "\\N";
        } else if (c != '\r') {
            out += c;
        }
    }
    return out;
}

std::string SubtitleRenderer::HeaderOf(std::string_view scriptText) {
    std::size_t lineStart = 0;
    while (lineStart < scriptText.size()) {
        std::size_t p = lineStart;
        while (p < scriptText.size() && (scriptText[p] == ' ' || scriptText[p] == '\t')) ++p;
        if (StartsWithNoCase(scriptText.substr(p), "[events]")) return std::string(scriptText.substr(0, lineStart));
        const std::size_t nl = scriptText.find('\n', lineStart);
        if (nl == std::string_view::npos) break;
        lineStart = nl + 1;
    }
    return std::string(scriptText);
}

std::vector<std::string> SubtitleRenderer::EventStylesOf(std::string_view text) {
    std::vector<std::string> styles;
    std::size_t field = 3;  // Layer (or Marked), Start, End, Style
    bool events = false;
    const auto trim = [](std::string_view s) {
        while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
        while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
        return s;
    };
    const auto startsWith = [](std::string_view line, std::string_view key) {
        return line.size() >= key.size() && strncasecmp(line.data(), key.data(), key.size()) == 0;
    };
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = trim(text.substr(at, end - at));
        at = end + 1;
        if (!line.empty() && line.front() == '[') {
            events = startsWith(line, "[Events]");
            continue;
        }
        if (!events) continue;
        if (startsWith(line, "Format:")) {
            // Where "Style" stands among the fields.
            std::string_view rest = line.substr(7);
            for (std::size_t i = 0;; ++i) {
                const std::size_t comma = rest.find(',');
                const std::string_view name = trim(rest.substr(0, comma));
                if (name.size() == 5 && strncasecmp(name.data(), "Style", 5) == 0) {
                    field = i;
                    break;
                }
                if (comma == std::string_view::npos) break;
                rest.remove_prefix(comma + 1);
            }
        } else if (startsWith(line, "Dialogue:")) {
            std::string_view rest = line.substr(9);
            for (std::size_t i = 0; i < field && !rest.empty(); ++i) {
                const std::size_t comma = rest.find(',');
                rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
            }
            styles.emplace_back(trim(rest.substr(0, rest.find(','))));
        }
    }
    return styles;
}

std::vector<std::string> SubtitleRenderer::EventStylesFor(const doc::SubtitleDocument& d) {
    if (d.Format() != "ass" && d.Format() != "ssa") return {};
    std::ifstream in(d.Path().toStdString(), std::ios::binary | std::ios::ate);
    if (!in) return {};
    const std::streamoff size = in.tellg();
    // A script this large is read once more only to colour it: not worth the wait.
    if (size <= 0 || size > (std::streamoff{64} << 20)) return {};
    std::string bytes(static_cast<std::size_t>(size), '\0');
    in.seekg(0);
    if (!in.read(bytes.data(), size)) return {};
    std::size_t skip = 0;
    if (bytes.size() >= 4) {
        unsigned char first4[4];
        std::memcpy(first4, bytes.data(), 4);
        skip = static_cast<std::size_t>(DetectByteOrderMark(first4).length);
    }
    const int32_t fmt = d.Encoding();
    return EventStylesOf(DecodeText(std::string_view(bytes).substr(std::min(skip, bytes.size())), fmt < 0 ? 1 : fmt,
                                    d.CodePage()));
}

std::string SubtitleRenderer::HeaderFor(const doc::SubtitleDocument& d) {
    if (d.Format() != "ass" && d.Format() != "ssa") return {};
    std::ifstream in(d.Path().toStdString(), std::ios::binary);
    if (!in) return {};
    // The head is read alone, not the whole file: a script of a million
    // events is large, its head a few kilobytes. The marker is looked for in
    // the bytes of the file's encoding.
    const int32_t fmt = d.Encoding();
    const int unit = fmt == 2 || fmt == 3 ? 2 : fmt == 4 || fmt == 5 ? 4 : 1;
    const bool bigEndian = fmt == 3 || fmt == 5;
    std::string marker;
    for (char c : std::string_view("[Events]")) {
        std::string u(static_cast<std::size_t>(unit), '\0');
        u[bigEndian ? unit - 1 : 0] = c;
        marker += u;
    }
    constexpr std::size_t kMaxHead = 8u << 20;
    std::string bytes;
    char buffer[64 * 1024];
    std::size_t searchedTo = 0;
    std::size_t cut = std::string::npos;
    while (bytes.size() < kMaxHead && in) {
        in.read(buffer, sizeof buffer);
        bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
        for (std::size_t from = searchedTo;;) {
            const std::size_t at = bytes.find(marker, from);
            if (at == std::string::npos) break;
            if (at % static_cast<std::size_t>(unit) == 0) {
                cut = at;
                break;
            }
            from = at + 1;
        }
        if (cut != std::string::npos) break;
        searchedTo = bytes.size() >= marker.size() ? bytes.size() - marker.size() + 1 : 0;
    }
    if (cut != std::string::npos) bytes.resize(cut);
    std::size_t skip = 0;
    if (bytes.size() >= 4) {
        unsigned char first4[4];
        std::memcpy(first4, bytes.data(), 4);
        skip = static_cast<std::size_t>(DetectByteOrderMark(first4).length);
    }
    if (skip > bytes.size()) skip = bytes.size();
    const std::string text = DecodeText(std::string_view(bytes).substr(skip), fmt < 0 ? 1 : fmt, d.CodePage());
    return HeaderOf(text);
}

struct SubtitleRenderer::Impl {
    ASS_Library* library = nullptr;
    ASS_Renderer* renderer = nullptr;
    ASS_Track* track = nullptr;
    int eventStyle = 0;  // the style every cue is drawn in
    std::function<std::string(int)> styleOf;  // a cue's own style name, when known
    std::string header;  // empty: the default look
    bool plain = true;   // texts are made literal (not an SSA/ASS document)

    const doc::SubtitleDocument* doc = nullptr;
    std::unique_ptr<QObject> follow;  // the context of the signal connections

    // The index: every row once, sorted by (start, row). `end` is the end in
    // effect (a missing end resolved to the next later start).
    struct Entry {
        int64_t start;
        int64_t end;
        int32_t row;
        bool noEnd;
    };
    std::vector<Entry> byStart;
    std::vector<int64_t> rowStart;  // per row: the start it is indexed under
    // Max-end tree over byStart's positions: leaves at [leaves, 2 * leaves).
    std::vector<int64_t> tree;
    std::size_t leaves = 0;

    // What the track holds now.
    uint64_t generation = 1;  // bumped by every change of cues or head
    uint64_t trackGeneration = 0;
    std::vector<int> trackRows;
    QSize frame;
    Overlay last;
    bool lastEmpty = true;
    CanvasPool canvases;

    static bool Before(const Entry& a, const Entry& b) {
        return a.start != b.start ? a.start < b.start : a.row < b.row;
    }

    void NewTrack() {
        if (track) ass_free_track(track);
        track = ass_new_track(library);
        if (!track) return;
        std::string data = header.empty() ? std::string(kDefaultHeader) : header;
        ass_process_data(track, data.data(), static_cast<int>(std::min<std::size_t>(data.size(), INT_MAX)));
        // libass puts a "Default" style of its own first and points at the
        // script's "Default" when it has one; a script without one gets its
        // own first style rather than libass's.
        eventStyle = track->default_style;
        if (eventStyle == 0 && track->n_styles > 1) eventStyle = 1;
        trackGeneration = 0;
        trackRows.clear();
    }

    // The track's style of that name (as libass matches names: without
    // case, a leading "*" ignored), else the default one.
    int StyleIndex(int row) const {
        if (!styleOf || !track) return eventStyle;
        std::string name = styleOf(row);
        while (!name.empty() && name.front() == '*') name.erase(0, 1);
        if (name.empty()) return eventStyle;
        for (int i = track->n_styles - 1; i >= 0; --i) {
            const char* have = track->styles[i].Name;
            if (have && strcasecmp(have, name.c_str()) == 0) return i;
        }
        return eventStyle;
    }

    Entry EntryOf(int row) const {
        const int64_t start = doc->Start(row);
        return Entry{start, doc->HasEnd(row) ? doc->End(row) : kForever, row, !doc->HasEnd(row)};
    }

    // Ends in effect of the cues without an end in positions [lo, hi), which
    // must end where a run of equal starts ends.
    void ResolveNoEnds(std::size_t lo, std::size_t hi) {
        int64_t next = hi < byStart.size() ? byStart[hi].start : kForever;
        for (std::size_t i = hi; i-- > lo;) {
            if (i + 1 < byStart.size() && byStart[i + 1].start > byStart[i].start) next = byStart[i + 1].start;
            if (byStart[i].noEnd) byStart[i].end = next;
        }
    }
    std::size_t RunBegin(std::size_t i) const {
        while (i > 0 && byStart[i - 1].start == byStart[i].start) --i;
        return i;
    }
    std::size_t RunEnd(std::size_t i) const {  // one past the run of i
        while (i + 1 < byStart.size() && byStart[i + 1].start == byStart[i].start) ++i;
        return i + 1;
    }
    // After a change at position p: the cues before p whose next later start
    // may have changed, and the run at p.
    void ResolveAround(std::size_t lo, std::size_t hi) {
        if (byStart.empty()) return;
        lo = std::min(lo, byStart.size() - 1);
        if (lo > 0) lo = RunBegin(lo - 1);
        hi = hi >= byStart.size() ? byStart.size() : RunEnd(hi);
        ResolveNoEnds(lo, hi);
        RefreshTree(lo, hi);
    }

    void BuildTree() {
        leaves = 1;
        while (leaves < byStart.size() + 1) leaves <<= 1;
        tree.assign(2 * leaves, INT64_MIN);
        for (std::size_t i = 0; i < byStart.size(); ++i) tree[leaves + i] = byStart[i].end;
        for (std::size_t i = leaves; i-- > 1;) tree[i] = std::max(tree[2 * i], tree[2 * i + 1]);
    }
    // Leaves [lo, hi) changed.
    void RefreshTree(std::size_t lo, std::size_t hi) {
        if (byStart.size() >= leaves) {
            BuildTree();
            return;
        }
        if (lo >= hi) return;
        for (std::size_t i = lo; i < hi; ++i) tree[leaves + i] = i < byStart.size() ? byStart[i].end : INT64_MIN;
        for (std::size_t l = (leaves + lo) / 2, h = (leaves + hi - 1) / 2; l >= 1; l /= 2, h /= 2) {
            for (std::size_t i = l; i <= h; ++i) tree[i] = std::max(tree[2 * i], tree[2 * i + 1]);
            if (l == 1) break;
        }
    }

    void Rebuild() {
        ++generation;
        byStart.clear();
        rowStart.clear();
        if (doc) {
            const int n = doc->Count();
            // Room to grow, so inserting rows later does not move it all.
            const std::size_t room = static_cast<std::size_t>(n) + static_cast<std::size_t>(n) / 8 + 1024;
            byStart.reserve(room);
            rowStart.reserve(room);
            rowStart.resize(static_cast<std::size_t>(n));
            for (int r = 0; r < n; ++r) {
                byStart.push_back(EntryOf(r));
                rowStart[static_cast<std::size_t>(r)] = byStart.back().start;
            }
            // Documents are nearly always in time order already.
            if (!std::is_sorted(byStart.begin(), byStart.end(), Before))
                std::sort(byStart.begin(), byStart.end(), Before);
        }
        ResolveNoEnds(0, byStart.size());
        BuildTree();
    }

    std::size_t PositionOf(int row) const {
        const int64_t start = rowStart[static_cast<std::size_t>(row)];
        const auto it = std::lower_bound(byStart.begin(), byStart.end(), Entry{start, 0, row, false}, Before);
        return static_cast<std::size_t>(it - byStart.begin());
    }

    void Showing(std::size_t node, std::size_t nodeLo, std::size_t nodeHi, std::size_t upto, int64_t t,
                 std::vector<int>& rows) const {
        if (nodeLo >= upto || tree[node] <= t) return;
        if (node >= leaves) {
            rows.push_back(byStart[nodeLo].row);
            return;
        }
        const std::size_t mid = (nodeLo + nodeHi) / 2;
        Showing(2 * node, nodeLo, mid, upto, t, rows);
        Showing(2 * node + 1, mid, nodeHi, upto, t, rows);
    }

    std::vector<int> ShowingAt(int64_t ms) const {
        std::vector<int> rows;
        if (byStart.empty()) return rows;
        // Cues that started at or before ms and end after it.
        const auto upto = std::upper_bound(byStart.begin(), byStart.end(), ms,
                                           [](int64_t t, const Entry& e) { return t < e.start; });
        Showing(1, 0, leaves, static_cast<std::size_t>(upto - byStart.begin()), ms, rows);
        std::sort(rows.begin(), rows.end());
        return rows;
    }

    void FillTrack(const std::vector<int>& rows) {
        ass_flush_events(track);
        int order = 0;
        for (int row : rows) {
            const std::size_t pos = PositionOf(row);
            if (pos >= byStart.size() || byStart[pos].row != row) continue;
            const Entry& e = byStart[pos];
            const int id = ass_alloc_event(track);
            if (id < 0) break;
            ASS_Event* ev = &track->events[id];
            const int64_t start = Clamp(e.start);
            const int64_t end = Clamp(e.end);
            ev->Start = start;
            ev->Duration = std::max<int64_t>(end - start, 0);
            ev->ReadOrder = order++;
            ev->Layer = 0;
            ev->Style = StyleIndex(row);
            ev->MarginL = ev->MarginR = ev->MarginV = 0;
            const std::string_view raw = doc->Text(row);
            const std::string text = plain ? PlainToAss(raw) : Tame(CutUtf8(raw, kMaxTextBytes));
            ev->Text = strdup(text.c_str());
            ev->Name = strdup("");
            ev->Effect = strdup("");
        }
        trackRows = rows;
        trackGeneration = generation;
    }
};

SubtitleRenderer::SubtitleRenderer() : m(std::make_unique<Impl>()) {
    m->library = ass_library_init();
    if (!m->library) return;
    ass_set_message_cb(m->library, Quiet, nullptr);
    m->renderer = ass_renderer_init(m->library);
    if (!m->renderer) return;
    ass_set_fonts(m->renderer, nullptr, kFallbackFamily, ASS_FONTPROVIDER_AUTODETECT, nullptr, 1);
    m->NewTrack();
}

SubtitleRenderer::~SubtitleRenderer() {
    m->follow.reset();
    if (m->track) ass_free_track(m->track);
    if (m->renderer) ass_renderer_done(m->renderer);
    if (m->library) ass_library_done(m->library);
}

bool SubtitleRenderer::Ready() const { return m->renderer && m->track; }

void SubtitleRenderer::SetHeader(std::string_view scriptHeader) {
    m->header = HeaderOf(scriptHeader);
    ++m->generation;
    if (m->library) m->NewTrack();
}

void SubtitleRenderer::SetCueStyles(std::function<std::string(int row)> styleOf) {
    m->styleOf = std::move(styleOf);
    ++m->generation;
}

void SubtitleRenderer::SetCues(const doc::SubtitleDocument& d) {
    m->follow.reset();
    m->doc = &d;
    m->plain = d.Format() != "ass" && d.Format() != "ssa";
    m->Rebuild();
}

void SubtitleRenderer::Follow(const doc::SubtitleDocument& d) {
    SetCues(d);
    m->follow = std::make_unique<QObject>();
    QObject* ctx = m->follow.get();
    using D = doc::SubtitleDocument;
    QObject::connect(&d, &D::RowsInserted, ctx, [this](int first, int last) { CuesInserted(first, last); });
    QObject::connect(&d, &D::RowsRemoved, ctx, [this](int first, int last) { CuesRemoved(first, last); });
    QObject::connect(&d, &D::CellsChanged, ctx, [this](int first, int last, int c0, int c1) {
        CuesChanged(first, last, c0 <= doc::ColEnd && c1 >= doc::ColStart);
    });
    QObject::connect(&d, &D::ResetDone, ctx, [this] { m->Rebuild(); });
    QObject::connect(&d, &QObject::destroyed, ctx, [this] { Clear(); });
}

void SubtitleRenderer::Clear() {
    m->follow.reset();
    m->doc = nullptr;
    m->Rebuild();
}

void SubtitleRenderer::CuesChanged(int first, int last, bool times) {
    if (!m->doc) return;
    ++m->generation;
    if (!times) return;
    first = std::max(first, 0);
    last = std::min(last, static_cast<int>(m->rowStart.size()) - 1);
    if (first > last) return;
    // Many rows at once (a shift of everything): one rebuild beats moving
    // each entry.
    if (last - first >= 4096 && static_cast<std::size_t>(last - first) * 8 >= m->byStart.size()) {
        m->Rebuild();
        return;
    }
    auto& v = m->byStart;
    for (int row = first; row <= last; ++row) {
        std::size_t from = m->PositionOf(row);
        if (from >= v.size() || v[from].row != row) {  // out of step: start again
            m->Rebuild();
            return;
        }
        const Impl::Entry e = m->EntryOf(row);
        m->rowStart[static_cast<std::size_t>(row)] = e.start;
        // Rotated into its new place: only the entries in between move.
        const auto at = v.begin() + static_cast<std::ptrdiff_t>(from);
        std::size_t to;
        if (Impl::Before(e, *at)) {
            const auto it = std::lower_bound(v.begin(), at, e, Impl::Before);
            std::rotate(it, at, at + 1);
            to = static_cast<std::size_t>(it - v.begin());
        } else {
            const auto it = std::lower_bound(at + 1, v.end(), e, Impl::Before);
            std::rotate(at, at + 1, it);
            to = static_cast<std::size_t>(it - v.begin()) - 1;
        }
        v[to] = e;
        const std::size_t lo = std::min(from, to), hi = std::max(from, to) + 1;
        // The runs before the old and the new place may have ended there.
        m->ResolveAround(lo, hi - 1);
    }
}

void SubtitleRenderer::CuesInserted(int first, int last) {
    if (!m->doc) return;
    const int count = last - first + 1;
    if (count <= 0 || first < 0 || first > static_cast<int>(m->rowStart.size())) {
        m->Rebuild();
        return;
    }
    if (count >= 4096 && static_cast<std::size_t>(count) * 8 >= m->byStart.size()) {
        m->Rebuild();
        return;
    }
    ++m->generation;
    auto& v = m->byStart;
    for (auto& e : v)
        if (e.row >= first) e.row += count;
    m->rowStart.insert(m->rowStart.begin() + first, static_cast<std::size_t>(count), 0);
    std::size_t lo = v.size(), hi = 0;
    for (int row = first; row <= last; ++row) {
        const Impl::Entry e = m->EntryOf(row);
        m->rowStart[static_cast<std::size_t>(row)] = e.start;
        const std::size_t at =
            static_cast<std::size_t>(std::lower_bound(v.begin(), v.end(), e, Impl::Before) - v.begin());
        v.insert(v.begin() + static_cast<std::ptrdiff_t>(at), e);
        if (lo <= hi && at <= hi) ++hi;
        lo = std::min(lo, at);
        hi = std::max(hi, at);
    }
    m->ResolveAround(lo, hi);
    // Every entry after the first insertion moved one place or more.
    m->RefreshTree(lo, v.size());
}

void SubtitleRenderer::CuesRemoved(int first, int last) {
    if (!m->doc) return;
    const int count = last - first + 1;
    if (count <= 0 || first < 0 || last >= static_cast<int>(m->rowStart.size())) {
        m->Rebuild();
        return;
    }
    ++m->generation;
    auto& v = m->byStart;
    std::size_t lo = v.size();
    std::size_t out = 0;
    std::vector<std::size_t> places;  // where removed entries were, in the new numbering
    for (std::size_t i = 0; i < v.size(); ++i) {
        Impl::Entry e = v[i];
        if (e.row >= first && e.row <= last) {
            lo = std::min(lo, out);
            if (places.empty() || places.back() != out) places.push_back(out);
            continue;
        }
        if (e.row > last) e.row -= count;
        v[out++] = e;
    }
    const std::size_t oldSize = v.size();
    v.resize(out);
    m->rowStart.erase(m->rowStart.begin() + first, m->rowStart.begin() + last + 1);
    // The runs just before each removed entry may have ended at its start.
    if (!v.empty())
        for (std::size_t p : places) m->ResolveAround(std::min(p, v.size() - 1), std::min(p, v.size() - 1));
    m->RefreshTree(std::min(lo, v.size()), oldSize);
}

std::vector<int> SubtitleRenderer::ShowingAt(int64_t ms) const { return m->ShowingAt(ms); }

namespace {
// x * y / 255 rounded as (x * y + 127) / 255 is, for bytes, without a division.
inline uint32_t Mul255(uint32_t x, uint32_t y) {
    const uint32_t t = x * y + 128;
    return (t + (t >> 8)) >> 8;
}
// Each byte of a premultiplied pixel times y / 255, rounded as Mul255 does,
// two channels at a time. A source over it never carries: a premultiplied
// channel is at most its alpha, and alpha plus (255 - alpha) is 255.
inline uint32_t ByteMul(uint32_t pixel, uint32_t y) {
    uint32_t rb = (pixel & 0xFF00FFu) * y + 0x800080u;
    rb = ((rb + ((rb >> 8) & 0xFF00FFu)) >> 8) & 0xFF00FFu;
    uint32_t ag = ((pixel >> 8) & 0xFF00FFu) * y + 0x800080u;
    ag = (ag + ((ag >> 8) & 0xFF00FFu)) & 0xFF00FF00u;
    return rb | ag;
}
}  // namespace

SubtitleRenderer::Overlay SubtitleRenderer::RenderOverlay(int64_t ms, QSize size) {
    Overlay result;
    if (!Ready() || !m->doc || size.width() <= 0 || size.height() <= 0) {
        result.changed = !m->lastEmpty;
        m->lastEmpty = true;
        m->last = Overlay{};
        return result;
    }
    std::vector<int> rows = m->ShowingAt(ms);
    // More at once than a screen can hold is a broken file, not a script.
    if (rows.size() > kMaxShowing) rows.resize(kMaxShowing);
    if (rows.empty()) {
        result.changed = !m->lastEmpty;
        m->lastEmpty = true;
        m->last = Overlay{};
        return result;
    }
    bool sizeChanged = false;
    if (size != m->frame) {
        m->frame = size;
        ass_set_frame_size(m->renderer, size.width(), size.height());
        sizeChanged = true;
    }
    const bool refilled = m->trackGeneration != m->generation || m->trackRows != rows;
    if (refilled) m->FillTrack(rows);
    int change = 0;
    ASS_Image* images = ass_render_frame(m->renderer, m->track, Clamp(ms), &change);
    if (!images) {
        result.changed = !m->lastEmpty;
        m->lastEmpty = true;
        m->last = Overlay{};
        return result;
    }
    if (change == 0 && !sizeChanged && !m->lastEmpty) {
        result = m->last;
        result.changed = false;
        return result;
    }
    // Bands of images that overlap vertically, each drawn into an image of
    // its own box: a line at the top and one at the bottom must not cost a
    // frame-sized image (8 MB to clear, and fresh pages the first time).
    struct Box {
        int x0, y0, x1, y1;
    };
    std::vector<std::pair<Box, ASS_Image*>> parts;
    for (ASS_Image* i = images; i; i = i->next) {
        if (i->w <= 0 || i->h <= 0) continue;
        Box b{std::max(i->dst_x, 0), std::max(i->dst_y, 0), std::min(i->dst_x + i->w, size.width()),
              std::min(i->dst_y + i->h, size.height())};
        if (b.x0 >= b.x1 || b.y0 >= b.y1) continue;
        parts.emplace_back(b, i);
    }
    // Bands are found in order of tops; the drawing below keeps libass's
    // order, which matters where a shadow, an outline and a fill overlap.
    std::vector<std::size_t> byTop(parts.size());
    for (std::size_t k = 0; k < byTop.size(); ++k) byTop[k] = k;
    std::sort(byTop.begin(), byTop.end(),
              [&](std::size_t a, std::size_t b) { return parts[a].first.y0 < parts[b].first.y0; });
    std::vector<Box> bands;
    std::vector<std::size_t> bandOf(parts.size());
    for (std::size_t k : byTop) {
        const Box& b = parts[k].first;
        if (bands.empty() || b.y0 >= bands.back().y1) {
            bands.push_back(b);
        } else {
            Box& band = bands.back();
            band.x0 = std::min(band.x0, b.x0);
            band.x1 = std::max(band.x1, b.x1);
            band.y1 = std::max(band.y1, b.y1);
        }
        bandOf[k] = bands.size() - 1;
    }
    if (bands.empty()) {
        result.changed = !m->lastEmpty;
        m->lastEmpty = true;
        m->last = Overlay{};
        return result;
    }
    m->last = Overlay{};  // its slots may be written again
    std::vector<QImage> canvases;
    for (const Box& band : bands) canvases.push_back(m->canvases.Take(band.x1 - band.x0, band.y1 - band.y0));
    for (std::size_t k = 0; k < parts.size(); ++k) {
        const ASS_Image* i = parts[k].second;
        const Box& band = bands[bandOf[k]];
        const int x0 = band.x0, y0 = band.y0;
        uchar* bits = canvases[bandOf[k]].bits();
        const qsizetype stride = canvases[bandOf[k]].bytesPerLine();
        const uint32_t c = i->color;
        const uint32_t r = c >> 24, g = (c >> 16) & 0xFF, b = (c >> 8) & 0xFF, opacity = 255 - (c & 0xFF);
        if (opacity == 0) continue;
        // The image's colour premultiplied at each coverage.
        uint32_t colour[256];
        for (uint32_t cover = 0; cover < 256; ++cover) {
            const uint32_t a = Mul255(cover, opacity);
            colour[cover] = (a << 24) | (Mul255(r, a) << 16) | (Mul255(g, a) << 8) | Mul255(b, a);
        }
        const int ix0 = parts[k].first.x0, iy0 = parts[k].first.y0;
        const int ix1 = parts[k].first.x1, iy1 = parts[k].first.y1;
        for (int y = iy0; y < iy1; ++y) {
            const unsigned char* src = i->bitmap + static_cast<std::ptrdiff_t>(y - i->dst_y) * i->stride;
            auto* dst = reinterpret_cast<uint32_t*>(bits + static_cast<std::ptrdiff_t>(y - y0) * stride);
            for (int x = ix0; x < ix1; ++x) {
                const uint32_t cover = src[x - i->dst_x];
                if (cover == 0) continue;
                const uint32_t s = colour[cover];
                const uint32_t d = dst[x - x0];
                // Most pixels are fully covered, or land where nothing was
                // drawn yet: no blending to do.
                if (d == 0 || s >= 0xFF000000u) {
                    dst[x - x0] = s;
                    continue;
                }
                dst[x - x0] = s + ByteMul(d, 255 - (s >> 24));
            }
        }
    }
    for (std::size_t k = 0; k < bands.size(); ++k)
        result.pieces.push_back(Piece{std::move(canvases[k]), QPoint(bands[k].x0, bands[k].y0)});
    result.changed = true;
    m->last = result;
    m->lastEmpty = false;
    return result;
}

QImage SubtitleRenderer::Render(int64_t ms, QSize size, bool* changed) {
    const Overlay o = RenderOverlay(ms, size);
    if (changed) *changed = o.changed;
    if (o.Empty()) return {};
    QImage frame(size, QImage::Format_ARGB32_Premultiplied);
    frame.fill(Qt::transparent);
    for (const Piece& p : o.pieces) {
        const int w = p.image.width();
        for (int y = 0; y < p.image.height(); ++y)
            std::memcpy(frame.scanLine(p.at.y() + y) + p.at.x() * 4, p.image.constScanLine(y),
                        static_cast<std::size_t>(w) * 4);
    }
    return frame;
}

}  // namespace lumeval::media
