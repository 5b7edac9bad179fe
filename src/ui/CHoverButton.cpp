// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/CHoverButton.h"

#include "resources/StringTable.h"
#include "ui/CImageMenu.h"
#include "ui/ResourcePaths.h"
#include "ui/SystemColours.h"

#include <QApplication>
#include <QDesktopServices>
#include <QEnterEvent>
#include <QFocusEvent>
#include <QImageReader>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>
#include <QUrl>
#include <algorithm>

namespace {

// An image from the program's resources at the size stored with it; a null
// image when the program does not carry the id or it cannot be read.
QImage LoadResourceImage(int id)
{
    const QString path = ResourcePath(id);
    if (path.isEmpty())
        return {};
    QImageReader reader(path);
    return reader.read();
}

// The image with every pixel of the transparent colour made transparent.
QImage Masked(const QImage& image, const QColor& transparent)
{
    QImage out = image.convertToFormat(QImage::Format_ARGB32);
    if (out.isNull())
        return out;
    const QRgb key = transparent.rgb() & 0xFFFFFF;
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            if (qAlpha(line[x]) != 0 && (line[x] & 0xFFFFFF) == key)
                line[x] = 0;
        }
    }
    return out;
}

} // namespace

CHoverButton::CHoverButton(QWidget* parent) : QPushButton(parent)
{
    Init();
}

CHoverButton::CHoverButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent)
{
    Init();
}

CHoverButton::~CHoverButton() = default;

void CHoverButton::Init()
{
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    ResetColours(false);
    // Connected first, so the button acts before anyone else hears the click.
    connect(this, &QAbstractButton::clicked, this, &CHoverButton::OnClicked);
}

void CHoverButton::Repaint(bool repaint)
{
    if (repaint)
        update();
}

// ---- images -------------------------------------------------------------------

void CHoverButton::FreeImages()
{
    m_icons = {};
    m_bitmaps = {};
}

QImage CHoverButton::GreyCopy(const QImage& image)
{
    QImage out = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const QRgb c = line[x];
            if ((c & 0xFFFFFF) == 0)
                continue;
            const int grey =
                static_cast<int>(0.299 * qRed(c) + 0.587 * qGreen(c) + 0.114 * qBlue(c));
            line[x] = qRgba(grey, grey, grey, qAlpha(c));
        }
    }
    return out;
}

int CHoverButton::SetIconImages(int firstId, int secondId)
{
    const QImage first = LoadResourceImage(firstId);
    QImage second;
    if (secondId == kGreyCopy) {
        if (!first.isNull())
            second = GreyCopy(first);
    } else if (secondId != 0) {
        second = LoadResourceImage(secondId);
    }
    return SetIconImages(QPixmap::fromImage(first), QPixmap::fromImage(second));
}

int CHoverButton::SetIconImages(const QPixmap& first, const QPixmap& second)
{
    FreeImages();
    const std::array<const QPixmap*, 2> given{&first, &second};
    for (std::size_t i = 0; i < given.size(); ++i) {
        if (given[i]->isNull())
            continue;
        const QSize size = given[i]->deviceIndependentSize().toSize();
        m_icons[i] = {*given[i], size.width(), size.height()};
    }
    update();
    return kOk;
}

int CHoverButton::SetBitmapImages(int firstId, const QColor& firstTransparent, int secondId,
                                  const QColor& secondTransparent)
{
    const QImage first = LoadResourceImage(firstId);
    const QImage second = secondId != 0 ? LoadResourceImage(secondId) : QImage();
    if (first.isNull() || (secondId != 0 && second.isNull())) {
        FreeImages();
        update();
        return kLoadFailed;
    }
    return SetBitmapImages(first, firstTransparent, second, secondTransparent);
}

