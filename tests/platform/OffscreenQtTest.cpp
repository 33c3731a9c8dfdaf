// Checks of the Qt platform pieces that need no desktop session: the status icon, the menu shown at
// the icon, and the compiled-in translation tables.
#include "platform/linux/desktop/QtLocalization.h"
#include "platform/linux/tray/PopupMenu.h"
#include "platform/linux/tray/QtGraphics.h"

#include <QAction>
#include <QApplication>
#include <QBitmap>
#include <QColor>
#include <QCoreApplication>
#include <QMenu>
#include <QRegion>
#include <QTranslator>

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>

using namespace platform;
using namespace platform::linux_impl;

namespace {

// Counts the opaque pixels inside the rectangle (the whole image: none given) that also pass the test.
int opaqueCount(
    const QImage& image, QRect area = {}, bool (*test)(QRgb) = [](QRgb) { return true; })
{
    area = area.isNull() ? image.rect() : area;
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            count += qAlpha(image.pixel(x, y)) > 128 && test(image.pixel(x, y));
    return count;
}

} // namespace

// The tray's own layout of the icon, at every size it hands out: the colour flag fills most of the
// slot's height (a flag beside the antenna, merely scaled into a square, would fill a third of it),
// and the antenna sits in the lower right corner, where the flag's blue is covered.
TEST(StatusIcon, TheFlagFillsTheSquareInColourWithTheAntennaInItsCorner)
{
    auto graphics = makeGraphics();
    const std::string flag = "\U0001F1EA\U0001F1FA";
    const auto withAntenna = graphics->statusIcon(flag, "antenna.radiowaves.left.and.right");
    const auto alone = graphics->statusIcon(flag, "speaker.wave.2");
    const auto& icon = static_cast<const StatusIcon&>(*withAntenna);
    EXPECT_NE(icon.contentKey(), static_cast<const StatusIcon&>(*alone).contentKey());
    const auto blue = [](QRgb p) { return qBlue(p) > 2 * qRed(p) && QColor(p).hsvSaturation() > 100; };
    for (int side : kTrayIconSides) {
        const QImage square = icon.renderSquare(side);
        ASSERT_EQ(square.size(), QSize(side, side));
        const QRect opaque = QRegion(QBitmap::fromImage(square.createAlphaMask())).boundingRect();
        EXPECT_GE(opaque.height(), side * 0.85) << side;
        EXPECT_GT(opaqueCount(square, {}, blue), side * side / 3) << side;
        const QRect corner(side * 3 / 4, side * 3 / 4, side / 4, side / 4);
        EXPECT_LT(opaqueCount(square, corner, blue),
                  opaqueCount(static_cast<const StatusIcon&>(*alone).renderSquare(side), corner, blue))
            << side;
    }
}

// Records which items the tray menu sends their actions to.
class RecordingTarget final : public MenuTarget {
public:
    bool performAction(const std::string& selector, const MenuItem& sender) override
    {
        received.push_back(selector + " " + std::to_string(sender.tag()));
        return true;
    }
    std::vector<std::string> received;
};

TEST(StatusMenu, ASameShapedModelUpdatesTheShownActionsInPlace)
{
    PopupMenu popup({});
    QMenu* menu = popup.menu();
    auto target = std::make_shared<RecordingTarget>();
    // Two channels (one playing, with a shortcut) and a submenu, as the tray shows them.
    auto model = [&](int playing) {
        auto result = std::make_shared<Menu>();
        for (int i = 0; i < 2; ++i) {
            auto channel =
                std::make_shared<MenuItem>("Channel " + std::to_string(i), "channelSelected:", i == playing ? "1" : "");
            channel->setTarget(target);
            channel->setTag(playing * 10 + i);
            channel->setState(i == playing ? ControlStateValueOn : ControlStateValueOff);
            channel->setKeyEquivalentModifierMask(EventModifierFlagOption);
            result->addItem(channel);
        }
        auto shortcuts = std::make_shared<MenuItem>("Slot & " + std::to_string(playing), "", "");
        shortcuts->setSubmenu(std::make_shared<Menu>());
        shortcuts->submenu()->addItem(std::make_shared<MenuItem>("None", "assignHotkey:", ""));
        result->addItem(shortcuts);
        return result;
    };
    popup.setModel(model(0));
    const QList<QAction*> first = menu->actions();
    ASSERT_EQ(first.size(), 3);
    QAction* submenuEntry = first[2]->menu()->actions().value(0);
    EXPECT_EQ(first[0]->shortcut(), QKeySequence(QStringLiteral("Alt+1")));

    popup.setModel(model(1));
    // The same actions, now showing the new model.
    EXPECT_EQ(menu->actions(), first);
    EXPECT_EQ(first[2]->menu()->actions().value(0), submenuEntry);
    EXPECT_EQ(std::tuple(first[0]->isChecked(), first[1]->isChecked(), first[2]->text()),
              std::tuple(false, true, QStringLiteral("Slot && 1"))); // no mnemonic eats the '&'
    EXPECT_TRUE(first[0]->shortcut().isEmpty());
    // A triggered action speaks for the item of the latest model; the check mark Qt flipped is put back.
    first[0]->trigger();
    EXPECT_EQ(target->received, std::vector<std::string>{"channelSelected: 10"});
    QCoreApplication::processEvents();
    EXPECT_FALSE(first[0]->isChecked());
}

