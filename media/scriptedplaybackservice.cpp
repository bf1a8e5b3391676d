#include "media/scriptedplaybackservice.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace lumeval::media {

namespace {

constexpr std::array<const char*, 21> kOpNames{
    "Create",          "RenderFile",         "Run",                "Pause",
    "Stop",            "GetDuration",        "GetCurrentPosition", "PutCurrentPosition",
    "GetRate",         "PutRate",            "GetVolume",          "PutVolume",
    "GetBalance",      "PutBalance",         "GetAvgTimePerFrame", "GetNativeVideoSize",
    "PutWindowStyle",  "PutOwner",           "PutMessageDrain",    "SetWindowPosition",
    "WaitForCompletion"};

QString Number(double value) {
    return QString::number(value, 'g', 10);
}

}  // namespace

QString PlaybackOpName(PlaybackOp op) {
    const auto index = static_cast<std::size_t>(op);
    return index < kOpNames.size() ? QString::fromLatin1(kOpNames[index]) : QString();
}

void ScriptedMedia::Advance(double seconds) {
    if (!loaded) return;
    position = std::max(position + seconds, 0.0);
    if (duration > 0 && position >= duration) {
        position = duration;
        ended = true;
    }
}

QStringList ScriptedMedia::CallsOf(PlaybackOp op) const {
    const QString prefix = PlaybackOpName(op) + QLatin1Char('(');
    QStringList found;
    for (const QString& call : calls)
        if (call.startsWith(prefix)) found << call;
    return found;
}

ScriptedPlaybackService::ScriptedPlaybackService(std::shared_ptr<ScriptedMedia> media)
    : m_media(std::move(media)) {
    ++m_media->graphsCreated;
    ++m_media->graphsAlive;
    // A new graph holds nothing yet.
    m_media->state = ScriptedMedia::State::Stopped;
    m_media->loaded = false;
    m_media->ended = false;
    m_media->position = 0;
    m_media->rate = 1.0;
    m_media->owner = m_media->drain = nullptr;
}

ScriptedPlaybackService::~ScriptedPlaybackService() {
    --m_media->graphsAlive;
}

PlaybackServiceFactory ScriptedPlaybackService::Factory(std::shared_ptr<ScriptedMedia> media) {
    return [media]() -> std::unique_ptr<PlaybackService> {
        const bool fails = media->failing.count(PlaybackOp::Create) != 0;
        media->calls << (QStringLiteral("Create()") + (fails ? QStringLiteral(" failed") : QString()));
        if (fails) return nullptr;
        return std::make_unique<ScriptedPlaybackService>(media);
    };
}

bool ScriptedPlaybackService::Call(PlaybackOp op, const QString& arguments) {
    const bool fails = m_media->failing.count(op) != 0;
    m_media->calls << PlaybackOpName(op) + QLatin1Char('(') + arguments + QLatin1Char(')') +
                          (fails ? QStringLiteral(" failed") : QString());
    return !fails;
}

bool ScriptedPlaybackService::RenderFile(const QString& fileName) {
    if (!Call(PlaybackOp::RenderFile, fileName)) return false;
    m_media->loaded = true;
    return true;
}

bool ScriptedPlaybackService::Run() {
    if (!Call(PlaybackOp::Run)) return false;
    m_media->state = ScriptedMedia::State::Running;
    return true;
}

bool ScriptedPlaybackService::Pause() {
    if (!Call(PlaybackOp::Pause)) return false;
    m_media->state = ScriptedMedia::State::Paused;
    return true;
}

bool ScriptedPlaybackService::Stop() {
    if (!Call(PlaybackOp::Stop)) return false;
    m_media->state = ScriptedMedia::State::Stopped;
    return true;
}

bool ScriptedPlaybackService::GetDuration(double& seconds) {
    if (!Call(PlaybackOp::GetDuration)) return false;
    // An empty graph (nothing rendered) has no length.
    seconds = m_media->loaded ? m_media->duration : 0.0;
    return true;
}

