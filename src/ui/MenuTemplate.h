// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <optional>
#include <vector>

// One entry of a menu description.
struct MenuTemplateItem
{
    enum class Kind
    {
        Command,
        Separator,
        Popup
    };

    Kind kind = Kind::Command;
    QString text; // "&" marks the mnemonic; a tab separates the accelerator text
    int commandId = 0;
    bool checked = false;
    bool grayed = false;
    bool radio = false;                     // a checked item shows a bullet instead of a check mark
    std::vector<MenuTemplateItem> children; // the items of a popup
};

// A menu as the program's menu files describe it, a small text format:
//
//   # comment
//   POPUP "&File"
//   BEGIN
//       MENUITEM "&Open...\tCtrl+O", 32771
//       MENUITEM SEPARATOR
//       MENUITEM "&Wrap", 32772, CHECKED
//       POPUP "&Recent"
//       BEGIN
//           MENUITEM "&1 Last", 32780, GRAYED
//       END
//   END
//
// Texts are in double quotes with \t, \" and \\ escapes; command ids are 1 to
// 65535; the flags after the id are CHECKED, GRAYED and RADIO.
class MenuTemplate
{
public:
    static std::optional<MenuTemplate> FromText(const QString& text, QString* error = nullptr);
    // Reads a file or a Qt resource (UTF-8).
    static std::optional<MenuTemplate> FromFile(const QString& path, QString* error = nullptr);

    const std::vector<MenuTemplateItem>& Items() const { return m_items; }

private:
    std::vector<MenuTemplateItem> m_items;
};
