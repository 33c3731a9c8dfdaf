// Checks of the Qt platform pieces that need no desktop session: menu item rendering rules,
// drawing (lower-left origin, colour flag, symbol), and the compiled-in translation tables.
#include "Factories.h"
#include "MenuRendering.h"
#include "QtGraphics.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTranslator>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace platform;
using namespace platform::linux_impl;

namespace {

MenuItem itemWithKey(const std::string& key, std::optional<uint32_t> mask)
{
    MenuItem item("Title", "channelSelected:", key);
    if (mask)
        item.setKeyEquivalentModifierMask(*mask);
    return item;
}

bool isOpaque(const QImage& image, int x, int y) { return qAlpha(image.pixel(x, y)) > 128; }

// Counts opaque pixels inside the rectangle.
int opaqueCount(const QImage& image, const QRect& area)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            count += isOpaque(image, x, y);
    return count;
}

} // namespace

TEST(MenuRendering, KeyEquivalentsShowAsLinuxShortcuts)
{
    EXPECT_EQ(shortcutFor(itemWithKey("1", EventModifierFlagOption)).toString(QKeySequence::PortableText), "Alt+1");
    // The default mask is Command, which is Ctrl here.
    EXPECT_EQ(shortcutFor(itemWithKey("q", std::nullopt)).toString(QKeySequence::PortableText), "Ctrl+Q");
    // An upper-case key equivalent carries Shift.
    EXPECT_EQ(shortcutFor(itemWithKey("Q", std::nullopt)).toString(QKeySequence::PortableText), "Ctrl+Shift+Q");
    EXPECT_EQ(shortcutFor(itemWithKey("5", EventModifierFlagOption | EventModifierFlagCommand))
                  .toString(QKeySequence::PortableText),
              "Ctrl+Alt+5");
    EXPECT_TRUE(shortcutFor(itemWithKey("", EventModifierFlagOption)).isEmpty());
}

TEST(MenuRendering, TitlesKeepAmpersandsAndTooltipNamesTheChannel)
{
    EXPECT_EQ(actionText("Rock & Roll"), "Rock && Roll");
    EXPECT_EQ(actionText("⌥1: Kovra Velmora"), QString::fromUtf8("⌥1: Kovra Velmora"));
    EXPECT_EQ(toolTipForTitle(" Kovra Tarvesi"), "Kovra Tarvesi");
    EXPECT_EQ(toolTipForTitle(""), "Kovra Radio");
}

TEST(MenuRendering, OnlySwitchableItemsCarryCheckMarks)
{
    MenuItem channel("Kovra Nimo", "channelSelected:", "");
    MenuItem slotEntry("None", "assignHotkey:", "");
    MenuItem login("Launch at Login", "toggleLaunchAtLogin", "");
    MenuItem update("Check for Updates…", "checkForUpdates:", "");
    MenuItem quit("Quit", "terminate:", "q");
    MenuItem heading("Keyboard Shortcuts", "", "");
    EXPECT_TRUE(isToggleItem(channel));
    EXPECT_TRUE(isToggleItem(slotEntry));
    EXPECT_TRUE(isToggleItem(login));
    EXPECT_FALSE(isToggleItem(update));
    EXPECT_FALSE(isToggleItem(quit));
    EXPECT_FALSE(isToggleItem(*MenuItem::separatorItem()));
    // Whatever its kind, an item that is on shows its mark.
    update.setState(ControlStateValueOn);
    EXPECT_TRUE(isToggleItem(update));
    // An item that can do nothing is shown disabled; a submenu holder is not.
    EXPECT_FALSE(isEnabledItem(heading));
    heading.setSubmenu(std::make_shared<Menu>());
    EXPECT_TRUE(isEnabledItem(heading));
    EXPECT_TRUE(isEnabledItem(quit));
}

class Drawing : public ::testing::Test {
protected:
    std::shared_ptr<Graphics> graphics = makeGraphics();
};

TEST_F(Drawing, SymbolsAreFoundByNameOnly)
{
    EXPECT_EQ(graphics->imageWithSystemSymbolName("speaker.wave.2"), nullptr);
    EXPECT_EQ(graphics->imageWithSystemSymbolName(""), nullptr);
    auto antenna = graphics->imageWithSystemSymbolName("antenna.radiowaves.left.and.right");
    ASSERT_NE(antenna, nullptr);
    EXPECT_GT(antenna->size().width, 0);
    EXPECT_FALSE(antenna->isTemplate());
}

