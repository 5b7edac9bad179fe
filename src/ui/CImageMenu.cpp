// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/CImageMenu.h"

#include "ui/CImageMenuStyle.h"
#include "ui/CMemoryDC.h"
#include "ui/MenuTemplate.h"
#include "ui/ResourcePaths.h"
#include "ui/SystemColours.h"

#include <QActionEvent>
#include <QActionGroup>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QImage>
#include <QKeyEvent>
#include <QOperatingSystemVersion>
#include <QPaintEvent>
#include <QPainter>
#include <QSettings>
#include <QStyleOption>
#include <algorithm>
#include <functional>
#include <optional>
#include <set>

namespace {

// Which look to use on a themed XP desktop, and on any other.
int g_themedDrawStyle = 1;
int g_classicDrawStyle = 0;
bool g_themedSelectDisabled = false;
bool g_classicSelectDisabled = true;
bool g_threeDImages = true;

std::set<const QMenu*>& Registry()
{
    static std::set<const QMenu*> registry;
    return registry;
}

// Images registered per command id, shared by all menus.
struct SharedImages
{
    QSize size;
    QList<QPixmap> images;
    QList<int> commandIds;
};

SharedImages& Shared()
{
    static SharedImages shared;
    return shared;
}

// Every pixel that is not the face colour goes through `change`; the face
// colour stays transparent.
QPixmap Variant(const QPixmap& image, QSize size, const std::function<QColor(QColor)>& change)
{
    const QColor face = SystemColour(SysColour::BtnFace);
    QImage canvas(size, QImage::Format_RGB32);
    canvas.fill(face);
    {
        QPainter p(&canvas);
        p.drawPixmap(0, 0, image);
    }
    QImage out(size, QImage::Format_ARGB32);
    out.fill(Qt::transparent);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const QColor c = canvas.pixelColor(x, y);
            if (c.rgb() != face.rgb())
                out.setPixelColor(x, y, change(c));
        }
    }
    return QPixmap::fromImage(out);
}

QPixmap FadedVariant(const QPixmap& image, QSize size)
{
    return Variant(image, size, [](QColor c) { return LightenColour(c, 0.3); });
}

QPixmap ShadowVariant(const QPixmap& image, QSize size)
{
    QColor shadow = SystemColour(SysColour::BtnShadow);
    if (!CImageMenu::ThemedXp())
        shadow = LightenColour(shadow, 0.49);
    return Variant(image, size, [shadow](QColor) { return shadow; });
}

// Seven strokes three pixels long, tops at 2, 3, 4, 3, 2, 1, 0.
void DrawCheckMark(QPainter* painter, QPoint at, const QColor& colour)
{
    static constexpr int kTops[7] = {2, 3, 4, 3, 2, 1, 0};
    for (int x = 0; x < 7; ++x)
        painter->fillRect(at.x() + x, at.y() + kTops[x], 1, 3, colour);
}

void DrawBullet(QPainter* painter, QPoint at, const QColor& colour)
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setPen(Qt::NoPen);
    painter->setBrush(colour);
    painter->drawEllipse(QRect(at, QSize(6, 6)));
    painter->restore();
}

// An etched line: a shaded pixel row with a lit row below it.
void DrawEtchedLine(QPainter* painter, int left, int right, int y)
{
    if (right <= left)
        return;
    painter->fillRect(left, y, right - left, 1, SystemColour(SysColour::BtnShadow));
    painter->fillRect(left, y + 1, right - left, 1, SystemColour(SysColour::BtnHighlight));
}

void FrameRect(QPainter* painter, const QRect& r, const QColor& colour)
{
    Draw3dRect(painter, r, colour, colour);
}

// The mnemonic character of a text: the one after a single "&" ("&&" is a
// literal ampersand), or a null character.
QChar MnemonicOf(const QString& text)
{
    for (int i = 0; i + 1 < text.size(); ++i) {
        if (text.at(i) != u'&')
            continue;
        if (text.at(i + 1) == u'&') {
            ++i;
            continue;
        }
        return text.at(i + 1);
    }
    return {};
}

} // namespace

