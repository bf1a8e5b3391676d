// clsDirectShow: plays one media file for the editor's preview. A state
// machine over a PlaybackService (media/playbackservice.h): open, play,
// pause, stop, seek, the status timer that reports the position, and the
// fitting of the picture into the caller's rectangle by one of four rules.
//
// Naming follows the editor's code: DS_ methods, properties as overload
// pairs (`Aspect()` reads, `Aspect(2)` sets), events as std::function members
// that are not raised while unset. By-reference arguments (rate, volume,
// balance, event arguments) may be changed and are read back.
//
// Status: 0 nothing open, 1 playing, 2 paused, 3 opened, 4 stopped.
// Positions and durations are seconds; a duration of 0 means unknown.
#pragma once

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <functional>
#include <memory>
#include <optional>

#include "controls/messagerouter.h"
#include "media/playbackservice.h"

class QTimer;
class QWidget;

namespace lumeval {

/// Where one aspect rule puts the picture (owner client pixels).
struct PicturePlacement {
    qint32 Left = 0, Top = 0, Width = 0, Height = 0;
    bool operator==(const PicturePlacement&) const = default;
};

/// The aspect rules as a pure function of video size (VW, VH) and target
/// rectangle; nullopt for a rule that places nothing (not 0..3) or a video
/// without a size.
std::optional<PicturePlacement> FitPicture(qint32 Aspect, qint32 VW, qint32 VH, qint32 TL,
                                           qint32 TT, qint32 TW, qint32 TH);

class clsDirectShow : public QObject, public RoutingOwner {
  public:
    /// `factory` makes a new graph at each open; empty: the Qt Multimedia one.
    explicit clsDirectShow(media::PlaybackServiceFactory factory = {}, QObject* parent = nullptr);
    ~clsDirectShow() override;
    clsDirectShow(const clsDirectShow&) = delete;
    clsDirectShow& operator=(const clsDirectShow&) = delete;

    // ---- Methods ------------------------------------------------------------
    /// Invalid QVariant for an empty name (nothing changes); else a bool, True
    /// when the medium opened (Status 3).
    QVariant DS_OpenFile(const QString& FileName, qint32 rectLeft, qint32 rectTop,
                         qint32 rectWidth, qint32 rectHeight, QWidget* hWndTarget,
                         bool bRaiseRemoveEvent, bool bRaiseOpenedEvent);
    void DS_Play();
    void DS_Pause();
    void DS_Stop(bool bRaiseEvent);
    void DS_Remove(bool bRaiseEvent);
    /// Relative seek, limited to 0 .. the duration (no upper limit while unknown).
    void DS_Seek(double amount);
    /// True while the medium has not played to its end within msTimeout
    /// (bounded; negative counts as 0); False when it has, or nothing is open.
    bool DS_StillPlaying(qint32 msTimeout);
    double DS_GetRate();
    /// Not above 0 becomes 0.1, in the caller's variable too.
    void DS_SetRate(double& newRate);
    void DS_SetRate(double&& newRate) { DS_SetRate(newRate); }
    qint32 DS_GetVolume();
    /// Limited to -10000 .. 0, in the caller's variable too.
    void DS_SetVolume(qint32& newVolume);
    void DS_SetVolume(qint32&& newVolume) { DS_SetVolume(newVolume); }
    qint32 DS_GetBalance();
    /// Limited to -10000 .. 10000, in the caller's variable too.
    void DS_SetBalance(qint32& newBalance);
    void DS_SetBalance(qint32&& newBalance) { DS_SetBalance(newBalance); }
    /// Places the picture by `Aspect` and raises PlayRect; returns empty.
    QVariant DS_CorrectAspect();
    QVariant DS_StretchMovie();
    QVariant DS_ChangeTarget(qint32 rectLeft, qint32 rectTop, qint32 rectWidth, qint32 rectHeight,
                             QWidget* hWndTarget);

    // ---- Properties -----------------------------------------------------------
    const QString& FileName() const { return m_fileName; }
    double Position();
    void Position(double value);
    double Duration();
    bool Pause() const { return m_status == 2; }
    void Pause(bool value);
    bool Repeat() const { return m_repeat; }
    void Repeat(bool value) { m_repeat = value; }
    float FrameRate() const { return m_frameRate; }
    void FrameRate(float value) {
        if (value != m_frameRate) m_frameRate = value;
    }
    qint32 Aspect() const { return m_aspect; }
    void Aspect(qint32 value) {
        if (value != m_aspect) m_aspect = value;
    }
    qint32 TimerElapse() const { return m_timerElapse; }
    void TimerElapse(qint32 value) {
        if (value != m_timerElapse) m_timerElapse = value;
    }
    qint32 Status() const { return m_status; }

    // ---- Beyond the editor's needs: for tests and tools -----------------------
    bool StatusTimerRunning() const;

    // ---- album art of ID3v2-tagged audio files (media/albumart.h) --------
    static bool ID3Exist(const QString& FileName);
    static qint32 GetAlbumArtCount(const QString& FileName);
    static bool ReadAlbumArt(const QString& FileName, qint32 FrameIndex, QImage& AlbumArt,
                             qint32& PictureType);
    static bool WriteAlbumArt(const QString& FileName, qint32 FrameIndex, const QImage& AlbumArt,
                              qint32 PictureType, bool bIgnoreReadOnly = false);
    static bool DeleteAlbumArt(const QString& FileName, qint32 FrameIndex, bool bIgnoreReadOnly = false);
    /// Native video size read at the last open.
    qint32 VideoWidth() const { return m_vw; }
    qint32 VideoHeight() const { return m_vh; }
    /// The graph held now (null when none); valid until the next open or remove.
    media::PlaybackService* Service() const { return m_graph.get(); }

    // ---- Events ---------------------------------------------------------------
    std::function<void(double& Position, double& Duration, qint32& Status)> PlayStatus;
    std::function<void(qint32& Left, qint32& Top, qint32& Width, qint32& Height)> PlayRect;

    // ---- RoutingOwner: the status timer arrives as routed callback 5 ----------
    static constexpr int kTimerMethod = 5;
    bool HasRoutingMethod(MethodKind kind, int nOrdinal, int nParamCount) const override;
    qintptr RoutedCallback(int nOrdinal, std::span<const qintptr> args) override;

  private:
    void TimerTick();
    void StartStatusTimer();
    void StopStatusTimer();
    void RaisePlayStatus(double position, double duration, qint32 status);
    /// The duration, or nullopt when the graph cannot say or says 0 (unknown).
    std::optional<double> KnownDuration();
    bool ReachedEnd(double position);
    void ApplyVideoWindow(QWidget* target);

    media::PlaybackServiceFactory m_factory;
    // Shared so that a wait or a load that lets events run keeps its graph
    // alive even if a handler removes the medium meanwhile.
    std::shared_ptr<media::PlaybackService> m_graph;
    quint64 m_openGeneration = 0;
    MessageRouter m_router;
    QTimer* m_timer = nullptr;
    quintptr m_timerCallback = 0;

    QString m_fileName;
    qint32 m_status = 0;
    bool m_repeat = false;
    float m_frameRate = 0;
    qint32 m_aspect = 0;
    qint32 m_timerElapse = 300;
    qint32 m_vw = 0, m_vh = 0;
    qint32 m_tl = 0, m_tt = 0, m_tw = 0, m_th = 0;
    QPointer<QWidget> m_target;
};

}  // namespace lumeval
