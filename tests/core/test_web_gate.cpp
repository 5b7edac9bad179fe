// SPDX-License-Identifier: GPL-3.0-or-later
// The office view's pure parts: what the connection guard decides from the
// bytes and the time, and the users file with its password hashes.
#include "web/PasswordHash.h"
#include "web/RequestGate.h"
#include "web/UsersFile.h"
#include "web/WebPath.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace tapeway;
using Action = RequestGate::Action;

namespace {

// One step: bytes at a time (or a tick when bytes is null), what it must say.
struct Step
{
    qint64 atMs;
    const char* bytes; // nullptr: Tick
    Action expect;
};

struct GateRow
{
    const char* name;
    std::vector<Step> steps;
    int requests; // requests seen at the end
};

constexpr qint64 kLimit = 1000;
constexpr qint64 kTimeout = 2000;

} // namespace

TEST(RequestGate, FollowsTheRequestsOfAConnection)
{
    const std::vector<GateRow> rows = {
        {"header split across chunks",
         {{0, "GET /api/status HT", Action::Continue},
          {10, "TP/1.1\r\nHost: a\r", Action::Continue},
          {20, "\n\r\n", Action::Continue},
          {2500, nullptr, Action::Idle}},
         1},
        {"Content-Length over the limit, answered from the header",
         {{0, "PUT /x HTTP/1.1\r\nContent-Length: 1001\r\n\r\n", Action::TooLarge},
          {5, "more body", Action::Continue}},
         1},
        {"Content-Length at the limit",
         {{0, "PUT /x HTTP/1.1\r\ncontent-length:1000\r\n\r\n", Action::Continue}},
         1},
        {"chunked body refused",
         {{0, "POST /x HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\n",
           Action::LengthRequired}},
         1},
        {"pipelined requests, the second too large",
         {{0,
           "PUT /a HTTP/1.1\r\nContent-Length: 3\r\n\r\nabcGET /b HTTP/1.1\r\n\r\n"
           "PUT /c HTTP/1.1\r\nContent-Length: 5000\r\n\r\n",
           Action::TooLarge}},
         3},
        {"a body's bytes are not taken for a header",
         {{0, "PUT /a HTTP/1.1\r\nContent-Length: 100\r\n\r\n", Action::Continue},
          {1, "PUT /x HTTP/1.1\r\nContent-Length: 99999\r\n\r\n", Action::Continue}},
         1},
        {"100-continue when the client waits",
         {{0, "PUT /a HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 4\r\n\r\n",
           Action::Answer100},
          {100, "body", Action::Continue}},
         1},
        {"no 100-continue when the body came along",
         {{0, "PUT /a HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 4\r\n\r\nbo",
           Action::Continue}},
         1},
        {"header not complete in time",
         {{0, "GET /api/status HTTP/1.1\r\n", Action::Continue},
          {1000, "Host: a\r\n", Action::Continue},
          {2001, nullptr, Action::TimedOut}},
         0},
        {"a body that stalls",
         {{0, "PUT /a HTTP/1.1\r\nContent-Length: 10\r\n\r\nab", Action::Continue},
          {1900, "cd", Action::Continue},
          {3800, nullptr, Action::Continue},
          {3901, nullptr, Action::TimedOut}},
         1},
        {"the clock starts again after each request",
         {{0, "GET / HTTP/1.1\r\n\r\n", Action::Continue},
          {1500, "GET /b HTTP/1.1\r\n", Action::Continue},
          {3000, "\r\n", Action::Continue},
          {4999, nullptr, Action::Continue}},
         2},
        {"WebSocket upgrade lets go",
         {{0,
           "GET /api/live HTTP/1.1\r\nUpgrade: websocket\r\nConnection: keep-alive, "
           "Upgrade\r\n\r\n",
           Action::Upgrade},
          {10, "\x81\x05hello", Action::Continue},
          {99999, nullptr, Action::Continue}},
         1},
        {"not a request line", {{0, "HELLO\r\n\r\n", Action::BadRequest}}, 1},
        {"two different lengths",
         {{0, "PUT / HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\n",
           Action::BadRequest}},
         1},
        {"a length that is not a number",
         {{0, "PUT / HTTP/1.1\r\nContent-Length: 3x\r\n\r\n", Action::BadRequest}},
         1},
        {"bare LF lines and leading empty lines",
         {{0, "\r\n\nPUT / HTTP/1.1\nContent-Length: 2000\n\n", Action::TooLarge}},
         1},
    };
    for (const GateRow& row : rows) {
        RequestGate gate(kLimit, kTimeout, 0);
        for (const Step& step : row.steps) {
            const Action got = step.bytes ? gate.Feed(QByteArrayView(step.bytes), step.atMs)
                                          : gate.Tick(step.atMs);
            EXPECT_EQ(int(got), int(step.expect))
                << row.name << " at " << step.atMs << " ms (" << gate.Reason() << ")";
        }
        EXPECT_EQ(gate.RequestsSeen(), row.requests) << row.name;
    }

    RequestGate huge(kLimit, kTimeout, 0);
    EXPECT_EQ(int(huge.Feed(QByteArray("GET / HTTP/1.1\r\nX: ") +
                                QByteArray(RequestGate::kMaxHeaderBytes, 'a'),
                            0)),
              int(Action::HeaderTooLarge));
}

