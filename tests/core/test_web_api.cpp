// SPDX-License-Identifier: GPL-3.0-or-later
// The office view's API against a running tapeway-cli serve: Qt's network
// client (and raw sockets for what a client should not do), the lines on
// paced virtual null-modems with "tapeway-cli controller" as the machines.
#include "support/CliProcess.h"
#include "support/FaultTools.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QSslConfiguration>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QWebSocket>
#include <gtest/gtest.h>
#include <iostream>
#include <memory>

using namespace tapeway;

namespace {

struct Answer
{
    int status = 0;
    QByteArray body;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QHash<QByteArray, QByteArray> headers; // names in lower case
    QJsonObject Json() const { return QJsonDocument::fromJson(body).object(); }
    QString Code() const { return Json().value("error").toString(); }
};

struct Office
{
    QTemporaryDir dir;
    CliProcess process;
    std::unique_ptr<VirtualNullModem> modem; // the send line's machine
    std::unique_ptr<CliProcess> machine;
    QNetworkAccessManager network;
    QString base;

    ~Office()
    {
        if (::testing::Test::HasFailure()) {
            process.Collect();
            std::cerr << "service log:\n" << process.err.toStdString();
        }
    }
    QString Path(const QString& name) const { return QDir(dir.path()).filePath(name); }

    void AddUser(const QString& name, const QString& role, const QString& password)
    {
        CliProcess add;
        add.process.setProgram(QStringLiteral(TAPEWAY_CLI_PATH));
        add.process.setArguments({"user", "add", "--users", Path("users"), name, "--role", role});
        add.process.start();
        ASSERT_TRUE(add.process.waitForStarted(10000));
        add.process.write((password + "\nignored second line\n").toUtf8());
        add.process.closeWriteChannel();
        ASSERT_TRUE(add.Wait()) << add.err.toStdString();
        ASSERT_EQ(add.ExitCode(), 0) << add.err.toStdString();
    }

    // A send line (Mill) and a receive line with approval (Lathe).
    bool Start(const QString& http, bool listens = true)
    {
        modem = std::make_unique<VirtualNullModem>();
        modem->SetPaced(true);
        if (!modem->Start())
            return false;
        for (const char* folder : {"Mill/out", "Lathe/in/pending", "Lathe/lib"})
            QDir().mkpath(Path(folder));
        faults::Write(Path("lines.ini"),
                      QStringLiteral("[Mill]\nPort=%1\nMode=send\nBaud=9600\nOutbox=Mill/out\n"
                                     "[Lathe]\nPort=%2\nMode=receive\nInbox=Lathe/in\n"
                                     "Approve=yes\nLibrary=Lathe/lib\n[HTTP]\n%3")
                          .arg(modem->PortA(), Path("no-such-port"), http)
                          .toUtf8());
        process.Start({"serve", "--config", Path("lines.ini"), "--runtime-dir", Path("run"),
                       "--journal", "sqlite:" + Path("run/journal.sqlite")});
        if (!listens)
            return true;
        if (!process.WaitForText("://127.0.0.1:", 20000))
            return false;
        const QRegularExpression url("office view: (https?://127\\.0\\.0\\.1:\\d+/)");
        base = url.match(process.err).captured(1);
        return !base.isEmpty();
    }

    Answer Call(const QByteArray& method, const QString& path, const QByteArray& body = {},
                const QList<std::pair<QByteArray, QByteArray>>& headers = {})
    {
        QNetworkRequest request(QUrl(base + path.mid(1), QUrl::StrictMode));
        request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
        request.setRawHeader("Connection", "close");
        for (const auto& [name, value] : headers)
            request.setRawHeader(name, value);
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setPeerVerifyMode(QSslSocket::VerifyNone); // our own certificate
        request.setSslConfiguration(tls);
        std::unique_ptr<QNetworkReply> reply(network.sendCustomRequest(request, method, body));
        Answer answer;
        if (!WaitFor([&] { return reply->isFinished(); }, 30000))
            return answer;
        answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        answer.body = reply->readAll();
        answer.error = reply->error();
        for (const auto& [name, value] : reply->rawHeaderPairs())
            answer.headers.insert(name.toLower(), value);
        return answer;
    }
    static std::pair<QByteArray, QByteArray> Basic(const char* credential)
    {
        return {"Authorization", "Basic " + QByteArray(credential).toBase64()};
    }
    // What a raw client gets for the bytes it sends (and keeps sending none).
    QByteArray Raw(const QByteArray& bytes, int waitMs = 10000)
    {
        QTcpSocket socket;
        socket.connectToHost("127.0.0.1", QUrl(base).port());
        if (!WaitFor([&] { return socket.state() == QAbstractSocket::ConnectedState; }))
            return "not connected";
        socket.write(bytes);
        QByteArray got;
        WaitFor(
            [&] {
                got += socket.readAll();
                return socket.state() == QAbstractSocket::UnconnectedState;
            },
            waitMs);
        return got + socket.readAll();
    }
    QStringList Outbox() const
    {
        return QDir(Path("Mill/out")).entryList(QDir::Files | QDir::Hidden);
    }
};

} // namespace