int CHoverButton::SetBitmapImages(const QImage& first, const QColor& firstTransparent,
                                  const QImage& second, const QColor& secondTransparent)
{
    FreeImages();
    const std::array<std::pair<const QImage*, QColor>, 2> given{
        std::pair{&first, firstTransparent}, std::pair{&second, secondTransparent}};
    for (std::size_t i = 0; i < given.size(); ++i) {
        const QImage& image = *given[i].first;
        if (image.isNull()) {
            if (i == 0) {
                update();
                return kLoadFailed;
            }
            continue;
        }
        const QImage masked = Masked(image, given[i].second);
        if (masked.isNull()) {
            FreeImages();
            update();
            return kMaskFailed;
        }
        m_bitmaps[i] = {QPixmap::fromImage(masked), image.width(), image.height()};
    }
    update();
    return kOk;
}

QSize CHoverButton::ImageSize(int which) const
{
    if (which < 0 || which > 1)
        return {};
    const Image& image = m_icons[0].pixmap.isNull() ? m_bitmaps[which] : m_icons[which];
    return image.pixmap.isNull() ? QSize() : QSize(image.width, image.height);
}

// ---- settings -------------------------------------------------------------------

int CHoverButton::SetFlatLook(bool flat, bool repaint)
{
    m_flat = flat;
    Repaint(repaint);
    return kOk;
}

int CHoverButton::SetImageAlign(int alignment, bool repaint)
{
    if (alignment < 0 || alignment > 2)
        return kBadAlignment;
    m_imageAlign = alignment;
    Repaint(repaint);
    return kOk;
}

void CHoverButton::SetCheckBoxMode(bool on, bool repaint)
{
    m_checkBoxMode = on;
    Repaint(repaint);
}

int CHoverButton::SetCheckState(bool checked, bool repaint)
{
    if (m_checkBoxMode) {
        m_checkState = checked;
        Repaint(repaint);
    }
    return kOk;
}

int CHoverButton::ResetColours(bool repaint)
{
    const QColor face = SystemColour(SysColour::BtnFace, palette());
    const QColor text = SystemColour(SysColour::BtnText, palette());
    m_colours = {face, text, face, text, face, text};
    Repaint(repaint);
    return kOk;
}

int CHoverButton::SetColour(int index, const QColor& colour, bool repaint)
{
    if (index < 0 || index >= kColourCount)
        return kBadColourIndex;
    m_colours[static_cast<std::size_t>(index)] = colour;
    Repaint(repaint);
    return kOk;
}

QColor CHoverButton::GetColour(int index) const
{
    if (index < 0 || index >= kColourCount)
        return {};
    return m_colours[static_cast<std::size_t>(index)];
}

int CHoverButton::ShadeColour(int index, int shade, bool repaint)
{
    if (index < 0 || index >= kColourCount)
        return kBadColourIndex;
    if (shade < -255 || shade > 255)
        return kBadShade;
    QColor& colour = m_colours[static_cast<std::size_t>(index)];
    const int r = colour.red();
    const int g = colour.green();
    const int b = colour.blue();
    int amount = shade;
    if (amount > 0)
        amount = std::min(amount, 255 - std::max({r, g, b}));
    else if (amount < 0)
        amount = std::max(amount, -std::min({r, g, b}));
    colour = QColor(r + amount, g + amount, b + amount);
    Repaint(repaint);
    return kOk;
}

int CHoverButton::SetTrackWhenInactive(bool track)
{
    m_trackWhenInactive = track;
    return kOk;
}

int CHoverButton::SetCursorImage(int cursorId, bool repaint)
{
    SetCursorImage(std::nullopt);
    if (cursorId != 0) {
        const QImage image = LoadResourceImage(cursorId);
        if (image.isNull())
            return kLoadFailed;
        SetCursorImage(QCursor(QPixmap::fromImage(image)));
    }
    Repaint(repaint);
    return kOk;
}

int CHoverButton::SetCursorImage(const std::optional<QCursor>& cursor)
{
    m_cursor = cursor;
    if (m_cursor)
        setCursor(*m_cursor);
    else
        unsetCursor();
    return kOk;
}

int CHoverButton::SetFlatFrame(bool draw, bool repaint)
{
    m_drawFlatFrame = draw;
    Repaint(repaint);
    return kOk;
}

int CHoverButton::SetFlatFocus(bool draw, bool repaint)
{
    m_flatFocus = draw;
    Repaint(repaint);
    return kOk;
}

