// The playback side's log category: what the media core, its session and the monitors that steer
// it say, off unless asked for (QT_LOGGING_RULES="kovra.media.debug=true").
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcMedia)
