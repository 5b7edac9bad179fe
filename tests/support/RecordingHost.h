// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "resources/StringTable.h"
#include "transfer/SessionHost.h"

#include <QMap>
#include <QStringList>

// A session host without widgets: it keeps the operator's choices in fields,
// answers questions from a script and records everything the session shows.
class RecordingHost : public tapeway::SessionHost
{
public:
    // Choices.
    bool receiveMode = true;
    bool continuous = false;
    QString baudText = QStringLiteral("9600");
    tapeway::LinkSettings link;
    QString target;
    bool overwriteAnswer = true;
    int language = tapeway::kEnglish;
    std::optional<tapeway::TapeProfile> tape; // the tape protocol, when set

    // The file list of a send batch: path and tick per row.
    struct Row
    {
        QString path;
        bool checked = true;
        QString state;
    };
    QList<Row> rows;

    // What the session did.
    QStringList messages;       // texts of plain messages, in order
    QStringList messageDetails; // their details
    int overwriteQuestions = 0;
    QStringList questionPaths; // the path each overwrite question names
    QStringList remembered;
    QList<bool> controlStates; // every EnableControls call
    int rangeUpper = -1;
    QList<int> positions;
    int announcedBaud = 0;
    qint64 arrivedLines = 0, arrivedBytes = 0;          // the last ShowArrived
    QList<std::pair<QString, QString>> receiveOutcomes; // target, English outcome text
    int batchesEnded = 0;
    int listRepaints = 0;
    QMap<int, QStringList> rowHistory;  // every state text each row showed
    QList<tapeway::FileReport> reports; // every file's ending, in order

    bool ControlsEnabled() const { return controlStates.isEmpty() || controlStates.last(); }

    bool IsReceiveMode() const override { return receiveMode; }
    bool IsContinuousChecked() const override { return continuous; }
    QString BaudText() const override { return baudText; }
    tapeway::LinkSettings Link() const override { return link; }
    std::optional<tapeway::TapeProfile> TapeLine() const override { return tape; }
    void ShowArrived(qint64 lines, qint64 bytes) override
    {
        arrivedLines = lines;
        arrivedBytes = bytes;
    }
    QString ReceiveTargetText() const override { return target; }
    void SetReceiveTargetText(const QString& path) override { target = path; }
    void RememberPath(const QString& path) override { remembered << path; }
    QString LocalText(int chineseId, int englishId) const override
    {
        return tapeway::LocalText(language, chineseId, englishId);
    }
    void ShowMessage(int chineseId, int englishId, const QString& detail) override
    {
        messages << LocalText(chineseId, englishId);
        messageDetails << detail;
    }
    bool AskOverwrite(const QString& path) override
    {
        ++overwriteQuestions;
        questionPaths << path;
        return overwriteAnswer;
    }
    void EnableControls(bool enable) override { controlStates << enable; }
    void SetProgressRange(int, int upper) override { rangeUpper = upper; }
    void SetProgressPos(int pos) override { positions << pos; }
    void ShowAnnouncedBaud(int baud) override { announcedBaud = baud; }
    QString NextCheckedFile(int& cursor) override
    {
        if (cursor >= rows.size()) {
            cursor = -1;
            return {};
        }
        if (cursor == 0)
            ClearStateColumn();
        for (int i = qMax(cursor, 0); i < rows.size(); ++i) {
            if (rows[i].checked) {
                cursor = i + 1;
                return rows[i].path;
            }
        }
        cursor = -1;
        return {};
    }
    void ClearStateColumn() override
    {
        for (Row& row : rows)
            row.state.clear();
    }
    void SetRowState(int row, const QString& text) override
    {
        if (row >= 0 && row < rows.size()) {
            rows[row].state = text;
            rowHistory[row] << text;
        }
    }
    void EnsureRowVisible(int) override {}
    void RepaintList() override { ++listRepaints; }
    void ReceiveEnded(const QString& path, int chineseId, int englishId) override
    {
        Q_UNUSED(chineseId);
        receiveOutcomes << std::make_pair(path, tapeway::LoadString(englishId));
    }
    void BatchEnded() override { ++batchesEnded; }
    void FileFinished(const tapeway::FileReport& report) override { reports << report; }
};