CImageMenu::CImageMenu(QWidget* parent) : QMenu(parent)
{
    Registry().insert(this);
    setStyle(CImageMenuStyle::Instance());
}

CImageMenu::~CImageMenu()
{
    ReleaseMenu();
    Registry().erase(this);
}

bool CImageMenu::IsOwnMenu(const QMenu* menu)
{
    return menu != nullptr && Registry().count(menu) != 0;
}

void CImageMenu::ReleaseMenu()
{
    // Records first, so that removing the actions finds nothing to update.
    m_items.clear();
    clear();
    for (CImageMenu* sub : m_subMenus)
        delete sub;
    m_subMenus.clear();
    if (!m_checkImagesShared)
        m_checkImages.reset();
    m_loadedFromResource = false;
}

bool CImageMenu::LoadFromResource(int menuId)
{
    return LoadFromFile(ResourcePath(menuId));
}

bool CImageMenu::LoadFromFile(const QString& path)
{
    const std::optional<MenuTemplate> menu = MenuTemplate::FromFile(path);
    if (!menu)
        return false;
    ReleaseMenu();
    BuildLevel(menu->Items());
    AlignAccelerators();
    // Only the popups are drawn by this class; the top level stays plain.
    for (auto& item : m_items)
        item->flags &= ~kItemOwnerDraw;
    m_loadedFromResource = true;
    return true;
}

void CImageMenu::BuildLevel(const std::vector<MenuTemplateItem>& items)
{
    for (const MenuTemplateItem& source : items) {
        switch (source.kind) {
        case MenuTemplateItem::Kind::Popup: {
            auto* sub = new CImageMenu(this);
            sub->m_checkImages = m_checkImages;
            sub->m_checkImagesShared = true;
            sub->m_selectedCheckImage = m_selectedCheckImage;
            sub->m_unselectedCheckImage = m_unselectedCheckImage;
            sub->m_imageWidth = m_imageWidth;
            sub->m_imageHeight = m_imageHeight;
            sub->setTitle(source.text);
            m_subMenus.push_back(sub);
            QAction* action = addMenu(sub);
            if (Item* record = RecordOf(action))
                record->flags = kItemPopup | kItemOwnerDraw;
            sub->BuildLevel(source.children);
            sub->AlignAccelerators();
            break;
        }
        case MenuTemplateItem::Kind::Separator: {
            QAction* action = addSeparator();
            if (Item* record = RecordOf(action))
                record->flags = kItemSeparator | kItemOwnerDraw;
            break;
        }
        case MenuTemplateItem::Kind::Command: {
            auto* action = new QAction(source.text, this);
            action->setData(source.commandId);
            if (source.checked) {
                action->setCheckable(true);
                action->setChecked(true);
            }
            action->setEnabled(!source.grayed);
            addAction(action);
            if (Item* record = RecordOf(action)) {
                record->commandId = source.commandId;
                record->flags = kItemString | kItemOwnerDraw;
                if (source.grayed)
                    record->flags |= kItemGrayed;
                if (source.radio)
                    record->flags |= kItemRadio;
            }
            break;
        }
        }
    }
}

void CImageMenu::AlignAccelerators()
{
    const QFontMetrics fm(SystemMenuFont());
    int widest = 0;
    for (const auto& item : m_items) {
        if (item->flags & kItemSeparator)
            continue;
        const QString before = item->text.section(QLatin1Char('\t'), 0, 0);
        widest = std::max(widest, fm.horizontalAdvance(before + QLatin1Char(' ')));
    }
    for (auto& item : m_items) {
        const int tab = item->text.indexOf(QLatin1Char('\t'));
        if (tab < 0)
            continue;
        QString before = item->text.left(tab);
        const QString after = item->text.mid(tab);
        while (fm.horizontalAdvance(before) < widest)
            before += QLatin1Char(' ');
        item->text = before + after;
        const QSignalBlocker block(item->action);
        item->action->setText(item->text);
    }
}

