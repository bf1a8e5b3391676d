// A playback service that plays a medium described by a script: its length,
// picture size and frame time, how far the position moves on each read
// while running, which operations fail, and a record of every call. For
// tests of clsDirectShow and of the editor's preview, with no media at all.
//
// The script (ScriptedMedia) is shared between the test and every graph the
// factory makes, so a test keeps one handle across opens.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <set>

#include "media/playbackservice.h"

namespace lumeval::media {

/// The operations, for scripting failures and reading the record.
enum class PlaybackOp {
    Create,
    RenderFile,
    Run,
    Pause,
    Stop,
    GetDuration,
    GetCurrentPosition,
    PutCurrentPosition,
    GetRate,
    PutRate,
    GetVolume,
    PutVolume,
    GetBalance,
    PutBalance,
    GetAvgTimePerFrame,
    GetNativeVideoSize,
    PutWindowStyle,
    PutOwner,
    PutMessageDrain,
    SetWindowPosition,
    WaitForCompletion,
};

/// The name an operation has in the record ("PutVolume").
QString PlaybackOpName(PlaybackOp op);

struct ScriptedMedia {
    // ---- The medium (set by the test) ----------------------------------------
    double duration = 60.0;        ///< seconds; 0: the backend cannot tell
    qint32 videoWidth = 640;       ///< 0 x 0 with hasVideo: a picture without size
    qint32 videoHeight = 480;
    bool hasVideo = true;          ///< false: size and frame time reads fail
    double avgTimePerFrame = 0.04; ///< seconds; 0 or less: unknown
    /// Seconds the position moves on each position read while running.
    double advancePerRead = 0.0;
    /// Failing operations (each fails on every call).
    std::set<PlaybackOp> failing;

    // ---- The graph's state (kept by the service; tests may look or set) -------
    enum class State { Stopped, Paused, Running };
    State state = State::Stopped;
    bool loaded = false;
    double position = 0.0;
    double rate = 1.0;
    qint32 volume = 0;
    qint32 balance = 0;
    qint32 style = 0;
    void* owner = nullptr;
    void* drain = nullptr;
    /// Set when a running medium reaches its end, or by EndOfMedia().
    bool ended = false;
    int graphsCreated = 0;
    int graphsAlive = 0;

    /// Every call as "Name(arguments)", failed ones marked " failed".
    QStringList calls;

    /// Moves a running medium on (to its end at most, when its length is known).
    void Advance(double seconds);
    /// The backend's end of the medium (for media of unknown length).
    void EndOfMedia() { ended = true; }
    /// Calls of one operation, in order.
    QStringList CallsOf(PlaybackOp op) const;
};

class ScriptedPlaybackService final : public PlaybackService {
  public:
    explicit ScriptedPlaybackService(std::shared_ptr<ScriptedMedia> media);
    ~ScriptedPlaybackService() override;

    /// A factory making graphs on `media`; none while Create is failing.
    static PlaybackServiceFactory Factory(std::shared_ptr<ScriptedMedia> media);

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

  private:
    /// Records the call; false when the script makes it fail.
    bool Call(PlaybackOp op, const QString& arguments = QString());

    std::shared_ptr<ScriptedMedia> m_media;
};

}  // namespace lumeval::media
