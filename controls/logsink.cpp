#include "controls/logsink.h"

#include <QString>
#include <mutex>
#include <syslog.h>
#include <cstdio>

namespace lumeval {

namespace {

std::mutex g_mutex;
LogSinkFunction g_sink;
bool g_syslog = false;

}  // namespace

void LogWrite(std::string_view text) {
    const std::string line(text);
    std::lock_guard lock(g_mutex);
    if (g_syslog) syslog(LOG_USER | LOG_NOTICE, "%s", line.c_str());
    if (g_sink) {
        g_sink(line);
    } else {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
}

void LogWrite(const QString& text) { LogWrite(FromQString(text)); }

LogSinkFunction SetLogSink(LogSinkFunction sink) {
    std::lock_guard lock(g_mutex);
    LogSinkFunction previous = std::move(g_sink);
    g_sink = std::move(sink);
    return previous;
}

void EnableSystemLog(bool on) {
    std::lock_guard lock(g_mutex);
    if (on && !g_syslog) openlog("lumeval", LOG_PID, LOG_USER);
    if (!on && g_syslog) closelog();
    g_syslog = on;
}

QString ToQString(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string FromQString(const QString& text) { return text.toUtf8().toStdString(); }

}  // namespace lumeval
