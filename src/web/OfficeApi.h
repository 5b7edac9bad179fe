// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serve/OfficeDesk.h"
#include "web/DeskClient.h"
#include "web/WebCall.h"

#include <QObject>
#include <QPointer>

namespace tapeway {

// The office view's API over the desk, for a caller already identified and
// allowed: the lines' folders, the queue, approval, the journal and
// verification. Answers that take a worker thread come later.
class OfficeApi
{
public:
    explicit OfficeApi(DeskClient* desk);

    // /api/lines/... (segments from "lines" on).
    void Lines(const WebCall& call);
    void Journal(const WebCall& call);
    void Verify(const WebCall& call);
    void Status(const WebCall& call);

    // The role a call needs, Viewer when it only reads; false when no
    // endpoint matches (the answer is 404 or 405).
    static bool NeededRole(const WebCall& call, UsersFile::Role* role);
    static void AnswerProblem(WebReply& reply, const OfficeDesk::Answer& answer);

private:
    void File(const WebCall& call, const QString& line, OfficeDesk::Folder folder,
              const QString& name);
    void Pending(const WebCall& call, const QString& line, const QString& name,
                 const QString& what);

    QPointer<DeskClient> m_desk;
};

} // namespace tapeway