bool ScriptedPlaybackService::GetCurrentPosition(double& seconds) {
    if (!Call(PlaybackOp::GetCurrentPosition)) return false;
    if (m_media->state == ScriptedMedia::State::Running && m_media->advancePerRead != 0)
        m_media->Advance(m_media->advancePerRead * m_media->rate);
    seconds = m_media->position;
    return true;
}

bool ScriptedPlaybackService::PutCurrentPosition(double seconds) {
    if (!Call(PlaybackOp::PutCurrentPosition, Number(seconds))) return false;
    m_media->position = seconds;
    m_media->ended = false;
    return true;
}

bool ScriptedPlaybackService::GetRate(double& rate) {
    if (!Call(PlaybackOp::GetRate)) return false;
    rate = m_media->rate;
    return true;
}

bool ScriptedPlaybackService::PutRate(double rate) {
    if (!Call(PlaybackOp::PutRate, Number(rate))) return false;
    m_media->rate = rate;
    return true;
}

bool ScriptedPlaybackService::GetVolume(qint32& volume) {
    if (!Call(PlaybackOp::GetVolume)) return false;
    volume = m_media->volume;
    return true;
}

bool ScriptedPlaybackService::PutVolume(qint32 volume) {
    if (!Call(PlaybackOp::PutVolume, QString::number(volume))) return false;
    m_media->volume = volume;
    return true;
}

bool ScriptedPlaybackService::GetBalance(qint32& balance) {
    if (!Call(PlaybackOp::GetBalance)) return false;
    balance = m_media->balance;
    return true;
}

bool ScriptedPlaybackService::PutBalance(qint32 balance) {
    if (!Call(PlaybackOp::PutBalance, QString::number(balance))) return false;
    m_media->balance = balance;
    return true;
}

bool ScriptedPlaybackService::GetAvgTimePerFrame(double& seconds) {
    if (!Call(PlaybackOp::GetAvgTimePerFrame)) return false;
    if (!m_media->loaded || !m_media->hasVideo) return false;
    seconds = m_media->avgTimePerFrame;
    return true;
}

bool ScriptedPlaybackService::GetNativeVideoSize(qint32& width, qint32& height) {
    if (!Call(PlaybackOp::GetNativeVideoSize)) return false;
    if (!m_media->loaded) {
        width = height = 0;
        return true;
    }
    if (!m_media->hasVideo) return false;
    width = m_media->videoWidth;
    height = m_media->videoHeight;
    return true;
}

bool ScriptedPlaybackService::PutWindowStyle(qint32 style) {
    if (!Call(PlaybackOp::PutWindowStyle, QStringLiteral("0x") + QString::number(style, 16)))
        return false;
    m_media->style = style;
    return true;
}

bool ScriptedPlaybackService::PutOwner(QWidget* owner) {
    if (!Call(PlaybackOp::PutOwner, owner ? QStringLiteral("widget") : QStringLiteral("null")))
        return false;
    m_media->owner = owner;
    return true;
}

bool ScriptedPlaybackService::PutMessageDrain(QWidget* drain) {
    if (!Call(PlaybackOp::PutMessageDrain, drain ? QStringLiteral("widget") : QStringLiteral("null")))
        return false;
    m_media->drain = drain;
    return true;
}

bool ScriptedPlaybackService::SetWindowPosition(qint32 left, qint32 top, qint32 width,
                                                qint32 height) {
    return Call(PlaybackOp::SetWindowPosition, QStringLiteral("%1,%2,%3,%4")
                                                   .arg(left)
                                                   .arg(top)
                                                   .arg(width)
                                                   .arg(height));
}

WaitResult ScriptedPlaybackService::WaitForCompletion(qint32 msTimeout) {
    if (!Call(PlaybackOp::WaitForCompletion, QString::number(msTimeout))) return WaitResult::Failed;
    if (!m_media->loaded) return WaitResult::Failed;
    // Scripted time does not pass while waiting: the answer is immediate.
    return m_media->ended ? WaitResult::Completed : WaitResult::TimedOut;
}

}  // namespace lumeval::media
