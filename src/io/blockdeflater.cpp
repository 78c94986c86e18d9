#include "io/blockdeflater.h"

#include "platform/processors.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// The deflate window: how much input before a block its matches may reach back into.
constexpr std::size_t WindowSize = 32768;
// Per thread, this many blocks may wait or be in work, which bounds the memory in flight.
constexpr std::size_t BlocksPerThread = 2;

bool validParams(int level, int strategy)
{
    return level >= -1 && level <= 9 && strategy >= Z_DEFAULT_STRATEGY && strategy <= Z_FIXED;
}

// note: zlib's default level follows a chain of up to 128 earlier strings for every match. On the
// vertex and index records of our files a chain of 32 finds matches as good: every file measured
// came out smaller (by 0.03 to 2 %), and deflating took 35 to 60 % less time. The default level is
// therefore zlib's level 6 with that chain; an explicit level keeps zlib's own search.
constexpr int DefaultLevelChain = 32;

// Sets the search of the default level on a stream just started or reset, which both restore
// zlib's parameters of the level.
bool tuneSearch(z_stream &stream, int level)
{
    // Level 6's good, lazy and nice lengths, with the shorter chain.
    return level != Z_DEFAULT_COMPRESSION || deflateTune(&stream, 8, 16, 128, DefaultLevelChain) == Z_OK;
}

// One block: its input and the window before it, its output and check value once deflated.
struct Block
{
    std::vector<unsigned char> input;
    std::vector<unsigned char> window;
    int level = Z_DEFAULT_COMPRESSION;
    int strategy = Z_DEFAULT_STRATEGY;
    bool last = false;

    std::vector<unsigned char> output;
    uLong crc = 0;
    const char *error = nullptr;
    bool done = false;
};

// A raw deflate stream that one thread keeps from block to block: zlib's reset gives the state
// of a fresh start (and the same bytes) without allocating and faulting in its tables again.
class Deflate
{
public:
    Deflate() { std::memset(&m_stream, 0, sizeof m_stream); }
    ~Deflate()
    {
        if (m_started)
            deflateEnd(&m_stream);
    }
    Deflate(const Deflate &) = delete;
    Deflate &operator=(const Deflate &) = delete;

    // The stream, fresh for the level and strategy; null when zlib cannot start one.
    z_stream *start(int level, int strategy)
    {
        if (m_started && level == m_level && strategy == m_strategy)
            return deflateReset(&m_stream) == Z_OK && tuneSearch(m_stream, level) ? &m_stream : nullptr;
        if (m_started)
            deflateEnd(&m_stream);
        std::memset(&m_stream, 0, sizeof m_stream);
        m_started = deflateInit2(&m_stream, level, Z_DEFLATED, -MAX_WBITS, 8, strategy) == Z_OK;
        m_level = level;
        m_strategy = strategy;
        return m_started && tuneSearch(m_stream, level) ? &m_stream : nullptr;
    }

private:
    z_stream m_stream;
    bool m_started = false;
    int m_level = 0;
    int m_strategy = 0;
};

// Deflates the block as a part of a raw deflate stream: the window as the dictionary, then the
// input, ended by a sync flush or, for the last block, by the final block.
void deflateBlock(Block &block, Deflate &deflater)
{
    block.crc = crc32(0L, Z_NULL, 0);
    if (!block.input.empty())
        block.crc = crc32_z(block.crc, block.input.data(), block.input.size());

    z_stream *started = deflater.start(block.level, block.strategy);
    if (!started) {
        block.error = "deflate cannot start";
        return;
    }
    z_stream &stream = *started;
    if (!block.window.empty() && block.level != 0 &&
        deflateSetDictionary(&stream, block.window.data(), uInt(block.window.size())) != Z_OK) {
        block.error = "deflate refuses the window";
        return;
    }
    // Room for the worst case, the sync marker and the final block; more if that is not enough.
    block.output.resize(deflateBound(&stream, uLong(block.input.size())) + 16);
    stream.next_in = block.input.data();
    stream.avail_in = uInt(block.input.size());
    stream.next_out = block.output.data();
    stream.avail_out = uInt(block.output.size());
    const int flush = block.last ? Z_FINISH : Z_SYNC_FLUSH;
    for (;;) {
        const int result = deflate(&stream, flush);
        if (result == Z_STREAM_END || (result == Z_OK && !block.last && stream.avail_out > 0))
            break;
        if ((result != Z_OK && result != Z_BUF_ERROR) || stream.avail_out > 0) {
            block.error = stream.msg ? stream.msg : "deflate failed";
            break;
        }
        const std::size_t used = block.output.size();
        block.output.resize(used + 4096);
        stream.next_out = block.output.data() + used;
        stream.avail_out = uInt(block.output.size() - used);
    }
    block.output.resize(std::size_t(stream.total_out));
}

} // namespace