TEST(WebPath, SegmentsAreDecodedOneByOne)
{
    const QStringList segments = WebPath::Segments("/api/lines/A%20B/outbox/..%2F..%2Fetc");
    ASSERT_EQ(segments.size(), 5);
    EXPECT_EQ(segments[2], "A B");
    EXPECT_EQ(segments[4], "../../etc");
    for (const char* bad : {"", ".", "..", ".hidden", "a/b", "a\\b"})
        EXPECT_FALSE(WebPath::IsPlainSegment(QString::fromUtf8(bad))) << bad;
    EXPECT_FALSE(WebPath::IsPlainSegment(WebPath::Segments("/a%00b").first()));
    EXPECT_TRUE(WebPath::IsPlainSegment("O1234.nc"));
    EXPECT_TRUE(WebPath::SameOrigin("http://127.0.0.1:8470", "127.0.0.1:8470", false));
    EXPECT_TRUE(WebPath::SameOrigin("https://Office.Example", "office.example:443", true));
    EXPECT_FALSE(WebPath::SameOrigin("http://evil.example", "127.0.0.1:8470", false));
    EXPECT_FALSE(WebPath::SameOrigin("http://127.0.0.1:8471", "127.0.0.1:8470", false));
    EXPECT_FALSE(WebPath::SameOrigin("http://office.example", "office.example", true));
    for (const char* host : {"127.0.0.1:8470", "localhost", "[::1]:8470", "LocalHost:1"})
        EXPECT_TRUE(WebPath::LoopbackHost(host)) << host;
    for (const char* host : {"", "evil.example:8470", "192.168.1.5", "127.0.0.1.evil.example"})
        EXPECT_FALSE(WebPath::LoopbackHost(host)) << host;
}

TEST(UsersFile, HashesVerifyAndTheFileIsTheOwnersOnly)
{
    // Few iterations: what is checked is the derivation, not its cost.
    const PasswordHash hash = PasswordHash::Make(QStringLiteral("geheim 密码"), 1000);
    EXPECT_TRUE(hash.Verify(QStringLiteral("geheim 密码")));
    EXPECT_FALSE(hash.Verify(QStringLiteral("geheim 密")));
    EXPECT_FALSE(hash.Verify(QString()));
    EXPECT_EQ(hash.salt.size(), PasswordHash::kSaltBytes);
    EXPECT_NE(PasswordHash::Make(QStringLiteral("x"), 1000).salt,
              PasswordHash::Make(QStringLiteral("x"), 1000).salt);
    // RFC 7914 section 11: PBKDF2-HMAC-SHA256, P="passwd", S="salt", c=1, dkLen=64.
    EXPECT_EQ(PasswordHash::Derive(QStringLiteral("passwd"), "salt", 1, 64).toHex().left(32),
              QByteArray("55ac046e56e3089fec1691c22544b605"));

    QTemporaryDir dir;
    const QString path = dir.filePath("users");
    UsersFile file(path);
    UsersFile::User user{QStringLiteral("anna"), UsersFile::Role::Operator, hash};
    EXPECT_FALSE(file.Put(user));
    QString error;
    ASSERT_TRUE(file.Save(&error)) << error.toStdString();
    struct stat info
    {
    };
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    UsersFile again(path);
    ASSERT_TRUE(again.Load(&error)) << error.toStdString();
    ASSERT_NE(again.Find("anna"), nullptr);
    EXPECT_EQ(again.Find("anna")->role, UsersFile::Role::Operator);
    EXPECT_TRUE(again.Find("anna")->hash.Verify(QStringLiteral("geheim 密码")));

    const QByteArray good = "anna:admin:" + hash.ToText().toUtf8() + "\n";
    const struct
    {
        QByteArray text;
        const char* says;
    } bad[] = {
        {"# users\n" + good + "bob:viewer\n", "users:3: expected"},
        {good + ".bob:viewer:" + hash.ToText().toUtf8() + "\n", "users:2: \".bob\" is not"},
        {"bob:root:" + hash.ToText().toUtf8() + "\n", "users:1: the role"},
        {"bob:viewer:pbkdf2-sha256:1:AAAA:AAAA\n", "users:1: the password hash"},
        {good + good, "users:2: \"anna\" is there twice"},
    };
    for (const auto& row : bad) {
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(row.text);
        out.close();
        UsersFile broken(path);
        EXPECT_FALSE(broken.Load(&error)) << row.says;
        EXPECT_TRUE(error.contains(QString::fromUtf8(row.says))) << error.toStdString();
    }
    UsersFile missing(dir.filePath("none"));
    EXPECT_TRUE(missing.Load(&error, true));
    EXPECT_FALSE(missing.Load(&error, false));
}