TEST(StatusMenu, OpensWhereTheHostClickedUnlessThatIsFarFromThePointerOrOnNoScreen)
{
    const QList<QRect> screens{QRect(0, 0, 1280, 800), QRect(1280, 0, 1920, 1080)};
    const QPoint pointer(1180, 12);
    EXPECT_EQ(menuAnchor(QPoint(1175, 4), pointer, screens), QPoint(1175, 4));
    // mate-panel reports points relative to its own applet.
    EXPECT_EQ(menuAnchor(QPoint(0, 25), pointer, screens), pointer);
    EXPECT_EQ(menuAnchor(QPoint(INT_MAX, INT_MAX), pointer, screens), pointer);
    // Under XWayland only the host can tell, and a point on no screen is no place.
    EXPECT_EQ(menuAnchor(QPoint(2000, 500), std::nullopt, screens), QPoint(2000, 500));
    EXPECT_EQ(menuAnchor(QPoint(INT_MIN, 5), std::nullopt, screens), std::nullopt);
}

TEST(Translations, EveryTableTranslatesTheMenuAndTheNoticesAndAnUnknownKeyReadsAsItself)
{
    const std::pair<const char*, QStringList> texts[] = {
        {"kovra-radio",
         QStringLiteral("launch_at_login keyboard_shortcuts hotkey_none check_for_updates quit hotkey_slot "
                        "shortcut_description no_tray_summary no_tray_body_gnome no_tray_body")
             .split(u' ')},
        {"Updater",
         QStringLiteral("Kovra Radio %1 is available|You have version %1. Download the new version from %2|"
                        "Kovra Radio is up to date|Version %1 is the newest version.|Could not check for updates|"
                        "The update information could not be loaded. Try again later.")
             .split(u'|')},
        {"SleepInhibitor", {QStringLiteral("Playing %1")}}};
    for (const char* language : {"en", "de", "fr", "es", "it"}) {
        QTranslator table;
        ASSERT_TRUE(table.load(QStringLiteral(":/translations/kovra-radio_%1.qm").arg(QLatin1String(language))))
            << language;
        for (const auto& [context, keys] : texts) {
            for (const QString& key : keys) {
                const QString text = table.translate(context, key.toUtf8().constData());
                EXPECT_FALSE(text.isEmpty()) << language << " " << key.toStdString();
                // English keeps the notices' own words; the menu's keys are no words at all.
                if (qstrcmp(language, "en") != 0 || qstrcmp(context, "kovra-radio") == 0) {
                    EXPECT_NE(text, key) << language << " " << key.toStdString();
                }
            }
        }
    }
    // What the app looks up: the user's language, and a key without translation reads as itself.
    auto localization = makeLocalization();
    EXPECT_EQ(localization->localizedString("no_such_key"), "no_such_key");
    // The process runs with LANGUAGE=de (see main below).
    EXPECT_EQ(localization->localizedString("hotkey_none"), "Keine");
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // No display is needed to draw into images; the language is fixed for the lookups above.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("LANGUAGE", "de", 1);
    ::setenv("LC_ALL", "de_DE.UTF-8", 1);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
