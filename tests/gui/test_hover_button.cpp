// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/CHoverButton.h"
#include "ui/CImageMenu.h"
#include "ui/ResourcePaths.h"
#include "ui/SystemColours.h"

#include <QApplication>
#include <QDesktopServices>
#include <QEnterEvent>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

constexpr QSize kButtonSize(48, 40);

QImage Render(QWidget* widget)
{
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QColor Face()
{
    return SystemColour(SysColour::BtnFace);
}

// The smallest rectangle holding every pixel that differs from `background`,
// looking only inside `area`.
QRect InkBox(const QImage& image, const QColor& background, const QRect& area)
{
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (image.pixelColor(x, y).rgb() != background.rgb())
                box |= QRect(x, y, 1, 1);
        }
    }
    return box;
}

// True when every pixel of the outer ring is `colour`, listing the first that is not.
::testing::AssertionResult RingIs(const QImage& image, const QColor& topLeft,
                                  const QColor& bottomRight)
{
    const int w = image.width();
    const int h = image.height();
    auto check = [&](int x, int y, const QColor& want) -> ::testing::AssertionResult {
        if (image.pixelColor(x, y).rgb() != want.rgb())
            return ::testing::AssertionFailure() << "pixel (" << x << "," << y << ") is "
                                                 << image.pixelColor(x, y).name().toStdString()
                                                 << ", expected " << want.name().toStdString();
        return ::testing::AssertionSuccess();
    };
    for (int x = 0; x < w - 1; ++x) {
        if (auto r = check(x, 0, topLeft); !r)
            return r;
        if (auto r = check(x + 1, h - 1, bottomRight); !r)
            return r;
    }
    for (int y = 0; y < h - 1; ++y) {
        if (auto r = check(0, y, topLeft); !r)
            return r;
        if (auto r = check(w - 1, y + 1, bottomRight); !r)
            return r;
    }
    return ::testing::AssertionSuccess();
}

void SendEnter(QWidget* widget, QPoint at)
{
    QEnterEvent enter(at, widget->mapTo(widget->window(), at), widget->mapToGlobal(at));
    QApplication::sendEvent(widget, &enter);
}

void SendMove(QWidget* widget, QPoint at, Qt::MouseButtons buttons)
{
    QMouseEvent move(QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::NoButton, buttons,
                     Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

void SendLeave(QWidget* widget)
{
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(widget, &leave);
}

class HoverButtonTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        button.resize(kButtonSize);
        ASSERT_EQ(button.SetIconImages(kIconBrowse, 0), CHoverButton::kOk);
        ASSERT_EQ(button.ImageSize(0), QSize(32, 32))
            << "icon 144 did not load: the Qt SVG image plug-in (libqt6svg6) is needed";
    }

    CHoverButton button;
};

} // namespace

TEST_F(HoverButtonTest, BrowseButtonAtRestHoveredPressedAndLeft)
{
    // At rest: the face colour all round, the icon centred.
    const QImage rest = Render(&button);
    EXPECT_TRUE(RingIs(rest, Face(), Face()));
    QImage reference(32, 32, QImage::Format_RGB32);
    reference.fill(Face());
    {
        QPainter p(&reference);
        p.drawImage(0, 0, QImageReader(ResourcePath(kIconBrowse)).read());
    }
    const QRect iconInk = InkBox(reference, Face(), reference.rect());
    ASSERT_FALSE(iconInk.isEmpty());
    const QRect restInk = InkBox(rest, Face(), rest.rect());
    const QPoint centredAt((kButtonSize.width() - 32) / 2, (kButtonSize.height() - 32) / 2);
    EXPECT_EQ(restInk, iconInk.translated(centredAt));

    // Under the pointer: a raised frame.
    SendEnter(&button, QPoint(10, 10));
    ASSERT_TRUE(button.IsHover());
    const QColor lit = SystemColour(SysColour::BtnHighlight);
    const QColor dark = SystemColour(SysColour::BtnShadow);
    ASSERT_NE(lit.rgb(), dark.rgb());
    EXPECT_TRUE(RingIs(Render(&button), lit, dark));

    // Pressed: sunken, the icon one pixel right and down.
    button.setDown(true);
    const QImage pressed = Render(&button);
    EXPECT_TRUE(RingIs(pressed, dark, lit));
    EXPECT_EQ(InkBox(pressed, Face(), pressed.rect().adjusted(1, 1, -1, -1)),
              restInk.translated(1, 1));
    button.setDown(false);

    // The pointer leaves: no frame again.
    SendLeave(&button);
    EXPECT_FALSE(button.IsHover());
    EXPECT_EQ(Render(&button), rest);
}