TEST(WebApi, StatusCodesUploadApprovalJournalAndLive)
{
    Office o;
    o.AddUser("vera", "viewer", "look only");
    o.AddUser("otto", "operator", "machinist 机工");
    ASSERT_TRUE(o.Start(QStringLiteral("Listen=127.0.0.1:0\nUsers=%1\nMaxUpload=64K\n"
                                       "ClientTimeout=2\n")
                            .arg(o.Path("users"))));
    const auto viewer = Office::Basic("vera:look only");
    const auto operatorCredential = Office::Basic("otto:machinist 机工");

    // Who may: no credentials, a wrong password, a viewer's change.
    Answer a = o.Call("GET", "/api/status");
    EXPECT_EQ(a.status, 401);
    EXPECT_EQ(a.Code(), "unauthorized");
    EXPECT_EQ(a.headers.value("www-authenticate"), "Basic realm=\"TAPEWAY\"");
    EXPECT_FALSE(o.Call("GET", "/api/status", {}, {{"X-Requested-With", "tapeway"}})
                     .headers.contains("www-authenticate"));
    EXPECT_EQ(o.Call("GET", "/api/status", {}, {Office::Basic("vera:wrong")}).status, 401);
    a = o.Call("GET", "/api/status", {}, {viewer});
    EXPECT_EQ(a.status, 200);
    EXPECT_EQ(a.Json().value("lines").toArray().size(), 2);
    EXPECT_EQ(a.headers.value("x-content-type-options"), "nosniff");
    EXPECT_EQ(a.headers.value("cache-control"), "no-store");
    a = o.Call("PUT", "/api/lines/Mill/outbox/O1.nc", "G0", {viewer});
    EXPECT_EQ(a.status, 403);
    EXPECT_EQ(a.Code(), "forbidden");
    EXPECT_EQ(o.Call("GET", "/api/users", {}, {operatorCredential}).status, 403);

    // The page's session: the cookie alone does not change anything.
    a = o.Call("POST", "/api/login", R"({"user":"otto","password":"machinist 机工"})");
    ASSERT_EQ(a.status, 200) << a.body.toStdString();
    const QByteArray cookie = a.headers.value("set-cookie");
    EXPECT_TRUE(cookie.contains("HttpOnly") && cookie.contains("SameSite=Strict")) << cookie.data();
    const QByteArray session = cookie.left(cookie.indexOf(';'));
    const QByteArray csrf = a.Json().value("csrf").toString().toLatin1();
    o.network.setCookieJar(new QNetworkCookieJar); // the session goes only where it is given
    EXPECT_EQ(o.Call("POST", "/api/login", R"({"user":"otto","password":"x"})").status, 401);
    a = o.Call("PUT", "/api/lines/Mill/outbox/O1.nc", "G0", {{"Cookie", session}});
    EXPECT_EQ(a.status, 403);
    EXPECT_EQ(a.Code(), "csrf");
    EXPECT_EQ(o.Call("GET", "/api/me", {}, {{"Cookie", session}}).Json().value("role"), "operator");
    EXPECT_EQ(o.Call("DELETE", "/api/lines/Mill/outbox/none.nc", {},
                     {{"Cookie", session}, {"X-CSRF-Token", csrf}})
                  .status,
              404);
    EXPECT_EQ(o.Call("PUT", "/api/lines/Mill/outbox/O1.nc", "G0",
                     {operatorCredential, {"Origin", "http://elsewhere.example"}})
                  .status,
              403);

    // Names: an unknown line, and nothing written for a name that is not plain.
    a = o.Call("GET", "/api/lines/Drill/outbox", {}, {viewer});
    EXPECT_EQ(a.status, 404);
    EXPECT_EQ(a.Code(), "no_line");
    for (const char* name : {"..%2F..%2Flines.ini", "a%00b.nc", ".hidden", "%2Ehidden"}) {
        a = o.Call("PUT", QStringLiteral("/api/lines/Mill/outbox/") + name, "G0",
                   {operatorCredential});
        EXPECT_EQ(a.status, 400) << name;
        EXPECT_EQ(a.Code(), "bad_name") << name;
    }
    EXPECT_EQ(o.Outbox(), QStringList());
    EXPECT_EQ(faults::Read(o.Path("lines.ini")).contains("[Mill]"), true);

    // Limits, from raw clients: answered from the header, then closed.
    const QByteArray auth = "Authorization: " + operatorCredential.second + "\r\n";
    QByteArray got = o.Raw("PUT /api/lines/Mill/outbox/big.nc HTTP/1.1\r\nHost: x\r\n" + auth +
                           "Content-Length: 70000\r\n\r\n");
    EXPECT_TRUE(got.startsWith("HTTP/1.1 413 ")) << got.data();
    EXPECT_TRUE(got.contains("too_large"));
    got = o.Raw("PUT /api/lines/Mill/outbox/c.nc HTTP/1.1\r\nHost: x\r\n" + auth +
                "Transfer-Encoding: chunked\r\n\r\n2\r\nG0\r\n0\r\n\r\n");
    EXPECT_TRUE(got.startsWith("HTTP/1.1 411 ")) << got.data();
    got = o.Raw("GET /api/status HTTP/1.1\r\nHost: x\r\n" + auth); // half a header
    EXPECT_TRUE(got.startsWith("HTTP/1.1 408 ")) << got.data();
    got = o.Raw("PUT /api/lines/Mill/outbox/slow.nc HTTP/1.1\r\nHost: x\r\n" + auth +
                "Expect: 100-continue\r\nContent-Length: 10\r\n\r\n");
    EXPECT_TRUE(got.startsWith("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 408 ")) << got.data();
    EXPECT_EQ(o.Outbox(), QStringList());

    // An upload the line then sends to the machine, byte for byte.
    QByteArray program = "%\nO4711 (FROM THE OFFICE)\n";
    for (int n = 1; n < 60; ++n)
        program += "N" + QByteArray::number(n) + " G1 X" + QByteArray::number(n * 7) + "\n";
    program += "%\n";
    a = o.Call("PUT", "/api/lines/Mill/outbox/O4711.nc", program, {operatorCredential});
    EXPECT_EQ(a.status, 201) << a.body.toStdString();
    EXPECT_EQ(a.Json().value("bytes").toInt(), program.size());
    EXPECT_EQ(
        o.Call("PUT", "/api/lines/Mill/outbox/O4711.nc", program, {operatorCredential}).status,
        200);
    for (const char* name : {"O2.nc", "O3.nc"})
        EXPECT_EQ(o.Call("PUT", QStringLiteral("/api/lines/Mill/outbox/") + name, "%\nG0\n%\n",
                         {operatorCredential})
                      .status,
                  201);
    EXPECT_EQ(
        o.Call("PUT", "/api/lines/Mill/order", R"(["O4711.nc","O3.nc"])", {operatorCredential})
            .status,
        204);
    QJsonArray files =
        o.Call("GET", "/api/lines/Mill/outbox", {}, {viewer}).Json()["files"].toArray();
    ASSERT_EQ(files.size(), 3);
    EXPECT_EQ(files[0].toObject()["name"], "O4711.nc");
    EXPECT_EQ(files[1].toObject()["name"], "O3.nc");
    EXPECT_EQ(o.Call("DELETE", "/api/lines/Mill/outbox/O2.nc", {}, {operatorCredential}).status,
              204);
    EXPECT_EQ(o.Call("DELETE", "/api/lines/Mill/outbox/O3.nc", {}, {operatorCredential}).status,
              204);
    a = o.Call("GET", "/api/lines/Mill/outbox/O4711.nc", {}, {viewer});
    EXPECT_EQ(a.body, program);
    EXPECT_TRUE(a.headers.value("content-disposition").contains("filename*=UTF-8''O4711.nc"));

    // Live: the status at once; without credentials the socket is refused.
    QWebSocket live;
    QStringList messages;
    QObject::connect(&live, &QWebSocket::textMessageReceived,
                     [&](const QString& text) { messages << text; });
    QString wsBase = o.base;
    wsBase.replace("http", "ws");
    QNetworkRequest liveRequest(QUrl(wsBase + "api/live"));
    liveRequest.setRawHeader("Authorization", viewer.second);
    live.open(liveRequest);
    ASSERT_TRUE(WaitFor([&] { return !messages.isEmpty(); }, 15000))
        << live.closeCode() << " " << live.closeReason().toStdString() << " "
        << live.errorString().toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(messages.first().toUtf8()).object()["type"], "status");
    QWebSocket stranger;
    stranger.open(QUrl(wsBase + "api/live"));
    ASSERT_TRUE(WaitFor(
        [&] { return stranger.closeCode() == QWebSocketProtocol::CloseCodePolicyViolated; }, 15000))
        << stranger.closeCode();

    o.machine = std::make_unique<CliProcess>(QStringList{"controller", "--port", o.modem->PortB(),
                                                         "receive", o.Path("got"), "--count", "1"});
    ASSERT_TRUE(o.machine->Wait(60000)) << o.machine->err.toStdString();
    EXPECT_EQ(o.machine->ExitCode(), 0) << o.machine->err.toStdString();
    const QStringList arrived = QDir(o.Path("got")).entryList(QDir::Files);
    ASSERT_EQ(arrived.size(), 1);
    EXPECT_EQ(faults::Read(QDir(o.Path("got")).filePath(arrived.first())), program);
    ASSERT_TRUE(WaitFor([&] { return !o.Outbox().contains("O4711.nc"); }, 20000));
    const QStringList sent = QDir(o.Path("Mill/out/sent")).entryList(QDir::Files);
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(faults::Read(o.Path("Mill/out/sent/" + sent.first())), program);
    EXPECT_TRUE(WaitFor([&] { return messages.contains(R"({"type":"journal"})"); }, 15000));

    // The journal by line, as JSON and as CSV.
    QJsonArray records;
    ASSERT_TRUE(WaitFor([&] {
        records = o.Call("GET", "/api/journal?line=Mill", {}, {viewer}).Json()["records"].toArray();
        return !records.isEmpty();
    }));
    EXPECT_EQ(records[0].toObject()["line"], "Mill");
    EXPECT_EQ(records[0].toObject()["outcome"], "sent");
    EXPECT_EQ(
        o.Call("GET", "/api/journal?line=Lathe", {}, {viewer}).Json()["records"].toArray().size(),
        0);
    a = o.Call("GET", "/api/journal?line=Mill&format=csv", {}, {viewer});
    EXPECT_TRUE(a.headers.value("content-type").startsWith("text/csv"));
    EXPECT_TRUE(a.body.contains("O4711.nc"));
    EXPECT_EQ(o.Call("GET", "/api/journal?since=yesterday-ish", {}, {viewer}).status, 400);
    a = o.Call("POST", "/api/verify", program, {viewer});
    EXPECT_EQ(a.Json()["records"].toArray().size(), 1) << a.body.toStdString();

    // Approval of what waits in pending/: diff, approve (exists without
    // replace), reject.
    faults::Write(o.Path("Lathe/lib/O5.nc"), "%\nO5\nG0 X1\n%\n");
    faults::Write(o.Path("Lathe/in/pending/O5.nc"), "%\nO5\nG0 X2\n%\n");
    faults::Write(o.Path("Lathe/in/pending/O6.nc"), "%\nO6\n%\n");
    a = o.Call("GET", "/api/lines/Lathe/pending/O5.nc/diff", {}, {viewer});
    EXPECT_TRUE(a.Json()["diff"].toString().contains("+G0 X2")) << a.body.toStdString();
    EXPECT_EQ(a.Json()["library"], true);
    EXPECT_EQ(o.Call("POST", "/api/lines/Lathe/pending/O5.nc/approve", {}, {viewer}).status, 403);
    a = o.Call("POST", "/api/lines/Lathe/pending/O5.nc/approve", {}, {operatorCredential});
    EXPECT_EQ(a.status, 409);
    EXPECT_EQ(a.Code(), "exists");
    a = o.Call("POST", "/api/lines/Lathe/pending/O5.nc/approve?replace=1", {},
               {operatorCredential});
    EXPECT_EQ(a.status, 200) << a.body.toStdString();
    EXPECT_EQ(faults::Read(o.Path("Lathe/lib/O5.nc")), "%\nO5\nG0 X2\n%\n");
    a = o.Call("POST", "/api/lines/Lathe/pending/O6.nc/reject", {}, {operatorCredential});
    EXPECT_EQ(a.status, 200) << a.body.toStdString();
    EXPECT_FALSE(QFileInfo::exists(o.Path("Lathe/in/pending/O6.nc")));
    EXPECT_TRUE(QFileInfo::exists(a.Json()["path"].toString()));

    // A page left open after its session ended hears nothing more: at the
    // next change its socket is closed, a script's stays.
    QWebSocket page;
    QNetworkRequest pageRequest(QUrl(wsBase + "api/live"));
    pageRequest.setRawHeader("Cookie", session);
    page.open(pageRequest);
    ASSERT_TRUE(WaitFor([&] { return page.state() == QAbstractSocket::ConnectedState; }, 15000));
    EXPECT_EQ(o.Call("POST", "/api/logout", {}, {{"Cookie", session}, {"X-CSRF-Token", csrf}})
                  .status,
              204);
    EXPECT_EQ(o.Call("PUT", "/api/lines/Mill/outbox/O7.nc", "%\nG0\n%\n", {operatorCredential})
                  .status,
              201);
    EXPECT_TRUE(WaitFor(
        [&] { return page.closeCode() == QWebSocketProtocol::CloseCodePolicyViolated; }, 20000))
        << page.closeCode();
    EXPECT_EQ(live.state(), QAbstractSocket::ConnectedState);
}

