// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/CAboutBox.h"
#include "ui/DialogUnits.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QPushButton* OkButton(CAboutBox& box)
{
    return box.findChild<QPushButton*>(QStringLiteral("1025"));
}

QString ProductText(CAboutBox& box)
{
    auto* label = box.findChild<QLabel*>(QStringLiteral("product"));
    return label != nullptr ? label->text() : QString();
}

} // namespace

TEST(AboutBoxTest, TextsFollowTheLanguageButTheProductLine)
{
    CAboutBox box;
    QPushButton* ok = OkButton(box);
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(box.GetLanguage(), 0);
    EXPECT_EQ(box.windowTitle(), QStringLiteral("关于 TAPEWAY"));
    EXPECT_EQ(ok->text(), QStringLiteral("确定"));
    const QString chineseProduct = ProductText(box);
    EXPECT_EQ(chineseProduct, QStringLiteral("TAPEWAY 1.2 Build at 2012-03-30"));

    auto* description = box.findChild<QLabel*>(QStringLiteral("1026"));
    auto* licence = box.findChild<QLabel*>(QStringLiteral("licence"));
    EXPECT_TRUE(description->text().startsWith(QStringLiteral("在本机与数控车床")));
    auto* maintainers = box.findChild<QLabel*>(QStringLiteral("maintainers"));
    ASSERT_NE(maintainers, nullptr);
    EXPECT_TRUE(licence->text().contains(QStringLiteral("GNU 通用公共许可证第 3 版")));
    EXPECT_TRUE(maintainers->text().startsWith(QStringLiteral("TAPEWAY 维护者")));

    box.SetLanguage(1);
    EXPECT_EQ(box.windowTitle(), QStringLiteral("Information of TAPEWAY"));
    EXPECT_EQ(ok->text(), QStringLiteral("OK"));
    EXPECT_EQ(ProductText(box), chineseProduct);
    EXPECT_TRUE(description->text().startsWith(QStringLiteral("Moves CNC part programs")));
    EXPECT_TRUE(licence->text().contains(
        QStringLiteral("GNU General Public License, version 3 or (at your option) any later")));
    EXPECT_TRUE(maintainers->text().startsWith(QStringLiteral("TAPEWAY maintainers")));

    box.SetLanguage(0);
    EXPECT_EQ(box.windowTitle(), QStringLiteral("关于 TAPEWAY"));
    EXPECT_EQ(ok->text(), QStringLiteral("确定"));
}

TEST(AboutBoxTest, ShowsTheProgramIconAndItsTextsInsideTheBox)
{
    CAboutBox box;
    box.SetLanguage(1);
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    // The language survives showing the box.
    EXPECT_EQ(box.windowTitle(), QStringLiteral("Information of TAPEWAY"));

    auto* icon = box.findChild<QLabel*>(QStringLiteral("icon"));
    ASSERT_NE(icon, nullptr);
    EXPECT_FALSE(icon->pixmap().isNull()) << "program icon missing from the resources";
    EXPECT_FALSE(box.windowIcon().isNull());

    auto* description = box.findChild<QLabel*>(QStringLiteral("1026"));
    ASSERT_NE(description, nullptr);
    EXPECT_FALSE(description->text().isEmpty());

    // Every control lies inside the box, and the product line is plain text.
    for (QWidget* child : box.findChildren<QWidget*>()) {
        EXPECT_TRUE(box.rect().contains(child->geometry()))
            << child->objectName().toStdString() << " lies outside the box";
    }
    auto* product = box.findChild<QLabel*>(QStringLiteral("product"));
    ASSERT_NE(product, nullptr);
    EXPECT_EQ(product->textFormat(), Qt::PlainText);
}

TEST(AboutBoxTest, OkButtonIsTheDefaultAndClosesTheBox)
{
    CAboutBox box;
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    QPushButton* ok = OkButton(box);
    ASSERT_NE(ok, nullptr);
    EXPECT_TRUE(ok->isDefault());
    QTest::keyClick(&box, Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(!box.isVisible(), 10000);
    EXPECT_EQ(box.result(), QDialog::Accepted);

    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    box.setResult(QDialog::Rejected);
    ok->click();
    QTRY_VERIFY_WITH_TIMEOUT(!box.isVisible(), 10000);
    EXPECT_EQ(box.result(), QDialog::Accepted);
}

TEST(DialogUnitsTest, EdgesScaleWithTheFontAndNeighboursStayTogether)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSize(9);
    const QRect origin = DialogUnitsToPixels(QRect(0, 0, 4, 8), font);
    EXPECT_EQ(origin.topLeft(), QPoint(0, 0));
    EXPECT_GT(origin.width(), 0);
    EXPECT_GT(origin.height(), 0);
    // Four horizontal units are about one average character, eight vertical units one line.
    const QFontMetrics metrics(font);
    EXPECT_NEAR(origin.width(), metrics.averageCharWidth(), 2);
    EXPECT_EQ(origin.height(), metrics.height());

    // Controls that touch in dialog units touch in pixels, whatever the rounding.
    for (int x = 0; x < 40; ++x) {
        const QRect left = DialogUnitsToPixels(QRect(x, x, 7, 5), font);
        const QRect right = DialogUnitsToPixels(QRect(x + 7, x + 5, 3, 3), font);
        EXPECT_EQ(left.right() + 1, right.left()) << x;
        EXPECT_EQ(left.bottom() + 1, right.top()) << x;
    }
    EXPECT_EQ(DialogUnitsToPixels(QSize(235, 122), font),
              DialogUnitsToPixels(QRect(0, 0, 235, 122), font).size());

    QFont bigger = font;
    bigger.setPointSize(18);
    const QSize small = DialogUnitsToPixels(QSize(100, 100), font);
    const QSize large = DialogUnitsToPixels(QSize(100, 100), bigger);
    EXPECT_GT(large.width(), small.width());
    EXPECT_GT(large.height(), small.height());
}

TEST(DialogUnitsTest, DialogFontFallsBackToAnInstalledFaceAtTheGivenSize)
{
    const QFont font = DialogFont({QStringLiteral("No Such Face 12345")}, 11);
    EXPECT_EQ(font.pointSize(), 11);
    EXPECT_NE(font.family(), QStringLiteral("No Such Face 12345"));
    const QFont dejavu = DialogFont({QStringLiteral("DejaVu Sans")}, 9);
    EXPECT_EQ(dejavu.family(), QStringLiteral("DejaVu Sans"));
    EXPECT_EQ(dejavu.pointSize(), 9);
}