void CImageMenu::actionEvent(QActionEvent* event)
{
    QMenu::actionEvent(event);
    QAction* action = event->action();
    if (event->type() == QEvent::ActionAdded) {
        if (RecordOf(action) != nullptr)
            return;
        auto record = std::make_unique<Item>();
        record->action = action;
        record->text = action->menu() ? action->menu()->title() : action->text();
        record->commandId = action->data().toInt();
        record->flags = kItemOwnerDraw | (action->isSeparator() ? kItemSeparator : 0u) |
                        (action->menu() ? kItemPopup : 0u) |
                        (action->isEnabled() ? 0u : kItemGrayed);
        // Keep menu order.
        const QList<QAction*> all = actions();
        const qsizetype position = all.indexOf(action);
        auto where = m_items.begin();
        for (; where != m_items.end(); ++where) {
            if (all.indexOf((*where)->action) > position)
                break;
        }
        m_items.insert(where, std::move(record));
    } else if (event->type() == QEvent::ActionRemoved) {
        std::erase_if(m_items, [action](const auto& item) { return item->action == action; });
    } else if (event->type() == QEvent::ActionChanged) {
        if (Item* record = RecordOf(action)) {
            const QString text = action->menu() ? action->menu()->title() : action->text();
            if (text != record->text)
                record->text = text;
        }
    }
}

CImageMenu::Item* CImageMenu::RecordOf(const QAction* action)
{
    for (auto& item : m_items) {
        if (item->action == action)
            return item.get();
    }
    return nullptr;
}

const CImageMenu::Item* CImageMenu::FindItem(const QAction* action) const
{
    return const_cast<CImageMenu*>(this)->RecordOf(action);
}

int CImageMenu::FindMnemonic(QChar ch, unsigned /*flags*/, const QMenu* menu)
{
    const auto* own = qobject_cast<const CImageMenu*>(menu);
    if (own == nullptr || !IsOwnMenu(menu))
        return 0;
    const QChar wanted = ch.toLower();
    for (int position = 0; position < static_cast<int>(own->m_items.size()); ++position) {
        const QChar mnemonic = MnemonicOf(own->m_items[position]->text);
        if (!mnemonic.isNull() && mnemonic.toLower() == wanted)
            return position | (2 << 16);
    }
    return 0;
}

void CImageMenu::keyPressEvent(QKeyEvent* event)
{
    const QString text = event->text();
    if (text.size() == 1 && text.at(0).isPrint() &&
        !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        const int answer = FindMnemonic(text.at(0), 0, this);
        if (answer != 0) {
            QAction* action = m_items[answer & 0xFFFF]->action;
            if (action->isEnabled()) {
                // Select the item and run it as Return would.
                setActiveAction(action);
                QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
                QMenu::keyPressEvent(&enter);
            }
            return;
        }
    }
    QMenu::keyPressEvent(event);
}

// ---- process-wide look -----------------------------------------------------

void CImageMenu::SetDrawStyle(int style)
{
    g_themedDrawStyle = style;
    g_classicDrawStyle = style;
}

int CImageMenu::GenerationOf(bool ntFamily, int major, int minor)
{
    if (!ntFamily) {
        if (major < 4)
            return 0;
        if (major == 4 && minor == 10)
            return 3;
        if (major == 4 && minor == 90)
            return 4;
        if (major == 4)
            return 2;
        return 1;
    }
    if (major == 4)
        return 5;
    if (major == 5 && minor == 0)
        return 6;
    if (major == 5 && minor == 1)
        return 7;
    return 1;
}

int CImageMenu::SystemGeneration()
{
    static const int generation = [] {
#ifdef Q_OS_WIN
        const QOperatingSystemVersion v = QOperatingSystemVersion::current();
        return GenerationOf(true, v.majorVersion(), v.minorVersion());
#else
        return 1;
#endif
    }();
    return generation;
}

bool CImageMenu::ClassicTheme()
{
    static const bool classic = [] {
#ifdef Q_OS_WIN
        const QSettings key(
            QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Plus!\\Themes\\Current"),
            QSettings::NativeFormat);
        // The key's default value, at most 259 characters.
        const QString value = key.value(QStringLiteral("Default")).toString().left(259);
        return value.endsWith(QStringLiteral("Windows Classic.theme"), Qt::CaseInsensitive);
#else
        return false;
#endif
    }();
    return classic;
}

