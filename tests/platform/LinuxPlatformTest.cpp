// Checks of the Qt platform pieces that need no desktop session: menu item rendering rules,
// drawing (lower-left origin, colour flag, symbol), and the compiled-in translation tables.
#include "platform/linux/MenuRendering.h"
#include "platform/linux/QtGraphics.h"
#include "platform/linux/QtLocalization.h"
#include "platform/linux/SniStatusBar.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QMenu>
#include <QTranslator>

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

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
    EXPECT_GT(opaqueCount(pixels, QRect(0, 20, 20, 20)), 20); // lower left, where it was drawn
    EXPECT_EQ(opaqueCount(pixels, QRect(0, 0, 20, 20)), 0);   // upper left
    EXPECT_EQ(opaqueCount(pixels, QRect(60, 0, 20, 20)), 0);  // drawn without focus
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

TEST_F(Drawing, EqualDrawingsShareAKeyAndAnyDifferenceChangesIt)
{
    auto antenna = graphics->imageWithSystemSymbolName("antenna.radiowaves.left.and.right");
    ASSERT_NE(antenna, nullptr);
    auto draw = [&](Size size, const std::string& text, Point at, double fontSize, Rect symbolIn) {
        auto image = graphics->imageWithSize(size);
        image->lockFocus();
        image->drawText(text, at, Font::systemFontOfSize(fontSize));
        image->drawImage(*antenna, symbolIn);
        image->unlockFocus();
        return static_cast<PaintableImage&>(*image).contentKey();
    };
    const QString key = draw({30, 16}, "\U0001F1EA\U0001F1FA", {0, 1}, 14, {18, 2, 12, 12});
    EXPECT_EQ(draw({30, 16}, "\U0001F1EA\U0001F1FA", {0, 1}, 14, {18, 2, 12, 12}), key);
    EXPECT_NE(draw({31, 16}, "\U0001F1EA\U0001F1FA", {0, 1}, 14, {18, 2, 12, 12}), key);
    EXPECT_NE(draw({30, 16}, "\U0001F1F3\U0001F1F4", {0, 1}, 14, {18, 2, 12, 12}), key);
    EXPECT_NE(draw({30, 16}, "\U0001F1EA\U0001F1FA", {0, 1.5}, 14, {18, 2, 12, 12}), key);
    EXPECT_NE(draw({30, 16}, "\U0001F1EA\U0001F1FA", {0, 1}, 15, {18, 2, 12, 12}), key);
    EXPECT_NE(draw({30, 16}, "\U0001F1EA\U0001F1FA", {0, 1}, 14, {18, 2, 11, 12}), key);
    // A text that spells another drawing's key syntax does not make that drawing's key.
    auto tricky = graphics->imageWithSize({30, 16});
    tricky->lockFocus();
    tricky->drawText("a) text(0 0 x 1:b", {0, 0}, Font::systemFontOfSize(14));
    tricky->unlockFocus();
    auto pair = graphics->imageWithSize({30, 16});
    pair->lockFocus();
    pair->drawText("a", {0, 0}, Font::systemFontOfSize(14));
    pair->drawText("b", {0, 0}, Font::systemFontOfSize(14));
    pair->unlockFocus();
    EXPECT_NE(static_cast<PaintableImage&>(*tricky).contentKey(), static_cast<PaintableImage&>(*pair).contentKey());
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

class StatusMenu : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QWidgetList before = QApplication::topLevelWidgets();
        item = makeStatusBar()->statusItemWithLength(-1);
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (!before.contains(widget))
                menu = qobject_cast<QMenu*>(widget);
        }
        ASSERT_NE(menu, nullptr);
    }

    // Three channels (one playing), a separator and a submenu of slots, as the tray shows them.
    std::shared_ptr<Menu> model(int playing, const std::string& slotHolder, bool extraItem = false)
    {
        auto result = std::make_shared<Menu>();
        for (int i = 0; i < 3; ++i) {
            auto channel = std::make_shared<MenuItem>("Channel " + std::to_string(i), "channelSelected:", "");
            channel->setTarget(target);
            channel->setTag(playing * 10 + i);
            channel->setState(i == playing ? ControlStateValueOn : ControlStateValueOff);
            if (i == playing) {
                channel->setKeyEquivalent("1");
                channel->setKeyEquivalentModifierMask(EventModifierFlagOption);
            }
            result->addItem(channel);
        }
        result->addItem(MenuItem::separatorItem());
        auto slotEntry = std::make_shared<MenuItem>("Slot: " + slotHolder, "", "");
        auto slotMenu = std::make_shared<Menu>();
        auto none = std::make_shared<MenuItem>("None", "assignHotkey:", "");
        none->setTarget(target);
        slotMenu->addItem(none);
        slotEntry->setSubmenu(slotMenu);
        result->addItem(slotEntry);
        if (extraItem)
            result->addItem(std::make_shared<MenuItem>("Extra & more", "", ""));
        return result;
    }

    std::shared_ptr<RecordingTarget> target = std::make_shared<RecordingTarget>();
    std::shared_ptr<StatusItem> item;
    QMenu* menu = nullptr;
};

