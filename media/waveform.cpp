#include "media/waveform.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <climits>
#include <cmath>
#include <system_error>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

namespace lumeval::media {

// ---- the peaks --------------------------------------------------------------

WaveformPeaks::WaveformPeaks(QString path) : m_path(std::move(path)) {}

QString WaveformPeaks::StatusText() const {
    switch (State()) {
        case WaveformState::Decoding:
            if (DurationMs() <= 0) return QStringLiteral("正在读取音频");
            return QStringLiteral("正在读取音频 %1%").arg(static_cast<int>(Progress() * 100));
        case WaveformState::Done: return QString();
        case WaveformState::NoAudio: return QStringLiteral("无音频");
        case WaveformState::Unreadable: return QStringLiteral("无法读取音频");
        case WaveformState::Cancelled: return QStringLiteral("已取消");
    }
    return QString();
}

double WaveformPeaks::Progress() const {
    if (Finished()) return 1.0;
    const int64_t duration = DurationMs();
    if (duration <= 0) return 0.0;
    const double done = static_cast<double>(Count()) * kBucketMs / static_cast<double>(duration);
    return std::clamp(done, 0.0, 1.0);
}

void WaveformPeaks::Read(std::size_t first, std::size_t n, std::vector<Peak>& out) const {
    std::lock_guard<std::mutex> lock(m_lock);
    if (first >= m_peaks.size()) return;
    const std::size_t last = first + std::min(n, m_peaks.size() - first);
    out.insert(out.end(), m_peaks.begin() + static_cast<std::ptrdiff_t>(first),
               m_peaks.begin() + static_cast<std::ptrdiff_t>(last));
}

void WaveformPeaks::Envelope(int64_t fromMs, int64_t toMs, int columns, std::vector<Peak>& out,
                             std::vector<bool>* present) const {
    out.assign(static_cast<std::size_t>(std::max(columns, 0)), Peak{});
    if (present) present->assign(out.size(), false);
    if (columns <= 0 || toMs <= fromMs) return;
    const double span = static_cast<double>(toMs - fromMs);
    std::lock_guard<std::mutex> lock(m_lock);
    const auto count = static_cast<int64_t>(m_peaks.size());
    for (int c = 0; c < columns; ++c) {
        const double a = static_cast<double>(fromMs) + span * c / columns;
        const double b = static_cast<double>(fromMs) + span * (c + 1) / columns;
        // Buckets overlapping [a, b); at least the one under a when the
        // column is narrower than a bucket.
        int64_t first = static_cast<int64_t>(std::floor(a / kBucketMs));
        int64_t last = std::max(first + 1, static_cast<int64_t>(std::ceil(b / kBucketMs)));
        first = std::max<int64_t>(first, 0);
        last = std::min(last, count);
        if (first >= last) continue;
        Peak p{INT16_MAX, INT16_MIN};
        for (int64_t i = first; i < last; ++i) {
            const Peak& q = m_peaks[static_cast<std::size_t>(i)];
            p.min = std::min(p.min, q.min);
            p.max = std::max(p.max, q.max);
        }
        out[static_cast<std::size_t>(c)] = p;
        if (present) (*present)[static_cast<std::size_t>(c)] = true;
    }
}

void WaveformPeaks::Append(const Peak* peaks, std::size_t n) {
    if (n == 0) return;
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_peaks.capacity() < m_peaks.size() + n) {
        // Room for the whole length at once when it is known, so a 2-hour
        // medium is not copied again and again as it grows; a length beyond
        // half a day is more likely a broken header, and grows as it comes.
        const int64_t duration = std::min<int64_t>(DurationMs(), 12LL * 3600 * 1000);
        std::size_t want = duration > 0 ? static_cast<std::size_t>(duration / kBucketMs + 16) : 0;
        want = std::max({want, m_peaks.size() + n, m_peaks.capacity() * 2});
        m_peaks.reserve(want);
    }
    m_peaks.insert(m_peaks.end(), peaks, peaks + n);
    m_count.store(m_peaks.size(), std::memory_order_release);
}

void WaveformPeaks::Finish(WaveformState state) {
    m_state.store(state, std::memory_order_release);
}

// ---- decoding ---------------------------------------------------------------

namespace {

// Stops blocking reads in the demuxer as soon as a cancel is asked for.
int Interrupted(void* opaque) {
    return static_cast<const WaveformPeaks*>(opaque)->CancelRequested() ? 1 : 0;
}

struct FormatCloser {
    void operator()(AVFormatContext* ctx) const { avformat_close_input(&ctx); }
};
struct CodecCloser {
    void operator()(AVCodecContext* ctx) const { avcodec_free_context(&ctx); }
};
struct PacketCloser {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameCloser {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};

/// Turns samples into buckets: mixes the channels to mono, keeps min and
/// max per 10 ms, hands full batches to the peaks.
class Bucketer {
  public:
    Bucketer(WaveformPeaks& peaks, int sampleRate) : m_peaks(peaks), m_rate(sampleRate) {
        m_batch.reserve(kBatch);
        NextBoundary();
    }