bool CImageMenu::ThemedXp()
{
    return SystemGeneration() == 7 && !ClassicTheme();
}

int CImageMenu::EffectiveDrawStyle()
{
    return ThemedXp() ? g_themedDrawStyle : g_classicDrawStyle;
}

bool CImageMenu::EffectiveSelectDisabled()
{
    return ThemedXp() ? g_themedSelectDisabled : g_classicSelectDisabled;
}

void CImageMenu::SetSelectDisabled(bool allowed)
{
    g_themedSelectDisabled = allowed;
    g_classicSelectDisabled = allowed;
}

bool CImageMenu::UseThemedLook()
{
    return EffectiveDrawStyle() == 1;
}

void CImageMenu::SetThreeDImages(bool on)
{
    g_threeDImages = on;
}

bool CImageMenu::ThreeDImages()
{
    return g_threeDImages;
}

// ---- images ------------------------------------------------------------------

void CImageMenu::SetImageSize(int width, int height)
{
    m_imageWidth = std::max(1, width);
    m_imageHeight = std::max(1, height);
}

void CImageMenu::SetBitmapBackground(const QColor& colour)
{
    m_bitmapBackground = colour;
    m_bitmapBackgroundSet = true;
}

void CImageMenu::SetCheckImages(const QPixmap& unchecked, const QPixmap& checked)
{
    if (m_checkImagesShared || !m_checkImages)
        m_checkImages = std::make_shared<QList<QPixmap>>();
    m_checkImagesShared = false;
    *m_checkImages = {unchecked, checked};
    m_unselectedCheckImage = 0;
    m_selectedCheckImage = 1;
}

int CImageMenu::AddSharedImage(int commandId, const QPixmap& image)
{
    SharedImages& shared = Shared();
    if (!shared.size.isValid() || shared.size.isEmpty())
        shared.size = QSize(m_imageWidth, m_imageHeight);
    const QPixmap icon = image.scaled(shared.size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const bool variants = UseThemedLook() && g_threeDImages;
    const qsizetype at = shared.commandIds.indexOf(commandId);
    if (at >= 0) {
        shared.images[at] = icon;
        if (variants && at + 2 < shared.commandIds.size() &&
            shared.commandIds[at + 1] == commandId && shared.commandIds[at + 2] == commandId) {
            shared.images[at + 1] = FadedVariant(icon, shared.size);
            shared.images[at + 2] = ShadowVariant(icon, shared.size);
        }
        return static_cast<int>(at);
    }
    const int index = static_cast<int>(shared.images.size());
    shared.images.append(icon);
    shared.commandIds.append(commandId);
    if (variants) {
        shared.images.append(FadedVariant(icon, shared.size));
        shared.commandIds.append(commandId);
        shared.images.append(ShadowVariant(icon, shared.size));
        shared.commandIds.append(commandId);
    }
    return index;
}

int CImageMenu::SharedImageCount()
{
    return static_cast<int>(Shared().images.size());
}

bool CImageMenu::SetItemImage(int commandId, const QPixmap& image)
{
    bool found = false;
    for (auto& item : m_items) {
        if (!(item->flags & (kItemPopup | kItemSeparator)) && item->commandId == commandId) {
            item->sharedImageIndex = AddSharedImage(commandId, image);
            found = true;
        }
    }
    for (CImageMenu* sub : m_subMenus)
        found = sub->SetItemImage(commandId, image) || found;
    return found;
}

QPixmap CImageMenu::MaskedImage(const QImage& image) const
{
    const QColor transparent =
        m_bitmapBackgroundSet ? m_bitmapBackground : SystemColour(SysColour::BtnFace);
    QImage out = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = transparent.rgb() & 0xFFFFFF;
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            if ((line[x] & 0xFFFFFF) == key)
                line[x] = 0;
        }
    }
    return QPixmap::fromImage(out);
}

bool CImageMenu::LoadToolbarImages(int toolbarId)
{
    return LoadToolbarImagesFromFile(ResourcePath(toolbarId));
}

