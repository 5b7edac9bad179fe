// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// The About box: the program icon, the product and build line, what the
// program does and on what terms, and an OK button (1025), all in the
// language of the main dialog but the product line. Controls are
// found by their id as object name ("1025", "1026"); the icon and the product
// line are "icon" and "product", the terms "licence" and who answers for
// the program "maintainers".
class CAboutBox : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kOkButtonId = 1025;
    static constexpr int kDescriptionId = 1026;

    explicit CAboutBox(QWidget* parent = nullptr);

    // 0 Chinese, any other value English. The caption and the button follow at
    // once, so the box may be shown (or run) right after this call.
    void SetLanguage(int language);
    int GetLanguage() const { return m_language; }

    // The product and build line, the same in every language.
    static QString ProductLine();
    // "TAPEWAY maintainers" and, when the build names one, the project's home page.
    static QString MaintainersLine(int language);

private:
    void ApplyLanguage();

    int m_language = 0;
    QLabel* m_icon = nullptr;
    QLabel* m_product = nullptr;
    QLabel* m_description = nullptr;
    QLabel* m_licence = nullptr;
    QLabel* m_maintainers = nullptr;
    QPushButton* m_ok = nullptr;
};
