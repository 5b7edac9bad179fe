// SPDX-License-Identifier: GPL-3.0-or-later
// The receive state machine fed an arbitrary byte stream cut into arbitrary
// chunks. See tests/support/ReceiveProtocolHarness.h for what is checked.
#include "support/ReceiveProtocolHarness.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString fault =
        CheckReceiveStream(QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (!fault.isEmpty()) {
        std::fprintf(stderr, "receive protocol: %s\n", qPrintable(fault));
        std::abort();
    }
    return 0;
}
