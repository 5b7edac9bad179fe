// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QList>
#include <QMenu>
#include <QPixmap>
#include <QSize>
#include <memory>
#include <vector>

struct MenuTemplateItem;

// A menu that draws its popup items itself, in a themed look (light item
// background, shaded image column, pale selection box) or a classic look (menu
// colour, image boxes, full highlight bar). Menus are loaded from the program's
// menu files; items may carry small images, registered per command id in an
// image list shared by all menus of this class.
class CImageMenu : public QMenu
{
    Q_OBJECT

public:
    // The flags an item was added with.
    enum ItemFlag : unsigned
    {
        kItemString = 0x0,
        kItemGrayed = 0x1,
        kItemPopup = 0x10,
        kItemRadio = 0x200, // a checked item shows a bullet
        kItemOwnerDraw = 0x100,
        kItemSeparator = 0x800,
    };

    // The record kept for each item, in menu order.
    struct Item
    {
        QAction* action = nullptr;
        QString text;              // a tab separates the accelerator text
        int imageIndex = -1;       // in the own image list
        int sharedImageIndex = -1; // in the shared image list
        int imagePosition = -1;    // -1: no image of its own
        unsigned flags = kItemString;
        int commandId = 0;
        QList<QPixmap> ownImages; // image, and its faded and shadow variants
    };

    explicit CImageMenu(QWidget* parent = nullptr);
    ~CImageMenu() override;

    // Builds the whole menu from menu resource `menuId`, or from a menu file.
    // False when it cannot be found or read; the menu is then left as it was.
    bool LoadFromResource(int menuId);
    bool LoadFromFile(const QString& path);
    // Removes all items, deletes the submenus and their records.
    void ReleaseMenu();

    QSize MeasureItem(const QString& text, bool separator) const;
    QSize MeasureItem(const QAction* action) const;
    // Draws one item of this menu into `rect`.
    void DrawItem(QPainter* painter, const QRect& rect, const QAction* action, bool selected);

    // The item at `position` | 2 << 16 when an item of `menu` has `ch` as its
    // mnemonic; 0 when none has (or the menu is not of this class).
    static int FindMnemonic(QChar ch, unsigned flags, const QMenu* menu);
    static bool IsOwnMenu(const QMenu* menu);

    void SetImageSize(int width, int height);
    QSize ImageSize() const { return QSize(m_imageWidth, m_imageHeight); }
    void SetBitmapBackground(const QColor& colour);
    void SetAlternativeDisabled(bool alternative) { m_alternativeDisabled = alternative; }
    // Two images: unchecked (0) and checked (1); submenus made later share them.
    void SetCheckImages(const QPixmap& unchecked, const QPixmap& checked);
    // Gives every item with this command id (here and in the submenus) the image,
    // through the shared image list. False when no item has the id.
    bool SetItemImage(int commandId, const QPixmap& image);
    // Loads a toolbar: a bitmap strip of button images and one command id per
    // button. Items with a matching id get the button's image. True when the
    // bitmap was loaded.
    bool LoadToolbarImages(int toolbarId);
    bool LoadToolbarImagesFromFile(const QString& path);

    const std::vector<CImageMenu*>& SubMenus() const { return m_subMenus; }
    const std::vector<std::unique_ptr<Item>>& Items() const { return m_items; }
    const Item* FindItem(const QAction* action) const;
    bool IsLoadedFromResource() const { return m_loadedFromResource; }

    // Process-wide look.
    static void SetDrawStyle(int style);
    static int EffectiveDrawStyle();
    static bool EffectiveSelectDisabled();
    // Whether a grayed item may show the selection (sets both looks' value).
    static void SetSelectDisabled(bool allowed);
    static void SetThreeDImages(bool on);
    static bool ThreeDImages();
    // True when drawing uses the themed look, false for the classic look.
    static bool UseThemedLook();
    // The system generation code of this computer (1 on anything not Windows).
    static int SystemGeneration();
    // The code for a Windows family (NT or not) and version.
    static int GenerationOf(bool ntFamily, int major, int minor);
    // Whether the classic desktop theme is selected (never off Windows).
    static bool ClassicTheme();
    static bool ThemedXp();

    // Registers an image for a command id in the shared image list (with faded
    // and shadow variants in the themed look); answers its index.
    int AddSharedImage(int commandId, const QPixmap& image);
    static int SharedImageCount();

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void actionEvent(QActionEvent* event) override;

private:
    struct ItemImages
    {
        QPixmap image;
        QPixmap faded;
        QPixmap shadow;
        bool variants = false;
    };

    void BuildLevel(const std::vector<MenuTemplateItem>& items);
    void AlignAccelerators();
    Item* RecordOf(const QAction* action);
    ItemImages ImagesOf(const Item& item) const;
    QPixmap DisabledImage(const QPixmap& image, const QColor& background) const;
    QPixmap MaskedImage(const QImage& image) const;
    void DrawThemed(QPainter* painter, const QRect& r, const QAction* action, const Item* item,
                    bool selected);
    void DrawClassic(QPainter* painter, const QRect& r, const QAction* action, const Item* item,
                     bool selected);
    void DrawItemText(QPainter* painter, const QRect& textRect, int acceleratorRight,
                      const QString& text, const QColor& colour);

    std::vector<std::unique_ptr<Item>> m_items;
    std::vector<CImageMenu*> m_subMenus;
    int m_imageWidth = 16;
    int m_imageHeight = 15;
    QColor m_bitmapBackground = QColor(192, 192, 192);
    bool m_bitmapBackgroundSet = false;
    bool m_alternativeDisabled = false;
    std::shared_ptr<QList<QPixmap>> m_checkImages;
    bool m_checkImagesShared = false;
    int m_selectedCheckImage = -1;
    int m_unselectedCheckImage = -1;
    bool m_loadedFromResource = false;
};
