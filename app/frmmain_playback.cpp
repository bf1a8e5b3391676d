// The 播放 menu and what follows the playhead: the transport keys, the
// subtitles drawn over the picture, the playing cue highlighted (and
// followed on request), and cue times set from the playhead as undoable
// steps.
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <algorithm>
#include <cmath>

#include "app/documentrows.h"
#include "app/frmmain.h"
#include "app/modregistry.h"
#include "app/frmmain_overlay.h"
#include "controls/ctllistview.h"
#include "controls/ucstatusbar.h"
#include "document/document.h"
#include "controls/waveformview.h"
#include "media/clsdirectshow.h"
#include "media/waveform.h"

namespace lumeval {

namespace {

const QString kShowSubtitles = QStringLiteral("ShowSubtitles");
const QString kFollowPlayback = QStringLiteral("FollowPlayback");
/// When a medium gives no frame rate, a frame step is this long.
constexpr double kDefaultFrame = 1.0 / 25.0;

int64_t ToMs(double seconds) {
    return std::isfinite(seconds) && seconds > 0 ? std::llround(seconds * 1000.0) : 0;
}

}  // namespace

void frmMain::BuildPlayMenu() {
    // After the design's Edit menu, before Help.
    m_playMenu = new QMenu(QStringLiteral("播放(&P)"), this);
    menuBar()->insertMenu(m_menus.back()->menuAction(), m_playMenu);
    auto add = [this](const QString& caption, const QString& key, auto slot) {
        QAction* a = m_playMenu->addAction(caption);
        if (!key.isEmpty()) a->setShortcut(QKeySequence(key));
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    add(QStringLiteral("播放/暂停(&P)"), QStringLiteral("Ctrl+P"), [this] { CmdPlayPause(); });
    add(QStringLiteral("播放当前字幕(&C)"), QStringLiteral("Ctrl+Shift+P"), [this] { CmdPlayCue(); });
    m_playMenu->addSeparator();
    add(QStringLiteral("后退 1 秒(&B)"), QStringLiteral("Ctrl+Left"), [this] { CmdSeekBy(-1.0); });
    add(QStringLiteral("前进 1 秒(&F)"), QStringLiteral("Ctrl+Right"), [this] { CmdSeekBy(1.0); });
    add(QStringLiteral("后退 5 秒"), QStringLiteral("Ctrl+Shift+Left"), [this] { CmdSeekBy(-5.0); });
    add(QStringLiteral("前进 5 秒"), QStringLiteral("Ctrl+Shift+Right"), [this] { CmdSeekBy(5.0); });
    add(QStringLiteral("上一帧(&R)"), QStringLiteral("Ctrl+,"), [this] { CmdFrameStep(-1); });
    add(QStringLiteral("下一帧(&N)"), QStringLiteral("Ctrl+."), [this] { CmdFrameStep(1); });
    m_playMenu->addSeparator();
    add(QStringLiteral("开始位置设为播放位置(&S)"), QStringLiteral("F9"), [this] { CmdTimeFromPlayhead(true, false); });
    add(QStringLiteral("结束位置设为播放位置(&E)"), QStringLiteral("F10"), [this] { CmdTimeFromPlayhead(false, false); });
    add(QStringLiteral("结束位置设为播放位置并转到下一条(&X)"), QStringLiteral("F11"),
        [this] { CmdTimeFromPlayhead(false, true); });
    m_playMenu->addSeparator();
    m_showSubtitlesAction = add(QStringLiteral("显示字幕(&T)"), QString(), [this](bool on) {
        modRegistry::WriteSetting(kShowSubtitles, on ? QStringLiteral("1") : QStringLiteral("0"));
        if (m_overlay) m_overlay->SetSubtitlesShown(on);
    });
    m_showSubtitlesAction->setCheckable(true);
    m_showSubtitlesAction->setChecked(modRegistry::ReadSetting(kShowSubtitles, QStringLiteral("1")) != QStringLiteral("0"));
    m_followAction = add(QStringLiteral("跟随播放(&L)"), QString(), [this](bool on) {
        modRegistry::WriteSetting(kFollowPlayback, on ? QStringLiteral("1") : QStringLiteral("0"));
        m_followedRow = -1;
        if (on) FollowPlayhead();
    });
    m_followAction->setCheckable(true);
    m_followAction->setChecked(modRegistry::ReadSetting(kFollowPlayback, QStringLiteral("0")) == QStringLiteral("1"));

    m_waveform = new WaveformView(m_client);
    m_waveform->setObjectName(QStringLiteral("waveform"));
    m_waveform->hide();
    connect(m_waveform, &WaveformView::SeekRequested, this, [this](qint64 ms) {
        if (!PreviewOpen()) return;
        m_playUntilMs = -1;
        m_directShow->Position(static_cast<double>(ms) / 1000.0);
        AfterSeek();
    });

    m_overlay = new SubtitleOverlay(m_client);
    m_overlay->SetClock([this] { return ToMs(m_directShow->Position()); });
    m_overlay->SetSubtitlesShown(m_showSubtitlesAction->isChecked());
    m_overlay->hide();
}

bool frmMain::RefuseWithoutMedium() {
    if (PreviewOpen()) return false;
    StatusNote(QStringLiteral("没有打开的媒体"));
    return true;
}

void frmMain::CmdPlayPause() {
    if (RefuseWithoutMedium()) return;
    m_playUntilMs = -1;
    m_directShow->Pause(!m_directShow->Pause());
}

void frmMain::CmdSeekBy(double seconds) {
    if (RefuseWithoutMedium()) return;
    m_playUntilMs = -1;
    m_directShow->DS_Seek(seconds);
    AfterSeek();
}

void frmMain::CmdFrameStep(int frames) {
    if (RefuseWithoutMedium()) return;
    m_playUntilMs = -1;
    // Frames are stepped on a still picture.
    if (m_directShow->Status() == 1) m_directShow->DS_Pause();
    const double rate = m_directShow->FrameRate();
    const double frame = rate > 0 ? 1.0 / rate : kDefaultFrame;
    m_directShow->DS_Seek(frames * frame);
    AfterSeek();
}

void frmMain::CmdPlayCue() {
    if (RefuseWithoutMedium()) return;
    const doc::SubtitleDocument* d = Document(m_activeList);
    const int row = FocusedRow();
    if (!d || !d->ValidRow(row)) return;
    const int64_t start = d->Start(row);
    // A cue without an end plays until the next one starts.
    int64_t end = d->HasEnd(row) ? d->End(row) : -1;
    if (end < 0 && d->ValidRow(row + 1)) end = d->Start(row + 1);
    m_directShow->Position(static_cast<double>(start) / 1000.0);
    m_playUntilMs = end > start ? end : -1;
    if (m_directShow->Status() != 1) m_directShow->DS_Play();
    AfterSeek();
}

void frmMain::CmdTimeFromPlayhead(bool start, bool thenNext) {
    if (RefuseRowCommand() || RefuseWithoutMedium()) return;
    doc::SubtitleDocument* d = Document(m_activeList);
    const int row = FocusedRow();
    if (!d || !d->ValidRow(row)) return;
    QString why;
    const auto times = editor::TimesAtPlayhead(d->Start(row), d->End(row), d->HasEnd(row),
                                               ToMs(m_directShow->Position()), start, &why);
    if (!times) {
        StatusNote(why);
        return;
    }
    d->SetTimes({{row, times->start, times->end}},
                start ? QStringLiteral("设置开始位置") : QStringLiteral("设置结束位置"));
    if (thenNext && d->ValidRow(row + 1)) FocusRow(row + 1);
}

void frmMain::AfterSeek() {
    if (!PreviewOpen()) return;
    DrawSeekBar();
    PlayheadMoved();
}

void frmMain::PlayheadMoved() {
    if (!m_overlay || !PreviewOpen()) return;
    const double position = m_directShow->Position();
    // A cue played on its own stops at its end.
    if (m_playUntilMs >= 0 && ToMs(position) >= m_playUntilMs) {
        m_playUntilMs = -1;
        if (m_directShow->Status() == 1) m_directShow->DS_Pause();
    }
    doc::SubtitleDocument* d = Document(m_activeList);
    if (m_overlay->Followed() != d) m_overlay->Follow(d);
    if (m_waveform && m_waveform->Document() != d) m_waveform->SetDocument(d);
    if (m_waveform) m_waveform->SetPlayhead(ToMs(position), m_directShow->Status() == 1);
    std::vector<int> rows = m_overlay->ShowingAt(ToMs(position));
    // Only the active list shows its playing cue.
    for (std::size_t i = 0; i < m_sources.size(); ++i)
        m_sources[i]->SetPlaying(static_cast<int>(i) == m_activeList ? rows : std::vector<int>{});
    m_overlay->update();
    FollowPlayhead();
}

void frmMain::FollowPlayhead() {
    if (!m_followAction || !m_followAction->isChecked() || !PreviewOpen()) return;
    if (m_activeList < 0 || m_activeList >= ListCount()) return;
    const std::vector<int>& rows = m_sources[static_cast<std::size_t>(m_activeList)]->Playing();
    ctlListView* l = List(m_activeList);
    // Never pull the row away from under a cell being typed into.
    if (rows.empty() || rows.front() == m_followedRow || !l || l->IsEditing()) return;
    m_followedRow = rows.front();
    FocusRow(m_followedRow);
}

void frmMain::PlaybackClosed() {
    m_playUntilMs = -1;
    m_followedRow = -1;
    for (DocumentRows* rows : m_sources) rows->SetPlaying({});
    if (m_overlay) {
        m_overlay->Follow(nullptr);
        m_overlay->hide();
    }
    if (m_waveform) {
        // A medium closed half-decoded stops decoding; finished peaks stay for the session.
        if (!m_waveformPath.isEmpty()) media::WaveformCache::Session().Cancel(m_waveformPath);
        m_waveformPath.clear();
        m_waveform->SetPeaks(nullptr);
        m_waveform->SetDocument(nullptr);
        m_waveform->hide();
    }
    m_waveformRect = {};
}

void frmMain::ShowWaveform() {
    if (!m_waveform) return;
    const QString path = m_directShow->FileName();
    if (path != m_waveformPath && !m_waveformPath.isEmpty()) media::WaveformCache::Session().Cancel(m_waveformPath);
    m_waveformPath = path;
    m_waveform->SetPeaks(media::WaveformCache::Session().Request(path));
    m_waveform->SetDocument(Document(m_activeList));
    m_waveform->SetVisibleRange(0, 20000);
}

void frmMain::PlaceOverlay() {
    if (!m_overlay) return;
    const editor::WinRect& r = m_videoRect;
    if (!PreviewOpen() || r.IsEmpty()) {
        m_overlay->hide();
        return;
    }
    m_overlay->setGeometry(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top);
    // Each medium brings a new picture widget, stacked on top: go over it.
    m_overlay->raise();
    m_overlay->show();
}

}  // namespace lumeval
