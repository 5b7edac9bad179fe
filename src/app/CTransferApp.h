// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QApplication>

// The application object: it runs the main dialog and ends with it.
class CTransferApp : public QApplication
{
public:
    CTransferApp(int& argc, char** argv);
    // Runs the main dialog modally; false, so that the process ends with it.
    bool InitInstance();
};