TEST_F(Drawing, RectanglesAreMeasuredFromTheLowerLeftCorner)
{
    auto antenna = graphics->imageWithSystemSymbolName("antenna.radiowaves.left.and.right");
    ASSERT_NE(antenna, nullptr);
    auto image = graphics->imageWithSize({40, 20});
    image->lockFocus();
    image->drawImage(*antenna, {0, 0, 10, 10});
    image->unlockFocus();
    // Drawing after unlockFocus() does not reach the image.
    image->drawImage(*antenna, {30, 10, 10, 10});

    const QImage pixels = static_cast<PaintableImage&>(*image).render(2.0);
    ASSERT_EQ(pixels.size(), QSize(80, 40));
    EXPECT_GT(opaqueCount(pixels, QRect(0, 20, 20, 20)), 20);  // lower left, where it was drawn
    EXPECT_EQ(opaqueCount(pixels, QRect(0, 0, 20, 20)), 0);    // upper left
    EXPECT_EQ(opaqueCount(pixels, QRect(60, 0, 20, 20)), 0);   // drawn without focus
}

TEST_F(Drawing, FlagTextDrawsInColourAndIsMeasured)
{
    const std::string flag = "\U0001F1F3\U0001F1F4";
    const Size size = graphics->sizeOfText(flag, Font::systemFontOfSize(14));
    EXPECT_GT(size.width, 5);
    EXPECT_GT(size.height, 5);
    EXPECT_GT(graphics->sizeOfText(flag + flag, Font::systemFontOfSize(14)).width, size.width * 1.5);

    auto image = graphics->imageWithSize({size.width, size.height});
    image->lockFocus();
    image->drawText(flag, {0, 0}, Font::systemFontOfSize(14));
    image->unlockFocus();
    const QImage pixels = static_cast<PaintableImage&>(*image).render(4.0);
    int coloured = 0;
    for (int y = 0; y < pixels.height(); ++y) {
        for (int x = 0; x < pixels.width(); ++x) {
            const QColor colour = QColor::fromRgba(pixels.pixel(x, y));
            coloured += colour.alpha() > 128 && colour.hsvSaturation() > 100;
        }
    }
    // Monochrome glyphs would have no saturated pixels at all.
    EXPECT_GT(coloured, pixels.width() * pixels.height() / 10);
}

TEST_F(Drawing, TrayRenderingsAreSquareAndCentred)
{
    auto antenna = graphics->imageWithSystemSymbolName("antenna.radiowaves.left.and.right");
    auto wide = graphics->imageWithSize({40, 10});
    wide->lockFocus();
    wide->drawImage(*antenna, {0, 0, 40, 10});
    wide->unlockFocus();
    const QIcon icon = trayIconFromImage(wide.get());
    for (int side : kTrayIconSides)
        EXPECT_TRUE(icon.availableSizes().contains(QSize(side, side))) << side;
    const QImage square = static_cast<PaintableImage&>(*wide).renderSquare(64);
    // 40 x 10 fits 64 wide and 16 high, with 24 empty rows above and below.
    EXPECT_EQ(opaqueCount(square, QRect(0, 0, 64, 23)), 0);
    EXPECT_EQ(opaqueCount(square, QRect(0, 41, 64, 23)), 0);
    EXPECT_GT(opaqueCount(square, QRect(0, 24, 64, 16)), 50);
    EXPECT_TRUE(trayIconFromImage(nullptr).isNull());
}

TEST(Translations, EveryTableTranslatesAllMenuKeys)
{
    const char* const keys[] = {"launch_at_login", "keyboard_shortcuts", "hotkey_none", "check_for_updates", "quit"};
    for (const char* language : {"en", "de", "fr", "es", "it"}) {
        QTranslator table;
        ASSERT_TRUE(table.load(QStringLiteral(":/translations/kovra-radio_%1.qm").arg(QLatin1String(language))))
            << language;
        for (const char* key : keys) {
            const QString text = table.translate("MenuManager", key);
            EXPECT_FALSE(text.isEmpty()) << language << " " << key;
            EXPECT_NE(text, QLatin1String(key)) << language << " " << key;
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
