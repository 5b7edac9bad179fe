// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/LibraryTranslations.h"

#include "resources/StringTable.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace {

// Qt's widgets and dialogs, then the catalogue of every Qt module there is.
constexpr const char* kChineseCatalogues[] = {"qtbase_zh_CN", "qt_zh_CN"};

} // namespace

LibraryTranslations::LibraryTranslations(const QString& directory) : m_directory(directory) {}

LibraryTranslations::~LibraryTranslations()
{
    RemoveAll();
    QLocale::setDefault(m_startLocale);
}

QString LibraryTranslations::DefaultDirectory()
{
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
}

int LibraryTranslations::SetLanguage(int language)
{
    const int wanted = language == tapeway::kChinese ? tapeway::kChinese : tapeway::kEnglish;
    if (wanted == m_language)
        return int(m_installed.size());
    RemoveAll();
    m_language = wanted;
    const bool startsChinese = m_startLocale.language() == QLocale::Chinese;
    if (wanted != tapeway::kChinese) {
        QLocale::setDefault(startsChinese ? QLocale(QLocale::English, QLocale::UnitedStates)
                                          : m_startLocale);
        return 0;
    }
    QLocale::setDefault(startsChinese ? m_startLocale : QLocale(QLocale::Chinese, QLocale::China));
    for (const char* name : kChineseCatalogues) {
        auto translator = std::make_unique<QTranslator>();
        if (translator->load(QString::fromLatin1(name), m_directory) &&
            QCoreApplication::installTranslator(translator.get()))
            m_installed.push_back(std::move(translator));
    }
    return int(m_installed.size());
}

void LibraryTranslations::RemoveAll()
{
    for (const auto& translator : m_installed)
        QCoreApplication::removeTranslator(translator.get());
    m_installed.clear();
}
