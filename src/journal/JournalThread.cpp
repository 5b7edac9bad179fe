// SPDX-License-Identifier: GPL-3.0-or-later
#include "journal/JournalThread.h"

#include "journal/JournalKeeper.h"
#include "journal/JournalLocation.h"
#include "resources/StringTable.h"

#include <QDeadlineTimer>
#include <QMutex>
#include <QThread>

namespace tapeway {

// What the thread's work shares with the object that handed it over. The
// keeper is touched in the thread only; the rest under the mutex. Records
// wait in queue until the thread takes one (current) and writes it. owner is
// cleared and abandoned set when the object stopped waiting for its thread:
// it took what was not written, and the thread tells nobody from then on.
struct JournalThread::Shared
{
    QMutex mutex;
    JournalThread* owner = nullptr;
    std::unique_ptr<JournalKeeper> keeper;
    QList<TransferRecord> queue;
    std::optional<TransferRecord> current;
    bool abandoned = false;
    bool told = false;

    template <typename Emit> void Tell(Emit emitSignal)
    {
        QMutexLocker lock(&mutex);
        if (owner)
            emitSignal(*owner);
    }
};

JournalThread::JournalThread(const std::optional<JournalLocation>& configured,
                             const QString& configError, QObject* parent)
    : QObject(parent), m_shared(std::make_shared<Shared>()), m_configured(configured),
      m_configError(configError)
{
    m_shared->owner = this;
    m_shared->keeper = std::make_unique<JournalKeeper>(configured, configError);
    m_configuredText = m_shared->keeper->ConfiguredText();
    m_off = m_shared->keeper->IsOff();
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("journal"));
    m_context = new QObject;
    m_context->moveToThread(m_thread);
    m_thread->start();
}

JournalThread::~JournalThread()
{
    Finish();
}

void JournalThread::Post(std::function<void(Shared&)> work)
{
    if (m_finished)
        return;
    QMetaObject::invokeMethod(
        m_context, [shared = m_shared, work = std::move(work)] { work(*shared); },
        Qt::QueuedConnection);
}

void JournalThread::Record(const TransferRecord& record)
{
    if (m_off || m_finished)
        return;
    {
        QMutexLocker lock(&m_shared->mutex);
        m_shared->queue << record;
    }
    // One record per call, in turn with the listings asked for meanwhile.
    Post([](Shared& shared) {
        TransferRecord record;
        {
            QMutexLocker lock(&shared.mutex);
            if (shared.abandoned || shared.queue.isEmpty())
                return;
            record = shared.queue.takeFirst();
            shared.current = record;
        }
        const JournalKeeper::Written written = shared.keeper->Record(record);
        const bool kept = written.kind == JournalKeeper::Written::Kept;
        const bool local = written.kind == JournalKeeper::Written::FellBack;
        QMutexLocker lock(&shared.mutex);
        shared.current.reset();
        if (!shared.owner)
            return;
        const bool tell = (local || written.kind == JournalKeeper::Written::Lost) && !shared.told;
        shared.told = shared.told || tell;
        if (kept || local)
            emit shared.owner->Recorded(record.id, kept);
        if (tell)
            emit shared.owner->JournalFailed(local, written.reason);
    });
}

int JournalThread::Find(const JournalQuery& query)
{
    const int request = ++m_lastRequest;
    Post([query, request](Shared& shared) {
        const JournalKeeper::Listing listing = shared.keeper->Find(query);
        shared.Tell([&](JournalThread& owner) {
            emit owner.Found(request, listing.records.value_or(QList<TransferRecord>()),
                             listing.error, listing.note);
        });
    });
    return request;
}

bool JournalThread::Finish(int timeoutMs)
{
    if (m_finished)
        return m_thread == nullptr;
    // The keeper closes its connections in the thread that opened them.
    Post([](Shared& shared) {
        shared.keeper.reset();
        QThread::currentThread()->quit();
    });
    m_finished = true;
    if (!m_thread->wait(QDeadlineTimer(timeoutMs))) {
        // The journal does not answer: what it has not written goes to the
        // local journal now, and the thread is left to end by itself.
        QList<TransferRecord> left;
        bool tell = false;
        {
            QMutexLocker lock(&m_shared->mutex);
            m_shared->owner = nullptr;
            m_shared->abandoned = true;
            if (m_shared->current)
                left << *m_shared->current;
            left << m_shared->queue;
            m_shared->queue.clear();
            tell = !m_shared->told;
            m_shared->told = true;
        }
        KeepLocally(left, timeoutMs, tell);
        return false;
    }
    delete m_context;
    delete m_thread;
    m_context = nullptr;
    m_thread = nullptr;
    QMutexLocker lock(&m_shared->mutex);
    m_shared->owner = nullptr;
    return true;
}

void JournalThread::KeepLocally(const QList<TransferRecord>& records, int waitedMs, bool tell)
{
    if (records.isEmpty())
        return;
    JournalKeeper keeper(m_configured, m_configError);
    keeper.SetLocalBusyTimeoutMs(kKeepLocallyBusyMs);
    const QString reason =
        m_configured ? QStringLiteral("journal %1: no answer within %2 s as the program ended")
                           .arg(m_configured->Display())
                           .arg(waitedMs / 1000.0)
                     : m_configError;
    bool keptLocally = true, fellBack = false;
    QString failure = reason;
    for (const TransferRecord& record : records) {
        const JournalKeeper::Written written = keeper.KeepLocally(record, reason);
        fellBack = fellBack || written.kind == JournalKeeper::Written::FellBack;
        if (written.kind == JournalKeeper::Written::Lost) {
            keptLocally = false;
            failure = written.reason;
        }
    }
    // Told once per object, as every failure; a record kept nowhere always.
    if ((tell && fellBack) || !keptLocally)
        emit JournalFailed(keptLocally, failure);
}

QString JournalFailureText(int language, bool keptLocally, const QString& reason)
{
    return keptLocally
               ? LocalText(language, 212, 213).arg(reason, JournalLocation::DefaultSqlitePath())
               : LocalText(language, 214, 215).arg(reason);
}

} // namespace tapeway