TEST(WebApi, TlsWithACertificateOfItsOwn)
{
    const QString openssl = QStandardPaths::findExecutable("openssl");
    if (openssl.isEmpty())
        GTEST_SKIP() << "skipped: no openssl to make a certificate with";
    Office o;
    QProcess make;
    make.start(openssl,
               {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                "/CN=127.0.0.1", "-keyout", o.Path("office.key"), "-out", o.Path("office.crt")});
    ASSERT_TRUE(make.waitForFinished(60000) && make.exitCode() == 0);
    o.AddUser("otto", "operator", "pw");
    ASSERT_TRUE(o.Start(QStringLiteral("Listen=127.0.0.1:0\nUsers=%1\nCertificate=%2\nKey=%3\n")
                            .arg(o.Path("users"), o.Path("office.crt"), o.Path("office.key"))));
    EXPECT_TRUE(o.base.startsWith("https://")) << o.base.toStdString();
    const Answer a = o.Call("POST", "/api/login", R"({"user":"otto","password":"pw"})");
    EXPECT_EQ(a.status, 200) << a.error;
    EXPECT_TRUE(a.headers.value("set-cookie").contains("; Secure"));
    EXPECT_EQ(o.Call("GET", "/api/status", {}, {Office::Basic("otto:pw")}).status, 200);
}

