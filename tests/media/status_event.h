// One PlayStatus report as the media tests record it.
#pragma once

#include <QtGlobal>

struct StatusEvent {
    double position;
    double duration;
    qint32 status;
};
