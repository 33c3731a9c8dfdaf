// The per-user defaults store: one JSON object in $XDG_CONFIG_HOME/kovra-radio/settings.json,
// read afresh on every lookup and replaced atomically on every write.
#include "platform/linux/desktop/JsonUserDefaults.h"

#include "platform/linux/desktop/AppIdentity.h"
#include "platform/linux/desktop/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QLockFile>

namespace platform::linux_impl {
namespace {

struct StoredDocument {
    // Unreadable: the file is there but could not be read (an I/O error, not a file, too large).
    // What we could not read we must not overwrite.
    bool readable = true;
    QJsonObject object; // empty when missing, or when the text is not a JSON object
    // The file's text when it is not a JSON object: kept aside before it is replaced.
    QByteArray unparsed;
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
    QByteArray text = file.read(JsonUserDefaults::kMaxFileSize + 1);
    if (file.error() != QFileDevice::NoError || text.size() > JsonUserDefaults::kMaxFileSize) {
        document.readable = false;
        return document;
    }
    if (auto object = parseSettings(text))
        document.object = *object;
    else
        document.unparsed = text;
    return document;
}

} // namespace

std::optional<QJsonObject> parseSettings(QByteArray text)
{
    // An editor may have saved it with a byte-order mark, which the JSON parser rejects.
    if (text.startsWith("\xEF\xBB\xBF"))
        text.remove(0, 3);
    QJsonParseError error;
    const QJsonDocument json = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !json.isObject())
        return std::nullopt;
    return json.object();
}

namespace {

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

} // namespace

std::vector<DefaultsValue> defaultsArray(const QJsonArray& array)
{
    std::vector<DefaultsValue> result;
    result.reserve(size_t(array.size()));
    for (const auto& element : array)
        result.push_back(toDefaultsValue(element));
    return result;
}

JsonUserDefaults::JsonUserDefaults(QString filePath) : filePath_(std::move(filePath)) {}

QString JsonUserDefaults::defaultFilePath() { return AppIdentity::settingsFolder() + QStringLiteral("/settings.json"); }

std::optional<std::vector<DefaultsValue>> JsonUserDefaults::arrayForKey(const std::string& key)
{
    const StoredDocument document = load(filePath_);
    const QJsonValue value = document.object.value(QString::fromStdString(key));
    if (!value.isArray())
        return std::nullopt;
    return defaultsArray(value.toArray());
}

void JsonUserDefaults::setObject(const std::vector<std::string>& array, const std::string& key)
{
    // Keeps two writers from losing each other's keys. A lock held for long belongs to a stuck
    // process: then write anyway rather than drop the change or wait.
    QDir().mkpath(QFileInfo(filePath_).absolutePath());
    QLockFile lock(filePath_ + QStringLiteral(".lock"));
    lock.setStaleLockTime(5000);
    lock.tryLock(200);

    StoredDocument document = load(filePath_);
    if (!document.readable) {
        qWarning("kovra-radio: could not save the settings: %s is there but cannot be read, and is left as it is",
                 qPrintable(filePath_));
        return;
    }
    // Text we cannot parse may still be a listener's settings, damaged or edited by hand: it is
    // kept beside the new file (replacing an older such copy) rather than lost.
    if (!document.unparsed.isEmpty()) {
        const QString aside = filePath_ + QStringLiteral(".unreadable");
        if (!writeFileAtomically(aside, document.unparsed))
            return;
        qWarning("kovra-radio: the settings in %s could not be read; they are kept in %s and the file starts afresh",
                 qPrintable(filePath_), qPrintable(aside));
    }
    QJsonArray list;
    for (const std::string& element : array)
        list.append(QString::fromStdString(element));
    document.object.insert(QString::fromStdString(key), list);

    // A crash at any point leaves either the old file or the new one; a failed write leaves the old.
    const QByteArray text = QJsonDocument(document.object).toJson(QJsonDocument::Indented);
    if (!writeFileAtomically(filePath_, text))
        qWarning("kovra-radio: could not save the settings to %s", qPrintable(filePath_));
}

std::shared_ptr<UserDefaults> makeUserDefaults()
{
    return std::make_shared<JsonUserDefaults>(JsonUserDefaults::defaultFilePath());
}

} // namespace platform::linux_impl
