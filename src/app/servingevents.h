#pragma once

#include <functional>

// Runs work on a thread of its own while the calling thread serves its Qt events, sleeping between
// them, and calls tick() every intervalMs; returns once the work is done and rethrows what it
// threw. When no thread can be started, the work runs here without serving events. A
// QCoreApplication::exit() meanwhile ends the serving, not the wait for the work.
void runServingEvents(const std::function<void()> &work, int intervalMs, const std::function<void()> &tick);
