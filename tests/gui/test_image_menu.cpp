// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/CImageMenu.h"
#include "ui/MenuTemplate.h"
#include "ui/ResourcePaths.h"
#include "ui/SystemColours.h"

#include <QApplication>
#include <QDir>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPointer>
#include <QTemporaryFile>
#include <gtest/gtest.h>

namespace {

const char* const kNestedMenu = R"(# two popups, the first nested twice
POPUP "&File"
BEGIN
    MENUITEM "&Open...\tCtrl+O", 100
    POPUP "&More"
    BEGIN
        MENUITEM "&Alpha", 101
        POPUP "&Deeper"
        BEGIN
            MENUITEM "&Beta", 102, CHECKED
        END
    END
    MENUITEM SEPARATOR
    MENUITEM "Save && &Quit", 103, GRAYED
END
POPUP "&Help"
BEGIN
    MENUITEM "&About", 110
END
)";

// Draw styles and the shared state are process-wide: every test starts from
// the classic look and leaves it so.
class ImageMenuTest : public ::testing::Test
{
protected:
    void SetUp() override { CImageMenu::SetDrawStyle(0); }
    void TearDown() override
    {
        CImageMenu::SetDrawStyle(0);
        CImageMenu::SetSelectDisabled(!CImageMenu::ThemedXp());
    }

    bool LoadText(CImageMenu* menu, const char* text)
    {
        file.setFileTemplate(QDir::tempPath() + QStringLiteral("/tapeway-menu-XXXXXX.menu"));
        if (!file.open())
            return false;
        file.write(text);
        file.flush();
        return menu->LoadFromFile(file.fileName());
    }

    // One item drawn on its own into an image of the item's size.
    static QImage DrawOne(CImageMenu* menu, QAction* action, bool selected, QSize size)
    {
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::magenta);
        QPainter p(&image);
        p.setFont(SystemMenuFont());
        menu->DrawItem(&p, image.rect(), action, selected);
        p.end();
        return image;
    }

    QTemporaryFile file;
};

int RightmostInk(const QImage& image, const QColor& background)
{
    for (int x = image.width() - 1; x >= 0; --x)
        for (int y = 0; y < image.height(); ++y)
            if (image.pixelColor(x, y).rgb() != background.rgb())
                return x;
    return -1;
}

} // namespace

TEST_F(ImageMenuTest, NestedPopupsBecomeRegisteredSubmenusUntilReleased)
{
    CImageMenu menu;
    ASSERT_TRUE(LoadText(&menu, kNestedMenu));
    EXPECT_TRUE(menu.IsLoadedFromResource());
    ASSERT_EQ(menu.SubMenus().size(), 2u);
    CImageMenu* file = menu.SubMenus()[0];
    ASSERT_EQ(file->SubMenus().size(), 1u);
    CImageMenu* more = file->SubMenus()[0];
    ASSERT_EQ(more->SubMenus().size(), 1u);
    CImageMenu* deeper = more->SubMenus()[0];
    EXPECT_EQ(deeper->actions().size(), 1);
    EXPECT_TRUE(deeper->actions().first()->isChecked());

    std::vector<QMenu*> all{&menu, file, more, deeper, menu.SubMenus()[1]};
    for (QMenu* m : all)
        EXPECT_TRUE(CImageMenu::IsOwnMenu(m));
    QMenu plain;
    EXPECT_FALSE(CImageMenu::IsOwnMenu(&plain));

    // Each popup is reached through its item; the records follow menu order.
    EXPECT_EQ(menu.actions().at(0)->menu(), file);
    ASSERT_EQ(file->Items().size(), 4u);
    EXPECT_EQ(file->Items()[1]->action->menu(), more);
    EXPECT_TRUE(file->Items()[2]->flags & CImageMenu::kItemSeparator);
    EXPECT_EQ(file->Items()[0]->commandId, 100);
    EXPECT_FALSE(file->Items()[3]->action->isEnabled());
    // Only the popups are owner-drawn.
    for (const auto& item : menu.Items())
        EXPECT_FALSE(item->flags & CImageMenu::kItemOwnerDraw);
    for (const auto& item : file->Items())
        EXPECT_TRUE(item->flags & CImageMenu::kItemOwnerDraw);

    std::vector<QPointer<QMenu>> watched(all.begin() + 1, all.end());
    menu.ReleaseMenu();
    EXPECT_TRUE(menu.actions().isEmpty());
    EXPECT_TRUE(menu.Items().empty());
    for (std::size_t i = 1; i < all.size(); ++i) {
        EXPECT_FALSE(CImageMenu::IsOwnMenu(all[i])) << "submenu " << i;
        EXPECT_TRUE(watched[i - 1].isNull());
    }
}

