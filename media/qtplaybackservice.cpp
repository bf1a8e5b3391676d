#include "media/qtplaybackservice.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QImage>
#include <QMediaDevices>
#include <QMediaMetaData>
#include <QMediaPlayer>
#include <QPainter>
#include <QTimer>
#include <QUrl>
#include <QVideoFrame>
#include <QVideoSink>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <utility>

namespace lumeval::media {

void PreferFfmpegBackend() {
    if (qEnvironmentVariableIsEmpty("QT_MEDIA_BACKEND")) qputenv("QT_MEDIA_BACKEND", "ffmpeg");
}

bool MediaBackendAvailable() {
    PreferFfmpegBackend();
    QMediaPlayer player;
    return player.isAvailable();
}

/// The picture: the sink's latest frame, stretched over the widget (the
/// widget's geometry already has the picture's shape). Mouse input passes
/// through to the owner.
class VideoPane final : public QWidget {
  public:
    explicit VideoPane(QWidget* parent) : QWidget(parent), m_sink(new QVideoSink(this)) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        // Frames arrive from the decoder's thread; the context object makes
        // the call queued onto ours. (Qt 6.4 stalls its decoder when
        // videoSizeChanged is connected directly, so that one is not used.)
        connect(m_sink, &QVideoSink::videoFrameChanged, this, [this](const QVideoFrame& frame) {
            m_frame = frame;
            if (frame.isValid()) m_frameSize = frame.size();
            update();
        });
    }
    QVideoSink* Sink() const { return m_sink; }
    QSize FrameSize() const { return m_frameSize; }
    int FramesShown() const { return m_shown; }
    void Forget() {
        m_frame = QVideoFrame();
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        QImage image = m_frame.isValid() ? m_frame.toImage() : QImage();
        if (image.isNull()) {
            painter.fillRect(rect(), Qt::black);
            return;
        }
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(rect(), image);
        ++m_shown;
    }

  private:
    QVideoSink* m_sink;
    QVideoFrame m_frame;
    QSize m_frameSize;
    int m_shown = 0;
};

QtPlaybackService::QtPlaybackService() {
    PreferFfmpegBackend();
    m_player = std::make_unique<QMediaPlayer>();
    m_devices = std::make_unique<QMediaDevices>();
    m_pane = new VideoPane(nullptr);
    m_pane->hide();
    m_player->setVideoSink(m_pane->Sink());
    AttachAudioOutputIfAvailable();
    connect(m_devices.get(), &QMediaDevices::audioOutputsChanged, this,
            [this]() { AttachAudioOutputIfAvailable(); });
    connect(m_player.get(), &QMediaPlayer::mediaStatusChanged, this,
            [this](QMediaPlayer::MediaStatus status) { MediaStatusChanged(status); });
}

QtPlaybackService::~QtPlaybackService() {
    m_player->stop();
    m_player->setVideoSink(nullptr);
    m_player->setAudioOutput(nullptr);
    // The owner may have deleted the pane already (it is its child).
    delete m_pane.data();
}

void QtPlaybackService::AttachAudioOutputIfAvailable() {
    if (m_audioOutput || QMediaDevices::audioOutputs().isEmpty()) return;
    const qint64 at = PositionMs();
    m_audioOutput = std::make_unique<QAudioOutput>();
    ApplyVolume();
    m_player->setAudioOutput(m_audioOutput.get());
    if (m_wallClock) {
        // The backend can clock the medium now; hand over where we are.
        m_wallClock = false;
        m_player->setPosition(at);
        if (m_state == State::Running) m_player->play();
        if (m_state == State::Paused) m_player->pause();
    }
}

QWidget* QtPlaybackService::VideoWidget() const {
    return m_pane.data();
}

int QtPlaybackService::FramesShown() const {
    return m_pane ? m_pane->FramesShown() : 0;
}

void QtPlaybackService::MediaStatusChanged(int status) {
    if (status == QMediaPlayer::EndOfMedia) m_ended = true;
}

