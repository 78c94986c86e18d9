#pragma once

#include "detail/heap_array.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tristripper {
namespace detail {

// The stripper's degree heap, whose sifting may run on a worker thread. Erase and update reach the
// heap through a queue, in order. The heap (empty, top, id_at, pop, removed, key_of) may only be
// read after sync(), and is then exactly what applying every operation in order on the calling
// thread gives; the caller keeps what it must know at once (the stripper in its graph). The
// checks are those of heap_array; those of a queued operation fail where it is applied (on the
// worker, or on the calling thread at a sync or when the queue is full) and are rethrown by the
// call that finds them. The heap is then broken: every later start_worker, sync, stop_worker,
// erase and update throws the same again, until clear().
class deferred_heap
{
public:
    using key_type = std::uint32_t;
    using id_type = heap_array<key_type>::id_type;

    deferred_heap();
    ~deferred_heap();
    deferred_heap(const deferred_heap &) = delete;
    deferred_heap &operator=(const deferred_heap &) = delete;

    // Stops the worker and returns to the empty, unlocked state.
    void clear();
    void reserve(std::size_t n);
    id_type push(key_type Key);
    void lock();

    // How the worker is judged (see start_worker).
    struct worker_limits
    {
        // Operations queued per judgement.
        std::uint64_t m_Window = std::uint64_t(1) << 18;
        // The worker pays while the calling thread spends at most this share of the window's time
        // waiting for it (or applying what it left while it slept) and wakes it at most this many
        // times per operation.
        double m_WaitingShare = 0.25;
        double m_WakesPerOperation = 1.0 / 2048;
        // Operations without the worker after a window where it did not pay (the pause ends at the
        // first sync or full ring after them); twice as many after each new try that fails, at
        // most m_LongestPause.
        std::uint64_t m_FirstPause = std::uint64_t(1) << 20;
        std::uint64_t m_LongestPause = std::uint64_t(1) << 24;
    };
    void set_worker_limits(const worker_limits &Limits) { m_Limits = Limits; }

    // Applies the following erase and update operations on a worker thread, when one can be
    // started; otherwise they are applied on the calling thread, at the latest by sync(). Every so
    // many operations, judges whether the worker takes the work off the calling thread: on a
    // machine whose processors are all busy it is put aside and woken up again and again, and the
    // calling thread does better alone. It is then ended for a pause and started again.
    void start_worker();
    // Waits until every queued operation is applied and ends the worker. Rethrows an exception that
    // ended the worker.
    void stop_worker();
    // Waits until every queued operation is applied. Rethrows an exception that ended the worker.
    void sync();
    // How many worker threads were started since start_worker() or clear().
    std::size_t workers_started() const { return m_Watch.m_Starts; }

    bool empty() const { return m_Heap.empty(); }
    key_type top() const { return m_Heap.top(); }
    id_type id_at(std::size_t p) const { return m_Heap.id_at(p); }
    void pop();

    bool removed(std::size_t i) const { return m_Heap.removed(i); }
    key_type key_of(std::size_t i) const { return m_Heap.key_of(i); }
    void erase(std::size_t i);
    void update(std::size_t i, key_type Key);

private:
    // An update, or an erase when m_Key is erase_key (no degree reaches it: a degree counts arcs,
    // and fewer than 2^32 - 1 of them fit into the graph).
    struct operation
    {
        id_type m_Id;
        key_type m_Key;
    };
    static constexpr key_type erase_key = 0xFFFFFFFFu;
    static constexpr std::size_t ring_size = std::size_t(1) << 14;
    static constexpr std::uint64_t publish_batch = 64;

    void queue(operation Op);
    // Makes the queued operations visible to the worker; wakes it when it blocks and Wake is set or
    // enough work waits.
    void publish(bool Wake);
    // Worker side: reports Applied operations done and wakes a caller that blocks on them.
    void hand_back(std::uint64_t Applied);
    void apply(const operation &Op);
    // Applies the operations [From, To) of the ring; those up to Known are there to look ahead at.
    void apply_range(std::uint64_t From, std::uint64_t To, std::uint64_t Known);
    // Without a worker: applies what was queued since the last time.
    void apply_queued();
    // Applies the queued operations from From on the calling thread; a failure breaks the heap.
    void apply_rest(std::uint64_t From);
    void launch_worker();
    // Keeps Failure as the heap's, and throws it.
    [[noreturn]] void fail(std::exception_ptr Failure);
    void throw_if_broken() const
    {
        if (m_Broken)
            std::rethrow_exception(m_Broken);
    }
    void run_worker();
    // Makes room in the full ring: waits for the worker, or without one catches up alone.
    void make_room();
    // Counts the time since WaitStart as waiting for the worker.
    void count_waiting(std::chrono::steady_clock::time_point WaitStart);
    // Ends the worker when the last window of operations shows that it does not pay.
    void judge_worker();
    // Starts the next window of operations to judge the worker by.
    void begin_window(std::chrono::steady_clock::time_point Now);
    // Ends the worker once it has applied every queued operation; rethrows what ended it.
    void retire_worker();
    // Without a worker: applies the queued operations, and starts the worker again when its pause
    // is over.
    void catch_up_alone();
    void wait_until_applied(std::uint64_t Count);
    // Applies the queued operations on the calling thread when the worker blocks with nothing
    // left to do; false (and nothing done) otherwise.
    bool apply_while_worker_waits();
    void end_worker() noexcept;

    // note: what the worker writes lies on cache lines of its own, apart from what the caller
    // writes and reads on every operation; shared lines would travel between the processors.
    std::unique_ptr<operation[]> m_Ring;
    std::thread m_Worker;
    std::uint64_t m_Queued = 0;
    std::uint64_t m_KnownApplied = 0;
    // What broke the heap (see the class), as the calling thread knows it.
    std::exception_ptr m_Broken;
    worker_limits m_Limits;

    // The calling thread's account of the worker, over a window of operations.
    struct worker_watch
    {
        std::uint64_t m_WindowEnd = 0;
        std::chrono::steady_clock::time_point m_WindowStart;
        std::chrono::steady_clock::duration m_Waiting{};
        std::uint64_t m_Wakes = 0;
        // While the worker pauses: the count of queued operations after which the next sync or
        // full ring ends the pause (0 when none); and the pause after the next window that fails.
        std::uint64_t m_ResumeAt = 0;
        std::uint64_t m_NextPause = 0;
        std::size_t m_Starts = 0;
    };
    worker_watch m_Watch;

    alignas(64) heap_array<key_type> m_Heap;
    alignas(64) std::atomic<std::uint64_t> m_Published{0};
    alignas(64) std::atomic<std::uint64_t> m_Applied{0};
    alignas(64) std::atomic<bool> m_Stop{false};
    std::atomic<bool> m_Failed{false};
    std::exception_ptr m_Failure;
    // Each side spins briefly, then blocks; the flags tell the other side to wake it.
    alignas(64) std::mutex m_Mutex;
    std::condition_variable m_WorkerWake;
    std::condition_variable m_CallerWake;
    std::atomic<bool> m_WorkerWaits{false};
    std::atomic<bool> m_CallerWaits{false};
};

} // namespace detail
} // namespace tristripper
