// The per-user defaults store: one JSON object in $XDG_CONFIG_HOME/kovra-radio/settings.json,
// read afresh on every lookup and replaced atomically on every write.
#pragma once

#include <memory>

#include "platform/UserDefaults.h" // the interface, platform/UserDefaults.h

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

namespace platform::linux_impl {

class JsonUserDefaults final : public UserDefaults {
public:
    explicit JsonUserDefaults(QString filePath);

    std::optional<std::vector<DefaultsValue>> arrayForKey(const std::string& key) override;
    void setObject(const std::vector<std::string>& array, const std::string& key) override;

    // settings.json in our settings folder (AppIdentity::settingsFolder()).
    static QString defaultFilePath();
    // Larger files are refused rather than read: nothing we write comes near this.
    static constexpr qint64 kMaxFileSize = qint64{1024} * 1024;

private:
    QString filePath_;
};

// The settings in `text`: a JSON object (an editor's byte-order mark allowed), or none when the text
// is anything else.
std::optional<QJsonObject> parseSettings(QByteArray text);
// The elements of a stored array, as the units read them.
std::vector<DefaultsValue> defaultsArray(const QJsonArray& array);

std::shared_ptr<UserDefaults> makeUserDefaults();

} // namespace platform::linux_impl
