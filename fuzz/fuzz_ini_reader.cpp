// SPDX-License-Identifier: GPL-3.0-or-later
// RS232.ini read from arbitrary file contents, then changed and written. See
// tests/support/IniReaderHarness.h for what is checked.
#include "support/IniReaderHarness.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString fault =
        CheckIniInput(QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (!fault.isEmpty()) {
        std::fprintf(stderr, "ini reader: %s\n", qPrintable(fault));
        std::abort();
    }
    return 0;
}