// A toolbar file: "BITMAP <path>", "SIZE <width> <height>" and
// "BUTTONS <id> <id> ..." lines; id 0 is a separator and has no image.
bool CImageMenu::LoadToolbarImagesFromFile(const QString& path)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return false;
    QString bitmapPath;
    QSize buttonSize(16, 15);
    QList<int> buttons;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const QStringList words = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.isEmpty() || words.at(0).startsWith(QLatin1Char('#')))
            continue;
        const QString keyword = words.at(0).toUpper();
        if (keyword == QLatin1String("BITMAP") && words.size() == 2) {
            bitmapPath = words.at(1);
            if (QFileInfo(bitmapPath).isRelative() && !bitmapPath.startsWith(QLatin1Char(':')))
                bitmapPath = QFileInfo(path).dir().filePath(bitmapPath);
        } else if (keyword == QLatin1String("SIZE") && words.size() == 3) {
            buttonSize = QSize(words.at(1).toInt(), words.at(2).toInt());
        } else if (keyword == QLatin1String("BUTTONS")) {
            for (qsizetype i = 1; i < words.size(); ++i)
                buttons.append(words.at(i).toInt());
        }
    }
    const QImage bitmap(bitmapPath);
    if (bitmap.isNull() || buttonSize.width() <= 0 || buttonSize.height() <= 0)
        return false;
    if (buttonSize.width() > m_imageWidth || buttonSize.height() > m_imageHeight)
        SetImageSize(std::max(m_imageWidth, buttonSize.width()),
                     std::max(m_imageHeight, buttonSize.height()));
    int slot = 0;
    for (int id : buttons) {
        if (id == 0)
            continue;
        const QImage cut =
            bitmap.copy(slot * buttonSize.width(), 0, buttonSize.width(), buttonSize.height());
        ++slot;
        SetItemImage(id, MaskedImage(cut));
    }
    return true;
}

CImageMenu::ItemImages CImageMenu::ImagesOf(const Item& item) const
{
    ItemImages images;
    if (!item.ownImages.isEmpty()) {
        images.image = item.ownImages.at(0);
        if (g_threeDImages && item.ownImages.size() > 2) {
            images.faded = item.ownImages.at(1);
            images.shadow = item.ownImages.at(2);
            images.variants = true;
        }
        return images;
    }
    const SharedImages& shared = Shared();
    const qsizetype at = shared.commandIds.indexOf(item.commandId);
    if (item.commandId == 0 || at < 0)
        return images;
    images.image = shared.images.at(at);
    if (g_threeDImages && at + 2 < shared.commandIds.size() &&
        shared.commandIds.at(at + 1) == item.commandId &&
        shared.commandIds.at(at + 2) == item.commandId) {
        images.faded = shared.images.at(at + 1);
        images.shadow = shared.images.at(at + 2);
        images.variants = true;
    }
    return images;
}

QPixmap CImageMenu::DisabledImage(const QPixmap& image, const QColor& background) const
{
    const QSize size(m_imageWidth, m_imageHeight);
    const QColor face = SystemColour(SysColour::BtnFace);
    const QColor lit = SystemColour(SysColour::BtnHighlight);
    QImage canvas(size, QImage::Format_RGB32);
    canvas.fill(face);
    {
        QPainter p(&canvas);
        p.drawPixmap(0, 0, image);
    }
    QImage out(size, QImage::Format_RGB32);
    out.fill(background);
    auto inShape = [&](int x, int y) {
        const QRgb c = canvas.pixel(x, y) & 0xFFFFFF;
        if (m_alternativeDisabled)
            return c != 0xFFFFFF;
        return c != (face.rgb() & 0xFFFFFF) && c != (lit.rgb() & 0xFFFFFF);
    };
    const QColor shadow = SystemColour(SysColour::BtnShadow);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            if (inShape(x, y) && x + 1 < size.width() && y + 1 < size.height())
                out.setPixelColor(x + 1, y + 1, lit);
        }
    }
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            if (inShape(x, y))
                out.setPixelColor(x, y, shadow);
        }
    }
    return QPixmap::fromImage(out);
}

