// The per-user defaults store: one JSON object in $XDG_CONFIG_HOME/kovra-radio/settings.json,
// read afresh on every lookup and replaced atomically on every write.
#include "platform/linux/JsonUserDefaults.h"

#include "platform/linux/Factories.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QLockFile>
#include <QSaveFile>

#include <fcntl.h>
#include <unistd.h>

namespace platform::linux_impl {
namespace {

struct StoredDocument {
    // Unreadable: the file is there but could not be read (an I/O error, not a file, too large).
    // What we could not read we must not overwrite.
    bool readable = true;
    QJsonObject object; // empty when missing, or when the text is not a JSON object
};

StoredDocument load(const QString& path)
{
    StoredDocument document;
    QFile file(path);
    if (!file.exists())
        return document;
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        document.readable = false;
        return document;
    }
    QByteArray text = file.read(JsonUserDefaults::maxFileSize + 1);
    if (file.error() != QFileDevice::NoError || text.size() > JsonUserDefaults::maxFileSize) {
        document.readable = false;
        return document;
    }
    // An editor may have saved it with a byte-order mark, which the JSON parser rejects.
    if (text.startsWith("\xEF\xBB\xBF"))
        text.remove(0, 3);
    QJsonParseError error;
    const QJsonDocument json = QJsonDocument::fromJson(text, &error);
    if (error.error == QJsonParseError::NoError && json.isObject())
        document.object = json.object();
    return document;
}

DefaultsValue toDefaultsValue(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::String:
        return value.toString().toStdString();
    case QJsonValue::Double:
        return value.toDouble();
    case QJsonValue::Bool:
        return value.toBool();
    default:
        return std::monostate{};
    }
}

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

JsonUserDefaults::JsonUserDefaults(QString filePath) : filePath_(std::move(filePath)) {}

QString JsonUserDefaults::defaultFilePath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/kovra-radio/settings.json");
}

std::optional<std::vector<DefaultsValue>> JsonUserDefaults::arrayForKey(const std::string& key)
{
    const StoredDocument document = load(filePath_);
    const QJsonValue value = document.object.value(QString::fromStdString(key));
    if (!value.isArray())
        return std::nullopt;
    const QJsonArray array = value.toArray();
    std::vector<DefaultsValue> result;
    result.reserve(size_t(array.size()));
    for (const QJsonValue& element : array)
        result.push_back(toDefaultsValue(element));
    return result;
}

void JsonUserDefaults::setObject(const std::vector<std::string>& array, const std::string& key)
{
    const QString directory = QFileInfo(filePath_).absolutePath();
    if (!QDir().mkpath(directory))
        return;

    // Keeps two writers from losing each other's keys. A lock held for long belongs to a stuck
    // process: then write anyway rather than drop the change or wait.
    QLockFile lock(filePath_ + QStringLiteral(".lock"));
    lock.setStaleLockTime(5000);
    lock.tryLock(200);

    StoredDocument document = load(filePath_);
    if (!document.readable)
        return;
    QJsonArray list;
    for (const std::string& element : array)
        list.append(QString::fromStdString(element));
    document.object.insert(QString::fromStdString(key), list);

    // A temporary file beside the old one, flushed to disk, then renamed over it: a crash at any
    // point leaves either the old file or the new one, never a mix.
    // Unbuffered and synced by hand: a buffered QSaveFile renames a short file into place when the
    // flush inside commit() fails (a full disk, a file size limit).
    QSaveFile file(filePath_);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return;
    const QByteArray text = QJsonDocument(document.object).toJson(QJsonDocument::Indented);
    if (file.write(text) != text.size() || ::fsync(file.handle()) != 0) {
        file.cancelWriting();
        return;
    }
    if (file.commit())
        syncDirectory(directory);
}

std::shared_ptr<UserDefaults> makeUserDefaults()
{
    return std::make_shared<JsonUserDefaults>(JsonUserDefaults::defaultFilePath());
}

} // namespace platform::linux_impl
