// SPDX-License-Identifier: GPL-3.0-or-later
#include "serve/LineDiff.h"

#include <QList>
#include <QStringList>
#include <algorithm>
#include <vector>

namespace tapeway {

namespace {

// More edits than this and the middle part is replaced whole: the search's
// memory grows with the square of the edits.
constexpr int kMostEdits = 2000;

QList<QByteArray> Lines(const QByteArray& text)
{
    QList<QByteArray> lines = text.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast(); // the end of the last line
    for (QByteArray& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    return lines;
}

enum class Op
{
    Same,
    Remove,
    Add
};

// The shortest edit script between a and b (the greedy search of the
// longest common subsequence by diagonals), as one operation per line.
std::vector<Op> Script(const QList<QByteArray>& a, const QList<QByteArray>& b)
{
    const int n = int(a.size()), m = int(b.size());
    const int most = std::min(n + m, kMostEdits);
    const int offset = most + 1;
    std::vector<int> v(2 * size_t(most) + 3, 0);
    std::vector<std::vector<int>> trace;
    int found = -1;
    for (int d = 0; d <= most && found < 0; ++d) {
        trace.push_back(v);
        for (int k = -d; k <= d; k += 2) {
            int x = (k == -d || (k != d && v[offset + k - 1] < v[offset + k + 1]))
                        ? v[offset + k + 1]
                        : v[offset + k - 1] + 1;
            int y = x - k;
            while (x < n && y < m && a[x] == b[y]) {
                ++x;
                ++y;
            }
            v[offset + k] = x;
            if (x >= n && y >= m) {
                found = d;
                break;
            }
        }
    }
    std::vector<Op> ops;
    if (found < 0) {
        // Too many edits: the common head and tail, the middle replaced.
        int head = 0;
        while (head < n && head < m && a[head] == b[head])
            ++head;
        int tail = 0;
        while (tail < n - head && tail < m - head && a[n - 1 - tail] == b[m - 1 - tail])
            ++tail;
        ops.insert(ops.end(), head, Op::Same);
        ops.insert(ops.end(), n - head - tail, Op::Remove);
        ops.insert(ops.end(), m - head - tail, Op::Add);
        ops.insert(ops.end(), tail, Op::Same);
        return ops;
    }
    // Back from the end through the saved diagonals.
    int x = n, y = m;
    for (int d = found; d > 0; --d) {
        const std::vector<int>& p = trace[d];
        const int k = x - y;
        const bool down = k == -d || (k != d && p[offset + k - 1] < p[offset + k + 1]);
        const int prevK = down ? k + 1 : k - 1;
        const int prevX = p[offset + prevK];
        const int prevY = prevX - prevK;
        while (x > prevX && y > prevY) {
            ops.push_back(Op::Same);
            --x;
            --y;
        }
        ops.push_back(down ? Op::Add : Op::Remove);
        x = prevX;
        y = prevY;
    }
    while (x > 0 && y > 0) {
        ops.push_back(Op::Same);
        --x;
        --y;
    }
    std::reverse(ops.begin(), ops.end());
    return ops;
}

// "l,n" of a hunk's side; a side without lines names the line before it.
QString Range(int start, int count)
{
    if (count == 1)
        return QString::number(start + 1);
    return QStringLiteral("%1,%2").arg(count == 0 ? start : start + 1).arg(count);
}

} // namespace

QString UnifiedDiff(const QByteArray& from, const QByteArray& to, const QString& fromName,
                    const QString& toName, int context)
{
    const QList<QByteArray> a = Lines(from), b = Lines(to);
    const std::vector<Op> ops = Script(a, b);
    if (std::all_of(ops.cbegin(), ops.cend(), [](Op op) { return op == Op::Same; }))
        return {};
    QStringList out = {QStringLiteral("--- ") + fromName, QStringLiteral("+++ ") + toName};
    const int count = int(ops.size());
    int i = 0, ai = 0, bi = 0; // position in ops, a and b
    while (i < count) {
        if (ops[i] == Op::Same) {
            ++i;
            ++ai;
            ++bi;
            continue;
        }
        // A hunk: context before, changes joined while at most twice the
        // context lies between them, context after.
        const int lead = std::min(context, std::min(ai, bi));
        int end = i, sameRun = 0, last = i;
        while (end < count) {
            if (ops[end] == Op::Same) {
                if (++sameRun > 2 * context)
                    break;
            } else {
                sameRun = 0;
                last = end;
            }
            ++end;
        }
        const int stop = std::min(count, last + 1 + context);
        QStringList body;
        int aStart = ai - lead, bStart = bi - lead, aCount = lead, bCount = lead;
        for (int j = aStart; j < ai; ++j)
            body << u' ' + QString::fromUtf8(a[j]);
        for (; i < stop; ++i) {
            switch (ops[i]) {
            case Op::Same:
                body << u' ' + QString::fromUtf8(a[ai]);
                ++ai, ++bi, ++aCount, ++bCount;
                break;
            case Op::Remove:
                body << u'-' + QString::fromUtf8(a[ai]);
                ++ai, ++aCount;
                break;
            case Op::Add:
                body << u'+' + QString::fromUtf8(b[bi]);
                ++bi, ++bCount;
                break;
            }
        }
        out << QStringLiteral("@@ -%1 +%2 @@").arg(Range(aStart, aCount), Range(bStart, bCount));
        out << body;
    }
    return out.join(u'\n') + u'\n';
}

} // namespace tapeway
