// The menu's fixed texts from the translation tables compiled into the binary, in the user's
// language (LANGUAGE, LC_ALL, LC_MESSAGES, LANG), English when we have no table for it.
#include "platform/linux/desktop/QtLocalization.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTranslator>

namespace platform::linux_impl {

namespace {

// One table for the whole application: keys are unique across it.
const char* const kContext = "kovra-radio";

class QtLocalization final : public Localization {
public:
    QtLocalization()
    {
        // A language we have no table for reads in English, the language the texts were written
        // in, not in bare keys.
        if (translator_.load(QLocale::system(), QStringLiteral("kovra-radio"), QStringLiteral("_"),
                             QStringLiteral(":/translations"))
            || translator_.load(QStringLiteral("kovra-radio_en"), QStringLiteral(":/translations")))
            QCoreApplication::installTranslator(&translator_);
    }
    ~QtLocalization() override { QCoreApplication::removeTranslator(&translator_); }

    // A key the table lacks comes back unchanged.
    std::string localizedString(const std::string& key) override
    {
        return QCoreApplication::translate(kContext, key.c_str()).toStdString();
    }

private:
    QTranslator translator_;
};

} // namespace

std::shared_ptr<Localization> makeLocalization() { return std::make_shared<QtLocalization>(); }

} // namespace platform::linux_impl
