// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

namespace tapeway {

// "tapeway-cli approve|reject|diff LINE NAME": the check of a program that a
// line with Approve=yes holds in pending/ under its inbox. The line's
// folders come from the service's configuration (--config). Approve and
// reject are journalled with the program's SHA-256 and the library's.
class ApprovalCommand
{
public:
    static int RunApprove(const QStringList& args);
    static int RunReject(const QStringList& args);
    static int RunDiff(const QStringList& args);
};

} // namespace tapeway
