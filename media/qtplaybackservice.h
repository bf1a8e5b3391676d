// The real playback service: QMediaPlayer on Qt's ffmpeg backend, the
// picture painted from a QVideoSink into a plain child widget of the target,
// and a QAudioOutput only while the machine has an audio device.
//
// Why not QVideoWidget: it may be a native child window, which swallows the
// mouse input the target's routing must see; our own widget is transparent
// for the mouse, so clicks over the picture reach the target.
//
// Qt 6.4's ffmpeg backend and what is done about it here:
// - a QAudioOutput attached on a machine without audio devices crashes as
//   soon as playing starts: the output is attached only while
//   QMediaDevices lists one (and when one appears);
// - with no audio output, a medium without a picture never advances (its
//   clock is the audio sink): such media play on a wall clock instead;
// - it reports a duration of 0 for some media (WebM written by ffmpeg):
//   GetDuration then says 0, and the end is its end-of-media.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>
#include <memory>

#include "media/playbackservice.h"

class QAudioOutput;
class QMediaDevices;
class QMediaPlayer;
class QVideoSink;
class QWidget;

namespace lumeval::media {

/// Chooses Qt's ffmpeg media backend unless QT_MEDIA_BACKEND names another.
/// Qt reads the variable once, when the first media object (player, device
/// list) is made; call this before that, e.g. first thing in main(). The
/// service calls it too, which is enough when it is the first media object.
void PreferFfmpegBackend();

/// Whether Qt has a media backend at all (a player reports itself available).
bool MediaBackendAvailable();

class VideoPane;

class QtPlaybackService final : public QObject, public PlaybackService {
  public:
    QtPlaybackService();
    ~QtPlaybackService() override;

    /// How long RenderFile waits for the medium to load or fail.
    static constexpr int kLoadTimeoutMs = 2000;

    bool RenderFile(const QString& fileName) override;
    bool Run() override;
    bool Pause() override;
    bool Stop() override;
    bool GetDuration(double& seconds) override;
    bool GetCurrentPosition(double& seconds) override;
    bool PutCurrentPosition(double seconds) override;
    bool GetRate(double& rate) override;
    bool PutRate(double rate) override;
    bool GetVolume(qint32& volume) override;
    bool PutVolume(qint32 volume) override;
    bool GetBalance(qint32& balance) override;
    bool PutBalance(qint32 balance) override;
    bool GetAvgTimePerFrame(double& seconds) override;
    bool GetNativeVideoSize(qint32& width, qint32& height) override;
    bool PutWindowStyle(qint32 style) override;
    bool PutOwner(QWidget* owner) override;
    bool PutMessageDrain(QWidget* drain) override;
    bool SetWindowPosition(qint32 left, qint32 top, qint32 width, qint32 height) override;
    WaitResult WaitForCompletion(qint32 msTimeout) override;

    // For tests and tools.
    bool HasAudioOutput() const { return m_audioOutput != nullptr; }
    /// Attaches an audio output when the machine has a device and none is attached.
    void AttachAudioOutputIfAvailable();
    /// The widget the picture is painted in (null once its owner deleted it).
    QWidget* VideoWidget() const;
    /// Frames painted so far.
    int FramesShown() const;
    /// True while the wall clock stands in for the backend's.
    bool UsesWallClock() const { return m_wallClock; }

  private:
    enum class State { Stopped, Paused, Running };
    qint64 PositionMs() const;
    void SeekMs(qint64 ms);
    bool Completed();
    void MediaStatusChanged(int status);
    void ApplyVolume();

    std::unique_ptr<QMediaPlayer> m_player;
    std::unique_ptr<QMediaDevices> m_devices;
    std::unique_ptr<QAudioOutput> m_audioOutput;
    QPointer<VideoPane> m_pane;
    State m_state = State::Stopped;
    bool m_loaded = false;
    bool m_ended = false;
    qint32 m_volume = 0;
    qint32 m_balance = 0;
    qint32 m_style = 0;
    double m_rate = 1.0;
    /// Where a stopped medium stands (ms), -1 when the player's own position holds.
    qint64 m_heldMs = -1;

    // Wall clock for media the backend cannot clock (see above).
    bool m_wallClock = false;
    qint64 m_clockBaseMs = 0;
    QElapsedTimer m_clockRun;
};

}  // namespace lumeval::media
