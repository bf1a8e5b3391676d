// Waveform peaks of real media that ffmpeg makes at test time: a second of
// silence, then two seconds of a 440 Hz tone at half of full scale, in
// several containers, codecs, rates and channel counts.
#ifdef LUMEVAL_HAVE_WAVEFORM
#include <gtest/gtest.h>

#include <QFile>
#include <QDateTime>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "media/waveform.h"

namespace {

using lumeval::media::Peak;
using lumeval::media::WaveformCache;
using lumeval::media::WaveformPeaks;
using lumeval::media::WaveformState;

constexpr int kHalfScale = 16383;  // 0.5 of full scale

class WaveformMedia : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir = std::make_unique<QTemporaryDir>();
        if (!dir->isValid()) return;
        ok = true;
        for (const Medium& m : Media()) ok = ok && MakeTone(m);
        // A picture without sound, a long plain WAV for cancelling, and
        // files that are not media at all.
        ok = ok &&
             Ffmpeg({"-f", "lavfi", "-i", "testsrc=size=64x48:rate=25:duration=1", "-c:v", "mpeg4",
                     Path("silent.mp4")}) &&
             Ffmpeg({"-f", "lavfi", "-i", "aevalsrc=0.25*sin(2*PI*300*t):s=8000:d=1200", "-c:a", "pcm_s16le",
                     Path("long.wav")});
        // A rate below one sample per bucket.
        ok = ok && Ffmpeg({"-f", "lavfi", "-i", "aevalsrc=0.5*sin(2*PI*5*t):s=50:d=3", "-c:a", "pcm_s16le",
                           Path("slow.wav")});
        Write("notes.mp3", QByteArray("1\n00:00:01,000 --> 00:00:02,000\nnot audio at all\n"));
        Write("empty.wav", QByteArray());
        QByteArray noise;
        for (int i = 0; i < 70000; ++i) noise.append(static_cast<char>((i * 7919 + i / 13) & 0xff));
        Write("noise.m4a", noise);
        // A real header cut off after a few kilobytes.
        QFile tone(Path("tone.mp3"));
        if (tone.open(QIODevice::ReadOnly)) Write("cut.mp3", tone.read(3000));
    }
    static void TearDownTestSuite() { dir.reset(); }

    struct Medium {
        const char* name;
        QStringList codec;  // output options
        int rate;
        int channels;
        int tolerance;  // of the tone's peak, in 1/32767
        int edgeBuckets;  // how far the tone's start may move (encoder delay)
        bool rightSilent = false;  // the tone in the left channel only
    };
    static std::vector<Medium> Media() {
        return {
            {"tone.wav", {"-c:a", "pcm_s16le"}, 44100, 1, 40, 1},
            // Mixed to mono, a tone in one of two channels is half as loud.
            {"tone-f32.wav", {"-c:a", "pcm_f32le"}, 48000, 2, 40, 1, true},
            {"tone.mp3", {"-c:a", "libmp3lame", "-b:a", "192k"}, 44100, 2, 900, 4},
            {"tone.m4a", {"-c:a", "aac", "-b:a", "192k"}, 48000, 2, 900, 4},
            // 220.5 samples per bucket: the buckets must not drift.
            {"tone.ogg", {"-c:a", "libvorbis", "-q:a", "6"}, 22050, 1, 900, 4},
        };
    }
    static bool MakeTone(const Medium& m) {
        const QString rate = QString::number(m.rate);
        const QString layout = m.channels == 1 ? QStringLiteral("mono") : QStringLiteral("stereo");
        const QString silence = QStringLiteral("anullsrc=r=%1:cl=%2:d=1").arg(rate, layout);
        const QString tone = QStringLiteral("aevalsrc=0.5*sin(2*PI*440*t)%1:s=%2:d=2")
                                 .arg(m.channels == 1  ? QString()
                                      : m.rightSilent ? QStringLiteral("|0")
                                                      : QStringLiteral("|0.5*sin(2*PI*440*t)"),
                                      rate);
        QStringList args = {"-f", "lavfi", "-i", silence, "-f", "lavfi", "-i", tone, "-filter_complex",
                            "[0][1]concat=n=2:v=0:a=1"};
        args += m.codec;
        args += Path(m.name);
        return Ffmpeg(args);
    }
    static QString Path(const char* name) { return dir->filePath(QString::fromLatin1(name)); }
    static void Write(const char* name, const QByteArray& bytes) {
        QFile f(Path(name));
        if (f.open(QIODevice::WriteOnly)) f.write(bytes);
    }
    static bool Ffmpeg(QStringList args) {
        args = QStringList{"-v", "error", "-y"} + args;
        QProcess process;
        process.start(QStringLiteral("ffmpeg"), args);
        return process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit &&
               process.exitCode() == 0;
    }
    static std::shared_ptr<WaveformPeaks> Decode(const char* name) {
        auto peaks = std::make_shared<WaveformPeaks>(Path(name));
        lumeval::media::DecodePeaks(*peaks);
        return peaks;
    }
    static std::vector<Peak> All(const WaveformPeaks& peaks) {
        std::vector<Peak> out;
        peaks.Read(0, peaks.Count(), out);
        return out;
    }

    void SetUp() override { ASSERT_TRUE(ok) << "ffmpeg could not make the test media"; }

    static inline std::unique_ptr<QTemporaryDir> dir;
    static inline bool ok = false;
};

