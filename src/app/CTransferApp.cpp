// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CTransferApp.h"

#include "app/CTransferDlg.h"

CTransferApp::CTransferApp(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("tapeway"));
    setApplicationVersion(QStringLiteral(PROJECT_VERSION_TEXT));
}

bool CTransferApp::InitInstance()
{
    CTransferDlg dialog;
    dialog.exec();
    return false;
}
