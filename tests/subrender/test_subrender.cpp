// The subtitle overlay drawn by libass: pixels of real renders (where the
// text lands, its colours), the cue index against a brute-force search while
// a document is edited, and inputs that must not crash.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "document/document.h"
#include "media/subrender.h"

namespace {

using lumeval::doc::CueValue;
using lumeval::doc::kNoEnd;
using lumeval::doc::SubtitleDocument;
using lumeval::media::PlainToAss;
using lumeval::media::SubtitleRenderer;

const QSize kFrame(640, 360);

void Load(SubtitleDocument& d, const std::string& format, const std::vector<CueValue>& cues) {
    d.SetFormat(format);
    d.BeginLoad();
    for (const auto& c : cues) d.AppendLoaded(c.start, c.end, c.text);
    d.EndLoad();
}

// What a frame shows, counted by region and colour.
struct Pixels {
    int opaque = 0;      // alpha above 200
    int top = 0;         // any ink in the top third
    int bottom = 0;      // any ink in the bottom third
    int whiteish = 0;    // opaque and all channels above 200
    int red = 0;         // opaque, red high, green and blue low
    int green = 0;       // opaque, green high, red and blue low
    int ink = 0;         // any alpha at all
    int near = 0;        // ink within 40 px of the point asked for
    bool any() const { return opaque > 0 || top > 0 || bottom > 0; }
};

Pixels Count(const QImage& image, QPoint around = {-1000, -1000}) {
    Pixels p;
    if (image.isNull()) return p;
    EXPECT_EQ(image.format(), QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = line[x];
            const int a = qAlpha(c);
            if (a == 0) continue;
            ++p.ink;
            if (y < image.height() / 3) ++p.top;
            if (y >= image.height() * 2 / 3) ++p.bottom;
            if (std::abs(x - around.x()) < 40 && std::abs(y - around.y()) < 40) ++p.near;
            if (a < 200) continue;
            ++p.opaque;
            const int r = qRed(c), g = qGreen(c), b = qBlue(c);
            if (r > 200 && g > 200 && b > 200) ++p.whiteish;
            if (r > 200 && g < 60 && b < 60) ++p.red;
            if (g > 200 && r < 60 && b < 60) ++p.green;
        }
    }
    return p;
}

const char* kHeader =
    "[Script Info]\nScriptType: v4.00+\nPlayResX: 640\nPlayResY: 360\n\n"
    "[V4+ Styles]\n"
    "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, Bold, Italic, "
    "Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, Shadow, Alignment, MarginL, "
    "MarginR, MarginV, Encoding\n"
    // Green text, no outline: every ink pixel is the style's colour.
    "Style: Default,WenQuanYi Micro Hei,40,&H0000FF00,&H000000FF,&H00000000,&H00000000,0,0,0,0,100,100,0,0,1,0,0,"
    "2,10,10,10,1\n\n";

TEST(SubtitleRenderer, PlainCueShowsOnlyWhileItRunsAtTheBottom) {
    SubtitleDocument d;
    Load(d, "srt", {{1000, 2000, "Hello there"}});
    SubtitleRenderer r;
    ASSERT_TRUE(r.Ready());
    r.SetCues(d);

    struct Case {
        int64_t ms;
        bool shows;
    } cases[] = {{500, false}, {999, false}, {1000, true}, {1500, true}, {1999, true}, {2000, false}, {-5, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ms);
        const QImage image = r.Render(c.ms, kFrame);
        const Pixels p = Count(image);
        EXPECT_EQ(p.any(), c.shows);
        if (!c.shows) continue;
        EXPECT_EQ(image.size(), kFrame);
        EXPECT_GT(p.whiteish, 20);
        EXPECT_GT(p.bottom, 0);
        EXPECT_EQ(p.top, 0);
    }
}

