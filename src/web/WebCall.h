// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "web/WebAccess.h"
#include "web/WebReply.h"

#include <QByteArray>
#include <QHash>
#include <QStringList>
#include <QUrlQuery>
#include <memory>

namespace tapeway {

// One API request as the handlers see it: copied out of the server's
// request (which lives only while the server handles it), with who asked
// and where the answer goes, which may be later.
struct WebCall
{
    QByteArray method;    // GET, PUT, POST, DELETE
    QStringList segments; // decoded, after "api"
    QUrlQuery query;
    QByteArray body;
    QHash<QByteArray, QByteArray> headers; // names in lower case
    WebAccess::Identity who;
    std::shared_ptr<WebReply> reply;

    QByteArray Header(const QByteArray& name) const { return headers.value(name); }
};

} // namespace tapeway
