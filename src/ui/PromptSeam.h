// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// Every modal question the program asks goes through here: message boxes and
// file dialogs. Tests install a Responder that answers at once, so that no
// test ever waits for a person.
class PromptSeam
{
public:
    struct FileRequest
    {
        QString filter;        // "CNC File(*.*)|*.*||" style: description|pattern
        QString defaultSuffix; // added to a typed name without an extension
        bool multiple = false; // existing files only, any number
    };

    class Responder
    {
    public:
        virtual ~Responder() = default;
        // A plain message (OK only) or, with yesNo, a question: true means Yes.
        virtual bool Message(const QString& caption, const QString& text, bool yesNo) = 0;
        // The chosen files, empty when cancelled.
        virtual QStringList OpenFiles(const FileRequest& request) = 0;
        // The file to write, empty when cancelled.
        virtual QString SaveFile(const FileRequest& request)
        {
            Q_UNUSED(request);
            return {};
        }
    };

    // nullptr puts back the real dialogs. The responder is not owned.
    static void SetResponder(Responder* responder);

    // Plain message under the program's name, OK only, no icon.
    static void ShowMessage(QWidget* parent, const QString& text);
    // Yes/No question with an empty caption.
    static bool AskYesNo(QWidget* parent, const QString& text);
    static QStringList OpenFiles(QWidget* parent, const FileRequest& request);
    // Where to write a new file (an existing one is replaced after asking).
    static QString SaveFile(QWidget* parent, const FileRequest& request);

    // The program's name as message boxes show it: the executable's file
    // name without its extension.
    static QString ProgramName();

private:
    static Responder* s_responder;
};