TEST_F(WaveformMedia, ToneHasItsLoudnessAndTheSilenceBeforeItIsFlat) {
    for (const Medium& m : Media()) {
        SCOPED_TRACE(m.name);
        const auto peaks = Decode(m.name);
        EXPECT_EQ(WaveformState::Done, peaks->State());
        EXPECT_EQ(QString(), peaks->StatusText());
        EXPECT_EQ(1.0, peaks->Progress());
        EXPECT_NEAR(3000, peaks->DurationMs(), 60);
        // 3 s in 10 ms buckets; a lossy codec may add a frame of padding.
        EXPECT_NEAR(300, static_cast<double>(peaks->Count()), 6);
        const std::vector<Peak> all = All(*peaks);
        ASSERT_GE(all.size(), 290u);

        // Silence: flat (a lossy codec's pre-echo stays near the edge).
        for (int i = 0; i < 100 - m.edgeBuckets; ++i) {
            EXPECT_LE(std::abs(all[i].min), m.tolerance / 10 + 1) << "bucket " << i;
            EXPECT_LE(std::abs(all[i].max), m.tolerance / 10 + 1) << "bucket " << i;
        }
        // The tone: a 440 Hz period (2.3 ms) fits in every bucket, so each
        // reaches both peaks.
        const int level = m.rightSilent ? kHalfScale / 2 : kHalfScale;
        for (int i = 100 + m.edgeBuckets; i < 290; ++i) {
            EXPECT_NEAR(level, all[i].max, m.tolerance) << "bucket " << i;
            EXPECT_NEAR(-level, all[i].min, m.tolerance) << "bucket " << i;
        }
    }
}