// ---- measuring and drawing -----------------------------------------------------

QSize CImageMenu::MeasureItem(const QAction* action) const
{
    const Item* item = FindItem(action);
    const QString text = item ? item->text : action->text();
    return MeasureItem(text, action->isSeparator());
}

QSize CImageMenu::MeasureItem(const QString& text, bool separator) const
{
    const bool themed = UseThemedLook();
    const int extra = themed && g_threeDImages ? 7 : 4;
    if (separator)
        return QSize(0, std::max(SystemMenuHeight() >> 1, (m_imageHeight + extra) / 2));

    const int generation = SystemGeneration();
    // Before generation 2 the text is measured in the plain application font.
    const QFontMetrics fm(generation >= 2 ? SystemMenuFont() : QApplication::font());
    QString measured = text;
    measured.replace(QLatin1Char('\t'), QLatin1Char(' '));
    int width = fm.horizontalAdvance(measured);
    if (generation == 0 && !measured.isEmpty()) {
        width += 3;
        width += 3 * (width / static_cast<int>(measured.size()));
    }
    width += themed ? m_imageWidth + extra + 8 : 2 * m_imageWidth + 1;
    const int height = std::max(SystemMenuHeight(), m_imageHeight + extra);
    return QSize(width, height);
}

void CImageMenu::paintEvent(QPaintEvent* event)
{
    const bool ownerDrawn = std::any_of(m_items.begin(), m_items.end(), [](const auto& item) {
        return (item->flags & kItemOwnerDraw) != 0;
    });
    if (!ownerDrawn) {
        QMenu::paintEvent(event);
        return;
    }
    QPainter p(this);
    const QColor background = UseThemedLook() ? SystemColour(SysColour::Window)
                              : ThemedXp()    ? SystemColour(SysColour::BtnFace)
                                              : SystemColour(SysColour::Menu);
    p.fillRect(rect(), background);
    QStyleOptionFrame frame;
    frame.initFrom(this);
    frame.lineWidth = style()->pixelMetric(QStyle::PM_MenuPanelWidth, nullptr, this);
    style()->drawPrimitive(QStyle::PE_FrameMenu, &frame, &p, this);
    p.setFont(SystemMenuFont());
    for (QAction* action : actions()) {
        if (!action->isVisible())
            continue;
        const QRect r = actionGeometry(action);
        if (!r.isValid() || !event->rect().intersects(r))
            continue;
        DrawItem(&p, r, action, action == activeAction());
        if (action->menu()) {
            QStyleOption arrow;
            arrow.initFrom(this);
            arrow.rect = QRect(r.right() - 12, r.top(), 10, r.height());
            style()->drawPrimitive(QStyle::PE_IndicatorArrowRight, &arrow, &p, this);
        }
    }
}

void CImageMenu::DrawItem(QPainter* painter, const QRect& rect, const QAction* action,
                          bool selected)
{
    if (painter == nullptr || action == nullptr || !rect.isValid())
        return;
    const Item* item = FindItem(action);
    painter->save();
    painter->setBackgroundMode(Qt::TransparentMode);
    if (UseThemedLook())
        DrawThemed(painter, rect, action, item, selected);
    else
        DrawClassic(painter, rect, action, item, selected);
    painter->restore();
}

void CImageMenu::DrawItemText(QPainter* painter, const QRect& textRect, int acceleratorRight,
                              const QString& text, const QColor& colour)
{
    painter->setPen(colour);
    const int firstTab = text.indexOf(QLatin1Char('\t'));
    const int lastTab = text.lastIndexOf(QLatin1Char('\t'));
    const QString label = firstTab >= 0 ? text.left(firstTab) : text;
    const int flags = Qt::TextSingleLine | Qt::AlignVCenter | Qt::TextShowMnemonic;
    painter->drawText(textRect, flags | Qt::AlignLeft, label);
    if (lastTab >= 0) {
        QRect accelerator = textRect;
        accelerator.setRight(acceleratorRight);
        painter->drawText(accelerator, flags | Qt::AlignRight, text.mid(lastTab + 1));
    }
}

