// Critical messages (libmpv missing, a refused command) are shown without asking.
#include "platform/linux/playback/MediaLog.h"

Q_LOGGING_CATEGORY(lcMedia, "kovra.media", QtCriticalMsg)
