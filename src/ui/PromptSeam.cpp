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

QStringList PromptSeam::OpenFiles(QWidget* parent, const FileRequest& request)
{
    if (s_responder)
        return s_responder->OpenFiles(request);
    // "Description|pattern||" becomes "Description (pattern)" for Qt.
    const QStringList parts = request.filter.split(u'|');
    const QString description = parts.value(0);
    const QString pattern = parts.value(1, QStringLiteral("*"));
    QFileDialog dialog(parent);
    dialog.setNameFilter(QStringLiteral("%1 (%2)").arg(description, pattern));
    dialog.setDefaultSuffix(request.defaultSuffix);
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setFileMode(request.multiple ? QFileDialog::ExistingFiles : QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}