TEST(WebApi, WithoutUsersTheLoopbackIsTheAdmin)
{
    Office o;
    ASSERT_TRUE(o.Start(QStringLiteral("Listen=127.0.0.1:0\n")));
    const QJsonObject me = o.Call("GET", "/api/me").Json();
    EXPECT_EQ(me["user"], "local");
    EXPECT_EQ(me["role"], "admin");
    EXPECT_EQ(me["users"], false);
    EXPECT_EQ(o.Call("PUT", "/api/lines/Mill/outbox/O1.nc", "%\nG0\n%\n").status, 201);
    // Another site's page that made its name point here gets nothing.
    const QByteArray got = o.Raw("DELETE /api/lines/Mill/outbox/O1.nc HTTP/1.1\r\n"
                                 "Host: rebound.example:8470\r\nConnection: close\r\n\r\n");
    EXPECT_TRUE(got.startsWith("HTTP/1.1 403 ")) << got.data();
    EXPECT_EQ(o.Outbox(), QStringList{"O1.nc"});

    // A certificate that cannot be read: the reason, and the service ends
    // with a usage error.
    Office broken;
    ASSERT_TRUE(broken.Start(QStringLiteral("Listen=127.0.0.1:0\nCertificate=%1\nKey=%1\n")
                                 .arg(broken.Path("missing.pem")),
                             false));
    ASSERT_TRUE(broken.process.Wait(30000));
    EXPECT_EQ(broken.process.ExitCode(), 2);
    EXPECT_TRUE(broken.process.err.contains(broken.Path("missing.pem")))
        << broken.process.err.toStdString();
}
