// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QCursor>
#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <array>
#include <memory>
#include <optional>

class CImageMenu;

// A push button with a flat look that lights up under the pointer: at rest only
// its face colour and image, a raised one-pixel frame while hovered, a sunken
// frame and the image one pixel right and down while pressed. It can also show
// a caption with colours of its own, a second image for the state without
// hover, bitmaps with a transparent colour, the parent's background, a
// check-box mode, a drop-down menu, a tooltip, a cursor and a web address that
// a click opens. A click is reported through clicked() as for any button.
class CHoverButton : public QPushButton
{
    Q_OBJECT

public:
    // Results of the setting operations.
    enum Result : int
    {
        kOk = 0,
        kLoadFailed = 1,     // an image, cursor or menu cannot be loaded or read
        kMaskFailed = 2,     // a mask cannot be made
        kBadColourIndex = 3, // colour index above 5
        kBadAlignment = 4,   // alignment above 2
        kBadShade = 5,       // shade outside -255 ... 255
    };
    // The colours, by index.
    enum Colour : int
    {
        kBkHover = 0, // background when hovered or pressed
        kFgHover = 1, // text when hovered or pressed
        kBkRest = 2,  // background otherwise
        kFgRest = 3,  // text otherwise
        kBkFocus = 4, // background when focused
        kFgFocus = 5, // text when focused (kept, not drawn)
        kColourCount = 6,
    };
    // Second icon id: a grey copy of the first icon.
    static constexpr int kGreyCopy = -2;

    explicit CHoverButton(QWidget* parent = nullptr);
    explicit CHoverButton(const QString& caption, QWidget* parent = nullptr);
    ~CHoverButton() override;

    // Icons from the program's resources at their own size; second id 0 = none,
    // kGreyCopy = a grey copy of the first. A resource the program does not
    // carry leaves the button without that image (still kOk).
    int SetIconImages(int firstId, int secondId);
    int SetIconImages(const QPixmap& first, const QPixmap& second = QPixmap());
    // Bitmaps whose pixels of the given colour are transparent; second id 0 = none.
    int SetBitmapImages(int firstId, const QColor& firstTransparent, int secondId,
                        const QColor& secondTransparent);
    int SetBitmapImages(const QImage& first, const QColor& firstTransparent,
                        const QImage& second = QImage(), const QColor& secondTransparent = {});

    int SetFlatLook(bool flat, bool repaint = true);
    bool IsFlatLook() const { return m_flat; }
    int SetImageAlign(int alignment, bool repaint = true);
    int GetImageAlign() const { return m_imageAlign; }
    // Check-box mode: each click toggles the check state.
    void SetCheckBoxMode(bool on, bool repaint = true);
    bool IsCheckBoxMode() const { return m_checkBoxMode; }
    int SetCheckState(bool checked, bool repaint = true);
    int GetCheckState() const { return m_checkState ? 1 : 0; }
    int ResetColours(bool repaint = true);
    int SetColour(int index, const QColor& colour, bool repaint = true);
    // An invalid colour for an index above 5.
    QColor GetColour(int index) const;
    // Adds `shade` to red, green and blue of one colour, cut toward zero so that
    // all three stay within 0 ... 255.
    int ShadeColour(int index, int shade, bool repaint = true);
    int SetTrackWhenInactive(bool track);
    // Cursor from the program's resources (id 0 = none), or a cursor object.
    int SetCursorImage(int cursorId, bool repaint = false);
    int SetCursorImage(const std::optional<QCursor>& cursor);
    int SetFlatFrame(bool draw, bool repaint = true);
    int SetFlatFocus(bool draw, bool repaint = true);
    // An empty text does nothing; otherwise sets the tip and (de)activates it.
    int SetTooltip(const QString& text, bool activate = true);
    int SetTooltip(int stringId, bool activate = true);
    int EnableTooltip(bool enable);
    bool IsDefault() const { return isDefault(); }
    int SetTransparent(bool repaint = true);
    // Opened with the desktop's "open" when the button is clicked (at most 259
    // characters are kept).
    int SetWebAddress(const QString& address);
    QString WebAddress() const { return m_webAddress; }
    // A drop-down menu from menu resource `menuId` (0 removes it): its first
    // popup is shown under the button on a click, and the chosen command id is
    // posted to `menuOwner` as a queued call of its invokable OnMenuCommand(int).
    int SetDropMenu(int menuId, QObject* menuOwner, int drawStyle = 1, int toolbarId = 0,
                    int imageWidth = 16, int imageHeight = 15,
                    const QColor& toolbarTransparent = QColor(192, 192, 192), bool repaint = true);
    CImageMenu* DropMenu() const { return m_dropMenu.get(); }
    bool IsMenuShown() const { return m_menuShown; }

    bool IsHover() const { return m_hover; }
    QSize ImageSize(int which) const;

    // Background and frame; a derived button may draw its own.
    virtual void DrawBackground(QPainter* painter, const QRect& rect);
    virtual void DrawFrame(QPainter* painter, const QRect& rect);

    // The grey copy of an icon: every pixel that is not black becomes the grey
    // of its luminance; transparency is kept.
    static QImage GreyCopy(const QImage& image);

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

private slots:
    void OnClicked();

private:
    struct Image
    {
        QPixmap pixmap;
        int width = 0;
        int height = 0;
    };

    void Init();
    void FreeImages();
    void Repaint(bool repaint);
    void TrackHover(bool leftButtonHeld, bool pointerOverButton);
    void LeaveHover();
    void MoveFocusOn();
    void ShowDropMenu();
    QPixmap BackgroundCopy();
    void DrawImage(QPainter* painter, const QRect& itemRect, QRect* captionRect, bool hasCaption);

    bool m_greyBitmapWhenDisabled = true;
    bool m_flat = true;
    bool m_hover = false;
    bool m_transparent = false;
    bool m_pressed = false;
    bool m_focused = false;
    bool m_disabled = false;
    bool m_checkBoxMode = false;
    int m_imageAlign = 0;
    bool m_drawFlatFrame = true;
    bool m_flatFocus = false;
    std::array<QColor, kColourCount> m_colours;
    QPointer<QObject> m_menuOwner;
    bool m_menuShown = false;
    std::unique_ptr<CImageMenu> m_dropMenu;
    std::optional<QCursor> m_cursor;
    QString m_tooltipText;
    bool m_tooltipActive = false;
    QPixmap m_backgroundCopy;
    bool m_trackWhenInactive = true;
    bool m_checkState = false;
    QString m_webAddress;
    std::array<Image, 2> m_icons;
    std::array<Image, 2> m_bitmaps;
};