TEST_F(ImageMenuTest, LoadingFailuresLeaveTheMenuAsItWas)
{
    CImageMenu menu;
    ASSERT_TRUE(menu.LoadFromResource(kMenuBrowseDrop));
    const qsizetype items = menu.SubMenus()[0]->actions().size();
    EXPECT_FALSE(menu.LoadFromResource(9999));
    EXPECT_FALSE(menu.LoadFromFile(QStringLiteral("/nonexistent/menu")));
    ASSERT_EQ(menu.SubMenus().size(), 1u);
    EXPECT_EQ(menu.SubMenus()[0]->actions().size(), items);

    QString error;
    EXPECT_FALSE(MenuTemplate::FromText(QStringLiteral("END\n"), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(MenuTemplate::FromText(QStringLiteral("POPUP \"a\"\nBEGIN\n"), &error));
    EXPECT_FALSE(MenuTemplate::FromText(QStringLiteral("MENUITEM \"a\", 0\n"), &error));
    EXPECT_FALSE(MenuTemplate::FromText(QStringLiteral("MENUITEM \"a\", 70000\n"), &error));
    EXPECT_FALSE(MenuTemplate::FromText(QStringLiteral("MENUITEM \"a, 5\n"), &error));
    EXPECT_FALSE(MenuTemplate::FromText(QStringLiteral("MENUITEM \"a\", 5, BOLD\n"), &error));
    const auto ok = MenuTemplate::FromText(QStringLiteral("MENUITEM \"a\\tb \\\"c\\\"\", 5\n"));
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->Items().at(0).text, QStringLiteral("a\tb \"c\""));
}

TEST_F(ImageMenuTest, SeparatorMeasuresNoWidthAndHalfAMenuLine)
{
    CImageMenu menu;
    const QSize separator = menu.MeasureItem(QString(), true);
    EXPECT_EQ(separator.width(), 0);
    EXPECT_EQ(separator.height(), std::max(SystemMenuHeight() >> 1, (15 + 4) / 2));
    EXPECT_GE(separator.height(), SystemMenuHeight() / 2);

    // Tall images make it taller: half of image height plus the margin.
    menu.SetImageSize(16, 60);
    EXPECT_EQ(menu.MeasureItem(QString(), true).height(), (60 + 4) / 2);
    CImageMenu::SetDrawStyle(1);
    EXPECT_EQ(menu.MeasureItem(QString(), true).height(), (60 + 7) / 2);

    // A text item: its text and room for the image column.
    CImageMenu::SetDrawStyle(0);
    menu.SetImageSize(16, 15);
    const QSize item = menu.MeasureItem(QStringLiteral("Open"), false);
    EXPECT_EQ(item.width(), QFontMetrics(QApplication::font()).horizontalAdvance("Open") + 33);
    EXPECT_EQ(item.height(), std::max(SystemMenuHeight(), 19));
}

TEST_F(ImageMenuTest, AcceleratorTextsLineUp)
{
    CImageMenu menu;
    ASSERT_TRUE(menu.LoadFromResource(kMenuBrowseDrop));
    CImageMenu* popup = menu.SubMenus()[0];
    QAction* first = popup->actions().at(0);  // "&Add files...\tCtrl+O"
    QAction* second = popup->actions().at(1); // "Add &folder...\tCtrl+Shift+O"
    const QFontMetrics fm(SystemMenuFont());
    const QString a = popup->FindItem(first)->text;
    const QString b = popup->FindItem(second)->text;
    ASSERT_TRUE(a.contains('\t') && b.contains('\t'));
    const int widest = fm.horizontalAdvance(QStringLiteral("Add &folder... "));
    EXPECT_GE(fm.horizontalAdvance(a.section('\t', 0, 0)), widest);
    EXPECT_GE(fm.horizontalAdvance(b.section('\t', 0, 0)), widest);
    EXPECT_EQ(a.section('\t', 1), QStringLiteral("Ctrl+O"));
    EXPECT_EQ(first->text(), a);

    for (int style : {0, 1}) {
        CImageMenu::SetDrawStyle(style);
        const QSize size(360, popup->MeasureItem(first).height());
        const QColor background =
            style == 1 ? SystemColour(SysColour::Window) : SystemColour(SysColour::Menu);
        const int rightA = RightmostInk(DrawOne(popup, first, false, size), background);
        const int rightB = RightmostInk(DrawOne(popup, second, false, size), background);
        EXPECT_GT(rightA, size.width() / 2) << "look " << style;
        EXPECT_EQ(rightA, rightB) << "look " << style;
    }
}

TEST_F(ImageMenuTest, FindMnemonicAnswersPositionAndExecute)
{
    CImageMenu menu;
    ASSERT_TRUE(LoadText(&menu, kNestedMenu));
    CImageMenu* file = menu.SubMenus()[0];
    EXPECT_EQ(CImageMenu::FindMnemonic('o', 0, file), 0 | (2 << 16));
    EXPECT_EQ(CImageMenu::FindMnemonic('M', 0, file), 1 | (2 << 16));
    EXPECT_EQ(CImageMenu::FindMnemonic('q', 0, file), 3 | (2 << 16));
    EXPECT_EQ(CImageMenu::FindMnemonic('z', 0, file), 0);
    // "&&" is a plain ampersand, not a mnemonic mark.
    EXPECT_EQ(CImageMenu::FindMnemonic(' ', 0, file), 0);
    EXPECT_EQ(CImageMenu::FindMnemonic('h', 0, &menu), 1 | (2 << 16));
    QMenu plain;
    plain.addAction(QStringLiteral("&Open"));
    EXPECT_EQ(CImageMenu::FindMnemonic('o', 0, &plain), 0);

    // Items added later get records too.
    file->addAction(QStringLiteral("&Zoom"));
    EXPECT_EQ(CImageMenu::FindMnemonic('z', 0, file), 4 | (2 << 16));
}

TEST_F(ImageMenuTest, ThemedAndClassicLooksDiffer)
{
    CImageMenu menu;
    ASSERT_TRUE(LoadText(&menu, kNestedMenu));
    CImageMenu* file = menu.SubMenus()[0];
    QAction* open = file->actions().at(0);
    const QSize size(200, 22);
    const int mid = size.height() / 2;

    CImageMenu::SetDrawStyle(0);
    ASSERT_FALSE(CImageMenu::UseThemedLook());
    const QImage classicRest = DrawOne(file, open, false, size);
    const QImage classicSelected = DrawOne(file, open, true, size);
    CImageMenu::SetDrawStyle(1);
    ASSERT_TRUE(CImageMenu::UseThemedLook());
    const QImage themedRest = DrawOne(file, open, false, size);
    const QImage themedSelected = DrawOne(file, open, true, size);

    // Image column: menu colour in the classic look, a shaded margin in the themed one.
    EXPECT_EQ(classicRest.pixelColor(5, mid).rgb(), SystemColour(SysColour::Menu).rgb());
    EXPECT_EQ(themedRest.pixelColor(5, mid).rgb(),
              LightenColour(SystemColour(SysColour::BtnFace), 0.25).rgb());
    EXPECT_EQ(themedRest.pixelColor(size.width() - 3, mid).rgb(),
              SystemColour(SysColour::Window).rgb());
    // Selection: a full highlight bar, or a pale box framed in the highlight.
    const QColor highlight = SystemColour(SysColour::Highlight);
    EXPECT_EQ(classicSelected.pixelColor(size.width() - 3, mid).rgb(), highlight.rgb());
    EXPECT_EQ(themedSelected.pixelColor(size.width() - 3, mid).rgb(),
              LightenColour(highlight, 0.85).rgb());
    EXPECT_EQ(themedSelected.pixelColor(0, 0).rgb(), highlight.rgb());
    EXPECT_NE(classicSelected, themedSelected);
}

TEST_F(ImageMenuTest, CheckMarksSeparatorsAndGrayedItems)
{
    CImageMenu menu;
    ASSERT_TRUE(LoadText(&menu, kNestedMenu));
    CImageMenu* file = menu.SubMenus()[0];
    CImageMenu* deeper = file->SubMenus()[0]->SubMenus()[0];
    QAction* beta = deeper->actions().at(0);
    const QSize size(200, 23);
    const QColor text = SystemColour(SysColour::MenuText);

    // Classic: the check mark's first stroke at box + (4, 4), 2 down.
    const QImage classic = DrawOne(deeper, beta, false, size);
    const int dy = (size.height() - 15 - 4) / 2;
    const QPoint mark(1 + 4, dy + 2 + 4);
    EXPECT_EQ(classic.pixelColor(mark + QPoint(0, 2)).rgb(), text.rgb());
    EXPECT_EQ(classic.pixelColor(mark + QPoint(0, 4)).rgb(), text.rgb());
    EXPECT_NE(classic.pixelColor(mark + QPoint(0, 5)).rgb(), text.rgb());
    EXPECT_EQ(classic.pixelColor(mark + QPoint(2, 4)).rgb(), text.rgb());
    EXPECT_NE(classic.pixelColor(mark + QPoint(2, 3)).rgb(), text.rgb());

    // Separators: an etched line at half height.
    QAction* separator = file->actions().at(2);
    const QSize separatorSize(200, 10);
    const QImage etched = DrawOne(file, separator, false, separatorSize);
    EXPECT_EQ(etched.pixelColor(100, 5).rgb(), SystemColour(SysColour::BtnShadow).rgb());
    EXPECT_EQ(etched.pixelColor(100, 6).rgb(), SystemColour(SysColour::BtnHighlight).rgb());
    EXPECT_EQ(etched.pixelColor(100, 2).rgb(), SystemColour(SysColour::Menu).rgb());

    // A grayed item shows the selection only where that is allowed (by default
    // off themed XP); otherwise it is drawn as not selected: embossed text in the
    // classic look, grey text drawn off screen in the themed look.
    QAction* quit = file->actions().at(3);
    const QPoint right(size.width() - 3, 11);
    const QColor highlight = SystemColour(SysColour::Highlight);
    EXPECT_EQ(DrawOne(file, quit, true, size).pixelColor(right).rgb(), highlight.rgb());
    CImageMenu::SetSelectDisabled(false);
    const QImage grayedClassic = DrawOne(file, quit, true, size);
    EXPECT_EQ(grayedClassic.pixelColor(right).rgb(), SystemColour(SysColour::Menu).rgb());
    EXPECT_EQ(grayedClassic, DrawOne(file, quit, false, size));

    CImageMenu::SetDrawStyle(1);
    const QImage grayedThemed = DrawOne(file, quit, true, size);
    const QColor window = SystemColour(SysColour::Window);
    EXPECT_EQ(grayedThemed.pixelColor(right).rgb(), window.rgb());
    EXPECT_EQ(grayedThemed.pixelColor(5, 11).rgb(),
              LightenColour(SystemColour(SysColour::BtnFace), 0.25).rgb());
    int greyText = 0;
    const QColor grey = LightenColour(SystemColour(SysColour::GrayText), 0.4);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 30; x < 150; ++x)
            greyText += grayedThemed.pixelColor(x, y).rgb() == grey.rgb() ? 1 : 0;
    EXPECT_GT(greyText, 0);
    CImageMenu::SetSelectDisabled(true);
    EXPECT_EQ(DrawOne(file, quit, true, size).pixelColor(right).rgb(),
              LightenColour(highlight, 0.85).rgb());
}

