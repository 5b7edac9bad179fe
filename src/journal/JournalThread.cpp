#include "journal/JournalThread.h"

#include "journal/JournalKeeper.h"
#include "journal/JournalLocation.h"
#include "resources/StringTable.h"

#include <QDeadlineTimer>
#include <QMutex>
#include <QThread>

namespace tapeway {

// What the thread's work shares with the object that handed it over. The
// keeper is touched in the thread only; owner is cleared when the object
// goes before its thread (which then ends without telling anyone).
struct JournalThread::Shared
{
    QMutex mutex;
    JournalThread* owner = nullptr;
    std::unique_ptr<JournalKeeper> keeper;
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
    : QObject(parent), m_shared(std::make_shared<Shared>())
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
    if (m_off)
        return;
    Post([record](Shared& shared) {
        const JournalKeeper::Written written = shared.keeper->Record(record);
        const bool kept = written.kind == JournalKeeper::Written::Kept;
        const bool local = written.kind == JournalKeeper::Written::FellBack;
        const bool tell = (local || written.kind == JournalKeeper::Written::Lost) && !shared.told;
        shared.told = shared.told || tell;
        shared.Tell([&](JournalThread& owner) {
            if (kept || local)
                emit owner.Recorded(record.id, kept);
            if (tell)
                emit owner.JournalFailed(local, written.reason);
        });
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
        // The thread is left to end by itself; it tells nobody.
        QMutexLocker lock(&m_shared->mutex);
        m_shared->owner = nullptr;
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

QString JournalFailureText(int language, bool keptLocally, const QString& reason)
{
    return keptLocally
               ? LocalText(language, 212, 213).arg(reason, JournalLocation::DefaultSqlitePath())
               : LocalText(language, 214, 215).arg(reason);
}

} // namespace tapeway