TEST_F(WaveformMedia, MediaWithoutAudioOrNotMediaEndWithTheirStatus) {
    struct Case {
        const char* name;
        WaveformState state;
        const char* text;
    };
    const Case cases[] = {
        {"silent.mp4", WaveformState::NoAudio, "无音频"},
        {"notes.mp3", WaveformState::Unreadable, "无法读取音频"},
        {"empty.wav", WaveformState::Unreadable, "无法读取音频"},
        {"noise.m4a", WaveformState::Unreadable, "无法读取音频"},
        {"missing.wav", WaveformState::Unreadable, "无法读取音频"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto peaks = Decode(c.name);
        EXPECT_EQ(c.state, peaks->State());
        EXPECT_EQ(QString::fromUtf8(c.text), peaks->StatusText());
        EXPECT_TRUE(peaks->Finished());
        EXPECT_EQ(1.0, peaks->Progress());
    }
}

TEST_F(WaveformMedia, ARateBelowOneSamplePerBucketStillFillsTheLength) {
    const auto peaks = Decode("slow.wav");
    EXPECT_EQ(WaveformState::Done, peaks->State());
    EXPECT_NEAR(300, static_cast<double>(peaks->Count()), 2);
    Peak loudest;
    for (const Peak& p : All(*peaks)) loudest.max = std::max(loudest.max, p.max);
    // Ten samples a period: the highest is at 2/5 pi, 0.5 x 0.951 of full scale.
    EXPECT_NEAR(15582, loudest.max, 20);
}

TEST_F(WaveformMedia, ACutFileEndsWithWhatItHad) {
    const auto peaks = Decode("cut.mp3");
    EXPECT_TRUE(peaks->Finished());
    // 3000 bytes of 192 kbit/s: at most a fraction of a second.
    EXPECT_LT(peaks->Count(), 50u);
}

TEST_F(WaveformMedia, TheCacheAnswersAnUnchangedFileWithoutDecoding) {
    WaveformCache cache;
    const auto first = cache.Request(Path("tone.wav"));
    cache.WaitAll();
    ASSERT_EQ(WaveformState::Done, first->State());
    EXPECT_EQ(1, cache.DecodesStarted());

    const auto second = cache.Request(Path("tone.wav"));
    EXPECT_EQ(first, second);
    EXPECT_EQ(1, cache.DecodesStarted());
    // The same file by another spelling of its path.
    EXPECT_EQ(first, cache.Request(dir->path() + QStringLiteral("/./tone.wav")));
    EXPECT_EQ(1, cache.DecodesStarted());
    // Failures are kept too: asking again does not try again.
    const auto none = cache.Request(Path("silent.mp4"));
    cache.WaitAll();
    EXPECT_EQ(none, cache.Request(Path("silent.mp4")));
    EXPECT_EQ(2, cache.DecodesStarted());
}

TEST_F(WaveformMedia, AChangedFileIsDecodedAgain) {
    QFile::copy(Path("tone.wav"), Path("changing.wav"));
    WaveformCache cache;
    const auto first = cache.Request(Path("changing.wav"));
    cache.WaitAll();
    ASSERT_EQ(WaveformState::Done, first->State());
    // Another medium under the same name, with another size and time.
    QFile::remove(Path("changing.wav"));
    QFile::copy(Path("tone.ogg"), Path("changing.wav"));
    QFile f(Path("changing.wav"));
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    f.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime);
    f.close();
    const auto second = cache.Request(Path("changing.wav"));
    EXPECT_NE(first, second);
    EXPECT_EQ(2, cache.DecodesStarted());
    cache.WaitAll();
    EXPECT_EQ(WaveformState::Done, second->State());
}

TEST_F(WaveformMedia, CancellingStopsPromptlyAndAskingAgainDecodesAfresh) {
    WaveformCache cache;
    const auto peaks = cache.Request(Path("long.wav"));
    cache.Cancel(Path("long.wav"));
    const auto t0 = std::chrono::steady_clock::now();
    cache.WaitAll();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    EXPECT_EQ(WaveformState::Cancelled, peaks->State());
    EXPECT_LT(peaks->Count(), 120000u);  // 20 minutes were not all read

    const auto again = cache.Request(Path("long.wav"));
    EXPECT_NE(peaks, again);
    EXPECT_EQ(2, cache.DecodesStarted());
    cache.WaitAll();
    EXPECT_EQ(WaveformState::Done, again->State());
    EXPECT_NEAR(120000, static_cast<double>(again->Count()), 2);
    // A quarter of full scale, mixed from one channel.
    std::vector<Peak> some;
    again->Read(60000, 10, some);
    ASSERT_EQ(10u, some.size());
    EXPECT_NEAR(8191, some[5].max, 40);
}

