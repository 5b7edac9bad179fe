// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CTransferApp.h"

int main(int argc, char** argv)
{
    CTransferApp app(argc, argv);
    app.InitInstance();
    return 0;
}
