// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/PromptSeam.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

PromptSeam::Responder* PromptSeam::s_responder = nullptr;

void PromptSeam::SetResponder(Responder* responder)
{
    s_responder = responder;
}

QString PromptSeam::ProgramName()
{
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

void PromptSeam::ShowMessage(QWidget* parent, const QString& text)
{
    if (s_responder) {
        s_responder->Message(ProgramName(), text, false);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, ProgramName(), text, QMessageBox::Ok, parent);
    box.exec();
}

bool PromptSeam::AskYesNo(QWidget* parent, const QString& text)
{
    if (s_responder)
        return s_responder->Message(QString(), text, true);
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral(" "), text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setWindowTitle(QString());
    return box.exec() == QMessageBox::Yes;
}

namespace {

// "Description|pattern||" becomes "Description (pattern)" for Qt.
QString NameFilter(const QString& filter)
{
    const QStringList parts = filter.split(u'|');
    return QStringLiteral("%1 (%2)").arg(parts.value(0), parts.value(1, QStringLiteral("*")));
}

} // namespace

QString PromptSeam::SaveFile(QWidget* parent, const FileRequest& request)
{
    if (s_responder)
        return s_responder->SaveFile(request);
    QFileDialog dialog(parent);
    dialog.setNameFilter(NameFilter(request.filter));
    dialog.setDefaultSuffix(request.defaultSuffix);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

QStringList PromptSeam::OpenFiles(QWidget* parent, const FileRequest& request)
{
    if (s_responder)
        return s_responder->OpenFiles(request);
    QFileDialog dialog(parent);
    dialog.setNameFilter(NameFilter(request.filter));
    dialog.setDefaultSuffix(request.defaultSuffix);
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setFileMode(request.multiple ? QFileDialog::ExistingFiles : QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}
