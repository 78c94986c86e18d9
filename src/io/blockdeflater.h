#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

// Writes one gzip member whose deflate stream is made of blocks deflated independently, on
// several threads when there are processors for them. Every block but the last ends with a sync
// flush, so the blocks join into one stream that any inflater reads; each block is primed with the
// 32 KiB of input before it, which keeps the size within a fraction of a percent of one deflate
// run. The check value is combined from the blocks' own. One thread calls the members.
class BlockDeflater
{
public:
    // Receives the compressed bytes in order; false stops the member (a write failure).
    using Sink = std::function<bool(const char *data, std::size_t size)>;

    // Threads: 0 for one per usable processor (at most MaximumThreads), 1 to deflate on the
    // calling thread only. The result does not depend on the number of threads.
    BlockDeflater(Sink sink, int level, int strategy, unsigned threads = 0);
    // Waits for blocks in work and drops the rest; finish() must have been called for a
    // complete member.
    ~BlockDeflater();
    BlockDeflater(const BlockDeflater &) = delete;
    BlockDeflater &operator=(const BlockDeflater &) = delete;

    static constexpr unsigned MaximumThreads = 8;
    static constexpr std::size_t BlockSize = std::size_t(1) << 18;

    // Takes the bytes; false once the member has failed.
    bool write(const char *data, std::size_t size);
    // Ends the current block with a sync flush and hands every byte so far to the sink.
    bool flush();
    // The level (-1 for the default: zlib's level 6 with a shorter search, 0 stores) and strategy
    // of the blocks that follow; the current block is ended with the old ones. False for values
    // zlib refuses.
    bool setParams(int level, int strategy);
    // Ends the member: the last block and the trailer. False when any step failed.
    bool finish();

    // Uncompressed bytes taken so far.
    std::uint64_t consumed() const;
    // zlib's message, or a failure of the sink; empty while everything succeeded.
    const char *error() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