TEST_F(StatusMenu, ASameShapedModelUpdatesTheShownActionsAndTheirTargets)
{
    item->setMenu(model(0, "Channel 0"));
    const QList<QAction*> first = menu->actions();
    ASSERT_EQ(first.size(), 5);
    EXPECT_TRUE(first[0]->isChecked());
    EXPECT_EQ(first[0]->shortcut(), QKeySequence(QStringLiteral("Alt+1")));
    EXPECT_TRUE(first[3]->isSeparator());
    ASSERT_NE(first[4]->menu(), nullptr);
    QAction* submenuEntry = first[4]->menu()->actions().value(0);

    item->setMenu(model(2, "Channel 2"));
    const QList<QAction*> second = menu->actions();
    // The same actions, now showing the new model.
    EXPECT_EQ(second, first);
    EXPECT_EQ(second[4]->menu()->actions().value(0), submenuEntry);
    EXPECT_FALSE(second[0]->isChecked());
    EXPECT_TRUE(second[0]->isCheckable());
    EXPECT_TRUE(second[2]->isChecked());
    EXPECT_TRUE(second[0]->shortcut().isEmpty());
    EXPECT_EQ(second[2]->shortcut(), QKeySequence(QStringLiteral("Alt+1")));
    EXPECT_EQ(second[4]->text(), QStringLiteral("Slot: Channel 2"));

    // A triggered action speaks for the item of the latest model.
    second[1]->trigger();
    ASSERT_EQ(target->received.size(), 1u);
    EXPECT_EQ(target->received[0], "channelSelected: 21");
    // Its check mark flipped by Qt is put back to what the model says.
    QCoreApplication::processEvents();
    EXPECT_FALSE(second[1]->isChecked());
    EXPECT_TRUE(second[2]->isChecked());
}

TEST_F(StatusMenu, AModelOfAnotherShapeIsShownInFull)
{
    item->setMenu(model(0, "Channel 0"));
    item->setMenu(model(1, "None", true));
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 6);
    EXPECT_TRUE(actions[1]->isChecked());
    EXPECT_EQ(actions[4]->text(), QStringLiteral("Slot: None"));
    EXPECT_EQ(actions[5]->text(), QStringLiteral("Extra && more"));
    EXPECT_FALSE(actions[5]->isEnabled());
    ASSERT_NE(actions[4]->menu(), nullptr);
    EXPECT_EQ(actions[4]->menu()->actions().size(), 1);
    // Back to the first shape: still every item in place.
    item->setMenu(model(0, "Channel 0"));
    EXPECT_EQ(menu->actions().size(), 5);
    menu->actions()[0]->trigger();
    ASSERT_EQ(target->received.size(), 1u);
    EXPECT_EQ(target->received[0], "channelSelected: 0");
}

TEST(Translations, EveryTableTranslatesAllMenuKeys)
{
    const char* const keys[] = {"launch_at_login", "keyboard_shortcuts", "hotkey_none", "check_for_updates", "quit"};
    for (const char* language : {"en", "de", "fr", "es", "it"}) {
        QTranslator table;
        ASSERT_TRUE(table.load(QStringLiteral(":/translations/kovra-radio_%1.qm").arg(QLatin1String(language))))
            << language;
        for (const char* key : keys) {
            const QString text = table.translate("kovra-radio", key);
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
