// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>
#include <QString>

// Reads arbitrary bytes as RS232.ini, through IniDocument and through a
// SettingsStore on a scratch file, and checks what must hold for any file:
// reading never fails or crashes, a document written out and read again
// gives the same values, a value set is read back unchanged, setting one key
// leaves every other key alone, and the store rewrites the file exactly as
// the document would. Names and values are taken from the input itself.
//
// Returns an empty string when every check held, else what went wrong.
// Shared by the fuzzer and the corpus test.
QString CheckIniInput(QByteArrayView input);