void CImageMenu::DrawThemed(QPainter* target, const QRect& r, const QAction* action,
                            const Item* item, bool selected)
{
    const bool themedXp = ThemedXp();
    const int extra = g_threeDImages ? 7 : 4;
    const int column = m_imageWidth + extra;
    QColor margin = SystemColour(SysColour::BtnFace);
    if (!themedXp)
        margin = LightenColour(margin, 0.25);
    const QColor window = SystemColour(SysColour::Window);
    const QColor highlight = SystemColour(SysColour::Highlight);
    const bool grayed = !action->isEnabled();
    const bool checked = action->isChecked();

    // A grayed item that may not show the selection is drawn off screen.
    std::optional<CMemoryDC> memory;
    QPainter* p = target;
    if (grayed && !EffectiveSelectDisabled()) {
        selected = false;
        memory.emplace(target, r);
        p = memory->Surface();
        p->setFont(SystemMenuFont());
    }

    const QRect columnRect(r.left(), r.top(), column, r.height());
    if (action->isSeparator()) {
        p->fillRect(r, window);
        p->fillRect(columnRect, margin);
        DrawEtchedLine(p, r.left() + column + extra, r.left() + r.width(),
                       r.top() + r.height() / 2);
        return;
    }

    const QColor selectionFill = LightenColour(highlight, themedXp ? 0.7 : 0.85);
    if (!selected) {
        p->fillRect(r, window);
        p->fillRect(columnRect, margin);
        FrameRect(p, r, window);
        FrameRect(p, columnRect, margin);
    } else {
        p->fillRect(r, selectionFill);
        FrameRect(p, r, highlight);
    }

    const ItemImages images = item ? ImagesOf(*item) : ItemImages{};
    const bool hasImage = !images.image.isNull();
    const int dx = std::max(0, (column - m_imageWidth + 1) / 2);
    const int dy = std::max(0, (r.height() - m_imageHeight + 1) / 2);
    const QPoint place(r.left() + dx, r.top() + dy);
    const QRect cell(QPoint(r.left() + 1, r.top() + 1),
                     QPoint(r.left() + column - 2, r.top() + r.height() - 2));
    const QPoint upLeft = place - QPoint(1, 1);
    const bool radio = item && (item->flags & kItemRadio);

    if (checked && !hasImage) {
        if (m_checkImages && m_checkImages->size() >= 2) {
            p->fillRect(cell, margin);
            p->drawPixmap(
                place, m_checkImages->at(selected ? m_selectedCheckImage : m_unselectedCheckImage));
        } else {
            const QRect box(r.left() + std::max(0, (column - 16 + 1) / 2),
                            r.top() + std::max(0, (r.height() - 16 + 1) / 2), 16, 16);
            p->fillRect(box, LightenColour(highlight, 0.85));
            FrameRect(p, box, highlight);
            const QColor mark = SystemColour(SysColour::MenuText);
            if (radio)
                DrawBullet(p, box.topLeft() + QPoint(5, 4), mark);
            else
                DrawCheckMark(p, box.topLeft() + QPoint(5, 4), mark);
        }
    } else if (hasImage && grayed) {
        const QColor under = selected ? selectionFill : margin;
        p->drawPixmap(place, DisabledImage(images.image, under));
    } else if (hasImage && selected) {
        p->fillRect(cell, selectionFill);
        if (checked) {
            FrameRect(p, cell, highlight);
            p->drawPixmap(upLeft, images.image);
        } else if (images.variants) {
            p->drawPixmap(place + QPoint(1, 1), images.shadow);
            p->drawPixmap(upLeft, images.image);
        } else {
            p->drawPixmap(place, images.image);
        }
    } else if (hasImage) {
        if (checked) {
            p->fillRect(cell, LightenColour(highlight, 0.85));
            FrameRect(p, cell, highlight);
            p->drawPixmap(upLeft, images.image);
        } else {
            p->fillRect(cell, margin);
            FrameRect(p, cell, margin);
            p->drawPixmap(place, images.variants ? images.faded : images.image);
        }
    }

    QColor textColour = SystemColour(SysColour::MenuText);
    if (grayed) {
        textColour = SystemColour(SysColour::GrayText);
        if (!themedXp && !selected)
            textColour = LightenColour(textColour, 0.4);
    }
    const int textLeft = r.left() + column + 8;
    const QRect textRect(textLeft, r.top(), r.left() + r.width() - textLeft, r.height());
    const QString text = item ? item->text : action->text();
    DrawItemText(p, textRect, r.left() + r.width() - m_imageWidth - 1, text, textColour);
}

