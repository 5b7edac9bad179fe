// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

// Runs the event loop until the condition holds or the time is up; true when
// the condition held. For tests only: product code never spins the loop.
bool WaitFor(std::function<bool()> condition, int timeoutMs = 10000);

// Runs the event loop for the given time (lets queued work and timers run).
void RunEventLoopFor(int ms);