TEST_F(ImageMenuTest, SharedImagesCarryFadedAndShadowVariantsInTheThemedLook)
{
    CImageMenu menu;
    ASSERT_TRUE(LoadText(&menu, kNestedMenu));
    QPixmap red(16, 15);
    red.fill(QColor(200, 0, 0));
    const int before = CImageMenu::SharedImageCount();
    CImageMenu::SetDrawStyle(1);
    EXPECT_TRUE(menu.SetItemImage(101, red));
    EXPECT_EQ(CImageMenu::SharedImageCount(), before + 3);
    // Registering the same id again replaces, it does not append.
    EXPECT_TRUE(menu.SetItemImage(101, red));
    EXPECT_EQ(CImageMenu::SharedImageCount(), before + 3);
    EXPECT_FALSE(menu.SetItemImage(4242, red));

    CImageMenu* more = menu.SubMenus()[0]->SubMenus()[0];
    QAction* alpha = more->actions().at(0);
    const QSize size(200, 24);
    const QImage rest = DrawOne(more, alpha, false, size);
    const QImage selected = DrawOne(more, alpha, true, size);
    const int column = 16 + 7;
    const QPoint place((column - 16 + 1) / 2, (size.height() - 15 + 1) / 2);
    // At rest the faded image, selected the image itself one pixel up and left.
    EXPECT_EQ(rest.pixelColor(place + QPoint(5, 5)).rgb(),
              LightenColour(QColor(200, 0, 0), 0.3).rgb());
    EXPECT_EQ(selected.pixelColor(place + QPoint(4, 4)).rgb(), QColor(200, 0, 0).rgb());
}

