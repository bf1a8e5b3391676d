// The application's event log: every refusal and diagnostic of the controls
// goes through here. Standard error by default, the system log as well when
// the desktop editor enables it; tests capture it.
#pragma once

#include <functional>
#include <string>
#include <string_view>

class QString;

namespace lumeval {

using LogSinkFunction = std::function<void(const std::string&)>;

/// Writes one entry (UTF-8, no trailing line break needed).
void LogWrite(std::string_view text);
void LogWrite(const QString& text);

/// Replaces where entries go; an empty function restores standard error.
/// Returns the previous sink so a test can put it back.
LogSinkFunction SetLogSink(LogSinkFunction sink);

/// Also sends entries to syslog (the editor turns this on).
void EnableSystemLog(bool on);

/// UTF-8 <-> QString at the boundary between the engine and Qt.
QString ToQString(std::string_view utf8);
std::string FromQString(const QString& text);

}  // namespace lumeval
