// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serve/OfficeDesk.h"

#include <QJsonObject>
#include <QObject>
#include <functional>
#include <memory>

namespace tapeway {

// The office desk as the web server's thread sees it. The desk lives on the
// service's thread: every call goes there as a queued call and every answer
// comes back to this object's thread, so neither thread ever waits for the
// other. The status is kept here as the desk last sent it. The desk must
// outlive this object; answers that come after it is gone go to nobody.
class DeskClient : public QObject
{
    Q_OBJECT
public:
    using Answer = OfficeDesk::Answer;
    using Done = OfficeDesk::Done;
    using Listed = std::function<void(const Answer&, const QList<OfficeDesk::Entry>&)>;
    using Verified =
        std::function<void(const Answer&, const QList<TransferRecord>&, const QString& error)>;

    // status: the desk's status when this is made (read on the desk's thread).
    DeskClient(OfficeDesk* desk, const QJsonObject& status, QObject* parent = nullptr);
    ~DeskClient() override;

    QJsonObject Status() const { return m_status; }

    void List(const QString& line, OfficeDesk::Folder folder, Listed listed);
    void Locate(const QString& line, OfficeDesk::Folder folder, const QString& name, Done done);
    void Queue(const QString& line, const QString& name, const QByteArray& data, Done done);
    void Unqueue(const QString& line, const QString& name, Done done);
    void Reorder(const QString& line, const QStringList& names, Done done);
    void Approve(const QString& line, const QString& name, bool replace, const QString& user,
                 Done done);
    void Reject(const QString& line, const QString& name, const QString& user, Done done);
    void Diff(const QString& line, const QString& name, Done done);
    void FindRecords(const JournalQuery& query, OfficeDesk::Found found);
    void Verify(const QByteArray& data, Verified verified);

signals:
    // The desk sent a new status (Status() has it).
    void StatusChanged();

private:
    struct Gate;
    // work(desk) runs on the desk's thread.
    void OnDesk(std::function<void(OfficeDesk&)> work);
    // A callable that, called on any thread, runs answer(args...) on this
    // object's thread while it lives.
    template <typename... Args>
    std::function<void(const Args&...)> Back(std::function<void(const Args&...)> answer) const;

    OfficeDesk* m_desk;
    QJsonObject m_status;
    std::shared_ptr<Gate> m_gate;
};

} // namespace tapeway