TEST(SubtitleRenderer, OverlayPiecesAreTheBoxesOfTheWholeFrame) {
    struct Case {
        const char* name;
        std::vector<CueValue> cues;
        std::size_t pieces;
    } cases[] = {
        {"one line", {{0, 5000, "Box"}}, 1},
        {"two lines of one cue", {{0, 5000, "Box\\Nand more"}}, 1},
        // A line at the top and one at the bottom: two small images, not
        // one the height of the frame.
        {"top and bottom", {{0, 5000, "Bottom"}, {0, 5000, "{\\an8}Top"}}, 2},
    };
    for (const auto& c : cases) {
        SubtitleDocument d;
        Load(d, "ass", c.cues);
        SubtitleRenderer r;
        r.SetCues(d);
        const auto o = r.RenderOverlay(100, kFrame);
        ASSERT_EQ(c.pieces, o.pieces.size()) << c.name;
        EXPECT_TRUE(o.changed);
        const QImage whole = r.Render(100, kFrame);
        ASSERT_FALSE(whole.isNull());
        QImage rest = whole;
        int covered = 0;
        for (const auto& piece : o.pieces) {
            const QRect box(piece.at, piece.image.size());
            EXPECT_TRUE(QRect(QPoint(0, 0), kFrame).contains(box)) << c.name;
            EXPECT_EQ(whole.copy(box), piece.image) << c.name;
            EXPECT_LT(box.height(), kFrame.height() / 3) << c.name;
            covered += box.height();
            QPainter clear(&rest);
            clear.setCompositionMode(QPainter::CompositionMode_Clear);
            clear.fillRect(box, Qt::transparent);
        }
        // Nothing drawn outside the pieces, and they do not overlap.
        QImage empty(kFrame, QImage::Format_ARGB32_Premultiplied);
        empty.fill(Qt::transparent);
        EXPECT_EQ(rest, empty) << c.name;
        if (o.pieces.size() == 2) {
            const QRect a(o.pieces[0].at, o.pieces[0].image.size()), b(o.pieces[1].at, o.pieces[1].image.size());
            EXPECT_FALSE(a.intersects(b)) << c.name;
        }
        // The same picture again: unchanged.
        EXPECT_FALSE(r.RenderOverlay(200, kFrame).changed) << c.name;
    }
}

TEST(SubtitleRenderer, AKeptOverlayKeepsItsPixelsThroughLaterFrames) {
    // Pieces are drawn into memory reused from frame to frame; a picture the
    // caller still holds must not change under it.
    SubtitleDocument d;
    Load(d, "srt", {{0, 1000, "First text"}, {1000, 2000, "Other word"}, {2000, 3000, "First text"}});
    SubtitleRenderer r;
    r.SetCues(d);
    const auto kept = r.RenderOverlay(100, kFrame);
    ASSERT_EQ(1u, kept.pieces.size());
    const QImage before = kept.pieces[0].image.copy();
    for (int64_t t = 1100; t < 3000; t += 500) EXPECT_FALSE(r.RenderOverlay(t, kFrame).Empty());
    EXPECT_EQ(before, kept.pieces[0].image);
    // And memory given back is reused with nothing of the last picture left.
    SubtitleRenderer fresh;
    fresh.SetCues(d);
    EXPECT_EQ(fresh.Render(1500, kFrame), r.Render(1500, kFrame));
}