TEST_F(HoverButtonTest, DisablingDrawsDisabledIconAndMovesFocusOn)
{
    QWidget parent;
    auto* layout = new QHBoxLayout(&parent);
    auto* before = new QLineEdit(&parent);
    button.setParent(&parent);
    button.setFixedSize(kButtonSize);
    auto* after = new QLineEdit(&parent);
    layout->addWidget(before);
    layout->addWidget(&button);
    layout->addWidget(after);
    parent.show();
    parent.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&parent));

    const QImage rest = Render(&button);
    button.setFocus();
    ASSERT_TRUE(button.hasFocus());
    SendEnter(&button, QPoint(5, 5));
    ASSERT_TRUE(button.IsHover());

    button.setEnabled(false);
    EXPECT_TRUE(after->hasFocus());
    EXPECT_FALSE(button.IsHover());
    const QImage disabled = Render(&button);
    EXPECT_TRUE(RingIs(disabled, Face(), Face()));
    EXPECT_NE(disabled, rest);
    // The icon keeps its place.
    EXPECT_EQ(InkBox(disabled, Face(), disabled.rect()), InkBox(rest, Face(), rest.rect()));

    // A button without the focus does not take it from another control.
    button.setEnabled(true);
    before->setFocus();
    button.setEnabled(false);
    EXPECT_TRUE(before->hasFocus());
    button.setParent(nullptr);
}

TEST_F(HoverButtonTest, NoHoverWhenTheLeftButtonIsHeldOutsideAndDraggedIn)
{
    QWidget parent;
    parent.resize(200, 60);
    QWidget outside(&parent);
    outside.setGeometry(0, 0, 80, 40);
    button.setParent(&parent);
    button.setGeometry(100, 0, kButtonSize.width(), kButtonSize.height());
    parent.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
    const QImage rest = Render(&button);

    QWindow* window = parent.windowHandle();
    QTest::mousePress(window, Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
    ASSERT_TRUE(QGuiApplication::mouseButtons() & Qt::LeftButton);
    QTest::mouseMove(window, QPoint(120, 20));
    // However the pointer arrives while the button is held, no hover starts.
    SendEnter(&button, QPoint(20, 20));
    SendMove(&button, QPoint(21, 20), Qt::LeftButton);
    EXPECT_FALSE(button.IsHover());
    EXPECT_EQ(Render(&button), rest);

    // Released over the button, the next movement lights it.
    QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, QPoint(120, 20));
    SendMove(&button, QPoint(22, 20), Qt::NoButton);
    EXPECT_TRUE(button.IsHover());
    EXPECT_NE(Render(&button), rest);
    button.setParent(nullptr);
}

TEST_F(HoverButtonTest, HoverFollowsThePointerAndNeedsTheFlatLook)
{
    SendMove(&button, QPoint(10, 10), Qt::NoButton);
    EXPECT_TRUE(button.IsHover());
    // Moving outside (the button still gets the moves while it holds the mouse).
    SendMove(&button, QPoint(-5, 10), Qt::NoButton);
    EXPECT_FALSE(button.IsHover());

    SendMove(&button, QPoint(10, 10), Qt::NoButton);
    QFocusEvent focusOut(QEvent::FocusOut);
    QApplication::sendEvent(&button, &focusOut);
    EXPECT_FALSE(button.IsHover());

    button.SetFlatLook(false);
    SendEnter(&button, QPoint(10, 10));
    EXPECT_FALSE(button.IsHover());
    // The classic look draws a raised border of its own at rest.
    const QImage classic = Render(&button);
    EXPECT_EQ(classic.pixelColor(0, 0).rgb(), SystemColour(SysColour::BtnHighlight).rgb());
    EXPECT_EQ(classic.pixelColor(kButtonSize.width() - 1, kButtonSize.height() - 1).rgb(),
              SystemColour(SysColour::DkShadow3d).rgb());
}

