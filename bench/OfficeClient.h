// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <functional>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;

// The office at work, as a browser or a script would be: over and over it
// puts a large program into one line's outbox under a fresh name, fetches it
// back, lists folders and the status, and takes it out of the queue again;
// every few seconds it logs in (a password check). Lives on a thread of its
// own with its own network manager; its figures are read once it finished.
class OfficeClient : public QObject
{
    Q_OBJECT
public:
    static constexpr int kLoginEveryMs = 3000;

    struct Figures
    {
        qint64 uploadedBytes = 0;
        int uploads = 0;
        int downloads = 0;
        int downloadsWhole = 0; // byte for byte what was put
        int lists = 0;
        int deletes = 0;
        int logins = 0;
        qint64 worstUploadMs = 0;
        qint64 worstLoginMs = 0;
        double cpuSeconds = 0.0; // this client's thread
        QStringList failures;    // requests that did not answer as they should
    };

    // base: http://HOST:PORT/; line: the line whose outbox takes the uploads;
    // other: a second line whose inbox is listed.
    OfficeClient(const QUrl& base, const QString& user, const QString& password,
                 const QString& line, const QString& other, const QByteArray& program);
    ~OfficeClient() override;

    // On the client's thread: begins the rounds; Stop ends them after the
    // round under way, then Finished.
    void Start();
    void Stop();
    const Figures& Result() const { return m_figures; }

signals:
    void Finished();

private:
    QNetworkRequest Request(const QString& path, bool basic) const;
    // Calls then with the reply once it finished; a status other than
    // expected is a failure, and the round goes on.
    void Await(QNetworkReply* reply, int expected, std::function<void(QNetworkReply*)> then);
    void Round();
    void Upload();
    void Download();
    void ListAll(int step);
    void Remove();
    void Login();
    void Fail(const QString& what);
    void End();

    QUrl m_base;
    QString m_user;
    QString m_password;
    QString m_line;
    QString m_other;
    QByteArray m_program;
    QNetworkAccessManager* m_manager = nullptr;
    QTimer m_loginTimer; // a child, so that it moves to the client's thread
    QString m_name;      // the round's upload
    int m_round = 0;
    bool m_stopping = false;
    bool m_roundBusy = false;
    int m_loginsOpen = 0;
    QElapsedTimer m_uploadClock;
    double m_cpuStart = 0.0;
    Figures m_figures;
};