int CHoverButton::SetTooltip(const QString& text, bool activate)
{
    if (text.isEmpty())
        return kOk;
    m_tooltipText = text;
    m_tooltipActive = activate;
    setToolTip(activate ? text : QString());
    return kOk;
}

int CHoverButton::SetTooltip(int stringId, bool activate)
{
    return SetTooltip(tapeway::LoadString(stringId), activate);
}

int CHoverButton::EnableTooltip(bool enable)
{
    if (m_tooltipText.isEmpty())
        return kOk;
    m_tooltipActive = enable;
    setToolTip(enable ? m_tooltipText : QString());
    return kOk;
}

int CHoverButton::SetTransparent(bool repaint)
{
    m_transparent = true;
    m_backgroundCopy = QPixmap();
    Repaint(repaint);
    return kOk;
}

int CHoverButton::SetWebAddress(const QString& address)
{
    m_webAddress = address.left(259);
    return kOk;
}

int CHoverButton::SetDropMenu(int menuId, QObject* menuOwner, int drawStyle, int toolbarId,
                              int imageWidth, int imageHeight, const QColor& toolbarTransparent,
                              bool repaint)
{
    m_dropMenu.reset();
    m_menuOwner = nullptr;
    m_menuShown = false;
    int result = kOk;
    if (menuId != 0) {
        CImageMenu::SetDrawStyle(drawStyle);
        auto menu = std::make_unique<CImageMenu>();
        if (!menu->LoadFromResource(menuId)) {
            result = kLoadFailed;
        } else if (toolbarId != 0) {
            menu->SetBitmapBackground(toolbarTransparent);
            menu->SetImageSize(imageWidth, imageHeight);
            if (!menu->LoadToolbarImages(toolbarId))
                result = kLoadFailed;
        }
        if (result == kOk) {
            m_dropMenu = std::move(menu);
            m_menuOwner = menuOwner;
        }
    }
    Repaint(repaint);
    return result;
}

// ---- events ---------------------------------------------------------------------

void CHoverButton::LeaveHover()
{
    if (m_flat && m_hover) {
        m_hover = false;
        update();
    }
}

void CHoverButton::TrackHover(bool leftButtonHeld, bool pointerOverButton)
{
    // A drag that started elsewhere does not light the button.
    if ((leftButtonHeld && !m_hover) || !m_flat)
        return;
    const bool active = m_trackWhenInactive || QApplication::activeWindow() != nullptr;
    if (pointerOverButton && active) {
        if (m_hover)
            return;
        m_hover = true;
        update();
        return;
    }
    LeaveHover();
}

void CHoverButton::enterEvent(QEnterEvent* event)
{
    QPushButton::enterEvent(event);
    const bool held = (QGuiApplication::mouseButtons() & Qt::LeftButton) != 0;
    TrackHover(held, rect().contains(event->position().toPoint()));
}

void CHoverButton::mouseMoveEvent(QMouseEvent* event)
{
    QPushButton::mouseMoveEvent(event);
    const bool held = (event->buttons() & Qt::LeftButton) != 0;
    TrackHover(held, rect().contains(event->position().toPoint()));
}

void CHoverButton::leaveEvent(QEvent* event)
{
    QPushButton::leaveEvent(event);
    LeaveHover();
}

void CHoverButton::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second click of a double click is a press of its own.
    QPushButton::mousePressEvent(event);
}

void CHoverButton::focusOutEvent(QFocusEvent* event)
{
    QPushButton::focusOutEvent(event);
    LeaveHover();
}

void CHoverButton::MoveFocusOn()
{
    // Qt has already handed the focus to the next control in the tab chain
    // when there was one; otherwise the parent takes it.
    if (hasFocus() && parentWidget() != nullptr)
        parentWidget()->setFocus(Qt::TabFocusReason);
}

