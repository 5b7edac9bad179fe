// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/PathHistory.h"

#include "settings/SettingsStore.h"

#include <algorithm>

namespace tapeway {

namespace {

const QString kSection = QStringLiteral("PATH");
const QString kIndexKey = QStringLiteral("index");
constexpr int kSlotCount = 10;

// Paths are compared as the file system compares names.
#ifdef Q_OS_WIN
constexpr Qt::CaseSensitivity kPathCase = Qt::CaseInsensitive;
#else
constexpr Qt::CaseSensitivity kPathCase = Qt::CaseSensitive;
#endif

QString SlotKey(int slot)
{
    return QString::number(slot);
}

} // namespace

PathHistory LoadPathHistory(const SettingsStore& store)
{
    PathHistory history;
    const int newest = store.ReadSettingInt(kSection, kIndexKey, 0);

    // Newest slot down to slot 0, then slot 9 down to the one after the
    // newest. Only the ten slots of the ring are read, whatever "index" says.
    auto addSlot = [&](int slot) {
        const QString path = store.ReadSettingString(kSection, SlotKey(slot));
        if (!path.isEmpty())
            history.entries.append(path);
    };
    for (int slot = std::min(newest, kSlotCount - 1); slot >= 0; --slot)
        addSlot(slot);
    for (int slot = kSlotCount - 1; slot >= std::max(newest + 1, 0); --slot)
        addSlot(slot);

    // The list position of the slot used last.
    const int used = store.ReadSettingValue(kSection, 0);
    const int count = int(history.entries.size());
    int position = used;
    if (count > 0)
        position = used <= newest ? newest - used : newest - used + count;

    if (count == 0 || position < 0)
        history.selected = -1;
    else
        history.selected = std::min(position, count - 1);
    return history;
}

bool RememberPath(SettingsStore& store, const QString& path, int comboCount)
{
    // A longer path would come back cut, be listed as a different path and
    // never be found again.
    if (path.isEmpty() || path.size() > SettingsStore::kMaxStringLength)
        return false;

    // With duplicates in the ring the highest matching slot is the one used.
    int found = -1;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        const QString stored = store.ReadSettingString(kSection, SlotKey(slot));
        if (!stored.isEmpty() && stored.compare(path, kPathCase) == 0)
            found = slot;
    }
    if (found >= 0) {
        store.WriteSettingValue(kSection, found);
        return false;
    }

    int slot = 0;
    if (comboCount > 0) {
        const int newest = store.ReadSettingInt(kSection, kIndexKey, 0);
        slot = newest < 0 || newest >= kSlotCount - 1 ? 0 : newest + 1;
    }
    const QString key = SlotKey(slot);
    store.WriteSettingStrings(kSection,
                              {{key, path}, {kIndexKey, key}, {QStringLiteral("value"), key}});
    return true;
}

} // namespace tapeway
