// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLocale>
#include <QString>
#include <memory>
#include <vector>

class QTranslator;

// Qt's own texts (message-box buttons, the file dialog, the edit menu of a
// text box) in the program's language. Chinese installs Qt's Chinese
// catalogues for the whole application; English takes them away again, so
// that Qt speaks its own English. A catalogue that is missing is passed over
// without a word: those texts stay English. The default locale follows too
// (the file dialog names file types by it); the one found at start comes
// back with the destructor.
class LibraryTranslations
{
public:
    // Catalogues are looked for in directory; by default where Qt keeps its
    // translations.
    explicit LibraryTranslations(const QString& directory = DefaultDirectory());
    ~LibraryTranslations();
    LibraryTranslations(const LibraryTranslations&) = delete;
    LibraryTranslations& operator=(const LibraryTranslations&) = delete;

    // 0 Chinese, any other value English. Returns the number of catalogues
    // now in use: 0 for English and when none was found.
    int SetLanguage(int language);

    static QString DefaultDirectory();

private:
    void RemoveAll();

    QString m_directory;
    QLocale m_startLocale;
    int m_language = -1;
    std::vector<std::unique_ptr<QTranslator>> m_installed;
};
