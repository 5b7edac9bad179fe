// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/OfficeServer.h"

#include "serve/OfficeDesk.h"
#include "web/DeskClient.h"
#include "web/LiveFeed.h"
#include "web/OfficeListener.h"
#include "web/WebAccess.h"
#include "web/WebPath.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QJsonArray>
#include <QJsonObject>
#include <QTcpSocket>

// The page's resources live in this static library: they are registered
// once, before the first request.
static void RegisterOfficeAssets()
{
    Q_INIT_RESOURCE(office);
}

namespace tapeway {

namespace {

using Status = WebReply::Status;

QByteArray MethodName(QHttpServerRequest::Method method)
{
    switch (method) {
    case QHttpServerRequest::Method::Get:
        return "GET";
    case QHttpServerRequest::Method::Put:
        return "PUT";
    case QHttpServerRequest::Method::Delete:
        return "DELETE";
    case QHttpServerRequest::Method::Post:
        return "POST";
    case QHttpServerRequest::Method::Head:
        return "HEAD";
    default:
        return "OTHER";
    }
}

bool IsChange(const QByteArray& method)
{
    return method == "PUT" || method == "DELETE" || method == "POST";
}

} // namespace

OfficeServer::OfficeServer(const HttpConfig& config, OfficeDesk* desk, const QJsonObject& status,
                           QObject* parent)
    : QAbstractHttpServer(parent), m_config(config), m_desk(new DeskClient(desk, status, this)),
      m_listener(new OfficeListener(config, this)), m_access(new WebAccess(config.users, this)),
      m_live(new LiveFeed(this, m_desk, m_access, config.Tls())), m_api(m_desk)
{
    RegisterOfficeAssets();
    connect(m_access, &WebAccess::Problem, this, &OfficeServer::Message);
}

OfficeServer::~OfficeServer() = default;

bool OfficeServer::Start(QString* error)
{
    if (!m_config.Loopback() && m_config.users.isEmpty()) {
        *error = QStringLiteral("[HTTP] Listen=%1 is not a loopback address: Users= is required")
                     .arg(m_config.address.toString());
        return false;
    }
    if (!m_access->Start(error) || !m_listener->LoadTls(error))
        return false;
    if (!m_listener->listen(m_config.address, m_config.port)) {
        *error = QStringLiteral("cannot listen on %1 port %2: %3")
                     .arg(m_config.address.toString())
                     .arg(m_config.port)
                     .arg(m_listener->errorString());
        return false;
    }
    bind(m_listener);
    return true;
}

QString OfficeServer::Url() const
{
    QString host = m_config.address.toString();
    if (m_config.address.protocol() == QAbstractSocket::IPv6Protocol)
        host = u'[' + host + u']';
    return QStringLiteral("%1://%2:%3/")
        .arg(m_config.Tls() ? QStringLiteral("https") : QStringLiteral("http"), host)
        .arg(m_listener->serverPort());
}

bool OfficeServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    // The server hands a WebSocket handshake to its WebSocket side (the
    // live feed) and to this handler too: an answer here would land in the
    // WebSocket's stream.
    if (request.value("upgrade").compare("websocket", Qt::CaseInsensitive) == 0)
        return true;
    const QByteArray method = MethodName(request.method());
    const QStringList segments =
        WebPath::Segments(request.url().path(QUrl::FullyEncoded).toLatin1());
    const bool api = !segments.isEmpty() && segments.first() == QStringLiteral("api");
    auto reply = std::make_shared<WebReply>(makeResponder(request, socket), socket, api);
    reply->SetCloseAfter(request.value("connection").toLower().contains("close"));
    if (!api) {
        Asset(segments, method, *reply);
        return true;
    }
    WebCall call;
    call.method = method;
    call.segments = segments.mid(1);
    call.query = QUrlQuery(request.url());
    call.body = request.body();
    for (const auto& [name, value] : request.headers())
        call.headers.insert(name.toLower(), value);
    call.reply = reply;
    Api(std::move(call));
    return true;
}

void OfficeServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    WebReply reply(makeResponder(request, socket), socket, true);
    reply.Error(Status::NotFound, QStringLiteral("not_found"), QStringLiteral("no such page"));
}

void OfficeServer::Asset(const QStringList& segments, const QByteArray& method, WebReply& reply)
{
    QString resource;
    if (segments.isEmpty() || (segments.size() == 1 && segments.first().isEmpty()))
        resource = QStringLiteral(":/web/index.html");
    else if (segments.size() >= 2 && segments.first() == QStringLiteral("assets") &&
             std::all_of(segments.begin() + 1, segments.end(), WebPath::IsPlainSegment))
        resource = QStringLiteral(":/web/") + segments.mid(1).join(u'/');
    QFile file(resource);
    if (resource.isEmpty() || !file.open(QIODevice::ReadOnly))
        return reply.Error(Status::NotFound, QStringLiteral("not_found"),
                           QStringLiteral("no such page"));
    if (method != "GET")
        return reply.Error(Status::MethodNotAllowed, QStringLiteral("bad_request"),
                           QStringLiteral("only GET"));
    reply.Bytes(file.readAll(), WebPath::AssetType(resource), Status::Ok, "Cache-Control",
                "no-cache", resource.endsWith(QStringLiteral(".html")));
}

