// Shared pieces of the clsControls tests: a widget that records its own
// handling, a log capture, and event senders.
#pragma once

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>
#include <string>
#include <vector>

#include "controls/logsink.h"

namespace lumeval::testing {

/// Records which events reached its own handler and accepts mouse presses.
class ProbeWidget : public QWidget {
  public:
    ProbeWidget() { resize(200, 100); }
    int presses = 0;
    int releases = 0;
    int paints = 0;
    std::vector<QEvent::Type> own;

  protected:
    bool event(QEvent* e) override {
        own.push_back(e->type());
        return QWidget::event(e);
    }
    void mousePressEvent(QMouseEvent* e) override {
        ++presses;
        e->accept();
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        ++releases;
        e->accept();
    }
    void paintEvent(QPaintEvent*) override { ++paints; }
};

/// Captures the log sink for the life of the object.
class LogCapture {
  public:
    LogCapture()
        : m_previous(SetLogSink([this](const std::string& line) { lines.push_back(line); })) {}
    ~LogCapture() { SetLogSink(m_previous); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    std::vector<std::string> lines;

  private:
    LogSinkFunction m_previous;
};

/// Sends one mouse event straight to a widget (buttons held as given).
inline bool SendMouse(QWidget* widget, QEvent::Type type, QPoint where,
                      Qt::MouseButton button = Qt::NoButton,
                      Qt::MouseButtons buttons = Qt::NoButton) {
    QMouseEvent event(type, QPointF(where), QPointF(widget->mapToGlobal(where)), button, buttons,
                      Qt::NoModifier);
    return QCoreApplication::sendEvent(widget, &event);
}

}  // namespace lumeval::testing
