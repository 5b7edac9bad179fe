// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace tapeway {

// The user-interface language: 0 Chinese, 1 English. Every start is in Chinese.
enum UiLanguage : int
{
    kChinese = 0,
    kEnglish = 1
};

// The program's string table (ids 101 to 177, from 180 the reasons and hints
// shown on a message's second line, from 200 the network ports' texts, from
// 210 the transfer journal's texts, from 224 more reasons of a message's
// second line, from 230 the tape protocol's, from 260 the tape profile
// window's). A missing id gives an empty text.
QString LoadString(int id);

// Chooses one text of a pair: the Chinese id for language 0, the English id
// otherwise. The Chinese id of a pair is not always the lower one (163/162).
QString LocalText(int language, int chineseId, int englishId);

} // namespace tapeway
