#include "app/editorlogic.h"
#include "document/editops.h"

#include <cerrno>
#include <cstring>

#include "engine/encoding/codepage.h"
#include "engine/encoding/detect.h"
#include "engine/linetable.h"

#include <QStringBuilder>
#include <algorithm>
#include <array>
#include <cmath>
#include <type_traits>
#include <cstdlib>
#include <limits>

namespace lumeval::editor {

namespace {

struct WordEntry {
    const char* word;
    bool prefix;
    Command command;
};

// The dispatcher's table, in the order words are tried.
constexpr std::array<WordEntry, 15> kWords{{
    {"find", false, Command::Find},
    {"findnext", false, Command::FindNext},
    {"findall", false, Command::FindAll},
    {"timeoffsetall", true, Command::TimeOffsetAll},
    {"timeoffsetstart", true, Command::TimeOffsetStart},
    {"timeoffsetend", true, Command::TimeOffsetEnd},
    {"opensubtitle", false, Command::OpenSubtitle},
    {"openvideo", false, Command::OpenVideo},
    {"save", false, Command::Save},
    {"combinesubtitle_to_file", false, Command::CombineToFile},
    {"combinesubtitle_by_file", false, Command::CombineByFile},
    {"combinesubtitle_by_timeline", false, Command::CombineByTimeline},
    {"about", false, Command::About},
    {"initsetting", false, Command::InitSetting},
    {"exit", false, Command::Exit},
}};

struct ShiftItem {
    const char16_t* text;
    int32_t amount;
};

constexpr std::array<ShiftItem, 12> kShiftItems{{
    {u"减少10秒", -10000},
    {u"减少5秒", -5000},
    {u"减少1秒", -1000},
    {u"增加1秒", 1000},
    {u"增加5秒", 5000},
    {u"增加10秒", 10000},
    {u"减少500毫秒", -500},
    {u"减少100毫秒", -100},
    {u"减少50毫秒", -50},
    {u"增加50毫秒", 50},
    {u"增加100毫秒", 100},
    {u"增加500毫秒", 500},
}};

bool isBlank(QChar c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }

// Trimming takes spaces only; the texts in question never hold others.
QString trimSpaces(const QString& s) {
    qsizetype from = 0, to = s.size();
    while (from < to && s[from] == u' ') ++from;
    while (to > from && s[to - 1] == u' ') --to;
    return s.mid(from, to - from);
}

}  // namespace

CommandMatch MatchCommand(const QString& word) {
    CommandMatch m;
    m.word = trimSpaces(word).toLower();
    if (m.word.isEmpty()) return m;
    for (const auto& w : kWords) {
        const QLatin1StringView key(w.word);
        if (w.prefix ? m.word.startsWith(key) : m.word == key) {
            m.command = w.command;
            break;
        }
    }
    return m;
}

QString OffsetPrefix(Command command) {
    switch (command) {
        case Command::TimeOffsetAll: return QStringLiteral("timeoffsetall");
        case Command::TimeOffsetStart: return QStringLiteral("timeoffsetstart");
        case Command::TimeOffsetEnd: return QStringLiteral("timeoffsetend");
        default: return {};
    }
}

double LeadingNumber(const QString& text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && isBlank(text[i])) ++i;
    std::string digits;
    if (i < n && (text[i] == u'-' || text[i] == u'+')) digits += static_cast<char>(text[i++].unicode());
    bool any = false, point = false;
    for (; i < n; ++i) {
        const QChar c = text[i];
        if (c >= u'0' && c <= u'9') {
            digits += static_cast<char>(c.unicode());
            any = true;
        } else if (c == u'.' && !point) {
            digits += '.';
            point = true;
        } else {
            break;
        }
    }
    if (!any) return 0;
    // An exponent counts only when digits follow it.
    if (i < n && (text[i] == u'e' || text[i] == u'E' || text[i] == u'd' || text[i] == u'D')) {
        qsizetype j = i + 1;
        std::string exponent = "e";
        if (j < n && (text[j] == u'-' || text[j] == u'+')) exponent += static_cast<char>(text[j++].unicode());
        const qsizetype firstDigit = j;
        while (j < n && text[j] >= u'0' && text[j] <= u'9' && j - firstDigit < 6)
            exponent += static_cast<char>(text[j++].unicode());
        if (j > firstDigit) digits += exponent;
    }
    const double v = std::strtod(digits.c_str(), nullptr);
    return std::isfinite(v) ? v : (v > 0 ? std::numeric_limits<double>::max()
                                         : std::numeric_limits<double>::lowest());
}

