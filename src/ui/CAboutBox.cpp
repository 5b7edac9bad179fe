// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/CAboutBox.h"

#include "resources/StringTable.h"
#include "ui/DialogUnits.h"
#include "ui/UiResources.h"

#include <QLabel>
#include <QPushButton>
#include <algorithm>

namespace {

constexpr int kChineseCaptionId = 126;
constexpr int kEnglishCaptionId = 127;
constexpr int kChineseOkId = 130;
constexpr int kEnglishOkId = 131;
constexpr int kFontPointSize = 9;

// The box's own sentences: Chinese, English.
constexpr const char* kDescription[2] = {
    "在本机与数控车床的控制器之间经 RS-232 串口传送数控加工程序。",
    "Moves CNC part programs between this computer and a CNC lathe controller over RS-232."};
constexpr const char* kLicence[2] = {
    "自由软件：依据 GNU 通用公共许可证第 3 版或（由您选择）任何更新的版本发布，不附任何担保。",
    "Free software under the GNU General Public License, version 3 or (at your option) any "
    "later version, with no warranty of any kind."};
// Who answers for it: the project, and where it lives when the build names it.
constexpr const char* kMaintainers[2] = {"TAPEWAY 维护者", "TAPEWAY maintainers"};
constexpr const char* kHomepage = TAPEWAY_HOMEPAGE_TEXT;

QLabel* AddStatic(QWidget* parent, const QString& name, const QString& text, const QRect& du)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    // Shown as it stands: no mnemonics, no rich text.
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(DialogUnitsToPixels(du, parent->font()));
    return label;
}

} // namespace

CAboutBox::CAboutBox(QWidget* parent) : QDialog(parent)
{
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setModal(true);
    setFont(DialogFont({QStringLiteral("宋体"), QStringLiteral("SimSun")}, kFontPointSize));
    setFixedSize(DialogUnitsToPixels(QSize(235, 122), font()));
    setWindowTitle(QStringLiteral("关于 TAPEWAY"));
    const QIcon icon = ProgramIcon();
    setWindowIcon(icon);

    m_icon = new QLabel(this);
    m_icon->setObjectName(QStringLiteral("icon"));
    const QRect iconRect = DialogUnitsToPixels(QRect(11, 17, 20, 20), font());
    const int side = std::min(iconRect.width(), iconRect.height());
    m_icon->setGeometry(QRect(iconRect.topLeft(), QSize(side, side)));
    m_icon->setPixmap(icon.pixmap(QSize(side, side)));

    m_product = AddStatic(this, QStringLiteral("product"), ProductLine(), QRect(42, 19, 162, 8));
    m_description =
        AddStatic(this, QString::number(kDescriptionId), QString(), QRect(41, 37, 181, 23));
    m_description->setWordWrap(true);
    m_licence = AddStatic(this, QStringLiteral("licence"), QString(), QRect(41, 63, 181, 32));
    m_licence->setWordWrap(true);
    m_maintainers =
        AddStatic(this, QStringLiteral("maintainers"), QString(), QRect(41, 97, 134, 20));
    m_maintainers->setWordWrap(true);

    m_ok = new QPushButton(QStringLiteral("确定"), this);
    m_ok->setObjectName(QString::number(kOkButtonId));
    m_ok->setGeometry(DialogUnitsToPixels(QRect(178, 101, 50, 14), font()));
    m_ok->setDefault(true);
    m_ok->setAutoDefault(true);
    m_ok->setFocus();
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);

    ApplyLanguage();
}

QString CAboutBox::ProductLine()
{
    return QStringLiteral("TAPEWAY 1.2 Build at 2012-03-30");
}

void CAboutBox::SetLanguage(int language)
{
    m_language = language;
    ApplyLanguage();
}

void CAboutBox::ApplyLanguage()
{
    const bool chinese = m_language == tapeway::kChinese;
    // A missing caption string leaves the caption as it is.
    const QString caption = tapeway::LoadString(chinese ? kChineseCaptionId : kEnglishCaptionId);
    if (!caption.isEmpty())
        setWindowTitle(caption);
    m_ok->setText(tapeway::LoadString(chinese ? kChineseOkId : kEnglishOkId));
    m_description->setText(QString::fromUtf8(kDescription[chinese ? 0 : 1]));
    m_licence->setText(QString::fromUtf8(kLicence[chinese ? 0 : 1]));
    m_maintainers->setText(MaintainersLine(m_language));
}

QString CAboutBox::MaintainersLine(int language)
{
    const QString who = QString::fromUtf8(kMaintainers[language == tapeway::kChinese ? 0 : 1]);
    const QString home = QString::fromUtf8(kHomepage);
    return home.isEmpty() ? who : who + u'\n' + home;
}