void CHoverButton::changeEvent(QEvent* event)
{
    QPushButton::changeEvent(event);
    switch (event->type()) {
    case QEvent::EnabledChange:
        if (!isEnabled()) {
            MoveFocusOn();
            LeaveHover();
        }
        break;
    case QEvent::ActivationChange:
        if (!isActiveWindow())
            LeaveHover();
        break;
    case QEvent::PaletteChange:
    case QEvent::StyleChange:
        m_backgroundCopy = QPixmap();
        break;
    default:
        break;
    }
}

void CHoverButton::OnClicked()
{
    setFocus(Qt::MouseFocusReason);
    if (m_checkBoxMode) {
        m_checkState = !m_checkState;
        update();
    } else if (m_dropMenu) {
        ShowDropMenu();
    } else if (!m_webAddress.isEmpty()) {
        QDesktopServices::openUrl(QUrl::fromUserInput(m_webAddress));
    }
}

void CHoverButton::ShowDropMenu()
{
    const QList<QAction*> top = m_dropMenu->actions();
    QMenu* popup = top.isEmpty() ? nullptr : top.first()->menu();
    if (popup == nullptr)
        return;
    m_menuShown = true;
    update();
    connect(
        popup, &QMenu::aboutToHide, this,
        [this] {
            m_menuShown = false;
            update();
        },
        Qt::SingleShotConnection);
    connect(
        popup, &QMenu::triggered, this,
        [this](QAction* action) {
            const int command = action->data().toInt();
            if (command != 0 && m_menuOwner)
                QMetaObject::invokeMethod(m_menuOwner, "OnMenuCommand", Qt::QueuedConnection,
                                          Q_ARG(int, command));
        },
        Qt::SingleShotConnection);
    popup->popup(mapToGlobal(QPoint(0, height())));
}

// ---- drawing ----------------------------------------------------------------------

QPixmap CHoverButton::BackgroundCopy()
{
    if (m_backgroundCopy.isNull() && parentWidget() != nullptr) {
        QPixmap copy(size());
        copy.fill(Qt::transparent);
        parentWidget()->render(&copy, QPoint(), QRegion(geometry()), QWidget::DrawWindowBackground);
        m_backgroundCopy = copy;
    }
    return m_backgroundCopy;
}

void CHoverButton::DrawBackground(QPainter* painter, const QRect& rect)
{
    QColor colour = m_colours[kBkRest];
    if (m_hover || m_pressed)
        colour = m_colours[kBkHover];
    else if (m_focused)
        colour = m_colours[kBkFocus];
    painter->fillRect(rect, colour);
}

void CHoverButton::DrawFrame(QPainter* painter, const QRect& rect)
{
    const QColor lit = SystemColour(SysColour::BtnHighlight, palette());
    const QColor shadow = SystemColour(SysColour::BtnShadow, palette());
    if (m_pressed)
        Draw3dRect(painter, rect, shadow, lit);
    else
        Draw3dRect(painter, rect, lit, shadow);
}

void CHoverButton::DrawImage(QPainter* painter, const QRect& itemRect, QRect* captionRect,
                             bool hasCaption)
{
    const bool icons = !m_icons[0].pixmap.isNull();
    const std::array<Image, 2>& set = icons ? m_icons : m_bitmaps;
    if (set[0].pixmap.isNull())
        return;
    const bool second = !set[1].pixmap.isNull() && !m_pressed && (m_checkBoxMode || !m_hover);
    const Image& image = set[second ? 1 : 0];
    const int w = image.width;
    const int h = image.height;
    const QRect& r = itemRect;
    const int centredX = r.left() + (r.width() - w) / 2;
    const int centredY = r.top() + (r.height() - h) / 2;
    int x = centredX;
    int y = centredY;
    switch (m_imageAlign) {
    case 0:
        if (hasCaption) {
            x = r.left() + 3;
            captionRect->setLeft(captionRect->left() + w + 3);
        }
        break;
    case 1:
        if (hasCaption) {
            y = 3;
            captionRect->setTop(captionRect->top() + h);
        }
        break;
    default:
        if (hasCaption) {
            const int formerWidth = captionRect->width();
            *captionRect = QRect(QPoint(3, captionRect->top()),
                                 QPoint(formerWidth - w - 3 - 1, captionRect->bottom()));
            x = rect().width() - w - 3;
        } else {
            y = r.top();
        }
        break;
    }
    if (m_pressed && !m_checkBoxMode) {
        ++x;
        ++y;
    }

    QPixmap pixmap = image.pixmap;
    if (m_disabled && (icons || m_greyBitmapWhenDisabled)) {
        QStyleOption option;
        option.initFrom(this);
        pixmap = style()->generatedIconPixmap(QIcon::Disabled, pixmap, &option);
    }
    painter->drawPixmap(QRect(x, y, w, h), pixmap);
}