int RoundHalfEven(double value) {
    const double r = std::nearbyint(value);
    if (!(r >= std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
    if (r > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
    return static_cast<int>(r);
}

int32_t OffsetAmount(const QString& word, const QString& prefix) {
    QString rest = word;
    if (!prefix.isEmpty()) rest.remove(prefix);
    return RoundHalfEven(LeadingNumber(rest));
}

const QString& TimeShiftGroup() {
    static const QString group = [] {
        QStringList parts;
        for (std::size_t i = 0; i < kShiftItems.size(); ++i) {
            if (i == 3 || i == 6 || i == 9) parts << QStringLiteral("-");
            parts << QString::fromUtf16(kShiftItems[i].text);
        }
        return parts.join(u'|');
    }();
    return group;
}

std::optional<int32_t> TimeShiftAmount(const QString& item) {
    for (const auto& s : kShiftItems)
        if (item == QString::fromUtf16(s.text)) return s.amount;
    return std::nullopt;
}

QString ListMenuText(bool listHasRows, bool mergeOffered) {
    QString text;
    auto add = [&text](const QString& group) {
        if (!text.isEmpty()) text += QStringLiteral("|-|");
        text += group;
    };
    if (listHasRows) {
        add(TimeShiftGroup());
        add(QStringLiteral("复制开始位置|复制结束位置|复制文本"));
        add(QStringLiteral("删除|清除"));
        add(QStringLiteral("清除样式"));
        add(QStringLiteral("保存"));
    }
    add(QStringLiteral("关闭|关闭全部"));
    if (mergeOffered) add(QStringLiteral("基于文件合并字幕|基于时间合并字幕"));
    return text;
}

QString MenuItemAt(const QString& menuText, int position) {
    if (position < 0) return {};
    const QStringList items = menuText.split(u'|');
    return position < items.size() ? items[position] : QString();
}

Layout ComputeLayout(int clientWidth, int clientHeight, int statusHeight, int visibleLists,
                     bool mediaOpen, int fixedWidths) {
    Layout l;
    const int n = std::max(0, visibleLists);
    l.splitY = n == 0 ? clientHeight - statusHeight : RoundHalfEven(clientHeight * 0.5);
    if (n > 0) {
        const double share = static_cast<double>(clientWidth) / n;
        int x = 0;
        for (int i = 0; i < n; ++i) {
            ListPlacement p;
            p.textWidth = std::max(0, RoundHalfEven(share - fixedWidths - 17));
            const int top = mediaOpen ? l.splitY : 0;
            const int height = std::max(0, mediaOpen ? clientHeight - statusHeight - l.splitY
                                                     : clientHeight - statusHeight);
            p.rect = QRect(x, top, RoundHalfEven(share), height);
            l.lists.push_back(p);
            x = RoundHalfEven(x + share);
        }
    }
    if (mediaOpen) {
        l.video = QRect(0, 0, clientWidth - 1, std::max(0, l.splitY - 20));
        l.seekBar = WinRect{0, l.splitY - 20, clientWidth - 1, l.splitY};
    }
    return l;
}

void PlaceWaveform(Layout& l, bool picture, int height) {
    if (l.seekBar.IsEmpty()) return;
    const int room = std::max(0, l.video.height());
    const int h = picture ? std::min(std::max(height, 0), room / 2) : room;
    if (h <= 0) return;
    l.waveform = QRect(l.seekBar.Left, l.seekBar.Bottom - h, l.seekBar.Right - l.seekBar.Left, h);
    l.seekBar.Top -= h;
    l.seekBar.Bottom -= h;
    l.video.setHeight(room - h);
}

std::string EntryFromCells(const QString& start, const QString& end, const QString& text) {
    const QString entry = start % QStringLiteral("->") % end % u'|' % text;
    return entry.toStdString();
}

EntryCells CellsFromEntry(const std::string& entryUtf8) {
    const QString entry = QString::fromStdString(entryUtf8);
    EntryCells c;
    const qsizetype bar = entry.indexOf(u'|');
    const QString span = bar < 0 ? entry : entry.left(bar);
    if (bar >= 0) {
        // The text runs to the end, or to the syllable durations of a KSC entry.
        const qsizetype bar2 = entry.indexOf(QChar(char16_t(kTimingSeparator)), bar + 1);
        c.text = trimSpaces(bar2 < 0 ? entry.mid(bar + 1) : entry.mid(bar + 1, bar2 - bar - 1));
    }
    const QString spanTrimmed = trimSpaces(span);
    const qsizetype arrow = spanTrimmed.indexOf(QStringLiteral("->"));
    if (arrow < 0) {
        c.start = spanTrimmed;
    } else {
        c.start = trimSpaces(spanTrimmed.left(arrow));
        c.end = trimSpaces(spanTrimmed.mid(arrow + 2));
    }
    return c;
}

void MergeByTimeline(std::vector<TimelineRow>& active,
                     std::vector<std::vector<TimelineRow>*> others, int64_t threshold,
                     const std::function<void(int)>& progress) {
    const double t = static_cast<double>(threshold);
    for (std::size_t jj = active.size(); jj-- > 0;) {
        TimelineRow& a = active[jj];
        for (std::vector<TimelineRow>* list : others) {
            if (list == nullptr) continue;
            for (std::size_t k = list->size(); k-- > 0;) {
                const TimelineRow& b = (*list)[k];
                // The other lists are in time order: earlier rows lie further away still.
                if (a.start - b.start > t || a.end - b.end > t) break;
                if (std::fabs(a.start - b.start) < t && std::fabs(a.end - b.end) < t) {
                    if (trimSpaces(a.text) != trimSpaces(b.text)) a.text += QStringLiteral("\\N") + b.text;
                    list->erase(list->begin() + static_cast<std::ptrdiff_t>(k));
                }
            }
        }
        if (progress && jj % 100 == 0) progress(static_cast<int>(jj));
    }
}

double TwipsPerPixel(double logicalDpi) { return logicalDpi > 0 ? 1440.0 / logicalDpi : 15.0; }

const QString kDownloadPage = QStringLiteral("https://lumeval.example.org/download");
const QString kHomePage = QStringLiteral("https://lumeval.example.org/");
const QString kFeedbackPage = QStringLiteral("https://lumeval.example.org/feedback");

QString AboutText(const QString& productName, int major, int minor, int revision) {
    QString version = productName % u' ' % QString::number(major) % u'.' % QString::number(minor);
    if (revision > 0) version += QStringLiteral(" Build ") + QString::number(revision);
    const QStringList lines{
        version,
        QString(),
        QStringLiteral("当您第一次使用这个软件时，请阅读软件目录下的帮助文件，"),
        QStringLiteral("尽量使用软件最新版本有助于改善软件使用体验与功能。"),
        QString(),
        QStringLiteral("软件下载页面：") + kDownloadPage,
        QStringLiteral("联系作者：lumeval@example.org"),
        QString(),
        QStringLiteral("软件的发展与进步离不开每一个使用者的支持与帮助，"),
        QStringLiteral("如果您喜欢这个软件，欢迎通过网上支付服务捐助作者："),
        QString(),
        QStringLiteral("捐助地址：https://lumeval.example.org/donate"),
        QString(),
        QStringLiteral("捐助金额及方式取决于您的意愿，银行转账请联系作者，"),
        QStringLiteral("同时也欢迎将您的想法、意见或建议发送到这个邮箱。"),
        QString(),
        QStringLiteral("是否立即访问软件更新日志及下载页面？"),
    };
    return lines.join(QStringLiteral("\r\n"));
}

}  // namespace lumeval::editor

namespace lumeval::editor {

bool ChangesDocuments(Command command) {
    switch (command) {
        case Command::None:
        case Command::Find:
        case Command::FindNext:
        case Command::FindAll:
        case Command::OpenVideo:
        case Command::About:
        case Command::Exit: return false;
        default: return true;
    }
}

int Percent(double value, double max) {
    if (!(max > 0)) return 0;
    return std::clamp(RoundHalfEven(value / max * 100.0), 0, 100);
}

bool FitsCodePage(const std::vector<std::string>& entries, int32_t codePage) {
    std::string bytes;
    for (const std::string& e : entries) {
        if (IsAscii(e)) continue;
        bytes.clear();
        if (!EncodeCodePage(e, codePage, bytes, true).ok) return false;
    }
    return true;
}

QString CodePageName(int32_t codePage) {
    switch (codePage) {
        case 936: return QStringLiteral("GBK");
        case 950: return QStringLiteral("BIG5");
        default: break;
    }
    // The names people know (windows-1251, Shift-JIS, ISO-8859-2); a page
    // without one goes by its number.
    const std::string known = CodePageDisplayName(codePage);
    if (known.rfind("code page ", 0) == 0) return QStringLiteral("代码页 ") + QString::number(codePage);
    return QString::fromStdString(known);
}

QString EncodingName(int32_t encoding, int32_t codePage, bool byteOrderMark) {
    const QString mark = byteOrderMark ? QStringLiteral("（带 BOM）") : QString();
    switch (encoding) {
        case 0: return codePage > 0 ? CodePageName(codePage) : QStringLiteral("ANSI");
        case 1: return QStringLiteral("UTF-8") + mark;
        case 2: return QStringLiteral("UTF-16 LE") + mark;
        case 3: return QStringLiteral("UTF-16 BE") + mark;
        case 4: return QStringLiteral("UTF-32 LE") + mark;
        case 5: return QStringLiteral("UTF-32 BE") + mark;
        default: return QStringLiteral("未知编码");
    }
}

QString ClockText(double seconds) {
    const int64_t ms = std::isfinite(seconds) && seconds > 0 ? std::llround(seconds * 1000.0) : 0;
    return QStringLiteral("%1:%2:%3.%4")
        .arg(ms / 3600000, 2, 10, QLatin1Char('0'))
        .arg(ms / 60000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

QString SeekBarTime(double position, double duration) {
    if (!(duration > 0)) return ClockText(position);
    return ClockText(position) + QStringLiteral(" / ") + ClockText(duration);
}

std::optional<CueTimes> TimesAtPlayhead(int64_t start, int64_t end, bool hasEnd, int64_t playhead,
                                        bool setStart, QString* why) {
    playhead = std::max<int64_t>(playhead, 0);
    if (setStart) {
        if (!hasEnd) return CueTimes{playhead, end};
        // Past its end the cue moves whole: its length is what was timed.
        const int64_t length = std::max<int64_t>(end - start, 0);
        return CueTimes{playhead, playhead > end ? playhead + length : end};
    }
    if (playhead < start) {
        if (why) *why = QStringLiteral("结束位置不能早于开始位置");
        return std::nullopt;
    }
    return CueTimes{start, playhead};
}

namespace {

struct KnownEncoding {
    const char* name;
    int32_t encoding;
    int32_t codePage;
};

// The encodings subtitle files come in, as players and other editors name them.
constexpr KnownEncoding kKnownEncodings[] = {
    {"UTF-8", 1, 0},           {"UTF-16 LE", 2, 0},         {"UTF-16 BE", 3, 0},
    {"GBK", 0, 936},           {"GB18030", 0, 54936},       {"BIG5", 0, 950},
    {"Shift-JIS", 0, 932},     {"EUC-KR", 0, 949},          {"windows-1250", 0, 1250},
    {"windows-1251", 0, 1251}, {"windows-1252", 0, 1252},   {"windows-1253", 0, 1253},
    {"windows-1254", 0, 1254}, {"windows-1255", 0, 1255},   {"windows-1256", 0, 1256},
    {"windows-1257", 0, 1257}, {"windows-1258", 0, 1258},   {"ISO-8859-1", 0, 28591},
    {"ISO-8859-2", 0, 28592},  {"ISO-8859-3", 0, 28593},    {"ISO-8859-4", 0, 28594},
    {"ISO-8859-5", 0, 28595},  {"ISO-8859-6", 0, 28596},    {"ISO-8859-7", 0, 28597},
    {"ISO-8859-8", 0, 28598},  {"ISO-8859-9", 0, 28599},    {"ISO-8859-10", 0, 28600},
    {"ISO-8859-13", 0, 28603}, {"ISO-8859-14", 0, 28604},   {"ISO-8859-15", 0, 28605},
    {"ISO-8859-16", 0, 28606},
};

}  // namespace

const std::vector<EncodingChoice>& EncodingChoices() {
    static const std::vector<EncodingChoice> choices = [] {
        std::vector<EncodingChoice> out;
        for (const KnownEncoding& k : kKnownEncodings) {
            // A code page this system cannot convert is not offered.
            if (k.encoding == 0 && !CodePageAvailable(k.codePage)) continue;
            out.push_back({QString::fromLatin1(k.name), k.encoding, k.codePage});
        }
        return out;
    }();
    return choices;
}

QString SaveFailureCause(int error) {
    switch (error) {
        case EACCES:
        case EPERM: return QStringLiteral("没有写入权限（文件或文件夹是只读的）");
        case EROFS: return QStringLiteral("文件所在的磁盘是只读的");
        case ENOSPC:
        case EDQUOT: return QStringLiteral("磁盘空间不足");
        case EISDIR: return QStringLiteral("目标是一个文件夹");
        case ENOENT:
        case ENOTDIR: return QStringLiteral("文件所在的文件夹已不存在");
        case ENAMETOOLONG: return QStringLiteral("文件名太长");
        case EIO: return QStringLiteral("磁盘读写错误");
        case 0: return QStringLiteral("无法写入文件");
        default: return QString::fromLocal8Bit(std::strerror(error));
    }
}

QStringList WithRecent(QStringList list, const QString& path, int limit) {
    if (path.isEmpty()) return list;
    list.removeAll(path);
    list.prepend(path);
    while (list.size() > std::max(limit, 0)) list.removeLast();
    return list;
}

std::optional<int64_t> ParseShiftAmount(const QString& typed) {
    QString t = typed.trimmed();
    bool whole = false;
    const qlonglong ms = t.toLongLong(&whole);
    if (whole) return static_cast<int64_t>(ms);
    int64_t sign = 1;
    if (t.startsWith(u'-') || t.startsWith(u'+')) {
        sign = t.startsWith(u'-') ? -1 : 1;
        t.remove(0, 1);
    }
    const doc::TypedTime time = doc::ParseTypedTime(t.toStdString());
    if (!time.ms) return std::nullopt;
    return sign * *time.ms;
}

int64_t Retime::Apply(int64_t ms) const {
    const double t = static_cast<double>(ms) * factor + shiftMs;
    if (!(t > 0)) return 0;
    if (t >= 9.0e15) return static_cast<int64_t>(9.0e15);
    return std::llround(t);
}

std::optional<Retime> ParseRateChange(const QString& typed) {
    const QStringList parts = typed.trimmed().split(u':');
    if (parts.size() != 2) return std::nullopt;
    bool okFrom = false, okTo = false;
    const double from = parts[0].trimmed().toDouble(&okFrom);
    const double to = parts[1].trimmed().toDouble(&okTo);
    if (!okFrom || !okTo || !(from > 0) || !(to > 0) || from > 1000 || to > 1000) return std::nullopt;
    return Retime{from / to, 0};
}

std::optional<Retime> SyncRetime(int64_t oldA, int64_t newA, int64_t oldB, int64_t newB, QString* why) {
    if (oldA == oldB) {
        if (why) *why = QStringLiteral("两个同步点的原时间相同");
        return std::nullopt;
    }
    if (oldB < oldA) {
        std::swap(oldA, oldB);
        std::swap(newA, newB);
    }
    if (newB <= newA) {
        if (why) *why = QStringLiteral("两个同步点的先后颠倒了：较晚的原时间必须对应较晚的新时间");
        return std::nullopt;
    }
    const double factor = static_cast<double>(newB - newA) / static_cast<double>(oldB - oldA);
    return Retime{factor, static_cast<double>(newA) - factor * static_cast<double>(oldA)};
}

doc::CheckLimits CheckLimitsFrom(const CheckLimitTexts& texts) {
    doc::CheckLimits limits;
    const auto whole = [](const QString& text, int64_t low, int64_t high, auto& into) {
        bool ok = false;
        const qlonglong v = text.trimmed().toLongLong(&ok);
        if (ok && v >= low && v <= high) into = static_cast<std::remove_reference_t<decltype(into)>>(v);
    };
    whole(texts.minDuration, 0, 3600000, limits.minDurationMs);
    whole(texts.maxDuration, 1, 3600000, limits.maxDurationMs);
    whole(texts.minGap, 0, 60000, limits.minGapMs);
    whole(texts.maxLineWidth, 1, 10000, limits.maxLineWidth);
    whole(texts.maxLines, 1, 1000, limits.maxLines);
    bool ok = false;
    const double cps = texts.maxCps.trimmed().toDouble(&ok);
    if (ok && cps > 0 && cps <= 1000) limits.maxCharsPerSecond = cps;
    // A maximum below the minimum would mark every cue twice over.
    if (limits.maxDurationMs < limits.minDurationMs) limits.maxDurationMs = doc::CheckLimits{}.maxDurationMs;
    if (limits.maxDurationMs < limits.minDurationMs) limits.minDurationMs = doc::CheckLimits{}.minDurationMs;
    return limits;
}

}  // namespace lumeval::editor
