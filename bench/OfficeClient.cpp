// SPDX-License-Identifier: GPL-3.0-or-later
#include "OfficeClient.h"

#include "BenchSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <iterator>
#include <memory>

OfficeClient::OfficeClient(const QUrl& base, const QString& user, const QString& password,
                           const QString& line, const QString& other, const QByteArray& program)
    : m_base(base), m_user(user), m_password(password), m_line(line), m_other(other),
      m_program(program), m_loginTimer(this)
{
    m_loginTimer.setInterval(kLoginEveryMs);
    connect(&m_loginTimer, &QTimer::timeout, this, &OfficeClient::Login);
}

OfficeClient::~OfficeClient() = default;

void OfficeClient::Start()
{
    m_cpuStart = benchsupport::ThreadCpuSeconds();
    // Made here, so that it lives on the client's thread.
    m_manager = new QNetworkAccessManager(this);
    m_loginTimer.start();
    Login();
    Round();
}

void OfficeClient::Stop()
{
    m_stopping = true;
    m_loginTimer.stop();
    End();
}

QNetworkRequest OfficeClient::Request(const QString& path, bool basic) const
{
    QNetworkRequest request(m_base.resolved(QUrl(path)));
    if (basic) {
        request.setRawHeader("Authorization",
                             "Basic " + (m_user + u':' + m_password).toUtf8().toBase64());
    }
    // As the page does: no browser dialog on a 401.
    request.setRawHeader("X-Requested-With", "tapeway");
    return request;
}

void OfficeClient::Await(QNetworkReply* reply, int expected,
                         std::function<void(QNetworkReply*)> then)
{
    connect(reply, &QNetworkReply::finished, this, [this, reply, expected, then] {
        reply->deleteLater();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (status != expected) {
            Fail(QStringLiteral("%1 %2: %3 %4")
                     .arg(reply->operation() == QNetworkAccessManager::PutOperation ? "PUT"
                                                                                    : "request",
                          reply->url().path())
                     .arg(status)
                     .arg(reply->errorString()));
        }
        then(reply);
    });
}

void OfficeClient::Round()
{
    if (m_stopping) {
        m_roundBusy = false;
        End();
        return;
    }
    m_roundBusy = true;
    m_name = QStringLiteral("UP%1.nc").arg(++m_round);
    Upload();
}

void OfficeClient::Upload()
{
    QNetworkRequest request =
        Request(QStringLiteral("/api/lines/%1/outbox/%2").arg(m_line, m_name), true);
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("application/octet-stream"));
    m_uploadClock.start();
    Await(m_manager->put(request, m_program), 201, [this](QNetworkReply* reply) {
        const qint64 ms = m_uploadClock.elapsed();
        if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 201) {
            ++m_figures.uploads;
            m_figures.uploadedBytes += m_program.size();
            m_figures.worstUploadMs = std::max(m_figures.worstUploadMs, ms);
        }
        Download();
    });
}

void OfficeClient::Download()
{
    QNetworkReply* reply = m_manager->get(
        Request(QStringLiteral("/api/lines/%1/outbox/%2").arg(m_line, m_name), true));
    Await(reply, 200, [this](QNetworkReply* done) {
        const QByteArray data = done->readAll();
        if (done->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200) {
            ++m_figures.downloads;
            if (data == m_program)
                ++m_figures.downloadsWhole;
            else
                Fail(QStringLiteral("download of %1: %2 bytes, not what was put")
                         .arg(m_name)
                         .arg(data.size()));
        }
        ListAll(0);
    });
}

void OfficeClient::ListAll(int step)
{
    const QString paths[] = {
        QStringLiteral("/api/lines/%1/outbox").arg(m_line),
        QStringLiteral("/api/lines/%1/inbox").arg(m_other),
        QStringLiteral("/api/status"),
    };
    if (step >= int(std::size(paths))) {
        Remove();
        return;
    }
    Await(m_manager->get(Request(paths[step], true)), 200, [this, step](QNetworkReply* reply) {
        if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200 &&
            QJsonDocument::fromJson(reply->readAll()).isObject())
            ++m_figures.lists;
        ListAll(step + 1);
    });
}

void OfficeClient::Remove()
{
    QNetworkReply* reply = m_manager->deleteResource(
        Request(QStringLiteral("/api/lines/%1/outbox/%2").arg(m_line, m_name), true));
    Await(reply, 204, [this](QNetworkReply* done) {
        m_figures.deletes +=
            done->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 204;
        Round();
    });
}

void OfficeClient::Login()
{
    if (m_stopping)
        return;
    QNetworkRequest request = Request(QStringLiteral("/api/login"), false);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    const QByteArray body = QJsonDocument(QJsonObject{{QStringLiteral("user"), m_user},
                                                      {QStringLiteral("password"), m_password}})
                                .toJson(QJsonDocument::Compact);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    ++m_loginsOpen;
    Await(m_manager->post(request, body), 200, [this, clock](QNetworkReply* reply) {
        --m_loginsOpen;
        if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200) {
            ++m_figures.logins;
            m_figures.worstLoginMs = std::max(m_figures.worstLoginMs, clock->elapsed());
        }
        End();
    });
}

void OfficeClient::Fail(const QString& what)
{
    if (m_figures.failures.size() < 20)
        m_figures.failures << what;
}

void OfficeClient::End()
{
    if (!m_stopping || m_roundBusy || m_loginsOpen > 0 || !m_manager)
        return;
    m_figures.cpuSeconds = benchsupport::ThreadCpuSeconds() - m_cpuStart;
    m_manager = nullptr; // no second Finished
    emit Finished();
}
