// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ui/PromptSeam.h"

#include <QList>
#include <QStringList>

// Answers every message box and file dialog at once and keeps what was asked.
class ScriptedPrompts : public PromptSeam::Responder
{
public:
    ScriptedPrompts() { PromptSeam::SetResponder(this); }
    ~ScriptedPrompts() override { PromptSeam::SetResponder(nullptr); }

    struct Message
    {
        QString caption;
        QString text;
        bool yesNo;
    };
    QList<Message> messages;
    QList<PromptSeam::FileRequest> fileRequests;

    bool yesAnswer = true;
    QStringList files; // what the next file dialog returns (empty: cancelled)
    QString saveFile;  // what the next save dialog returns (empty: cancelled)

    bool Message(const QString& caption, const QString& text, bool yesNo) override
    {
        messages.append({caption, text, yesNo});
        return yesAnswer;
    }
    QStringList OpenFiles(const PromptSeam::FileRequest& request) override
    {
        fileRequests.append(request);
        return files;
    }
    QString SaveFile(const PromptSeam::FileRequest& request) override
    {
        fileRequests.append(request);
        return saveFile;
    }
    QStringList Texts() const
    {
        QStringList texts;
        for (const auto& m : messages)
            texts << m.text;
        return texts;
    }
};
