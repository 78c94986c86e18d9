#include "geom/core/workerthreads.h"

#include <utility>

namespace geom {

BackgroundWork::BackgroundWork(std::function<void()> work)
    : m_work(std::move(work))
{
    try {
        m_thread = std::thread(&BackgroundWork::runCaught, this);
        m_threaded = true;
    } catch (...) {
        // No thread: wait() does the work.
    }
}

BackgroundWork::~BackgroundWork()
{
    if (m_thread.joinable())
        m_thread.join();
}

void BackgroundWork::runCaught()
{
    try {
        m_work();
    } catch (...) {
        m_error = std::current_exception();
    }
}

void BackgroundWork::wait()
{
    if (m_thread.joinable())
        m_thread.join();
    else if (!m_threaded && !m_done)
        runCaught();
    m_done = true;
    if (m_error) {
        std::exception_ptr error;
        std::swap(error, m_error);
        std::rethrow_exception(error);
    }
}

WorkerTeam::WorkerTeam(unsigned lanes)
{
    if (lanes <= 1)
        return;
    try {
        m_helpers.reserve(lanes - 1);
        for (unsigned i = 1; i < lanes; ++i)
            m_helpers.emplace_back(&WorkerTeam::helperLoop, this);
    } catch (...) {
        // Fewer helpers: the lanes that exist take their items.
    }
}

WorkerTeam::~WorkerTeam()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    for (std::thread &helper : m_helpers)
        helper.join();
}

void WorkerTeam::run(quint32 count, const std::function<void(quint32)> &work)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_work = &work;
    m_count = count;
    m_next = 0;
    m_finished = 0;
    m_error = nullptr;
    if (!m_helpers.empty() && count > 1) {
        lock.unlock();
        m_wake.notify_all();
        lock.lock();
    }
    drain(lock);
    m_idle.wait(lock, [this] { return m_finished == m_count; });
    m_work = nullptr;
    std::exception_ptr error;
    std::swap(error, m_error);
    lock.unlock();
    if (error)
        std::rethrow_exception(error);
}

void WorkerTeam::helperLoop()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || m_next < m_count; });
        if (m_stopping)
            return;
        drain(lock);
    }
}

void WorkerTeam::drain(std::unique_lock<std::mutex> &lock)
{
    while (m_next < m_count) {
        const quint32 item = m_next++;
        const std::function<void(quint32)> &work = *m_work;
        lock.unlock();
        std::exception_ptr error;
        try {
            work(item);
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        if (error && !m_error)
            m_error = error;
        if (++m_finished == m_count)
            m_idle.notify_all();
    }
}

} // namespace geom
