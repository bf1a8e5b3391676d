// The media graph clsDirectShow drives: exactly the operations it needs,
// nothing more. The real one (QtPlaybackService) sits on Qt Multimedia; the
// scripted one (ScriptedPlaybackService) lets tests play media that do not
// exist.
//
// Every operation answers whether it succeeded, as the platform's graph
// interfaces do; values come back through reference arguments, which are
// left untouched on failure. Positions, durations and frame times are
// seconds; volume is hundredths of a decibel (-10000 silence .. 0 full),
// balance -10000 (left only) .. 10000 (right only).
#pragma once

#include <QString>
#include <QtGlobal>
#include <functional>
#include <memory>

class QWidget;

namespace lumeval::media {

/// What a bounded wait for the end of the medium saw.
enum class WaitResult {
    Completed,  ///< the medium has played to its end
    TimedOut,   ///< still playing (or paused, or stopped) when the time ran out
    Failed,     ///< the graph could not wait (nothing loaded)
};

class PlaybackService {
  public:
    virtual ~PlaybackService() = default;

    // Control.
    /// Loads the file into the graph; returns when it has loaded or failed.
    virtual bool RenderFile(const QString& fileName) = 0;
    virtual bool Run() = 0;
    virtual bool Pause() = 0;
    virtual bool Stop() = 0;

    // Position. A duration of 0 means the backend does not know it.
    virtual bool GetDuration(double& seconds) = 0;
    virtual bool GetCurrentPosition(double& seconds) = 0;
    virtual bool PutCurrentPosition(double seconds) = 0;
    virtual bool GetRate(double& rate) = 0;
    virtual bool PutRate(double rate) = 0;

    // Audio.
    virtual bool GetVolume(qint32& volume) = 0;
    virtual bool PutVolume(qint32 volume) = 0;
    virtual bool GetBalance(qint32& balance) = 0;
    virtual bool PutBalance(qint32 balance) = 0;

    // Video. Fails when the medium has no picture.
    virtual bool GetAvgTimePerFrame(double& seconds) = 0;
    /// Native picture size in pixels; fails for a medium without a picture.
    virtual bool GetNativeVideoSize(qint32& width, qint32& height) = 0;

    // Video window.
    virtual bool PutWindowStyle(qint32 style) = 0;
    /// The widget the picture is shown in (its parent); null hides it.
    virtual bool PutOwner(QWidget* owner) = 0;
    /// The widget that receives the mouse input over the picture.
    virtual bool PutMessageDrain(QWidget* drain) = 0;
    /// Places the picture inside the owner (owner client pixels).
    virtual bool SetWindowPosition(qint32 left, qint32 top, qint32 width, qint32 height) = 0;

    // Events.
    /// Waits at most msTimeout milliseconds (0: just looks; a negative value
    /// counts as 0, never as "for ever") with the event loop running.
    virtual WaitResult WaitForCompletion(qint32 msTimeout) = 0;
};

/// Creates a new graph; null when it cannot be created.
using PlaybackServiceFactory = std::function<std::unique_ptr<PlaybackService>()>;

}  // namespace lumeval::media
