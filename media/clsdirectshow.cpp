#include "media/clsdirectshow.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "controls/logsink.h"
#include "media/albumart.h"
#include "controls/windowmessages.h"
#include "media/qtplaybackservice.h"

namespace lumeval {

namespace {

// Clip siblings and clip children: what the picture window is given at open.
constexpr qint32 kVideoWindowStyle = 0x06000000;

// Half to even, as the picture rules were written; never UB on odd input.
qint32 RoundToInt(double value) {
    if (!std::isfinite(value)) return 0;
    const double rounded = std::nearbyint(value);
    constexpr double lo = std::numeric_limits<qint32>::min();
    constexpr double hi = std::numeric_limits<qint32>::max();
    return static_cast<qint32>(std::clamp(rounded, lo, hi));
}

qint32 FloorToInt(double value) {
    if (!std::isfinite(value)) return 0;
    constexpr double lo = std::numeric_limits<qint32>::min();
    constexpr double hi = std::numeric_limits<qint32>::max();
    return static_cast<qint32>(std::clamp(std::floor(value), lo, hi));
}

void LogStep(const char* routine, const char* what) {
    LogWrite(QStringLiteral("clsDirectShow.%1: %2 failed")
                 .arg(QLatin1String(routine), QLatin1String(what)));
}

}  // namespace

std::optional<PicturePlacement> FitPicture(qint32 Aspect, qint32 VW, qint32 VH, qint32 TL,
                                           qint32 TT, qint32 TW, qint32 TH) {
    // A medium without a picture size has nothing to fit (audio only).
    if (VW < 1 || VH < 1) return std::nullopt;
    const double vw = VW, vh = VH, tl = TL, tt = TT, tw = TW, th = TH;

    // Fitted size: the largest picture of the video's shape inside the target.
    qint32 d = VW, f = VH;
    if (VH != TH || VW != TW) {
        const double hr = th / vh, wr = tw / vw;
        if (!(wr < hr)) {
            d = FloorToInt(hr * vw);
            f = TH;
        } else {
            d = TW;
            f = FloorToInt(wr * vh);
        }
        d = std::max(d, 1);
        f = std::max(f, 1);
    }

    PicturePlacement p;
    switch (Aspect) {
        case 0:  // fit, letterboxed
            if (vw / tw > vh / th) {
                p.Width = TW;
                p.Height = RoundToInt(tw / vw * vh);
                p.Left = TL;
                p.Top = RoundToInt((th - tw / vw * vh) / 2 + tt);
            } else {
                p.Width = RoundToInt(th / vh * vw);
                p.Height = TH;
                p.Left = RoundToInt((tw - th / vh * vw) / 2 + tl);
                p.Top = TT;
            }
            break;
        case 1:  // stretch
            p = {TL, TT, TW, TH};
            break;
        case 2:  // native size when it fits, else fitted; centred
            if (VW < TW && VH < TH) {
                p.Width = VW;
                p.Height = VH;
                p.Left = RoundToInt((tw - vw) / 2 + tl);
                p.Top = RoundToInt((th - vh) / 2 + tt);
            } else {
                p.Width = d;
                p.Height = f;
                p.Left = RoundToInt((tw - d) / 2 + tl);
                p.Top = RoundToInt((th - f) / 2 + tt);
            }
            break;
        case 3:  // half-way between fit and stretch
            p.Width = RoundToInt(d + (tw - d) / 2);
            p.Height = RoundToInt(f + (th - f) / 2);
            p.Left = RoundToInt((tw - d) / 4 + tl);
            p.Top = RoundToInt((th - f) / 4 + tt);
            break;
        default:
            return std::nullopt;
    }
    return p;
}

clsDirectShow::clsDirectShow(media::PlaybackServiceFactory factory, QObject* parent)
    : QObject(parent), m_factory(std::move(factory)), m_router(QStringLiteral("clsDirectShow")) {
    if (!m_factory) {
        m_factory = []() -> std::unique_ptr<media::PlaybackService> {
            return std::make_unique<media::QtPlaybackService>();
        };
    }
}

clsDirectShow::~clsDirectShow() {
    DS_Remove(true);
    StopStatusTimer();
    m_router.ReleaseAllCallbacks();
}

// ---------------------------------------------------------------------------
// Opening and closing

QVariant clsDirectShow::DS_OpenFile(const QString& FileName, qint32 rectLeft, qint32 rectTop,
                                    qint32 rectWidth, qint32 rectHeight, QWidget* hWndTarget,
                                    bool bRaiseRemoveEvent, bool bRaiseOpenedEvent) {
    if (FileName.isEmpty()) return QVariant();
    constexpr const char* routine = "DS_OpenFile";
    DS_Remove(bRaiseRemoveEvent);

    const quint64 generation = ++m_openGeneration;
    std::shared_ptr<media::PlaybackService> graph(m_factory ? m_factory() : nullptr);
    m_graph = graph;
    if (!graph) {
        // Without a graph nothing can play: reporting success here would
        // leave the caller with an "opened" medium that never starts.
        LogStep(routine, "creating the graph");
        m_status = 0;
        m_fileName = FileName;
        return false;
    }

    m_fileName = FileName;
    if (!graph->RenderFile(FileName)) {
        LogStep(routine, "RenderFile");
        m_status = 0;
    }
    // Loading lets events run: a handler may have removed this medium or
    // opened another one meanwhile. This open then has nothing left to do.
    if (generation != m_openGeneration || m_graph != graph) return false;

    if (!graph->PutVolume(0)) m_status = 0;
    if (!graph->PutBalance(0)) m_status = 0;

    qint32 width = 0, height = 0;
    if (graph->GetNativeVideoSize(width, height)) {
        m_vw = width;
        m_vh = height;
    } else {
        m_vw = m_vh = 0;
        m_status = 0;
    }

    m_tl = rectLeft;
    m_tt = rectTop;
    m_tw = rectWidth;
    m_th = rectHeight;
    m_target = hWndTarget;

    if (!graph->PutWindowStyle(kVideoWindowStyle)) m_status = 0;
    if (!graph->PutOwner(hWndTarget)) m_status = 0;
    if (!graph->PutMessageDrain(hWndTarget)) m_status = 0;

    double frameTime = 0;
    if (graph->GetAvgTimePerFrame(frameTime) && frameTime > 0) {
        m_frameRate = static_cast<float>(1.0 / frameTime);
    } else {
        m_frameRate = 0;
    }

    DS_CorrectAspect();
    if (!graph->PutRate(1.0)) m_status = 0;

    // The one rule that decides: a medium that says it has neither a length
    // nor a picture did not open.
    double duration = 0;
    const bool durationRead = graph->GetDuration(duration);
    const bool sizeRead = graph->GetNativeVideoSize(width, height);
    if (durationRead && sizeRead && !(duration > 0) && width < 1 && height < 1) {
        m_status = 0;
        return false;
    }
    m_status = 3;
    if (bRaiseOpenedEvent) {
        double position = 0;
        graph->GetCurrentPosition(position);
        RaisePlayStatus(position, duration, 3);
    }
    return true;
}

void clsDirectShow::DS_Stop(bool bRaiseEvent) {
    if (m_status == 0) return;
    StopStatusTimer();
    const auto graph = m_graph;
    if (graph) graph->Stop();
    m_status = 4;
    m_fileName.clear();
    if (bRaiseEvent) RaisePlayStatus(Position(), Duration(), 4);
    if (graph) graph->PutCurrentPosition(0);
}

void clsDirectShow::DS_Remove(bool bRaiseEvent) {
    const auto graph = m_graph;
    DS_Stop(bRaiseEvent);
    StopStatusTimer();
    m_status = 0;
    m_fileName.clear();
    if (bRaiseEvent) RaisePlayStatus(Position(), Duration(), 0);
    // A handler may have opened another medium meanwhile; that one stays.
    if (m_graph == graph) m_graph.reset();
}

// ---------------------------------------------------------------------------
// Playing

void clsDirectShow::DS_Play() {
    if (m_status == 0) return;
    const auto graph = m_graph;
    if (graph) {
        double position = 0, duration = 0;
        const bool havePosition = graph->GetCurrentPosition(position);
        const bool haveDuration = graph->GetDuration(duration);
        if (havePosition && haveDuration) {
            // Playing from the end starts again from the beginning. A medium
            // of unknown length is at its end when the backend says so.
            const bool atEnd =
                duration > 0 ? std::nearbyint(position) == std::nearbyint(duration)
                             : graph->WaitForCompletion(0) == media::WaitResult::Completed;
            if (atEnd) graph->PutCurrentPosition(0);
        }
        graph->Run();
    }
    m_status = 1;
    if (graph) StartStatusTimer();
}

void clsDirectShow::DS_Pause() {
    if (m_status == 0) return;
    StopStatusTimer();
    if (m_graph) m_graph->Pause();
    m_status = 2;
}

void clsDirectShow::Pause(bool value) {
    if (m_status == 0) return;
    if (value) {
        DS_Pause();
    } else {
        DS_Play();
    }
}

bool clsDirectShow::DS_StillPlaying(qint32 msTimeout) {
    const auto graph = m_graph;
    if (!graph) return false;
    return graph->WaitForCompletion(std::max(msTimeout, 0)) != media::WaitResult::Completed;
}

// ---------------------------------------------------------------------------
// Position

double clsDirectShow::Position() {
    double seconds = 0;
    if (m_graph && m_graph->GetCurrentPosition(seconds)) return seconds;
    return 0;
}

double clsDirectShow::Duration() {
    double seconds = 0;
    if (m_graph && m_graph->GetDuration(seconds)) return seconds;
    return 0;
}

std::optional<double> clsDirectShow::KnownDuration() {
    double seconds = 0;
    if (m_graph && m_graph->GetDuration(seconds) && seconds > 0) return seconds;
    return std::nullopt;
}

void clsDirectShow::Position(double value) {
    if (m_status == 0 || !m_graph) return;
    if (!(value > 0)) value = 0;  // NaN too
    // While the length is unknown there is no upper limit to hold to.
    if (const auto duration = KnownDuration(); duration && value > *duration) value = *duration;
    m_graph->PutCurrentPosition(value);
}

void clsDirectShow::DS_Seek(double amount) {
    if (m_status == 0 || !m_graph) return;
    Position(Position() + amount);
}

// ---------------------------------------------------------------------------
// Rate, volume, balance

double clsDirectShow::DS_GetRate() {
    double rate = 0;
    if (m_graph && m_graph->GetRate(rate)) return rate;
    return 0;
}

void clsDirectShow::DS_SetRate(double& newRate) {
    if (!(newRate > 0)) newRate = 0.1;
    if (m_graph) m_graph->PutRate(newRate);
}

qint32 clsDirectShow::DS_GetVolume() {
    qint32 volume = 0;
    if (m_graph && m_graph->GetVolume(volume)) return volume;
    return 0;
}

void clsDirectShow::DS_SetVolume(qint32& newVolume) {
    newVolume = std::clamp(newVolume, -10000, 0);
    if (m_graph) m_graph->PutVolume(newVolume);
}

qint32 clsDirectShow::DS_GetBalance() {
    qint32 balance = 0;
    if (m_graph && m_graph->GetBalance(balance)) return balance;
    return 0;
}

void clsDirectShow::DS_SetBalance(qint32& newBalance) {
    newBalance = std::clamp(newBalance, -10000, 10000);
    if (m_graph) m_graph->PutBalance(newBalance);
}

// ---------------------------------------------------------------------------
// The picture

QVariant clsDirectShow::DS_CorrectAspect() {
    if (!m_graph) return QVariant();
    const auto placement = FitPicture(m_aspect, m_vw, m_vh, m_tl, m_tt, m_tw, m_th);
    if (!placement) return QVariant();
    m_graph->SetWindowPosition(placement->Left, placement->Top, placement->Width,
                               placement->Height);
    if (PlayRect) {
        qint32 left = placement->Left, top = placement->Top;
        qint32 width = placement->Width, height = placement->Height;
        PlayRect(left, top, width, height);
    }
    return QVariant();
}

QVariant clsDirectShow::DS_StretchMovie() {
    if (m_status == 0) return QVariant();
    if (m_graph) m_graph->SetWindowPosition(0, 0, m_tw, m_th);
    QCoreApplication::processEvents();
    return QVariant();
}

void clsDirectShow::ApplyVideoWindow(QWidget* target) {
    m_graph->PutWindowStyle(kVideoWindowStyle);
    m_graph->PutOwner(target);
    m_graph->PutMessageDrain(target);
}

QVariant clsDirectShow::DS_ChangeTarget(qint32 rectLeft, qint32 rectTop, qint32 rectWidth,
                                        qint32 rectHeight, QWidget* hWndTarget) {
    if (m_status == 0) return QVariant();
    m_tl = rectLeft;
    m_tt = rectTop;
    m_tw = rectWidth;
    m_th = rectHeight;
    if (m_graph) {
        if (hWndTarget != m_target) ApplyVideoWindow(hWndTarget);
        m_target = hWndTarget;
    }
    DS_CorrectAspect();
    QCoreApplication::processEvents();
    return QVariant();
}

// ---------------------------------------------------------------------------
// The status timer

bool clsDirectShow::HasRoutingMethod(MethodKind kind, int nOrdinal, int nParamCount) const {
    return kind == MethodKind::Callback && nOrdinal == kTimerMethod && nParamCount == 4;
}

qintptr clsDirectShow::RoutedCallback(int nOrdinal, std::span<const qintptr> /*args*/) {
    if (nOrdinal == kTimerMethod) TimerTick();
    return 0;
}

bool clsDirectShow::StatusTimerRunning() const {
    return m_timer != nullptr && m_timer->isActive();
}

void clsDirectShow::StartStatusTimer() {
    StopStatusTimer();
    m_timerCallback = m_router.SetCallback(4, kTimerMethod, this, true);
    if (m_timerCallback == 0) return;
    m_timer = new QTimer(this);
    m_timer->setInterval(std::max(m_timerElapse, 1));
    QTimer* timer = m_timer;
    connect(timer, &QTimer::timeout, this, [this, timer]() {
        if (m_timer != timer) return;
        const std::array<qintptr, 4> args{0, WM_TIMER, timer->timerId(),
                                          static_cast<qintptr>(QDateTime::currentMSecsSinceEpoch())};
        m_router.InvokeCallback(m_timerCallback, args);
    });
    m_timer->start();
}

void clsDirectShow::StopStatusTimer() {
    if (m_timer != nullptr) {
        m_timer->stop();
        // A tick may be running on the stack right now.
        m_timer->deleteLater();
        m_timer = nullptr;
    }
    if (m_timerCallback != 0) {
        m_router.ReleaseCallback(m_timerCallback);
        m_timerCallback = 0;
    }
}

bool clsDirectShow::ReachedEnd(double position) {
    // A known length ends at the position test; an unknown one (the backend
    // says 0) would end at once by that test, so there the backend's own
    // end of the medium decides. Either way the backend's end counts: a
    // stream may stop a little short of the length its header promised.
    if (const auto duration = KnownDuration(); duration && position >= *duration) return true;
    return m_graph && m_graph->WaitForCompletion(0) == media::WaitResult::Completed;
}

void clsDirectShow::TimerTick() {
    if (m_status != 1 || !m_graph) return;
    const auto graph = m_graph;
    RaisePlayStatus(Position(), Duration(), 1);
    // The handler may have paused, removed or replaced the medium.
    if (m_status != 1 || m_graph != graph) return;
    if (!ReachedEnd(Position())) return;
    if (m_repeat) {
        graph->PutCurrentPosition(0);
    } else {
        DS_Remove(true);
    }
}

void clsDirectShow::RaisePlayStatus(double position, double duration, qint32 status) {
    if (!PlayStatus) return;
    PlayStatus(position, duration, status);
}

bool clsDirectShow::ID3Exist(const QString& FileName) { return lumeval::ID3Exist(FileName); }

qint32 clsDirectShow::GetAlbumArtCount(const QString& FileName) { return lumeval::GetAlbumArtCount(FileName); }

bool clsDirectShow::ReadAlbumArt(const QString& FileName, qint32 FrameIndex, QImage& AlbumArt,
                                 qint32& PictureType) {
    return lumeval::ReadAlbumArt(FileName, FrameIndex, AlbumArt, PictureType);
}

bool clsDirectShow::WriteAlbumArt(const QString& FileName, qint32 FrameIndex, const QImage& AlbumArt,
                                  qint32 PictureType, bool bIgnoreReadOnly) {
    return lumeval::WriteAlbumArt(FileName, FrameIndex, AlbumArt, PictureType, bIgnoreReadOnly);
}

bool clsDirectShow::DeleteAlbumArt(const QString& FileName, qint32 FrameIndex, bool bIgnoreReadOnly) {
    return lumeval::DeleteAlbumArt(FileName, FrameIndex, bIgnoreReadOnly);
}

}  // namespace lumeval