    /// Empty buckets up to `ms` (audio that starts late in its container).
    void PadTo(int64_t ms) {
        const int64_t target = ms / WaveformPeaks::kBucketMs;
        while (m_bucket < target) Close(Peak{});
        m_sample = m_bucket * m_rate / 100;
        NextBoundary();
    }

    /// Mono samples in -1..1 (beyond is clipped when the bucket closes).
    void Add(const float* samples, std::size_t n) {
        while (n > 0) {
            const auto take =
                static_cast<std::size_t>(std::min<int64_t>(static_cast<int64_t>(n), m_boundary - m_sample));
            float lo = m_lo, hi = m_hi;
            for (std::size_t i = 0; i < take; ++i) {
                lo = std::min(lo, samples[i]);
                hi = std::max(hi, samples[i]);
            }
            m_lo = lo;
            m_hi = hi;
            m_any = m_any || take > 0;
            m_sample += static_cast<int64_t>(take);
            samples += take;
            n -= take;
            // Below 100 Hz some buckets hold no sample at all: closed empty,
            // so the loop always moves on.
            while (m_sample >= m_boundary) Close(m_any ? Current() : Peak{});
        }
    }

    void Flush() {
        if (m_any) Close(Current());
        Publish();
    }

    void Publish() {
        m_peaks.Append(m_batch.data(), m_batch.size());
        m_batch.clear();
    }

  private:
    static constexpr std::size_t kBatch = 500;  // 5 s of buckets per lock

    static int16_t Scale(float v) {
        return static_cast<int16_t>(std::lround(std::clamp(v, -1.0f, 1.0f) * 32767.0f));
    }
    Peak Current() const { return Peak{Scale(m_lo), Scale(m_hi)}; }
    void Close(Peak p) {
        m_batch.push_back(p);
        ++m_bucket;
        m_lo = 1.0f;
        m_hi = -1.0f;
        m_any = false;
        NextBoundary();
        if (m_batch.size() >= kBatch) Publish();
    }
    // The first sample of the next bucket, exact for rates that are not
    // multiples of 100 (22050 Hz has 220.5 samples per bucket).
    void NextBoundary() { m_boundary = (m_bucket + 1) * m_rate / 100; }

