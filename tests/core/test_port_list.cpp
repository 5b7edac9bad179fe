// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/PortList.h"

#include <QStringList>
#include <gtest/gtest.h>

using namespace tapeway;

namespace {

QStringList Sorted(const QStringList& names)
{
    QStringList list;
    for (const QString& name : names)
        InsertPortSorted(list, name);
    return list;
}

const QStringList kFallback{"COM1", "COM2", "COM3", "COM4"};

} // namespace

TEST(PortList, InsertKeepsAscendingPortNumbers)
{
    EXPECT_EQ(Sorted({"COM10", "COM2", "COM1"}), QStringList({"COM1", "COM2", "COM10"}));
    EXPECT_EQ(Sorted({"COM3", "COM1", "COM20", "COM4"}),
              QStringList({"COM1", "COM3", "COM4", "COM20"}));
    EXPECT_EQ(Sorted({"ttyUSB1", "ttyS0", "ttyUSB0", "ttyS2"}),
              QStringList({"ttyUSB0", "ttyS0", "ttyUSB1", "ttyS2"}));
}

TEST(PortList, SameNumberGoesBeforeTheEarlierName)
{
    EXPECT_EQ(Sorted({"COM3", "\\Device\\Serial3", "COM1"}),
              QStringList({"COM1", "\\Device\\Serial3", "COM3"}));
    EXPECT_EQ(Sorted({"COM2", "COM2"}), QStringList({"COM2", "COM2"}));
}

TEST(PortList, NamesWithoutDigitsGatherAtTheFront)
{
    EXPECT_EQ(Sorted({"COM1", "MODEM", "COM0", "LPT"}),
              QStringList({"LPT", "MODEM", "COM0", "COM1"}));
}

TEST(PortList, NothingDiscoveredGivesComOneToFour)
{
    EXPECT_EQ(FillPortList({}, QString()).entries, kFallback);
    EXPECT_EQ(FillPortList({}, QString()).selected, 0);
    EXPECT_EQ(FillPortList({"", ""}, "COM2").entries, kFallback); // empty names are skipped
}

TEST(PortList, SavedPortInTheFallbackListMustMatchExactly)
{
    EXPECT_EQ(FillPortList({}, "COM3").selected, 2);
    EXPECT_EQ(FillPortList({}, "COM4").selected, 3);
    EXPECT_EQ(FillPortList({}, "COM4").entries, kFallback);
    // Any other name is one the operator typed: offered after the list.
    EXPECT_EQ(FillPortList({}, "com3").entries, kFallback + QStringList{"com3"});
    EXPECT_EQ(FillPortList({}, "com3").selected, 4);
}

TEST(PortList, SavedPortAmongDiscoveredIgnoresLetterCase)
{
    const PortList ports = FillPortList({"COM10", "COM3", "COM1"}, "com3");
    EXPECT_EQ(ports.entries, QStringList({"COM1", "COM3", "COM10"}));
    EXPECT_EQ(ports.selected, 1);

    EXPECT_EQ(FillPortList({"COM10", "COM3", "COM1"}, "COM10").selected, 2);
    EXPECT_EQ(FillPortList({"COM10", "COM3", "COM1"}, QString()).selected, 0);
    EXPECT_EQ(FillPortList({"COM10", "COM3", "COM1"}, QString()).entries.size(), 3);
}

TEST(PortList, TypedNameAbsentNowIsOfferedVerbatimAndSelected)
{
    for (const char* typed : {"/dev/serial/by-id/usb-FTDI-if00-port0", "rfc2217://lathe:4001",
                              "tcp://10.0.0.7:7000", "COM5"}) {
        EXPECT_EQ(FillPortList({"ttyUSB0", "ttyS0"}, typed).entries,
                  QStringList({"ttyS0", "ttyUSB0", typed}));
        EXPECT_EQ(FillPortList({"ttyUSB0", "ttyS0"}, typed).selected, 2);
    }
}

TEST(PortList, LastMatchingEntryWins)
{
    // "com3" is listed before "COM3"; both match the saved name.
    const PortList ports = FillPortList({"COM3", "com3", "COM1"}, "Com3");
    EXPECT_EQ(ports.entries, QStringList({"COM1", "com3", "COM3"}));
    EXPECT_EQ(ports.selected, 2);
}
