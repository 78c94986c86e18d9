#pragma once

#include <QtGlobal>

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Threads of our own for the parallel parts of reading and writing. QThreadPool loses a task when
// it cannot create the thread for it (no address space left for a stack, or the process's thread
// limit reached): a QFuture of that task never finishes, and the pool then waits for it forever
// when it is destroyed. These helpers hand the work of a thread that could not be started to the
// calling thread instead, so they always complete.
namespace geom {

// One piece of work on a thread of its own, started by the constructor; when no thread can be
// started, wait() does the work on the calling thread.
class BackgroundWork
{
public:
    explicit BackgroundWork(std::function<void()> work);
    // Waits for a started thread; work that had no thread and was not waited for is not done.
    ~BackgroundWork();
    BackgroundWork(const BackgroundWork &) = delete;
    BackgroundWork &operator=(const BackgroundWork &) = delete;

    // Returns once the work is done, doing it here when it has no thread; rethrows what the work
    // threw (once). Call from the thread that made the object.
    void wait();
    // True when the work runs on a thread of its own.
    bool threaded() const { return m_threaded; }

private:
    void runCaught();

    std::function<void()> m_work;
    std::exception_ptr m_error;
    std::thread m_thread;
    bool m_threaded = false;
    bool m_done = false;
};

// The calling thread and up to lanes - 1 helper threads, started by the constructor, that share
// the items of each run(). Helpers that cannot be started leave their share to the others; with
// none, run() does every item itself.
class WorkerTeam
{
public:
    explicit WorkerTeam(unsigned lanes);
    // Ends the helpers; no run() may be in progress.
    ~WorkerTeam();
    WorkerTeam(const WorkerTeam &) = delete;
    WorkerTeam &operator=(const WorkerTeam &) = delete;

    // Threads that take part in a run, the caller included (at least 1).
    unsigned lanes() const { return unsigned(m_helpers.size()) + 1; }
    // Calls work(i) once for every i below count, items handed out in rising order to whichever
    // lane is free, and returns when all are done. When items throw, the others are still done
    // and the first exception is rethrown here. Call from the thread that made the team.
    void run(quint32 count, const std::function<void(quint32)> &work);

private:
    void helperLoop();
    // Takes and does items until none is left; called and returns with the lock held.
    void drain(std::unique_lock<std::mutex> &lock);

    std::vector<std::thread> m_helpers;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    const std::function<void(quint32)> *m_work = nullptr;
    quint32 m_count = 0;
    quint32 m_next = 0;
    quint32 m_finished = 0;
    std::exception_ptr m_error;
    bool m_stopping = false;
};

} // namespace geom
