// SPDX-License-Identifier: GPL-3.0-or-later
#include "BenchSupport.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QRegularExpression>
#include <QTimer>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

namespace benchsupport {

QByteArray Program(int number, qint64 size)
{
    QByteArray text = "%\nO" + QByteArray::number(number) + "\n";
    text.reserve(size);
    for (qint64 n = 1; text.size() < size - 3; ++n)
        text += "N" + QByteArray::number(n) + " G1 X" + QByteArray::number((n * number) % 997) +
                " Z-" + QByteArray::number(n % 83) + "\n";
    return text + "%\n";
}

double CpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0.0;
    const QByteArray text = stat.readAll();
    // The fields after the command name: state is field 3, utime 14, stime 15.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0.0;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

double OwnCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ThreadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double NowSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

bool RunUntil(const std::function<bool()>& condition, QDeadlineTimer deadline)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (condition() || deadline.hasExpired())
            loop.quit();
    });
    poll.start(20);
    if (!condition())
        loop.exec();
    return condition();
}

qint64 PeakKib(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("VmHWM:\\s*(\\d+)"))
                                              .match(QString::fromLatin1(status.readAll()));
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

int LinesIn(const QString& statusPath, const QString& state)
{
    QFile status(statusPath);
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QJsonArray array =
        QJsonDocument::fromJson(status.readAll()).object().value(QStringLiteral("lines")).toArray();
    int count = 0;
    for (const QJsonValue& value : array) {
        const QJsonObject line = value.toObject();
        count += line.value(QStringLiteral("state")).toString() == state;
    }
    return count;
}

bool SameFile(const QString& a, const QString& b)
{
    QFile first(a), second(b);
    return first.open(QIODevice::ReadOnly) && second.open(QIODevice::ReadOnly) &&
           first.readAll() == second.readAll();
}

double PacketEfficiency(qint64 bytes, double seconds, int baud)
{
    const double total = seconds + 17.0 * 10.0 / 9600.0;
    return total > 0 ? double(bytes) * 10.0 / baud / total : 0.0;
}

} // namespace benchsupport