TEST_F(HoverButtonTest, DoubleClickGivesTwoClicksThatReachTheOwner)
{
    QSignalSpy clicks(&button, &QAbstractButton::clicked);
    int ownerClicks = 0;
    QObject::connect(&button, &QAbstractButton::clicked, [&ownerClicks] { ++ownerClicks; });
    const QPoint at(10, 10);
    QTest::mousePress(&button, Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseRelease(&button, Qt::LeftButton, Qt::NoModifier, at);
    QMouseEvent dbl(QEvent::MouseButtonDblClick, at, button.mapToGlobal(at), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&button, &dbl);
    QTest::mouseRelease(&button, Qt::LeftButton, Qt::NoModifier, at);
    EXPECT_EQ(clicks.count(), 2);
    EXPECT_EQ(ownerClicks, 2);
}

TEST_F(HoverButtonTest, SettingsAnswerTheirCodesAndChangeNothingOnError)
{
    EXPECT_EQ(button.SetImageAlign(1), CHoverButton::kOk);
    EXPECT_EQ(button.SetImageAlign(3), CHoverButton::kBadAlignment);
    EXPECT_EQ(button.SetImageAlign(-1), CHoverButton::kBadAlignment);
    EXPECT_EQ(button.GetImageAlign(), 1);

    std::array<QColor, 6> before;
    for (int i = 0; i < 6; ++i)
        before[i] = button.GetColour(i);
    EXPECT_EQ(button.SetColour(6, Qt::red), CHoverButton::kBadColourIndex);
    EXPECT_EQ(button.SetColour(-1, Qt::red), CHoverButton::kBadColourIndex);
    EXPECT_EQ(button.ShadeColour(6, 10), CHoverButton::kBadColourIndex);
    EXPECT_EQ(button.ShadeColour(0, 256), CHoverButton::kBadShade);
    EXPECT_EQ(button.ShadeColour(0, -256), CHoverButton::kBadShade);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(button.GetColour(i), before[i]) << "colour " << i;
    EXPECT_FALSE(button.GetColour(6).isValid());

    EXPECT_EQ(button.SetColour(5, QColor(1, 2, 3)), CHoverButton::kOk);
    EXPECT_EQ(button.GetColour(5), QColor(1, 2, 3));
    button.ResetColours();
    EXPECT_EQ(button.GetColour(5), SystemColour(SysColour::BtnText));
    EXPECT_EQ(button.GetColour(2), Face());
}

TEST_F(HoverButtonTest, ShadeColourIsCutTowardZero)
{
    button.SetColour(0, QColor(200, 100, 154));
    EXPECT_EQ(button.ShadeColour(0, 100), CHoverButton::kOk);
    EXPECT_EQ(button.GetColour(0), QColor(255, 155, 209));

    button.SetColour(1, QColor(120, 31, 30));
    EXPECT_EQ(button.ShadeColour(1, -100), CHoverButton::kOk);
    EXPECT_EQ(button.GetColour(1), QColor(90, 1, 0));

    // Room enough: the whole amount.
    button.SetColour(2, QColor(10, 20, 30));
    button.ShadeColour(2, 25);
    EXPECT_EQ(button.GetColour(2), QColor(35, 45, 55));
    button.ShadeColour(2, -10);
    EXPECT_EQ(button.GetColour(2), QColor(25, 35, 45));
}

TEST_F(HoverButtonTest, MissingIconLeavesAnEmptyFace)
{
    EXPECT_EQ(button.SetIconImages(9999, 0), CHoverButton::kOk);
    EXPECT_TRUE(button.ImageSize(0).isEmpty());
    const QImage empty = Render(&button);
    EXPECT_TRUE(InkBox(empty, Face(), empty.rect()).isEmpty());

    EXPECT_EQ(button.SetBitmapImages(9999, Qt::white, 0, {}), CHoverButton::kLoadFailed);
    EXPECT_TRUE(button.ImageSize(0).isEmpty());
}

TEST_F(HoverButtonTest, GreyCopyShowsUntilHovered)
{
    ASSERT_EQ(button.SetIconImages(kIconBrowse, CHoverButton::kGreyCopy), CHoverButton::kOk);
    auto colouredPixels = [](const QImage& image) {
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c.red() != c.green() || c.green() != c.blue())
                    ++count;
            }
        return count;
    };
    const QColor face = Face();
    ASSERT_TRUE(face.red() == face.green() && face.green() == face.blue());
    const QImage rest = Render(&button);
    EXPECT_EQ(colouredPixels(rest), 0);
    EXPECT_FALSE(InkBox(rest, face, rest.rect()).isEmpty());
    SendEnter(&button, QPoint(5, 5));
    EXPECT_GT(colouredPixels(Render(&button)), 0);

    const QImage grey = CHoverButton::GreyCopy(QImage(QSize(1, 1), QImage::Format_ARGB32));
    EXPECT_EQ(grey.size(), QSize(1, 1));
    QImage one(1, 1, QImage::Format_ARGB32);
    one.setPixel(0, 0, qRgba(100, 200, 50, 128));
    const QRgb g = CHoverButton::GreyCopy(one).pixel(0, 0);
    const int level = static_cast<int>(0.299 * 100 + 0.587 * 200 + 0.114 * 50);
    EXPECT_EQ(qRed(g), level);
    EXPECT_EQ(qBlue(g), level);
    EXPECT_EQ(qAlpha(g), 128);
}