    WaveformPeaks& m_peaks;
    const int64_t m_rate;
    int64_t m_sample = 0;
    int64_t m_bucket = 0;
    int64_t m_boundary = 0;
    // Start so that the first sample sets both (a silent bucket is 0, 0).
    float m_lo = 1.0f;
    float m_hi = -1.0f;
    bool m_any = false;
    std::vector<Peak> m_batch;
};

template <class T>
float ToFloat(T v);
template <>
float ToFloat(uint8_t v) {
    return (static_cast<int>(v) - 128) / 128.0f;
}
template <>
float ToFloat(int16_t v) {
    return v / 32768.0f;
}
template <>
float ToFloat(int32_t v) {
    return static_cast<float>(v / 2147483648.0);
}
template <>
float ToFloat(int64_t v) {
    return static_cast<float>(static_cast<double>(v) / 9223372036854775808.0);
}
template <>
float ToFloat(float v) {
    return std::isfinite(v) ? v : 0.0f;
}
template <>
float ToFloat(double v) {
    return std::isfinite(v) ? static_cast<float>(v) : 0.0f;
}

template <class T>
void MixFrame(const AVFrame& frame, int channels, bool planar, std::vector<float>& mono) {
    const auto n = static_cast<std::size_t>(frame.nb_samples);
    mono.assign(n, 0.0f);
    float* out = mono.data();
    if (planar) {
        for (int c = 0; c < channels; ++c) {
            const T* in = reinterpret_cast<const T*>(frame.extended_data[c]);
            for (std::size_t i = 0; i < n; ++i) out[i] += ToFloat(in[i]);
        }
    } else {
        const T* in = reinterpret_cast<const T*>(frame.extended_data[0]);
        for (std::size_t i = 0; i < n; ++i)
            for (int c = 0; c < channels; ++c) out[i] += ToFloat(*in++);
    }
    if (channels > 1) {
        const float scale = 1.0f / static_cast<float>(channels);
        for (std::size_t i = 0; i < n; ++i) out[i] *= scale;
    }
}

/// Mixes a decoded frame to mono into the buckets; false for a sample
/// format we do not know.
bool MixAny(const AVFrame& frame, int channels, std::vector<float>& mono, Bucketer& out) {
    if (channels <= 0 || frame.nb_samples <= 0 || !frame.extended_data) return true;
    const auto format = static_cast<AVSampleFormat>(frame.format);
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    switch (av_get_packed_sample_fmt(format)) {
        case AV_SAMPLE_FMT_U8: MixFrame<uint8_t>(frame, channels, planar, mono); break;
        case AV_SAMPLE_FMT_S16: MixFrame<int16_t>(frame, channels, planar, mono); break;
        case AV_SAMPLE_FMT_S32: MixFrame<int32_t>(frame, channels, planar, mono); break;
        case AV_SAMPLE_FMT_S64: MixFrame<int64_t>(frame, channels, planar, mono); break;
        case AV_SAMPLE_FMT_FLT: MixFrame<float>(frame, channels, planar, mono); break;
        case AV_SAMPLE_FMT_DBL: MixFrame<double>(frame, channels, planar, mono); break;
        default: return false;
    }
    out.Add(mono.data(), mono.size());
    return true;
}

}  // namespace

void DecodePeaks(WaveformPeaks& peaks) {
    // Quiet: a file that is not media would fill the terminal otherwise.
    av_log_set_level(AV_LOG_QUIET);

    AVFormatContext* raw = avformat_alloc_context();
    if (!raw) return peaks.Finish(WaveformState::Unreadable);
    raw->interrupt_callback.callback = &Interrupted;
    raw->interrupt_callback.opaque = &peaks;
    // Always a local file: a name such as "http:..." or "concat:..." would
    // otherwise pick another protocol, and a playlist inside a file may not
    // reach beyond the disk either.
    const QByteArray path = "file:" + QFile::encodeName(QFileInfo(peaks.Path()).absoluteFilePath());
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    const int opened = avformat_open_input(&raw, path.constData(), nullptr, &options);
    av_dict_free(&options);
    if (opened < 0) {
        // avformat_open_input frees the context on failure.
        return peaks.Finish(peaks.CancelRequested() ? WaveformState::Cancelled
                                                    : WaveformState::Unreadable);
    }
    std::unique_ptr<AVFormatContext, FormatCloser> format(raw);
    if (avformat_find_stream_info(format.get(), nullptr) < 0)
        return peaks.Finish(peaks.CancelRequested() ? WaveformState::Cancelled
                                                    : WaveformState::Unreadable);

    const AVCodec* codec = nullptr;
    const int index = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (index == AVERROR_STREAM_NOT_FOUND) {
        // A picture without sound has no audio; a file with neither (text
        // that a subtitle demuxer took, an image) is not a medium to us.
        bool video = false;
        for (unsigned i = 0; i < format->nb_streams; ++i)
            video = video || format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
        return peaks.Finish(video ? WaveformState::NoAudio : WaveformState::Unreadable);
    }
    if (index < 0 || !codec) return peaks.Finish(WaveformState::Unreadable);
    AVStream* stream = format->streams[index];
    // The demuxer still reads the other streams' packets, but nothing
    // decodes or queues them.
    for (unsigned i = 0; i < format->nb_streams; ++i)
        if (static_cast<int>(i) != index) format->streams[i]->discard = AVDISCARD_ALL;

    int64_t durationMs = 0;
    if (stream->duration > 0 && stream->duration != AV_NOPTS_VALUE)
        durationMs = av_rescale_q(stream->duration, stream->time_base, AVRational{1, 1000});
    else if (format->duration > 0 && format->duration != AV_NOPTS_VALUE)
        durationMs = format->duration / (AV_TIME_BASE / 1000);
    peaks.SetDuration(std::max<int64_t>(durationMs, 0));

    std::unique_ptr<AVCodecContext, CodecCloser> decoder(avcodec_alloc_context3(codec));
    if (!decoder || avcodec_parameters_to_context(decoder.get(), stream->codecpar) < 0 ||
        avcodec_open2(decoder.get(), codec, nullptr) < 0)
        return peaks.Finish(WaveformState::Unreadable);

    std::unique_ptr<AVPacket, PacketCloser> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameCloser> frame(av_frame_alloc());
    if (!packet || !frame) return peaks.Finish(WaveformState::Unreadable);

    // Where the timeline starts: the player counts from the container's
    // start, so audio that begins later gets silence in front of it.
    const int64_t originMs = format->start_time != AV_NOPTS_VALUE
                                 ? av_rescale_q(format->start_time, AVRational{1, AV_TIME_BASE},
                                                AVRational{1, 1000})
                                 : 0;
    std::unique_ptr<Bucketer> buckets;
    int rate = 0;
    bool unreadable = false;
    std::vector<float> mono;

    // Takes every frame the decoder has ready; false on a format we
    // cannot read.
    auto drain = [&]() {
        while (!peaks.CancelRequested()) {
            const int got = avcodec_receive_frame(decoder.get(), frame.get());
            if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return;
            if (got < 0) return;  // a damaged frame: skipped, as a player would
            const int channels = frame->ch_layout.nb_channels;
            if (!buckets) {
                rate = frame->sample_rate;
                if (rate <= 0 || rate > 1'000'000) {
                    unreadable = true;
                    av_frame_unref(frame.get());
                    return;
                }
                buckets = std::make_unique<Bucketer>(peaks, rate);
                if (frame->pts != AV_NOPTS_VALUE) {
                    const int64_t at =
                        av_rescale_q(frame->pts, stream->time_base, AVRational{1, 1000}) - originMs;
                    // Beyond ten minutes is a broken time stamp, not a delay.
                    if (at > 0 && at < 600'000) buckets->PadTo(at);
                }
            }
            // A rate change mid-stream (rare; some broadcasts) is counted
            // at the first rate: a small drift, never a crash.
            if (!MixAny(*frame, channels, mono, *buckets)) unreadable = true;
            av_frame_unref(frame.get());
            if (unreadable) return;
        }
    };

    bool readError = false;
    while (!peaks.CancelRequested() && !unreadable) {
        const int got = av_read_frame(format.get(), packet.get());
        if (got == AVERROR_EOF) break;
        if (got < 0) {
            readError = !peaks.CancelRequested();
            break;
        }
        if (packet->stream_index == index) {
            // A damaged packet is skipped as a player would; the rest goes on.
            avcodec_send_packet(decoder.get(), packet.get());
            drain();
        }
        av_packet_unref(packet.get());
    }
    if (peaks.CancelRequested()) {
        if (buckets) buckets->Publish();
        return peaks.Finish(WaveformState::Cancelled);
    }
    if (!unreadable) {
        avcodec_send_packet(decoder.get(), nullptr);
        drain();
    }
    if (buckets) buckets->Flush();
    // Nothing decoded at all, or a failure before the end, is unreadable;
    // what was read stays drawable.
    if (!buckets || unreadable || readError)
        return peaks.Finish(WaveformState::Unreadable);
    peaks.Finish(WaveformState::Done);
}

// ---- the cache --------------------------------------------------------------

WaveformCache::~WaveformCache() {
    std::lock_guard<std::mutex> lock(m_lock);
    for (auto& [key, entry] : m_entries) entry.peaks->Cancel();
    for (auto& [key, entry] : m_entries) Stop(entry);
}

WaveformCache::Key WaveformCache::KeyOf(const QString& path) {
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return {canonical.isEmpty() ? info.absoluteFilePath() : canonical, info.size(),
            info.exists() ? info.lastModified().toMSecsSinceEpoch() : 0};
}

void WaveformCache::Stop(Entry& entry) {
    entry.peaks->Cancel();
    if (entry.worker.joinable()) entry.worker.join();
}

std::shared_ptr<WaveformPeaks> WaveformCache::Request(const QString& path) {
    const Key key = KeyOf(path);
    std::lock_guard<std::mutex> lock(m_lock);
    // Workers that have ended are joined here, so they do not pile up.
    for (auto& [k, e] : m_entries)
        if (e.peaks->Finished() && e.worker.joinable()) e.worker.join();
    auto it = m_entries.find(key);
    if (it != m_entries.end()) {
        if (it->second.peaks->State() != WaveformState::Cancelled && !it->second.peaks->CancelRequested())
            return it->second.peaks;
        Stop(it->second);
        m_entries.erase(it);
    }
    // A file changed since it was decoded: the old peaks go.
    for (auto old = m_entries.begin(); old != m_entries.end();) {
        if (std::get<0>(old->first) == std::get<0>(key)) {
            Stop(old->second);
            old = m_entries.erase(old);
        } else {
            ++old;
        }
    }
    Entry& entry = m_entries[key];
    entry.peaks = std::make_shared<WaveformPeaks>(path);
    try {
        entry.worker = std::thread([peaks = entry.peaks]() { DecodePeaks(*peaks); });
    } catch (const std::system_error&) {
        // No thread to be had: a status, not a crash.
        entry.peaks->Finish(WaveformState::Unreadable);
    }
    ++m_started;
    return entry.peaks;
}

void WaveformCache::Cancel(const QString& path) {
    const QString name = std::get<0>(KeyOf(path));
    std::lock_guard<std::mutex> lock(m_lock);
    for (auto& [key, entry] : m_entries)
        if ((std::get<0>(key) == name || entry.peaks->Path() == path) && !entry.peaks->Finished())
            entry.peaks->Cancel();
}

void WaveformCache::WaitAll() {
    std::lock_guard<std::mutex> lock(m_lock);
    for (auto& [key, entry] : m_entries)
        if (entry.worker.joinable()) entry.worker.join();
}

WaveformCache& WaveformCache::Session() {
    static WaveformCache cache;
    return cache;
}

}  // namespace lumeval::media
