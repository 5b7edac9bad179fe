// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>
#include <QString>

// Feeds a byte stream to the receive state machine in chunks and checks what
// must hold whatever arrives: progress never passes the announced length, it
// only moves when a packet ends, a finished file has exactly the announced
// length and matches the checksum its last packet carried, and the machine
// agrees at every chunk with a plain byte-by-byte model of the line protocol.
//
// The first two bytes of the input choose how the rest is cut into chunks;
// the rest is what the line delivers. Returns an empty string when every
// check held, else what went wrong. Shared by the fuzzer and the corpus test.
QString CheckReceiveStream(QByteArrayView input);