TEST_F(WaveformMedia, PartialPeaksAreReadableWhileDecodingGoesOn) {
    WaveformCache cache;
    const auto peaks = cache.Request(Path("long.wav"));
    // Read while the worker appends: counts only grow, progress follows.
    std::size_t seen = 0;
    double progress = 0;
    std::vector<Peak> out;
    while (!peaks->Finished()) {
        const std::size_t now = peaks->Count();
        EXPECT_GE(now, seen);
        EXPECT_GE(peaks->Progress(), progress);
        seen = now;
        progress = peaks->Progress();
        out.clear();
        peaks->Read(now > 10 ? now - 10 : 0, 10, out);
        EXPECT_LE(out.size(), 10u);
        std::this_thread::yield();
    }
    EXPECT_EQ(WaveformState::Done, peaks->State());
}

TEST_F(WaveformMedia, AFileRemovedWhileDecodingEndsTheWork) {
    QFile::copy(Path("long.wav"), Path("going.wav"));
    WaveformCache cache;
    const auto peaks = cache.Request(Path("going.wav"));
    QFile::remove(Path("going.wav"));
    cache.WaitAll();
    EXPECT_TRUE(peaks->Finished());
}

// ---- the peaks as a view reads them ------------------------------------------

TEST(WaveformPeaks, EnvelopeTakesEveryBucketUnderAColumn) {
    WaveformPeaks peaks(QStringLiteral("x"));
    std::vector<Peak> ramp;
    for (int i = 0; i < 100; ++i) ramp.push_back({static_cast<int16_t>(-i), static_cast<int16_t>(i)});
    peaks.Append(ramp.data(), ramp.size());  // 0..1000 ms

    struct Case {
        const char* name;
        int64_t from, to;
        int columns;
        std::vector<Peak> want;
        std::vector<bool> present;
    };
    const std::vector<Case> cases = {
        {"one bucket per column", 0, 30, 3, {{0, 0}, {-1, 1}, {-2, 2}}, {true, true, true}},
        {"ten buckets per column", 0, 200, 2, {{-9, 9}, {-19, 19}}, {true, true}},
        {"narrower than a bucket: the bucket under it", 55, 57, 2, {{-5, 5}, {-5, 5}}, {true, true}},
        {"past the decoded end: nothing yet", 980, 1020, 4, {{-98, 98}, {-99, 99}, {0, 0}, {0, 0}},
         {true, true, false, false}},
        {"before zero", -20, 20, 2, {{0, 0}, {-1, 1}}, {false, true}},
        {"an empty range", 50, 50, 2, {{0, 0}, {0, 0}}, {false, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Peak> out;
        std::vector<bool> present;
        peaks.Envelope(c.from, c.to, c.columns, out, &present);
        EXPECT_EQ(c.want, out);
        EXPECT_EQ(c.present, present);
    }
    std::vector<Peak> none;
    peaks.Envelope(0, 100, 0, none);
    EXPECT_TRUE(none.empty());
}

TEST(WaveformPeaks, ProgressComesFromTheLength) {
    WaveformPeaks peaks(QStringLiteral("x"));
    EXPECT_EQ(0.0, peaks.Progress());  // length unknown
    EXPECT_EQ(QStringLiteral("正在读取音频"), peaks.StatusText());
    peaks.SetDuration(2000);
    const std::vector<Peak> fifty(50);
    peaks.Append(fifty.data(), fifty.size());
    EXPECT_DOUBLE_EQ(0.25, peaks.Progress());
    EXPECT_EQ(QStringLiteral("正在读取音频 25%"), peaks.StatusText());
    peaks.Append(fifty.data(), fifty.size());
    peaks.Append(fifty.data(), fifty.size());
    peaks.Append(fifty.data(), fifty.size());
    peaks.Append(fifty.data(), fifty.size());
    EXPECT_EQ(1.0, peaks.Progress());  // a length that was short is no fault
    peaks.Finish(WaveformState::Done);
    EXPECT_EQ(1.0, peaks.Progress());
}

}  // namespace
#endif