void CImageMenu::DrawClassic(QPainter* p, const QRect& r, const QAction* action, const Item* item,
                             bool selected)
{
    const int generation = SystemGeneration();
    const QColor background =
        ThemedXp() ? SystemColour(SysColour::BtnFace) : SystemColour(SysColour::Menu);
    const bool grayed = !action->isEnabled();
    const bool checked = action->isChecked();
    if (grayed && selected && !EffectiveSelectDisabled())
        selected = false;

    if (action->isSeparator()) {
        p->fillRect(r, background);
        DrawEtchedLine(p, r.left(), r.left() + r.width(), r.top() + r.height() / 2);
        return;
    }

    const ItemImages images = item ? ImagesOf(*item) : ItemImages{};
    const bool hasImage = !images.image.isNull();
    const int dy = std::max(0, (r.height() - m_imageHeight - 4) / 2);
    QColor textColour = SystemColour(SysColour::MenuText);
    if (!selected) {
        p->fillRect(r, background);
        FrameRect(p, r, background);
    } else {
        QRect bar = r;
        if (hasImage || checked)
            bar.setLeft(r.left() + m_imageWidth + 5);
        p->fillRect(bar, SystemColour(SysColour::Highlight));
        textColour = SystemColour(SysColour::HighlightText);
    }

    const QColor lit = SystemColour(SysColour::BtnHighlight);
    const QColor shade = SystemColour(SysColour::BtnShadow);
    const QRect box(r.left(), r.top() + dy, m_imageWidth + 4, m_imageHeight + 4);
    const QPoint place(r.left() + 2, r.top() + dy + 2);
    const bool radio = item && (item->flags & kItemRadio);
    if (hasImage) {
        if (grayed) {
            FrameRect(p, box, background);
            p->drawPixmap(place, DisabledImage(images.image, background));
        } else {
            if (selected) {
                if (generation >= 2) {
                    if (checked)
                        Draw3dRect(p, box, shade, lit);
                    else
                        Draw3dRect(p, box, lit, shade);
                }
            } else if (checked) {
                p->fillRect(box, LightenColour(background, 0.6));
                if (generation >= 2)
                    Draw3dRect(p, box, shade, lit);
            } else {
                FrameRect(p, box, background);
            }
            p->drawPixmap(place, images.image);
        }
    } else if (checked) {
        const QRect checkBox(r.left() + 1, r.top() + dy + 2, m_imageWidth, m_imageHeight);
        p->fillRect(checkBox, selected ? background : LightenColour(background, 0.6));
        if (generation >= 2)
            Draw3dRect(p, checkBox, shade, lit);
        const QColor mark = SystemColour(SysColour::MenuText);
        if (radio)
            DrawBullet(p, checkBox.topLeft() + QPoint(5, 4), mark);
        else
            DrawCheckMark(p, checkBox.topLeft() + QPoint(4, 4), mark);
    }

    const int textLeft = r.left() + m_imageWidth + 9;
    const QRect textRect(textLeft, r.top(), r.left() + r.width() - textLeft, r.height());
    const int acceleratorRight = r.left() + r.width() - m_imageWidth - 1;
    const QString text = item ? item->text : action->text();
    if (grayed && !selected) {
        DrawItemText(p, textRect.translated(1, 1), acceleratorRight + 1, text, lit);
        DrawItemText(p, textRect, acceleratorRight, text, SystemColour(SysColour::GrayText));
    } else if (grayed) {
        DrawItemText(p, textRect, acceleratorRight, text, background);
    } else {
        DrawItemText(p, textRect, acceleratorRight, text, textColour);
    }
}
