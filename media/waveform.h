// Waveform peaks of a medium's audio, for timing subtitles by ear and eye.
//
// A medium's audio is decoded on a worker thread with FFmpeg's libraries
// and reduced to one bucket per 10 ms: the lowest and highest sample of the
// channels mixed to mono, as 16-bit values. Two hours are 720,000 buckets,
// under 3 MB. (Qt 6.4's QAudioDecoder, on its ffmpeg backend, decodes 2
// hours of 48 kHz stereo AAC in about 40 s here, 70 to 180 times real time,
// and wants an event loop on its thread; these libraries take 4 to 8 s.)
//
// The peaks are readable while decoding goes on: the worker appends
// buckets under a lock in batches, readers take what is there. Nothing here
// touches a window; the view polls Progress()/Count() while it draws.
#pragma once

#include <QString>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

namespace lumeval::media {

/// One bucket: the lowest and highest sample in it, full scale 32767.
struct Peak {
    int16_t min = 0;
    int16_t max = 0;
    friend bool operator==(const Peak&, const Peak&) = default;
};

enum class WaveformState {
    Decoding,    ///< the worker runs; peaks are partial
    Done,        ///< every bucket is there
    NoAudio,     ///< the medium has no audio stream
    Unreadable,  ///< not a medium, no decoder, or reading failed part-way
    Cancelled,   ///< stopped on request before the end
};

/// The peaks of one medium, filled by one worker and read by anyone.
class WaveformPeaks {
  public:
    static constexpr int kBucketMs = 10;

    explicit WaveformPeaks(QString path);

    const QString& Path() const { return m_path; }
    WaveformState State() const { return m_state.load(std::memory_order_acquire); }
    /// Finished one way or another: nothing more will come.
    bool Finished() const { return State() != WaveformState::Decoding; }
    /// What to show a person: "" when done, else the state in words.
    QString StatusText() const;
    /// The medium's length as its container tells it; 0 when unknown.
    int64_t DurationMs() const { return m_durationMs.load(std::memory_order_acquire); }
    /// Fraction decoded, 0..1, from the length; 1 once finished.
    double Progress() const;
    /// Buckets available now.
    std::size_t Count() const { return m_count.load(std::memory_order_acquire); }
    /// Buckets [first, first + n) that are there, appended to `out`.
    void Read(std::size_t first, std::size_t n, std::vector<Peak>& out) const;
    /// The envelope of the buckets overlapping [fromMs, toMs), one per
    /// column of `columns` equal slices: what a view draws. A slice with no
    /// bucket yet is {0, 0} and its flag in `present` (if given) false.
    void Envelope(int64_t fromMs, int64_t toMs, int columns, std::vector<Peak>& out,
                  std::vector<bool>* present = nullptr) const;

    /// Asks the worker to stop; it does within a packet's decoding.
    void Cancel() { m_cancel.store(true, std::memory_order_release); }
    bool CancelRequested() const { return m_cancel.load(std::memory_order_acquire); }

    // ---- for the worker ----------------------------------------------------
    void SetDuration(int64_t ms) { m_durationMs.store(ms, std::memory_order_release); }
    void Append(const Peak* peaks, std::size_t n);
    void Finish(WaveformState state);

  private:
    const QString m_path;
    std::atomic<WaveformState> m_state{WaveformState::Decoding};
    std::atomic<int64_t> m_durationMs{0};
    std::atomic<std::size_t> m_count{0};
    std::atomic<bool> m_cancel{false};
    mutable std::mutex m_lock;
    std::vector<Peak> m_peaks;  // guarded by m_lock
};

/// Decodes `peaks->Path()` into `peaks` on the calling thread, to the end,
/// a failure or a cancel; sets the final state. Safe on any bytes.
void DecodePeaks(WaveformPeaks& peaks);

/// The peaks of every medium asked for in this session, keyed by path, size
/// and modification time: asking again for an unchanged file answers from
/// memory. Each decode runs on a thread of its own that the cache joins.
class WaveformCache {
  public:
    WaveformCache() = default;
    ~WaveformCache();
    WaveformCache(const WaveformCache&) = delete;
    WaveformCache& operator=(const WaveformCache&) = delete;

    /// The peaks of `path`, decoding them in the background when they are
    /// not known (or were cancelled, or the file changed since).
    std::shared_ptr<WaveformPeaks> Request(const QString& path);
    /// Stops the decoding of `path` (the medium was closed). Finished peaks
    /// stay cached; cancelled ones are decoded afresh when asked again.
    void Cancel(const QString& path);
    /// Decodes started so far (for tests and tools).
    int DecodesStarted() const { return m_started; }
    /// Blocks until every worker has ended (for tests and tools).
    void WaitAll();

    /// The one cache of the running program.
    static WaveformCache& Session();

  private:
    using Key = std::tuple<QString, int64_t, int64_t>;  // path, size, mtime (ms)
    struct Entry {
        std::shared_ptr<WaveformPeaks> peaks;
        std::thread worker;
    };
    static Key KeyOf(const QString& path);
    static void Stop(Entry& entry);

    std::mutex m_lock;
    std::map<Key, Entry> m_entries;
    std::atomic<int> m_started{0};
};

}  // namespace lumeval::media