TEST(ImageMenuSystem, GenerationTableAndPlatform)
{
    EXPECT_EQ(CImageMenu::GenerationOf(false, 3, 10), 0);
    EXPECT_EQ(CImageMenu::GenerationOf(false, 4, 0), 2);
    EXPECT_EQ(CImageMenu::GenerationOf(false, 4, 10), 3);
    EXPECT_EQ(CImageMenu::GenerationOf(false, 4, 90), 4);
    EXPECT_EQ(CImageMenu::GenerationOf(true, 4, 0), 5);
    EXPECT_EQ(CImageMenu::GenerationOf(true, 5, 0), 6);
    EXPECT_EQ(CImageMenu::GenerationOf(true, 5, 1), 7);
    EXPECT_EQ(CImageMenu::GenerationOf(true, 5, 2), 1);
    EXPECT_EQ(CImageMenu::GenerationOf(true, 10, 0), 1);
#ifndef Q_OS_WIN
    EXPECT_EQ(CImageMenu::SystemGeneration(), 1);
    EXPECT_FALSE(CImageMenu::ClassicTheme());
    EXPECT_FALSE(CImageMenu::ThemedXp());
    // Not themed XP: the classic draw style decides, and grayed items may be selected.
    EXPECT_TRUE(CImageMenu::EffectiveSelectDisabled());
#endif
}
