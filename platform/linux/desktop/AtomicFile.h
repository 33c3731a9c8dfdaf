// Replacing a small file so that a reader, a crash or a full disk only ever sees the old
// contents or the new ones, never a mix or a truncated file.
#pragma once

#include <QByteArray>
#include <QString>

namespace platform::linux_impl {

// Writes the contents to a temporary file beside `path`, flushes it to disk and renames it over
// `path`, creating the folder if needed. True only once the new file is durably in place; on
// any failure the old file (if any) is left as it was and no temporary file remains.
bool writeFileAtomically(const QString& path, const QByteArray& contents);

} // namespace platform::linux_impl