struct BlockDeflater::Private
{
    Sink sink;
    int level;
    int strategy;
    unsigned threads;

    std::vector<unsigned char> pending;
    std::vector<unsigned char> window;
    std::uint64_t total = 0;
    uLong crc = crc32(0L, Z_NULL, 0);
    bool headerWritten = false;
    bool finished = false;
    const char *error = nullptr;

    // Blocks in submission order; the front is the next one for the sink.
    std::deque<std::shared_ptr<Block>> inFlight;
    // Blocks no worker has taken yet.
    std::deque<std::shared_ptr<Block>> queue;
    // note: blocks already emitted, kept with their buffers for the next ones: fresh buffers of a
    // quarter of a megabyte per block cost page faults and zero-filling that rival the deflating.
    std::vector<std::shared_ptr<Block>> spare;
    // The stream of the calling thread, when it deflates a block itself.
    Deflate ownStream;
    std::vector<std::thread> workers;
    std::mutex mutex;
    std::condition_variable work;
    std::condition_variable finishedBlock;
    bool stopping = false;

    void startWorkers();
    void stopWorkers();
    void runWorker();
    bool emit(const void *data, std::size_t size);
    bool writeHeader();
    bool submit(bool last);
    bool drain(std::size_t limit);
};

void BlockDeflater::Private::startWorkers()
{
    if (threads <= 1 || !workers.empty())
        return;
    try {
        for (unsigned i = 0; i < threads; ++i)
            workers.emplace_back(&Private::runWorker, this);
    } catch (...) {
        // Without (all) workers, the calling thread deflates what no worker takes.
    }
    if (workers.empty())
        threads = 1;
}

void BlockDeflater::Private::stopWorkers()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    work.notify_all();
    for (std::thread &worker : workers)
        worker.join();
    workers.clear();
}

void BlockDeflater::Private::runWorker()
{
    Deflate stream;
    for (;;) {
        std::shared_ptr<Block> block;
        {
            std::unique_lock<std::mutex> lock(mutex);
            work.wait(lock, [this] { return stopping || !queue.empty(); });
            // note: stopping with blocks queued happens only when the member is abandoned.
            if (stopping)
                return;
            block = queue.front();
            queue.pop_front();
        }
        try {
            deflateBlock(*block, stream);
        } catch (...) {
            block->error = "out of memory";
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            block->done = true;
        }
        finishedBlock.notify_all();
    }
}

bool BlockDeflater::Private::emit(const void *data, std::size_t size)
{
    if (error)
        return false;
    if (size > 0 && !sink(static_cast<const char *>(data), size))
        error = "cannot write the compressed data";
    return !error;
}

bool BlockDeflater::Private::writeHeader()
{
    if (headerWritten)
        return !error;
    headerWritten = true;
    // The header zlib writes: no name, no time, the extra flags of the level, Unix.
    const int effective = level == Z_DEFAULT_COMPRESSION ? 6 : level;
    const unsigned char extra = effective == 9 ? 2 : (strategy >= Z_HUFFMAN_ONLY || effective < 2) ? 4 : 0;
    const unsigned char header[10] = {0x1f, 0x8b, 8, 0, 0, 0, 0, 0, extra, 3};
    return emit(header, sizeof header);
}

