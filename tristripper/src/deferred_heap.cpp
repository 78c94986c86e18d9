#include "detail/deferred_heap.h"

#include <algorithm>
#include <chrono>

namespace tristripper {
namespace detail {
namespace {

// How long a waiting side spins before it blocks. The stripper hands over a few dozen operations
// at a time, with gaps of some microseconds between them in which it tries strips; a side that
// blocks in every such gap is woken thousands of times a second, each wake-up costing more than
// the gap. The bound is a time, not a count of pause instructions, whose length differs many
// times between processors; when the two sides share one processor (a pinned or busy machine),
// spinning only takes time from the side that is waited for, so it stays short.
constexpr std::chrono::microseconds spin_time(25);
// A blocked worker is woken for this many queued operations; fewer are cheaper to apply on the
// calling thread at the next sync than a wake-up is.
constexpr std::uint64_t wake_backlog = 256;
// note: the heap's entries of consecutive operations lie far apart, so each costs two trips to
// memory (position, then entry); asking for the positions this many operations ahead and for the
// entries half as far lets the trips of several operations overlap. A measured choice.
constexpr std::uint64_t prefetch_ahead = 16;
constexpr std::uint64_t hand_back_every = 256;

void pause()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// Spins for about spin_time: true while a waiting side should go on spinning.
class spinner
{
public:
    bool spin()
    {
        // note: the clock is read every few rounds only; a read costs some pause instructions.
        if (++m_Rounds % clock_every != 0) {
            pause();
            return true;
        }
        const auto Now = std::chrono::steady_clock::now();
        if (m_Rounds == clock_every)
            m_Until = Now + spin_time;
        return Now < m_Until;
    }
    void restart() { m_Rounds = 0; }

private:
    static constexpr unsigned clock_every = 32;
    unsigned m_Rounds = 0;
    std::chrono::steady_clock::time_point m_Until;
};

} // namespace

deferred_heap::deferred_heap() = default;

deferred_heap::~deferred_heap()
{
    end_worker();
}

void deferred_heap::clear()
{
    end_worker();
    m_Watch = worker_watch();
    m_Heap.clear();
    m_Queued = 0;
    m_KnownApplied = 0;
    m_Failure = nullptr;
    m_Broken = nullptr;
}

void deferred_heap::reserve(std::size_t n)
{
    m_Heap.reserve(n);
}

deferred_heap::id_type deferred_heap::push(key_type Key)
{
    return m_Heap.push(Key);
}

void deferred_heap::lock()
{
    m_Heap.lock();
    if (!m_Ring)
        m_Ring.reset(new operation[ring_size]);
}

void deferred_heap::pop()
{
    m_Heap.pop();
}

void deferred_heap::erase(std::size_t i)
{
    TRISTRIPPER_CHECK(m_Heap.locked(), "locked()");
    TRISTRIPPER_CHECK(m_Heap.valid(i), "valid(i)");
    queue({static_cast<id_type>(i), erase_key});
}

void deferred_heap::update(std::size_t i, key_type Key)
{
    TRISTRIPPER_CHECK(m_Heap.locked(), "locked()");
    TRISTRIPPER_CHECK(m_Heap.valid(i), "valid(i)");
    TRISTRIPPER_CHECK(Key != erase_key, "Key != erase_key");
    queue({static_cast<id_type>(i), Key});
}

void deferred_heap::apply(const operation &Op)
{
    if (Op.m_Key == erase_key)
        m_Heap.erase(Op.m_Id);
    else
        m_Heap.update(Op.m_Id, Op.m_Key);
}

void deferred_heap::apply_range(std::uint64_t From, std::uint64_t To, std::uint64_t Known)
{
    for (std::uint64_t k = From; k != To; ++k) {
        if (Known - k > prefetch_ahead)
            m_Heap.prefetch(m_Ring[(k + prefetch_ahead) % ring_size].m_Id, 0);
        if (Known - k > prefetch_ahead / 2)
            m_Heap.prefetch(m_Ring[(k + prefetch_ahead / 2) % ring_size].m_Id, 1);
        apply(m_Ring[k % ring_size]);
    }
}

void deferred_heap::queue(operation Op)
{
    throw_if_broken();
    // note: without a worker the operations still wait in the ring, to be applied in runs whose
    // trips to memory overlap (apply_range) rather than one after the other.
    if (m_Queued - m_KnownApplied == ring_size)
        make_room();
    m_Ring[m_Queued % ring_size] = Op;
    ++m_Queued;
    // note: publishing every operation would move the counter's cache line between the two
    // threads each time; batches keep the worker busy at a fraction of that cost.
    if (m_Queued % publish_batch == 0 && m_Worker.joinable()) {
        publish(false);
        if (m_Queued >= m_Watch.m_WindowEnd)
            judge_worker();
    }
}

void deferred_heap::make_room()
{
    if (!m_Worker.joinable()) {
        catch_up_alone();
        return;
    }
    const auto Start = std::chrono::steady_clock::now();
    wait_until_applied(m_Queued - ring_size + 1);
    m_KnownApplied = m_Applied.load(std::memory_order_acquire);
    count_waiting(Start);
}

void deferred_heap::count_waiting(std::chrono::steady_clock::time_point WaitStart)
{
    m_Watch.m_Waiting += std::chrono::steady_clock::now() - WaitStart;
}

void deferred_heap::judge_worker()
{
    const auto Now = std::chrono::steady_clock::now();
    const double Operations = double(m_Limits.m_Window);
    const bool Pays = double(m_Watch.m_Wakes) <= m_Limits.m_WakesPerOperation * Operations &&
                      double(m_Watch.m_Waiting.count()) <=
                          m_Limits.m_WaitingShare * double((Now - m_Watch.m_WindowStart).count());
    begin_window(Now);
    if (Pays) {
        m_Watch.m_NextPause = m_Limits.m_FirstPause;
        return;
    }
    m_Watch.m_ResumeAt = m_Queued + std::max<std::uint64_t>(m_Watch.m_NextPause, 1);
    m_Watch.m_NextPause = std::min(2 * m_Watch.m_NextPause, m_Limits.m_LongestPause);
    retire_worker();
}

void deferred_heap::begin_window(std::chrono::steady_clock::time_point Now)
{
    m_Watch.m_WindowEnd = m_Queued + m_Limits.m_Window;
    m_Watch.m_WindowStart = Now;
    m_Watch.m_Waiting = {};
    m_Watch.m_Wakes = 0;
}

void deferred_heap::retire_worker()
{
    // The worker applies every queued operation before it leaves.
    end_worker();
    m_KnownApplied = m_Queued;
    if (m_Failure)
        fail(m_Failure);
}

void deferred_heap::catch_up_alone()
{
    apply_queued();
    if (m_Watch.m_ResumeAt != 0 && m_Queued >= m_Watch.m_ResumeAt) {
        m_Watch.m_ResumeAt = 0;
        launch_worker();
    }
}

void deferred_heap::publish(bool Wake)
{
    // note: sequentially consistent on both sides: either the worker sees the new count before
    // it blocks, or this side sees that it blocks and wakes it.
    m_Published.store(m_Queued, std::memory_order_seq_cst);
    if (m_WorkerWaits.load(std::memory_order_seq_cst) &&
        (Wake || m_Queued - m_Applied.load(std::memory_order_relaxed) >= wake_backlog)) {
        std::lock_guard<std::mutex> Lock(m_Mutex);
        m_WorkerWake.notify_one();
        ++m_Watch.m_Wakes;
    }
}

void deferred_heap::hand_back(std::uint64_t Applied)
{
    m_Applied.store(Applied, std::memory_order_seq_cst);
    if (m_CallerWaits.load(std::memory_order_seq_cst)) {
        std::lock_guard<std::mutex> Lock(m_Mutex);
        m_CallerWake.notify_one();
    }
}

void deferred_heap::apply_queued()
{
    const std::uint64_t From = m_KnownApplied;
    m_KnownApplied = m_Queued;
    apply_rest(From);
}

void deferred_heap::apply_rest(std::uint64_t From)
{
    try {
        apply_range(From, m_Queued, m_Queued);
    } catch (...) {
        fail(std::current_exception());
    }
}

void deferred_heap::fail(std::exception_ptr Failure)
{
    // Nothing queued so far is applied again.
    m_KnownApplied = m_Queued;
    m_Broken = Failure;
    std::rethrow_exception(Failure);
}

void deferred_heap::start_worker()
{
    throw_if_broken();
    if (m_Worker.joinable())
        return;
    m_Watch = worker_watch();
    m_Watch.m_NextPause = m_Limits.m_FirstPause;
    launch_worker();
}

void deferred_heap::launch_worker()
{
    apply_queued();
    begin_window(std::chrono::steady_clock::now());
    m_Published.store(m_Queued, std::memory_order_relaxed);
    m_Applied.store(m_Queued, std::memory_order_relaxed);
    m_Stop.store(false, std::memory_order_relaxed);
    m_Failed.store(false, std::memory_order_relaxed);
    m_WorkerWaits.store(false, std::memory_order_relaxed);
    m_CallerWaits.store(false, std::memory_order_relaxed);
    m_Failure = nullptr;
    try {
        m_Worker = std::thread(&deferred_heap::run_worker, this);
        ++m_Watch.m_Starts;
    } catch (...) {
        // Without a thread the operations are applied on the calling thread, for the rest of
        // the run: a pause is not begun again.
    }
}

void deferred_heap::run_worker()
{
    std::uint64_t Applied = m_Applied.load(std::memory_order_relaxed);
    spinner Spinner;
    try {
        for (;;) {
            const std::uint64_t Published = m_Published.load(std::memory_order_acquire);
            if (Applied != Published) {
                do {
                    // Hands back room in the ring now and then, not only at the end of a batch.
                    const std::uint64_t To =
                        std::min(Published, (Applied / hand_back_every + 1) * hand_back_every);
                    apply_range(Applied, To, Published);
                    Applied = To;
                    if (Applied % hand_back_every == 0)
                        hand_back(Applied);
                } while (Applied != Published);
                hand_back(Applied);
                Spinner.restart();
                continue;
            }
            if (m_Stop.load(std::memory_order_acquire) &&
                Applied == m_Published.load(std::memory_order_acquire))
                return;
            if (Spinner.spin())
                continue;
            std::unique_lock<std::mutex> Lock(m_Mutex);
            m_WorkerWaits.store(true, std::memory_order_seq_cst);
            m_WorkerWake.wait(Lock, [&] {
                return m_Published.load(std::memory_order_seq_cst) !=
                           m_Applied.load(std::memory_order_seq_cst) ||
                       m_Stop.load(std::memory_order_seq_cst);
            });
            m_WorkerWaits.store(false, std::memory_order_relaxed);
            // The caller may have applied operations itself meanwhile (see sync).
            Applied = m_Applied.load(std::memory_order_relaxed);
            Spinner.restart();
        }
    } catch (...) {
        m_Failure = std::current_exception();
        std::lock_guard<std::mutex> Lock(m_Mutex);
        m_Failed.store(true, std::memory_order_seq_cst);
        m_CallerWake.notify_one();
    }
}

void deferred_heap::wait_until_applied(std::uint64_t Count)
{
    publish(true);
    spinner Spinner;
    while (m_Applied.load(std::memory_order_acquire) < Count) {
        if (m_Failed.load(std::memory_order_acquire)) {
            end_worker();
            fail(m_Failure);
        }
        if (Spinner.spin())
            continue;
        std::unique_lock<std::mutex> Lock(m_Mutex);
        m_CallerWaits.store(true, std::memory_order_seq_cst);
        m_CallerWake.wait(Lock, [&] {
            return m_Applied.load(std::memory_order_seq_cst) >= Count ||
                   m_Failed.load(std::memory_order_seq_cst);
        });
        m_CallerWaits.store(false, std::memory_order_relaxed);
    }
}

void deferred_heap::sync()
{
    throw_if_broken();
    if (!m_Worker.joinable()) {
        catch_up_alone();
        return;
    }
    const auto Start = std::chrono::steady_clock::now();
    if (!apply_while_worker_waits())
        wait_until_applied(m_Queued);
    m_KnownApplied = m_Queued;
    count_waiting(Start);
}

bool deferred_heap::apply_while_worker_waits()
{
    // note: a blocked worker would first have to be woken, which costs more than the few
    // operations queued since; it cannot leave its wait while this side holds the mutex, and it
    // takes up the counts this side leaves when it wakes.
    if (!m_WorkerWaits.load(std::memory_order_seq_cst))
        return false;
    std::lock_guard<std::mutex> Lock(m_Mutex);
    if (!m_WorkerWaits.load(std::memory_order_seq_cst) || m_Failed.load(std::memory_order_seq_cst))
        return false;
    const std::uint64_t From = m_Applied.load(std::memory_order_seq_cst);
    // The worker takes up these counts when it wakes, also when applying fails (nothing is left
    // for it then: the heap is broken and only to be cleared).
    m_Published.store(m_Queued, std::memory_order_seq_cst);
    m_Applied.store(m_Queued, std::memory_order_seq_cst);
    apply_rest(From);
    return true;
}

void deferred_heap::stop_worker()
{
    throw_if_broken();
    m_Watch.m_ResumeAt = 0;
    if (!m_Worker.joinable()) {
        apply_queued();
        return;
    }
    retire_worker();
}

void deferred_heap::end_worker() noexcept
{
    if (!m_Worker.joinable())
        return;
    m_Published.store(m_Queued, std::memory_order_release);
    {
        std::lock_guard<std::mutex> Lock(m_Mutex);
        m_Stop.store(true, std::memory_order_seq_cst);
        m_WorkerWake.notify_one();
    }
    m_Worker.join();
}

} // namespace detail
} // namespace tristripper
