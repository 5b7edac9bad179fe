// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "journal/TransferRecord.h"
#include "serve/Approval.h"

namespace tapeway {

// The journal's record of a decision on a pending program (outcome
// Approval::kApproved or kRejected): where the program is now, its digest
// and the library's, in the line's name; message is the English text told.
TransferRecord ApprovalRecord(const LineConfig& line, const Approval::Result& result,
                              const char* outcome, const QString& message);

} // namespace tapeway
