// Checks of the Qt platform pieces that need no desktop session: menu item rendering rules,
// drawing (lower-left origin, colour flag, symbol), and the compiled-in translation tables.
#include "platform/linux/MenuRendering.h"
#include "platform/linux/PopupMenu.h"
#include "platform/linux/QtGraphics.h"
#include "platform/linux/QtLocalization.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QMenu>
#include <QPainter>
#include <QTranslator>

#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include <cstdlib>
#include <functional>

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

TEST(MenuRendering, TitlesKeepTheirAmpersandsAndTheTooltipNamesTheChannel)
{
    EXPECT_EQ(actionText("Rock & Roll"), "Rock && Roll");
    EXPECT_EQ(toolTipForTitle(" Kovra Tarvesi"), "Kovra Tarvesi");
    EXPECT_EQ(toolTipForTitle(""), "Kovra Radio");
}

TEST(MenuRendering, ItemsThatCanDoNothingAreDisabled)
{
    MenuItem quit("Quit", "terminate:", "q");
    MenuItem heading("Keyboard Shortcuts", "", "");
    EXPECT_FALSE(isEnabledItem(heading));
    heading.setSubmenu(std::make_shared<Menu>());
    EXPECT_TRUE(isEnabledItem(heading));
    EXPECT_TRUE(isEnabledItem(quit));
    EXPECT_FALSE(isEnabledItem(*MenuItem::separatorItem()));
}

class Drawing : public ::testing::Test {
protected:
    QImage draw(Size size, double scale, const std::function<void(Image&)>& paint)
    {
        auto image = graphics->imageWithSize(size);
        image->lockFocus();
        paint(*image);
        image->unlockFocus();
        paint(*image); // drawing after unlockFocus() does not reach the image
        QImage pixels(int(std::ceil(size.width * scale)), int(std::ceil(size.height * scale)),
                      QImage::Format_ARGB32_Premultiplied);
        pixels.fill(Qt::transparent);
        QPainter painter(&pixels);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing | QPainter::SmoothPixmapTransform);
        static_cast<PaintableImage&>(*image).paint(painter, QRectF(QPointF(), QSizeF(pixels.size())));
        return pixels;
    }
    std::shared_ptr<Graphics> graphics = makeGraphics();
    std::shared_ptr<Image> antenna = graphics->imageWithSystemSymbolName("antenna.radiowaves.left.and.right");
};

TEST_F(Drawing, RectanglesAreMeasuredFromTheLowerLeftCornerAndTrayIconsAreSquareAndCentred)
{
    ASSERT_NE(antenna, nullptr);
    EXPECT_EQ(graphics->imageWithSystemSymbolName("speaker.wave.2"), nullptr);
    const QImage pixels = draw({40, 20}, 2, [&](Image& i) { i.drawImage(*antenna, {0, 0, 10, 10}); });
    EXPECT_GT(opaqueCount(pixels, QRect(0, 20, 20, 20)), 20); // lower left, where it was drawn
    EXPECT_EQ(opaqueCount(pixels, QRect(0, 0, 80, 20)), 0);   // nothing in the upper half

    auto wide = graphics->imageWithSize({40, 10});
    wide->lockFocus();
    wide->drawImage(*antenna, {0, 0, 40, 10});
    wide->unlockFocus();
    // 40 x 10 fits 64 wide and 16 high, with 24 empty rows above and below.
    const QImage square = static_cast<PaintableImage&>(*wide).renderSquare(64);
    EXPECT_EQ(opaqueCount(square, QRect(0, 0, 64, 23)) + opaqueCount(square, QRect(0, 41, 64, 23)), 0);
    EXPECT_GT(opaqueCount(square, QRect(0, 24, 64, 16)), 50);
}

TEST_F(Drawing, TheFlagIsMeasuredAndDrawnInColour)
{
    const std::string flag = "\U0001F1F3\U0001F1F4";
    const Size size = graphics->sizeOfText(flag, Font::systemFontOfSize(14));
    EXPECT_GT(graphics->sizeOfText(flag + flag, Font::systemFontOfSize(14)).width, size.width * 1.5);
    const QImage pixels = draw(size, 4, [&](Image& i) { i.drawText(flag, {0, 0}, Font::systemFontOfSize(14)); });
    // Monochrome glyphs would have no saturated pixels at all.
    EXPECT_GT(opaqueCount(pixels, {}, [](QRgb p) { return QColor(p).hsvSaturation() > 100; }),
              pixels.width() * pixels.height() / 10);
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
        auto shortcuts = std::make_shared<MenuItem>("Slot: " + std::to_string(playing), "", "");
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
              std::tuple(false, true, QStringLiteral("Slot: 1")));
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

TEST(Translations, EveryTableTranslatesTheMenuAndTheNotices)
{
    const std::pair<const char*, const char*> texts[] = {
        {"kovra-radio", "launch_at_login"},
        {"kovra-radio", "keyboard_shortcuts"},
        {"kovra-radio", "hotkey_none"},
        {"kovra-radio", "check_for_updates"},
        {"kovra-radio", "quit"},
        {"kovra-radio", "hotkey_slot"},
        {"kovra-radio", "shortcut_description"},
        {"kovra-radio", "no_tray_summary"},
        {"kovra-radio", "no_tray_body_gnome"},
        {"kovra-radio", "no_tray_body"},
        {"Updater", "Kovra Radio %1 is available"},
        {"Updater", "You have version %1. Download the new version from %2"},
        {"Updater", "Kovra Radio is up to date"},
        {"Updater", "Version %1 is the newest version."},
        {"Updater", "Could not check for updates"},
        {"Updater", "The update information could not be loaded. Try again later."},
        {"SleepInhibitor", "Playing %1"}};
    for (const char* language : {"en", "de", "fr", "es", "it"}) {
        QTranslator table;
        ASSERT_TRUE(table.load(QStringLiteral(":/translations/kovra-radio_%1.qm").arg(QLatin1String(language))))
            << language;
        for (const auto& [context, key] : texts) {
            const QString text = table.translate(context, key);
            EXPECT_FALSE(text.isEmpty()) << language << " " << key;
            // English keeps the notices' own words; the menu's keys are no words at all.
            if (qstrcmp(language, "en") != 0 || qstrcmp(context, "kovra-radio") == 0) {
                EXPECT_NE(text, QLatin1String(key)) << language << " " << key;
            }
        }
    }
}

TEST(Translations, AKeyWithoutTranslationReadsAsItself)
{
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