TEST(SubtitleRenderer, AssTagsAndHeaderStyles) {
    struct Case {
        const char* text;
        bool top, bottom;
        bool red, green;
        QPoint around;
    } cases[] = {
        {"Styled by the header", false, true, false, true, {}},
        {"{\\an8}At the top", true, false, false, true, {}},
        {"{\\pos(100,180)\\an5}X", false, false, false, true, {100, 180}},
        {"{\\c&H0000FF&}Red words", false, true, true, false, {}},
        {"{\\b1\\i1}Bold{\\b0} and \\Nitalic", false, true, false, true, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        SubtitleDocument d;
        Load(d, "ass", {{0, 1000, c.text}});
        SubtitleRenderer r;
        r.SetHeader(kHeader);
        r.SetCues(d);
        const Pixels p = Count(r.Render(500, kFrame), c.around);
        ASSERT_TRUE(p.any());
        EXPECT_EQ(p.top > 0, c.top);
        EXPECT_EQ(p.bottom > 0, c.bottom);
        EXPECT_EQ(p.red > 10, c.red);
        EXPECT_EQ(p.green > 10, c.green);
        if (c.around.x() > 0) {
            EXPECT_GT(p.near, 0);
            EXPECT_EQ(p.near, p.ink) << "all ink near the position";
        }
    }
}

TEST(SubtitleRenderer, AScriptWithoutADefaultStyleUsesItsFirst) {
    std::string header = kHeader;
    header.replace(header.find("Style: Default,"), 15, "Style: Main,");
    header.replace(header.find("&H0000FF00"), 10, "&H000000FF");  // red
    SubtitleDocument d;
    Load(d, "ass", {{0, 1000, "Main style"}});
    SubtitleRenderer r;
    r.SetHeader(header);
    r.SetCues(d);
    const Pixels p = Count(r.Render(500, kFrame));
    EXPECT_GT(p.red, 10);
    EXPECT_EQ(p.whiteish, 0);
}

TEST(SubtitleRenderer, EachCueTakesItsOwnStyleWhenItIsKnown) {
    std::string header = kHeader;
    // A second style, red, beside the green Default.
    header.insert(header.find("\n\n", header.find("Style: Default,")) + 1,
                  "Style: Alarm,WenQuanYi Micro Hei,40,&H000000FF,&H000000FF,&H00000000,&H00000000,0,0,0,0,100,100,0,0,"
                  "1,0,0,2,10,10,10,1\n");
    SubtitleDocument d;
    Load(d, "ass", {{0, 1000, "first"}, {2000, 3000, "second"}, {4000, 5000, "third"}});
    SubtitleRenderer r;
    r.SetHeader(header);
    r.SetCues(d);
    r.SetCueStyles([](int row) -> std::string { return row == 1 ? "alarm" : row == 2 ? "*Missing" : ""; });
    struct Case {
        int64_t ms;
        bool red, green;
    } cases[] = {{500, false, true}, {2500, true, false}, {4500, false, true}};  // unknown name: the default
    for (const Case& c : cases) {
        const Pixels p = Count(r.Render(c.ms, kFrame));
        EXPECT_EQ(p.red > 10, c.red) << c.ms;
        EXPECT_EQ(p.green > 10, c.green) << c.ms;
    }
}

TEST(SubtitleRenderer, EventStylesAreReadByTheFormatLine) {
    const std::string script =
        "[Script Info]\nTitle: x\n\n[V4+ Styles]\nStyle: Default,Arial,20\n\n[Events]\r\n"
        "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\r\n"
        "Dialogue: 0,0:00:01.00,0:00:02.00,Top,,0,0,0,,a, b\r\n"
        "Comment: 0,0:00:02.00,0:00:03.00,Note,,0,0,0,,not a cue\r\n"
        "dialogue: 0,0:00:03.00,0:00:04.00, Default ,,0,0,0,,c\r\n"
        "Dialogue: 0,0:00:05.00\r\n";  // cut short: no style
    EXPECT_EQ(SubtitleRenderer::EventStylesOf(script), (std::vector<std::string>{"Top", "Default", ""}));
    // SSA's order, the style fourth after Marked.
    const std::string ssa =
        "[Events]\nFormat: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
        "Dialogue: Marked=0,0:00:01.00,0:00:02.00,Sub,,0,0,0,,x\n";
    EXPECT_EQ(SubtitleRenderer::EventStylesOf(ssa), (std::vector<std::string>{"Sub"}));
    const std::string reordered = "[Events]\nFormat: Style, Start, End, Text\nDialogue: Big,0:00:01.00,0:00:02.00,x\n";
    EXPECT_EQ(SubtitleRenderer::EventStylesOf(reordered), (std::vector<std::string>{"Big"}));
    EXPECT_TRUE(SubtitleRenderer::EventStylesOf("Dialogue: 0,1,2,Outside,,0,0,0,,no events section").empty());
}

TEST(SubtitleRenderer, PlainTextIsLiteralAndKnowsSubRipTags) {
    // Braces of a SubRip cue are text, not tags: "{\an8}" stays at the bottom.
    SubtitleDocument d;
    Load(d, "srt", {{0, 1000, "{\\an8}not a tag"}, {2000, 3000, "<font color=\"#FF0000\">red</font>"}});
    SubtitleRenderer r;
    r.SetCues(d);
    Pixels p = Count(r.Render(500, kFrame));
    EXPECT_GT(p.bottom, 0);
    EXPECT_EQ(p.top, 0);
    p = Count(r.Render(2500, kFrame));
    EXPECT_GT(p.red, 10);

    const struct {
        const char* in;
        const char* out;
    } table[] = {
        {"a\\Nb", "a\\Nb"},
        {"<i>x</i>", "{\\i1}x{\\i0}"},
        {"<B>x</B><u>y</u><s>z</s>", "{\\b1}x{\\b0}{\\u1}y{\\u0}{\\s1}z{\\s0}"},
        {"<font color=#00ff00 face=\"x\">g</font>", "{\\c&H00FF00&}g{\\c}"},
        {"<font color=\"red\">r</font>", "{\\c&H0000FF&}r{\\c}"},
        {"<font face=\"Arial\">f</font>", "f{\\c}"},
        {"{\\b1}", "\\{\\\u2060b1\\}"},
        {"1 < 2 > 0", "1 < 2 > 0"},
        {"<img src=x>", "<img src=x>"},
        {"line\r\nnext", "line\\Nnext"},
    };
    for (const auto& c : table) EXPECT_EQ(PlainToAss(c.in), c.out) << c.in;
}

TEST(SubtitleRenderer, ChineseTextRendersWithTheDefaultStyle) {
    SubtitleDocument d;
    Load(d, "lrc", {{0, kNoEnd, "我们今天一起回家吧"}});
    SubtitleRenderer r;
    r.SetCues(d);
    const Pixels p = Count(r.Render(100, kFrame));
    EXPECT_GT(p.whiteish, 50);
    EXPECT_GT(p.bottom, 0);
}

TEST(SubtitleRenderer, CueWithoutEndShowsUntilTheNextStart) {
    SubtitleDocument d;
    Load(d, "lrc", {{1000, kNoEnd, "one"}, {1000, kNoEnd, "also one"}, {3000, kNoEnd, "two"}, {5000, 5500, "three"}});
    SubtitleRenderer r;
    r.SetCues(d);
    EXPECT_EQ(r.ShowingAt(999), std::vector<int>{});
    EXPECT_EQ(r.ShowingAt(1000), (std::vector<int>{0, 1}));
    EXPECT_EQ(r.ShowingAt(2999), (std::vector<int>{0, 1}));
    EXPECT_EQ(r.ShowingAt(3000), std::vector<int>{2});
    EXPECT_EQ(r.ShowingAt(5200), std::vector<int>{3});
    EXPECT_EQ(r.ShowingAt(5600), std::vector<int>{});
    // The last one without an end stays up.
    SubtitleDocument e;
    Load(e, "lrc", {{1000, kNoEnd, "last"}});
    r.SetCues(e);
    EXPECT_EQ(r.ShowingAt(1000000000), std::vector<int>{0});
}

TEST(SubtitleRenderer, EditsChangeTheNextRender) {
    SubtitleDocument d;
    Load(d, "srt", {{1000, 2000, "short"}, {5000, 6000, "later"}});
    SubtitleRenderer r;
    r.Follow(d);
    const QImage before = r.Render(1500, kFrame);
    ASSERT_FALSE(before.isNull());

    ASSERT_TRUE(d.SetText(0, "a much longer text than before"));
    const QImage edited = r.Render(1500, kFrame);
    ASSERT_FALSE(edited.isNull());
    EXPECT_NE(edited, before);
    EXPECT_GT(Count(edited).opaque, Count(before).opaque);

    ASSERT_TRUE(d.SetStart(0, 1600));
    EXPECT_TRUE(r.Render(1500, kFrame).isNull());
    ASSERT_TRUE(d.SetEnd(1, 9000));
    EXPECT_FALSE(r.Render(8000, kFrame).isNull());

    d.Insert(0, {CueValue{7000, 7500, "inserted"}}, QStringLiteral("insert"));
    EXPECT_EQ(r.ShowingAt(7200), (std::vector<int>{0, 2}));
    ASSERT_TRUE(d.Remove({2}, QStringLiteral("remove")));
    EXPECT_EQ(r.ShowingAt(8000), std::vector<int>{});
    EXPECT_EQ(r.ShowingAt(7200), std::vector<int>{0});
    ASSERT_TRUE(d.Undo());
    EXPECT_EQ(r.ShowingAt(8000), std::vector<int>{2});

    // A followed document that goes away takes its cues with it.
    {
        auto gone = std::make_unique<SubtitleDocument>();
        Load(*gone, "srt", {{0, 1000, "soon gone"}});
        SubtitleRenderer t;
        t.Follow(*gone);
        EXPECT_FALSE(t.Render(500, kFrame).isNull());
        gone.reset();
        EXPECT_TRUE(t.Render(500, kFrame).isNull());
        EXPECT_EQ(t.ShowingAt(500), std::vector<int>{});
    }

    // Without following, the update calls do the same.
    SubtitleDocument e;
    Load(e, "srt", {{1000, 2000, "x"}});
    SubtitleRenderer s;
    s.SetCues(e);
    e.SetStart(0, 3000);
    e.SetEnd(0, 4000);
    s.CuesChanged(0, 0, true);
    EXPECT_TRUE(s.Render(1500, kFrame).isNull());
    EXPECT_FALSE(s.Render(3500, kFrame).isNull());
    e.Insert(0, {CueValue{1000, 2000, "y"}}, QStringLiteral("insert"));
    s.CuesInserted(0, 0);
    EXPECT_FALSE(s.Render(1500, kFrame).isNull());
    e.Remove({0}, QStringLiteral("remove"));
    s.CuesRemoved(0, 0);
    EXPECT_TRUE(s.Render(1500, kFrame).isNull());
    EXPECT_EQ(s.ShowingAt(3500), std::vector<int>{0});
}

// The index against a brute-force search while a followed document is edited
// at random: times moved, rows inserted and removed, shifts, undo.
class SubtitleIndex : public testing::TestWithParam<unsigned> {};

TEST_P(SubtitleIndex, AgreesWithASearchOfEveryCueThroughEdits) {
    std::mt19937 rng(GetParam());
    auto rand = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    auto randomCue = [&] {
        const int64_t start = rand(20000) - 1000;
        const int kind = rand(10);
        const int64_t end = kind == 0 ? kNoEnd : kind == 1 ? start - rand(500) : start + rand(3000);
        return CueValue{start, end, "c"};
    };
    SubtitleDocument d;
    std::vector<CueValue> cues;
    for (int i = 0; i < 300; ++i) cues.push_back(randomCue());
    Load(d, "lrc", cues);
    SubtitleRenderer r;
    r.Follow(d);

    auto brute = [&](int64_t t) {
        // A cue without an end lasts until the next later start of any cue.
        std::vector<int> rows;
        for (int i = 0; i < d.Count(); ++i) {
            int64_t end = d.End(i);
            if (!d.HasEnd(i)) {
                end = int64_t{1} << 40;
                for (int j = 0; j < d.Count(); ++j)
                    if (d.Start(j) > d.Start(i)) end = std::min(end, d.Start(j));
            }
            if (d.Start(i) <= t && t < end) rows.push_back(i);
        }
        return rows;
    };
    for (int step = 0; step < 400; ++step) {
        const int op = rand(10);
        if (op < 3 && d.Count() > 0) {
            const int row = rand(d.Count());
            if (rand(2)) d.SetStart(row, rand(20000) - 1000);
            else d.SetEnd(row, rand(4) ? d.Start(row) + rand(3000) : kNoEnd);
        } else if (op < 5) {
            std::vector<CueValue> add;
            for (int k = rand(3) + 1; k > 0; --k) add.push_back(randomCue());
            d.Insert(rand(d.Count() + 1), add, QStringLiteral("insert"));
        } else if (op < 7 && d.Count() > 0) {
            std::vector<int> rows;
            for (int k = rand(4) + 1; k > 0; --k) rows.push_back(rand(d.Count()));
            d.Remove(rows, QStringLiteral("remove"));
        } else if (op == 7) {
            d.Shift(rand(2000) - 1000, true, rand(2) == 0, QStringLiteral("shift"));
        } else if (op == 8) {
            d.Undo();
        } else {
            d.SetText(d.Count() > 0 ? rand(d.Count()) : 0, "t");
        }
        for (int probe = 0; probe < 5; ++probe) {
            const int64_t t = rand(24000) - 2000;
            ASSERT_EQ(r.ShowingAt(t), brute(t)) << "step " << step << " at " << t;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, SubtitleIndex, testing::Values(7u, 11u, 1234u, 99u));

TEST(SubtitleRenderer, HeaderOfAFileAndItsEncodings) {
    EXPECT_EQ(SubtitleRenderer::HeaderOf("[Script Info]\nA: b\n[Events]\nFormat: x\n"), "[Script Info]\nA: b\n");
    EXPECT_EQ(SubtitleRenderer::HeaderOf("[Script Info]\r\n  [events]\r\n"), "[Script Info]\r\n");
    EXPECT_EQ(SubtitleRenderer::HeaderOf("no events"), "no events");

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string text = std::string(kHeader) + "[Events]\nDialogue: 0,0:00:00.00,0:00:01.00,Default,,0,0,0,,x\n";
    // UTF-16 LE with its mark.
    std::string utf16 = "\xFF\xFE";
    for (char c : text) {
        utf16 += c;
        utf16 += '\0';
    }
    const QString path = dir.filePath("s.ass");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(utf16.data(), static_cast<qint64>(utf16.size()));
    f.close();
    SubtitleDocument d;
    Load(d, "ass", {{0, 1000, "From the file"}});
    d.SetPath(path);
    d.SetEncoding(2, 0);
    EXPECT_EQ(SubtitleRenderer::HeaderFor(d), kHeader);
    // The header's green style is used.
    SubtitleRenderer r;
    r.SetHeader(SubtitleRenderer::HeaderFor(d));
    r.SetCues(d);
    EXPECT_GT(Count(r.Render(500, kFrame)).green, 10);

    d.SetFormat("srt");
    EXPECT_EQ(SubtitleRenderer::HeaderFor(d), "");
}

TEST(SubtitleRenderer, HostileInputDoesNotCrash) {
    std::string huge;
    while (huge.size() < 100 * 1024) huge += "长长的字幕 long text {\\b1}";
    const char* texts[] = {
        "{\\fs100000}giant",
        "{\\fscx100000\\fscy100000}X",
        "{\\blur1000\\be1000\\bord1000}blur",
        "{\\pos(-99999999999,99999999999)}far",
        "{\\clip(m 0 0 l 99999 99999 0 99999)}clip",
        "{\\p1}m 0 0 l 100000 0 100000 100000 0 100000{\\p0}",
        "{\\t(0,1,\\frz360)\\fad(-5,-5)\\move(0,0,9999,9999,5,-3)}",
        "{{{{{{}}}}}}\\\\\\N\\N\\n\\h{",
        "{\\k-100}a{\\kf99999999999}b",
        "{\\fnNoSuchFontAtAll}x",
        "\xFF\xFE\x80 broken bytes",
        "",
    };
    for (const char* format : {"ass", "srt"}) {
        SubtitleDocument d;
        std::vector<CueValue> cues;
        for (const char* t : texts) cues.push_back({0, 1000, t});
        cues.push_back({0, 1000, huge});
        cues.push_back({-5000, -100, "negative"});
        cues.push_back({INT64_MIN + 1, INT64_MAX, "everything"});
        cues.push_back({500, 400, "ends before it starts"});
        Load(d, format, cues);
        SubtitleRenderer r;
        if (std::string(format) == "ass") r.SetHeader("[Script Info]\nPlayResX: 0\nPlayResY: -5\n[V4+ Styles]\nStyle: broken");
        r.SetCues(d);
        for (int64_t t : {int64_t{-3000}, int64_t{500}, int64_t{0}, INT64_MAX, INT64_MIN}) {
            SCOPED_TRACE(t);
            (void)r.Render(t, kFrame);
            (void)r.Render(t, QSize(1, 1));
            (void)r.Render(t, QSize(0, 0));
        }
        // One cue each, alone.
        for (int i = 0; i < d.Count(); ++i) {
            SubtitleDocument one;
            Load(one, format, {{0, 1000, std::string(d.Text(i))}});
            r.SetCues(one);
            (void)r.Render(500, kFrame);
        }
    }
    SUCCEED();
}

}  // namespace

namespace {

// With LUMEVAL_SUBRENDER_SHOTS set to a folder, frames over a grey picture
// are saved there for a person to look at.
TEST(SubtitleRenderer, PicturesForAPerson) {
    const char* folder = std::getenv("LUMEVAL_SUBRENDER_SHOTS");
    if (!folder) GTEST_SKIP() << "LUMEVAL_SUBRENDER_SHOTS not set";
    const struct {
        const char* name;
        const char* format;
        const char* text;
    } shots[] = {
        {"plain", "srt", "<i>Italic</i> and <font color=\"#ffff00\">yellow</font>\\N我们今天一起回家吧"},
        {"ass", "ass", "{\\an8}Top {\\c&H0000FF&}red{\\r} green\\N{\\k50}Ka{\\k50}ra{\\k50}oke"},
    };
    for (const auto& s : shots) {
        SubtitleDocument d;
        Load(d, s.format, {{0, 2000, s.text}});
        SubtitleRenderer r;
        if (std::string(s.format) == "ass") r.SetHeader(kHeader);
        r.SetCues(d);
        QImage picture(kFrame, QImage::Format_ARGB32_Premultiplied);
        picture.fill(QColor(90, 110, 130));
        const auto o = r.RenderOverlay(700, kFrame);
        QPainter p(&picture);
        for (const auto& piece : o.pieces) p.drawImage(piece.at, piece.image);
        p.end();
        EXPECT_TRUE(picture.save(QDir(folder).filePath(QString("subrender-%1.png").arg(s.name))));
    }
}

}  // namespace