bool QtPlaybackService::RenderFile(const QString& fileName) {
    m_loaded = false;
    m_ended = false;
    m_wallClock = false;
    m_heldMs = -1;
    QEventLoop loop;
    bool done = false, ok = false;
    auto finish = [&](bool loaded) {
        if (done) return;
        done = true;
        ok = loaded;
        loop.quit();
    };
    const auto statusWatch = connect(m_player.get(), &QMediaPlayer::mediaStatusChanged, &loop,
                                     [&](QMediaPlayer::MediaStatus status) {
                                         if (status == QMediaPlayer::LoadedMedia) finish(true);
                                         if (status == QMediaPlayer::InvalidMedia) finish(false);
                                     });
    const auto errorWatch = connect(m_player.get(), &QMediaPlayer::errorOccurred, &loop,
                                    [&](QMediaPlayer::Error error, const QString&) {
                                        if (error != QMediaPlayer::NoError) finish(false);
                                    });
    QTimer::singleShot(kLoadTimeoutMs, &loop, [&]() { finish(false); });
    m_player->setSource(QUrl::fromLocalFile(fileName));
    // The backend may have decided before we listened.
    const auto now = m_player->mediaStatus();
    if (now == QMediaPlayer::LoadedMedia) finish(true);
    if (now == QMediaPlayer::InvalidMedia) finish(false);
    if (!done) loop.exec();
    disconnect(statusWatch);
    disconnect(errorWatch);
    m_loaded = ok;
    if (!ok) {
        m_player->setSource(QUrl());
        return false;
    }
    m_wallClock = !m_audioOutput && !m_player->hasVideo() && m_player->hasAudio();
    m_clockBaseMs = 0;
    m_state = State::Stopped;
    return true;
}

qint64 QtPlaybackService::PositionMs() const {
    if (!m_wallClock) return m_heldMs >= 0 ? m_heldMs : m_player->position();
    qint64 ms = m_clockBaseMs;
    if (m_state == State::Running && m_clockRun.isValid())
        ms += static_cast<qint64>(static_cast<double>(m_clockRun.elapsed()) * m_rate);
    const qint64 duration = m_player->duration();
    return duration > 0 ? std::min(ms, duration) : ms;
}

bool QtPlaybackService::Completed() {
    if (m_wallClock && m_state == State::Running) {
        const qint64 duration = m_player->duration();
        if (duration > 0 && PositionMs() >= duration) m_ended = true;
    }
    return m_ended;
}

bool QtPlaybackService::Run() {
    if (!m_loaded) return false;
    if (m_wallClock) {
        if (m_state != State::Running) {
            m_clockBaseMs = PositionMs();
            m_clockRun.start();
        }
    } else {
        const qint64 held = std::exchange(m_heldMs, -1);
        m_player->play();
        // Qt's player starts a stopped medium from 0; resume where it was held.
        if (held > 0) m_player->setPosition(held);
    }
    m_state = State::Running;
    return true;
}

bool QtPlaybackService::Pause() {
    if (!m_loaded) return false;
    if (m_wallClock) {
        m_clockBaseMs = PositionMs();
        m_clockRun.invalidate();
    } else {
        const qint64 held = std::exchange(m_heldMs, -1);
        m_player->pause();
        if (held > 0) m_player->setPosition(held);
    }
    m_state = State::Paused;
    return true;
}

bool QtPlaybackService::Stop() {
    if (!m_loaded) return false;
    // A stopped graph keeps its position (the caller reports it, then
    // rewinds); Qt's player forgets it, so it is held here until played.
    const qint64 at = PositionMs();
    m_player->stop();
    m_clockBaseMs = at;
    m_clockRun.invalidate();
    if (!m_wallClock) m_heldMs = at;
    m_state = State::Stopped;
    m_ended = false;
    if (m_pane) m_pane->Forget();
    return true;
}

bool QtPlaybackService::GetDuration(double& seconds) {
    seconds = m_loaded ? static_cast<double>(m_player->duration()) / 1000.0 : 0.0;
    return true;
}

bool QtPlaybackService::GetCurrentPosition(double& seconds) {
    seconds = m_loaded ? static_cast<double>(PositionMs()) / 1000.0 : 0.0;
    return true;
}

void QtPlaybackService::SeekMs(qint64 ms) {
    m_ended = false;
    if (m_wallClock) {
        m_clockBaseMs = ms;
        if (m_state == State::Running) m_clockRun.start();
        return;
    }
    if (m_heldMs >= 0) m_heldMs = ms;
    m_player->setPosition(ms);
    // A graph keeps running after its end: seeking then plays on, which is
    // what playing on repeat relies on. Qt's player has stopped by then.
    if (m_state == State::Running && m_player->playbackState() != QMediaPlayer::PlayingState)
        m_player->play();
}

bool QtPlaybackService::PutCurrentPosition(double seconds) {
    if (!m_loaded || !std::isfinite(seconds)) return false;
    SeekMs(static_cast<qint64>(std::llround(std::max(seconds, 0.0) * 1000.0)));
    return true;
}

