// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/PathHistory.h"
#include "settings/SettingsStore.h"
#include "support/TempSettings.h"

#include <QStringList>
#include <gtest/gtest.h>

using namespace tapeway;

namespace {

// The path combo box of one run of the dialog.
struct Combo
{
    QStringList entries;

    void Remember(SettingsStore& store, const QString& path)
    {
        if (RememberPath(store, path, int(entries.size())))
            entries.append(path);
    }
};

QString Path(int n)
{
    return QStringLiteral("/data/prog%1.nc").arg(n);
}

// All ten slots filled with Path(slot) plus index and value.
void FillRing(TempSettings& settings, int index, int value)
{
    QByteArray text = "[PATH]\n";
    for (int slot = 0; slot < 10; ++slot)
        text += QByteArray::number(slot) + '=' + Path(slot).toUtf8() + '\n';
    text += "index=" + QByteArray::number(index) + "\nvalue=" + QByteArray::number(value) + '\n';
    settings.WriteFile(text);
}

QStringList Slots(const SettingsStore& store)
{
    QStringList texts;
    for (int slot = 0; slot < 10; ++slot)
        texts.append(store.ReadSettingString("PATH", QString::number(slot)));
    return texts;
}

} // namespace

TEST(PathHistory, NoFileGivesEmptyHistoryWithNothingSelected)
{
    TempSettings settings;
    const PathHistory history = LoadPathHistory(settings.Store());
    EXPECT_TRUE(history.entries.isEmpty());
    EXPECT_EQ(history.selected, -1);
}

TEST(PathHistory, EleventhPathWrapsToSlotZero)
{
    TempSettings settings;
    SettingsStore& store = settings.Store();
    Combo combo;
    for (int n = 1; n <= 10; ++n)
        combo.Remember(store, Path(n));
    EXPECT_EQ(store.ReadSettingInt("PATH", "index", -1), 9);
    EXPECT_EQ(store.ReadSettingString("PATH", "9"), Path(10));

    combo.Remember(store, Path(11));
    EXPECT_EQ(combo.entries.size(), 11); // this run lists every new path
    EXPECT_EQ(store.ReadSettingInt("PATH", "index", -1), 0);
    EXPECT_EQ(store.ReadSettingValue("PATH", -1), 0);
    EXPECT_EQ(store.ReadSettingString("PATH", "0"), Path(11)); // the oldest is gone

    // The next start: slot 0, then 9, 8, ... 1.
    const PathHistory history = LoadPathHistory(store);
    QStringList expected{Path(11)};
    for (int n = 10; n >= 2; --n)
        expected.append(Path(n));
    EXPECT_EQ(history.entries, expected);
    EXPECT_EQ(history.selected, 0);
}

TEST(PathHistory, ListRunsBackThroughTheRingFromTheNewest)
{
    TempSettings settings;
    FillRing(settings, 3, 5);
    const PathHistory history = LoadPathHistory(settings.Store());
    const QStringList expected{Path(3), Path(2), Path(1), Path(0), Path(9),
                               Path(8), Path(7), Path(6), Path(5), Path(4)};
    EXPECT_EQ(history.entries, expected);
    EXPECT_EQ(history.selected, 8);
    EXPECT_EQ(history.entries.value(history.selected), Path(5));

    FillRing(settings, 3, 3);
    EXPECT_EQ(LoadPathHistory(settings.Store()).selected, 0);
    FillRing(settings, 9, 0);
    EXPECT_EQ(LoadPathHistory(settings.Store()).selected, 9);
    FillRing(settings, 0, 1);
    EXPECT_EQ(LoadPathHistory(settings.Store()).selected, 9);
}

TEST(PathHistory, SelectionWithGapsInTheRing)
{
    TempSettings settings;
    // Slots 0 and 9 only, newest 9: the list is slot 9, slot 0.
    settings.WriteFile("[PATH]\nindex=9\n9=/b\n0=/a\nvalue=0\n");
    PathHistory history = LoadPathHistory(settings.Store());
    EXPECT_EQ(history.entries, QStringList({"/b", "/a"}));
    EXPECT_EQ(history.selected, 1); // position 9 is past the end: the last entry

    // Slots 0 to 2, newest 2, used 7: position 2 - 7 + 3 < 0, nothing selected.
    settings.WriteFile("[PATH]\nindex=2\n0=/a\n1=/b\n2=/c\nvalue=7\n");
    history = LoadPathHistory(settings.Store());
    EXPECT_EQ(history.entries, QStringList({"/c", "/b", "/a"}));
    EXPECT_EQ(history.selected, -1);

    // Used slot 1: position 1.
    settings.WriteFile("[PATH]\nindex=2\n0=/a\n1=/b\n2=/c\nvalue=1\n");
    EXPECT_EQ(LoadPathHistory(settings.Store()).selected, 1);

    // An index outside the ring reads only the ten slots.
    settings.WriteFile("[PATH]\nindex=15\n15=/x\n-1=/y\n4=/a\nvalue=4\n");
    history = LoadPathHistory(settings.Store());
    EXPECT_EQ(history.entries, QStringList({"/a"}));
    EXPECT_EQ(history.selected, 0);
    settings.WriteFile("[PATH]\nindex=-3\n-1=/y\n7=/a\n");
    EXPECT_EQ(LoadPathHistory(settings.Store()).entries, QStringList({"/a"}));
}

