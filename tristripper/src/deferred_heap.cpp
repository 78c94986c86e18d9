#include "detail/deferred_heap.h"

namespace tristripper {
namespace detail {
namespace {

// Waiting without a sleep: the other side is expected to catch up within microseconds, so a
// while of busy waiting comes before giving the processor away.
void back_off(unsigned &Rounds)
{
    if (++Rounds < 4096) {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
        return;
    }
    std::this_thread::yield();
}

} // namespace

deferred_heap::deferred_heap() = default;

deferred_heap::~deferred_heap()
{
    end_worker();
}

void deferred_heap::clear()
{
    end_worker();
    m_Heap.clear();
    m_Keys.clear();
    m_Present.clear();
    m_Failure = nullptr;
}

void deferred_heap::reserve(std::size_t n)
{
    m_Heap.reserve(n);
    m_Keys.reserve(n);
    m_Present.reserve(n);
}

deferred_heap::id_type deferred_heap::push(key_type Key)
{
    const id_type Id = m_Heap.push(Key);
    m_Keys.push_back(Key);
    m_Present.push_back(1);
    return Id;
}

void deferred_heap::lock()
{
    m_Heap.lock();
}

void deferred_heap::pop()
{
    const id_type Id = m_Heap.id_at(0);
    m_Heap.pop();
    m_Present[Id] = 0;
}

void deferred_heap::erase(std::size_t i)
{
    TRISTRIPPER_CHECK(m_Heap.locked(), "locked()");
    TRISTRIPPER_CHECK(!removed(i), "! removed(i)");
    m_Present[i] = 0;
    queue({static_cast<id_type>(i), erase_key});
}

void deferred_heap::update(std::size_t i, key_type Key)
{
    TRISTRIPPER_CHECK(m_Heap.locked(), "locked()");
    TRISTRIPPER_CHECK(!removed(i), "! removed(i)");
    TRISTRIPPER_CHECK(Key != erase_key, "Key != erase_key");
    m_Keys[i] = Key;
    queue({static_cast<id_type>(i), Key});
}

void deferred_heap::apply(const operation &Op)
{
    if (Op.m_Key == erase_key)
        m_Heap.erase(Op.m_Id);
    else
        m_Heap.update(Op.m_Id, Op.m_Key);
}

void deferred_heap::queue(operation Op)
{
    if (!m_Worker.joinable()) {
        apply(Op);
        return;
    }
    if (m_Queued - m_KnownApplied == ring_size) {
        wait_until_applied(m_Queued - ring_size + 1);
        m_KnownApplied = m_Applied.load(std::memory_order_acquire);
    }
    m_Ring[m_Queued % ring_size] = Op;
    ++m_Queued;
    // note: publishing every operation would move the counter's cache line between the two
    // threads each time; batches keep the worker busy at a fraction of that cost.
    if (m_Queued % publish_batch == 0)
        m_Published.store(m_Queued, std::memory_order_release);
}

void deferred_heap::start_worker()
{
    if (m_Worker.joinable())
        return;
    if (!m_Ring)
        m_Ring.reset(new operation[ring_size]);
    m_Queued = 0;
    m_KnownApplied = 0;
    m_Published.store(0, std::memory_order_relaxed);
    m_Applied.store(0, std::memory_order_relaxed);
    m_Stop.store(false, std::memory_order_relaxed);
    m_Failed.store(false, std::memory_order_relaxed);
    m_Failure = nullptr;
    try {
        m_Worker = std::thread(&deferred_heap::run_worker, this);
    } catch (...) {
        // Without a thread the operations are applied where they are queued.
    }
}

void deferred_heap::run_worker()
{
    std::uint64_t Applied = 0;
    unsigned Rounds = 0;
    try {
        for (;;) {
            const std::uint64_t Published = m_Published.load(std::memory_order_acquire);
            if (Applied != Published) {
                do {
                    apply(m_Ring[Applied % ring_size]);
                    ++Applied;
                    // Hands back room in the ring now and then, not only at the end of a batch.
                    if (Applied % 256 == 0)
                        m_Applied.store(Applied, std::memory_order_release);
                } while (Applied != Published);
                m_Applied.store(Applied, std::memory_order_release);
                Rounds = 0;
                continue;
            }
            if (m_Stop.load(std::memory_order_acquire) &&
                Applied == m_Published.load(std::memory_order_acquire))
                return;
            back_off(Rounds);
        }
    } catch (...) {
        m_Failure = std::current_exception();
        m_Failed.store(true, std::memory_order_release);
    }
}

void deferred_heap::wait_until_applied(std::uint64_t Count)
{
    m_Published.store(m_Queued, std::memory_order_release);
    unsigned Rounds = 0;
    while (m_Applied.load(std::memory_order_acquire) < Count) {
        if (m_Failed.load(std::memory_order_acquire)) {
            end_worker();
            std::rethrow_exception(m_Failure);
        }
        back_off(Rounds);
    }
}

void deferred_heap::sync()
{
    if (!m_Worker.joinable())
        return;
    wait_until_applied(m_Queued);
    m_KnownApplied = m_Queued;
}

void deferred_heap::stop_worker()
{
    if (!m_Worker.joinable())
        return;
    end_worker();
    if (m_Failure)
        std::rethrow_exception(m_Failure);
}

void deferred_heap::end_worker() noexcept
{
    if (!m_Worker.joinable())
        return;
    m_Published.store(m_Queued, std::memory_order_release);
    m_Stop.store(true, std::memory_order_release);
    m_Worker.join();
}

} // namespace detail
} // namespace tristripper