bool QtPlaybackService::GetRate(double& rate) {
    rate = m_rate;
    return true;
}

bool QtPlaybackService::PutRate(double rate) {
    if (!(rate > 0) || !std::isfinite(rate)) return false;
    if (m_wallClock && m_state == State::Running) {
        m_clockBaseMs = PositionMs();
        m_clockRun.start();
    }
    m_rate = rate;
    m_player->setPlaybackRate(rate);
    return true;
}

void QtPlaybackService::ApplyVolume() {
    if (!m_audioOutput) return;
    // Hundredths of a decibel to a linear factor: -10000 is 1e-5, silence.
    m_audioOutput->setVolume(static_cast<float>(std::pow(10.0, m_volume / 2000.0)));
}

bool QtPlaybackService::GetVolume(qint32& volume) {
    volume = m_volume;
    return true;
}

bool QtPlaybackService::PutVolume(qint32 volume) {
    m_volume = std::clamp(volume, -10000, 0);
    ApplyVolume();
    return true;
}

// Qt has no balance; it is kept and read back so the caller's view holds.
bool QtPlaybackService::GetBalance(qint32& balance) {
    balance = m_balance;
    return true;
}

bool QtPlaybackService::PutBalance(qint32 balance) {
    m_balance = std::clamp(balance, -10000, 10000);
    return true;
}

bool QtPlaybackService::GetAvgTimePerFrame(double& seconds) {
    if (!m_loaded || !m_player->hasVideo()) return false;
    const double fps = m_player->metaData().value(QMediaMetaData::VideoFrameRate).toDouble();
    if (!(fps > 0) || !std::isfinite(fps)) return false;
    seconds = 1.0 / fps;
    return true;
}

bool QtPlaybackService::GetNativeVideoSize(qint32& width, qint32& height) {
    // Nothing loaded: a picture window without a picture, 0 x 0. Loaded
    // without a picture: there is no picture to ask.
    if (!m_loaded) {
        width = height = 0;
        return true;
    }
    if (!m_player->hasVideo()) return false;
    QSize size = m_player->metaData().value(QMediaMetaData::Resolution).toSize();
    if (!size.isValid() || size.isEmpty()) {
        for (const auto& track : m_player->videoTracks()) {
            size = track.value(QMediaMetaData::Resolution).toSize();
            if (size.isValid() && !size.isEmpty()) break;
        }
    }
    if ((!size.isValid() || size.isEmpty()) && m_pane) size = m_pane->FrameSize();
    if (!size.isValid()) return false;
    width = size.width();
    height = size.height();
    return true;
}

bool QtPlaybackService::PutWindowStyle(qint32 style) {
    // Clipping styles have no meaning for a Qt child widget; kept only.
    m_style = style;
    return true;
}

bool QtPlaybackService::PutOwner(QWidget* owner) {
    if (!m_pane) return false;
    m_pane->setParent(owner);
    if (owner != nullptr && m_loaded && m_player->hasVideo()) {
        m_pane->show();
        m_pane->raise();
    } else {
        m_pane->hide();
    }
    return true;
}

bool QtPlaybackService::PutMessageDrain(QWidget* drain) {
    if (!m_pane) return false;
    // The drain is the owner: mouse input over the picture goes to the
    // widget beneath it, which is the owner itself.
    m_pane->setAttribute(Qt::WA_TransparentForMouseEvents, drain != nullptr);
    return true;
}

bool QtPlaybackService::SetWindowPosition(qint32 left, qint32 top, qint32 width, qint32 height) {
    if (!m_pane || width < 0 || height < 0) return false;
    m_pane->setGeometry(left, top, width, height);
    return true;
}

WaitResult QtPlaybackService::WaitForCompletion(qint32 msTimeout) {
    if (!m_loaded) return WaitResult::Failed;
    if (Completed()) return WaitResult::Completed;
    if (msTimeout <= 0) return WaitResult::TimedOut;
    // Bounded: the window thread keeps its events running meanwhile.
    QDeadlineTimer deadline(msTimeout);
    while (!deadline.hasExpired()) {
        QEventLoop loop;
        const int slice = static_cast<int>(std::min<qint64>(deadline.remainingTime(), 20));
        QTimer::singleShot(std::max(slice, 1), &loop, &QEventLoop::quit);
        connect(m_player.get(), &QMediaPlayer::mediaStatusChanged, &loop, &QEventLoop::quit);
        loop.exec();
        if (Completed()) return WaitResult::Completed;
    }
    return WaitResult::TimedOut;
}

}  // namespace lumeval::media
