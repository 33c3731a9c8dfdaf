// Atomic replacement of the small files we keep: settings and the autostart entry.
#include "platform/linux/desktop/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <fcntl.h>
#include <unistd.h>

namespace platform::linux_impl {

namespace {

// The rename is durable only once the directory entry is on disk too.
void syncDirectory(const QString& directory)
{
    const int fd = ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

bool writeFileAtomically(const QString& path, const QByteArray& contents)
{
    const QString directory = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(directory))
        return false;
    // Unbuffered and synced by hand: a buffered QSaveFile renames a short file into place when the
    // flush inside commit() fails (a full disk, a file size limit), and still reports success.
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    if (file.write(contents) != contents.size() || ::fsync(file.handle()) != 0) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit())
        return false;
    syncDirectory(directory);
    return true;
}

} // namespace platform::linux_impl