// Hands the pending input to a worker (or deflates it here) as the next block.
bool BlockDeflater::Private::submit(bool last)
{
    if (!writeHeader())
        return false;
    std::shared_ptr<Block> block;
    if (spare.empty()) {
        block = std::make_shared<Block>();
    } else {
        block = std::move(spare.back());
        spare.pop_back();
        block->error = nullptr;
        block->done = false;
    }
    // The block takes the input; pending gets the block's old buffer back, emptied.
    block->input.swap(pending);
    pending.clear();
    pending.reserve(BlockSize);
    block->window = window;
    block->level = level;
    block->strategy = strategy;
    block->last = last;

    // The window of the next block: the last 32 KiB of the input so far.
    const std::vector<unsigned char> &input = block->input;
    if (input.size() >= WindowSize) {
        window.assign(input.end() - WindowSize, input.end());
    } else {
        const std::size_t keep = std::min(window.size(), WindowSize - input.size());
        window.erase(window.begin(), window.end() - keep);
        window.insert(window.end(), input.begin(), input.end());
    }

    inFlight.push_back(block);
    // A member of one block (a small file) is deflated here: workers would cost more.
    if (!(last && workers.empty()))
        startWorkers();
    if (threads <= 1 || workers.empty()) {
        deflateBlock(*block, ownStream);
        block->done = true;
        return drain(0);
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        queue.push_back(block);
    }
    work.notify_one();
    return drain(threads * BlocksPerThread - 1);
}

// Passes the finished blocks at the front to the sink, and waits for more while over limit
// blocks are in flight.
bool BlockDeflater::Private::drain(std::size_t limit)
{
    while (!inFlight.empty()) {
        std::shared_ptr<Block> block = inFlight.front();
        {
            std::unique_lock<std::mutex> lock(mutex);
            if (!block->done) {
                if (inFlight.size() <= limit)
                    break;
                finishedBlock.wait(lock, [&block] { return block->done; });
            }
        }
        inFlight.pop_front();
        if (block->error && !error)
            error = block->error;
        crc = crc32_combine(crc, block->crc, z_off_t(block->input.size()));
        if (!emit(block->output.data(), block->output.size()))
            return false;
        if (spare.size() < std::size_t(threads) * BlocksPerThread)
            spare.push_back(std::move(block));
    }
    return !error;
}

BlockDeflater::BlockDeflater(Sink sink, int level, int strategy, unsigned threads)
    : d(new Private)
{
    d->sink = std::move(sink);
    d->level = level;
    d->strategy = strategy;
    const unsigned usable = threads == 0 ? platform::usableProcessors() : threads;
    d->threads = std::max(1u, std::min(usable, MaximumThreads));
    d->pending.reserve(BlockSize);
}

BlockDeflater::~BlockDeflater()
{
    d->stopWorkers();
}

bool BlockDeflater::write(const char *data, std::size_t size)
{
    if (d->error || d->finished)
        return false;
    const auto *bytes = reinterpret_cast<const unsigned char *>(data);
    while (size > 0) {
        const std::size_t room = BlockSize - d->pending.size();
        const std::size_t piece = std::min(room, size);
        d->pending.insert(d->pending.end(), bytes, bytes + piece);
        d->total += piece;
        bytes += piece;
        size -= piece;
        if (d->pending.size() == BlockSize && !d->submit(false))
            return false;
    }
    return true;
}

bool BlockDeflater::flush()
{
    if (d->error || d->finished)
        return false;
    if (!d->pending.empty() && !d->submit(false))
        return false;
    return d->writeHeader() && d->drain(0);
}

bool BlockDeflater::setParams(int level, int strategy)
{
    if (!validParams(level, strategy))
        return false;
    if (level == d->level && strategy == d->strategy)
        return true;
    if (!d->pending.empty() && !d->submit(false))
        return false;
    d->level = level;
    d->strategy = strategy;
    return true;
}

bool BlockDeflater::finish()
{
    if (d->finished)
        return !d->error;
    if (!d->error)
        d->submit(true);
    d->drain(0);
    d->finished = true;
    d->stopWorkers();
    if (d->error)
        return false;
    unsigned char trailer[8];
    const std::uint64_t check = d->crc;
    for (int i = 0; i < 4; ++i) {
        trailer[i] = static_cast<unsigned char>(check >> (8 * i));
        trailer[4 + i] = static_cast<unsigned char>(d->total >> (8 * i));
    }
    return d->emit(trailer, sizeof trailer);
}

std::uint64_t BlockDeflater::consumed() const
{
    return d->total;
}

const char *BlockDeflater::error() const
{
    return d->error;
}