TEST_F(HoverButtonTest, BitmapPixelsOfTheTransparentColourShowTheFace)
{
    QImage bitmap(10, 10, QImage::Format_RGB32);
    bitmap.fill(Qt::magenta);
    bitmap.setPixel(5, 5, qRgb(0, 0, 255));
    ASSERT_EQ(button.SetBitmapImages(bitmap, Qt::magenta), CHoverButton::kOk);
    const QImage drawn = Render(&button);
    const QRect ink = InkBox(drawn, Face(), drawn.rect());
    EXPECT_EQ(ink,
              QRect((kButtonSize.width() - 10) / 2 + 5, (kButtonSize.height() - 10) / 2 + 5, 1, 1));
}

TEST_F(HoverButtonTest, CheckBoxModeTogglesAndDrawsPressed)
{
    button.SetCheckBoxMode(true);
    EXPECT_EQ(button.GetCheckState(), 0);
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(button.GetCheckState(), 1);
    const QImage checked = Render(&button);
    EXPECT_TRUE(
        RingIs(checked, SystemColour(SysColour::BtnShadow), SystemColour(SysColour::BtnHighlight)));
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(button.GetCheckState(), 0);

    button.SetCheckBoxMode(false);
    button.SetCheckState(true);
    EXPECT_EQ(button.GetCheckState(), 0);
}

class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void Open(const QUrl& url) { opened.append(url); }
};

class MenuOwner : public QObject
{
    Q_OBJECT
public:
    QList<int> commands;
    Q_INVOKABLE void OnMenuCommand(int command) { commands.append(command); }
};

TEST_F(HoverButtonTest, ClickOpensTheWebAddress)
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("tapeway-test"), &catcher, "Open");
    button.SetWebAddress(QStringLiteral("tapeway-test://example/page"));
    QTest::mouseClick(&button, Qt::LeftButton);
    QDesktopServices::unsetUrlHandler(QStringLiteral("tapeway-test"));
    ASSERT_EQ(catcher.opened.size(), 1);
    EXPECT_EQ(catcher.opened.at(0).toString(), QStringLiteral("tapeway-test://example/page"));

    button.SetWebAddress(QString(300, QLatin1Char('x')));
    EXPECT_EQ(button.WebAddress().size(), 259);
}

TEST_F(HoverButtonTest, DropMenuShowsAndPostsTheChosenCommand)
{
    MenuOwner owner;
    EXPECT_EQ(button.SetDropMenu(9999, &owner), CHoverButton::kLoadFailed);
    EXPECT_EQ(button.DropMenu(), nullptr);
    ASSERT_EQ(button.SetDropMenu(kMenuBrowseDrop, &owner, 0), CHoverButton::kOk);
    ASSERT_NE(button.DropMenu(), nullptr);

    QSignalSpy clicks(&button, &QAbstractButton::clicked);
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_TRUE(button.IsMenuShown());
    QMenu* popup = button.DropMenu()->actions().first()->menu();
    ASSERT_NE(popup, nullptr);
    EXPECT_TRUE(popup->isVisible());
    EXPECT_TRUE(RingIs(Render(&button), SystemColour(SysColour::BtnShadow),
                       SystemColour(SysColour::BtnHighlight)));

    QAction* add = popup->actions().first();
    ASSERT_EQ(add->data().toInt(), 32801);
    add->trigger();
    popup->hide();
    EXPECT_FALSE(button.IsMenuShown());
    EXPECT_TRUE(owner.commands.isEmpty()); // posted, not sent
    EXPECT_TRUE(QTest::qWaitFor([&owner] { return !owner.commands.isEmpty(); }, 10000));
    EXPECT_EQ(owner.commands, QList<int>{32801});
    CImageMenu::SetDrawStyle(0);
}

#include "test_hover_button.moc"