TEST(PathHistory, KnownPathOnlyBecomesTheOneUsed)
{
    TempSettings settings;
    FillRing(settings, 6, 6);
    SettingsStore& store = settings.Store();
    const QStringList before = Slots(store);

    EXPECT_FALSE(RememberPath(store, Path(4), 10));
    EXPECT_EQ(Slots(store), before);
    EXPECT_EQ(store.ReadSettingInt("PATH", "index", -1), 6);
    EXPECT_EQ(store.ReadSettingValue("PATH", -1), 4);

    // With the same path in two slots, the higher one is used.
    ASSERT_TRUE(store.WriteSettingString("PATH", "8", Path(2)));
    EXPECT_FALSE(RememberPath(store, Path(2), 10));
    EXPECT_EQ(store.ReadSettingValue("PATH", -1), 8);
}

TEST(PathHistory, PathGivenTwiceInOneRunIsListedOnce)
{
    TempSettings settings;
    SettingsStore& store = settings.Store();
    const QString chinese = QStringLiteral("/home/操作员/程序 一, 二.nc");
    Combo combo;
    combo.Remember(store, chinese);
    combo.Remember(store, Path(1));
    combo.Remember(store, chinese);
    EXPECT_EQ(combo.entries, QStringList({chinese, Path(1)}));
    EXPECT_EQ(store.ReadSettingInt("PATH", "index", -1), 1);
    EXPECT_EQ(store.ReadSettingValue("PATH", -1), 0);

    const PathHistory history = LoadPathHistory(store);
    EXPECT_EQ(history.entries, QStringList({Path(1), chinese}));
    EXPECT_EQ(history.selected, 1);
}

TEST(PathHistory, LetterCaseCountsAsTheFileSystemCountsIt)
{
    TempSettings settings;
    Combo combo;
    combo.Remember(settings.Store(), "/data/O1000.nc");
    combo.Remember(settings.Store(), "/data/o1000.nc");
#ifdef Q_OS_WIN
    EXPECT_EQ(combo.entries, QStringList({"/data/O1000.nc"}));
#else
    EXPECT_EQ(combo.entries, QStringList({"/data/O1000.nc", "/data/o1000.nc"}));
#endif
    EXPECT_EQ(LoadPathHistory(settings.Store()).selected, 0); // the one used last
}

TEST(PathHistory, ChoiceOfSlotForANewPath)
{
    TempSettings settings;
    SettingsStore& store = settings.Store();

    // An empty combo box starts the ring afresh at slot 0.
    settings.WriteFile("[PATH]\nindex=5\n5=/old\n");
    EXPECT_TRUE(RememberPath(store, "/new", 0));
    EXPECT_EQ(store.ReadSettingString("PATH", "0"), "/new");
    EXPECT_EQ(store.ReadSettingInt("PATH", "index", -1), 0);

    const struct
    {
        const char* index;
        QString slot;
    } cases[] = {{"4", "5"}, {"8", "9"}, {"9", "0"}, {"-2", "0"}, {"15", "0"}, {"junk", "1"}};
    for (const auto& c : cases) {
        settings.WriteFile(QByteArray("[PATH]\nindex=") + c.index + '\n');
        EXPECT_TRUE(RememberPath(store, "/p", 1)) << c.index;
        EXPECT_EQ(store.ReadSettingString("PATH", c.slot), "/p") << c.index;
        EXPECT_EQ(store.ReadSettingString("PATH", "index"), c.slot) << c.index;
        EXPECT_EQ(store.ReadSettingString("PATH", "value"), c.slot) << c.index;
    }
}

TEST(PathHistory, PathsThatCannotBeKeptAreNotRecorded)
{
    TempSettings settings;
    SettingsStore& store = settings.Store();
    const QString longPath = "/" + QString(299, u'x');
    EXPECT_FALSE(RememberPath(store, longPath, 0));
    EXPECT_FALSE(RememberPath(store, QString(), 0));
    EXPECT_TRUE(LoadPathHistory(store).entries.isEmpty());

    const QString longest = "/" + QString(258, u'x');
    EXPECT_TRUE(RememberPath(store, longest, 0));
    EXPECT_EQ(LoadPathHistory(store).entries, QStringList({longest}));
    EXPECT_FALSE(RememberPath(store, longest, 1));
}