void OfficeServer::Unauthorized(const WebCall& call)
{
    const bool page = call.Header("x-requested-with") == "tapeway";
    call.reply->Error(Status::Unauthorized, QStringLiteral("unauthorized"),
                      QStringLiteral("log in, or send HTTP Basic credentials"),
                      page ? QByteArray() : QByteArray("WWW-Authenticate"),
                      page ? QByteArray() : QByteArray("Basic realm=\"TAPEWAY\""));
}

void OfficeServer::Api(WebCall call)
{
    if (call.segments == QStringList{QStringLiteral("login")} && call.method == "POST")
        return Login(call);
    QPointer<OfficeServer> self(this);
    const QByteArray cookie = call.Header("cookie");
    const QByteArray authorization = call.Header("authorization");
    m_access->Identify(cookie, authorization, [self, call](const WebAccess::Identity& who) mutable {
        if (!self)
            return;
        call.who = who;
        self->Allowed(call);
    });
}

void OfficeServer::Allowed(const WebCall& call)
{
    WebReply& reply = *call.reply;
    UsersFile::Role needed;
    if (!OfficeApi::NeededRole(call, &needed))
        return reply.Error(Status::NotFound, QStringLiteral("not_found"),
                           QStringLiteral("no such API call"));
    if (!m_access->UsersRequired() && !WebPath::LoopbackHost(call.Header("host")))
        return reply.Error(Status::Forbidden, QStringLiteral("forbidden"),
                           QStringLiteral("without a users file only a loopback Host is served"));
    if (call.who.busy)
        return reply.Error(Status::ServiceUnavailable, QStringLiteral("busy"),
                           QStringLiteral("too many password checks at once; try again"),
                           "Retry-After", "2");
    if (!call.who.known)
        return Unauthorized(call);
    if (IsChange(call.method)) {
        if (call.who.cookie) {
            if (!PasswordHash::SameBytes(call.Header("x-csrf-token"), call.who.csrf.toLatin1()))
                return reply.Error(Status::Forbidden, QStringLiteral("csrf"),
                                   QStringLiteral("X-CSRF-Token is missing or wrong"));
        } else if (!call.Header("origin").isEmpty() &&
                   !WebPath::SameOrigin(call.Header("origin"), call.Header("host"),
                                        m_config.Tls())) {
            return reply.Error(Status::Forbidden, QStringLiteral("forbidden"),
                               QStringLiteral("a change from another origin"));
        }
    }
    if (int(call.who.role) < int(needed))
        return reply.Error(
            Status::Forbidden, QStringLiteral("forbidden"),
            QStringLiteral("the role %1 may not do this").arg(UsersFile::RoleName(call.who.role)));
    const QString first = call.segments.first();
    if (first == QStringLiteral("status"))
        return m_api.Status(call);
    if (first == QStringLiteral("journal"))
        return m_api.Journal(call);
    if (first == QStringLiteral("verify"))
        return m_api.Verify(call);
    if (first == QStringLiteral("lines"))
        return m_api.Lines(call);
    if (first == QStringLiteral("me"))
        return reply.Json(
            QJsonDocument(QJsonObject{{QStringLiteral("user"), call.who.user},
                                      {QStringLiteral("role"), UsersFile::RoleName(call.who.role)},
                                      {QStringLiteral("csrf"), call.who.csrf},
                                      {QStringLiteral("users"), m_access->UsersRequired()}}));
    if (first == QStringLiteral("logout")) {
        m_access->Logout(call.Header("cookie"));
        return reply.Empty(Status::NoContent, "Set-Cookie",
                           QByteArray(WebAccess::kCookie) +
                               "=; HttpOnly; SameSite=Strict; Path=/; Max-Age=0" +
                               (m_config.Tls() ? "; Secure" : ""));
    }
    // users (admin)
    QJsonArray users;
    for (const UsersFile::User& user : m_access->Users())
        users.append(QJsonObject{{QStringLiteral("name"), user.name},
                                 {QStringLiteral("role"), UsersFile::RoleName(user.role)}});
    reply.Json(QJsonDocument(QJsonObject{{QStringLiteral("users"), users}}));
}

void OfficeServer::Login(const WebCall& call)
{
    const QJsonDocument document = QJsonDocument::fromJson(call.body);
    const QJsonValue user = document.object().value(QStringLiteral("user"));
    const QJsonValue password = document.object().value(QStringLiteral("password"));
    if (!document.isObject() || !user.isString() || !password.isString())
        return call.reply->Error(Status::BadRequest, QStringLiteral("bad_request"),
                                 QStringLiteral("the body must be {\"user\",\"password\"}"));
    std::shared_ptr<WebReply> reply = call.reply;
    const bool tls = m_config.Tls();
    m_access->Login(
        user.toString(), password.toString(), [reply, tls](const WebAccess::Identity& who) {
            if (!who.known)
                return reply->Error(Status::Unauthorized, QStringLiteral("unauthorized"),
                                    QStringLiteral("wrong user name or password"));
            const QJsonDocument body(
                QJsonObject{{QStringLiteral("user"), who.user},
                            {QStringLiteral("role"), UsersFile::RoleName(who.role)},
                            {QStringLiteral("csrf"), who.csrf}});
            if (who.sessionToken.isEmpty())
                return reply->Json(body);
            reply->Json(body, Status::Ok, "Set-Cookie",
                        QByteArray(WebAccess::kCookie) + '=' + who.sessionToken +
                            "; HttpOnly; SameSite=Strict; Path=/" + (tls ? "; Secure" : ""));
        });
}

} // namespace tapeway