void CHoverButton::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    m_pressed = m_checkBoxMode ? (isDown() || m_checkState) : (isDown() || m_menuShown);
    m_focused = hasFocus();
    m_disabled = !isEnabled();

    const QRect itemRect = rect();
    QRect work = itemRect;
    painter.setBackgroundMode(Qt::TransparentMode);

    if (!m_flat && (m_focused || isDefault())) {
        Draw3dRect(&painter, work, Qt::black, Qt::black);
        work.adjust(1, 1, -1, -1);
    }

    if (m_transparent)
        painter.drawPixmap(0, 0, BackgroundCopy());
    else
        DrawBackground(&painter, work);

    const QPalette& pal = palette();
    if (m_pressed) {
        if (!m_flat)
            Draw3dRect(&painter, work, SystemColour(SysColour::BtnShadow, pal),
                       SystemColour(SysColour::BtnShadow, pal));
        else if (m_drawFlatFrame)
            DrawFrame(&painter, work);
    } else if (!m_flat) {
        // The raised border, outer and inner edges.
        const int l = work.left();
        const int t = work.top();
        const int w = work.width();
        const int h = work.height();
        const int r = l + w;
        const int b = t + h;
        const QColor lit = SystemColour(SysColour::BtnHighlight, pal);
        painter.fillRect(l, t, 1, h, lit);
        painter.fillRect(l, t, w, 1, lit);
        const QColor light = SystemColour(SysColour::Light3d, pal);
        painter.fillRect(l + 1, t + 1, 1, h - 1, light);
        painter.fillRect(l + 1, t + 1, w - 1, 1, light);
        const QColor dark = SystemColour(SysColour::DkShadow3d, pal);
        painter.fillRect(l, b - 1, w - 1, 1, dark);
        painter.fillRect(r - 1, t, 1, h, dark);
        const QColor shadow = SystemColour(SysColour::BtnShadow, pal);
        painter.fillRect(l + 1, b - 2, w - 3, 1, shadow);
        painter.fillRect(r - 2, t + 1, 1, h - 2, shadow);
    } else if (m_hover && m_drawFlatFrame) {
        DrawFrame(&painter, work);
    }

    const QString caption = text();
    QRect captionRect = itemRect;
    DrawImage(&painter, itemRect, &captionRect, !caption.isEmpty());

    if (!caption.isEmpty()) {
        if (m_pressed && !m_checkBoxMode)
            captionRect.translate(1, 1);
        const int flags = Qt::AlignCenter | Qt::TextWordWrap | Qt::TextShowMnemonic;
        const QRect measured = painter.fontMetrics().boundingRect(captionRect, flags, caption);
        QRect centred(QPoint(), measured.size());
        centred.moveTo(captionRect.left() + (captionRect.width() - measured.width()) / 2,
                       captionRect.top() + (captionRect.height() - measured.height()) / 2);
        if (m_disabled) {
            painter.setPen(SystemColour(SysColour::BtnHighlight, pal));
            painter.drawText(centred.translated(1, 1), flags, caption);
            painter.setPen(SystemColour(SysColour::BtnShadow, pal));
            painter.drawText(centred, flags, caption);
        } else {
            painter.setPen(m_hover || m_pressed ? m_colours[kFgHover] : m_colours[kFgRest]);
            painter.drawText(centred, flags, caption);
        }
    }

    if (m_focused && (!m_flat || m_flatFocus)) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = work.adjusted(3, 3, -3, -3);
        option.backgroundColor = m_colours[kBkRest];
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}
