#pragma once

namespace platform {

// The processors this process may run on, at least 1: fewer than the machine has when the
// process is pinned to some of them (its affinity, which std::thread::hardware_concurrency() and
// QThread::idealThreadCount() do not heed).
unsigned usableProcessors();

} // namespace platform
