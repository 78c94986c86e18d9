#pragma once

#include "platform/processors.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <thread>
#include <vector>

namespace tristripper {
namespace detail {

// note: below this many triangles, starting threads costs more than it saves. Above it the build
// is split into at most max_chunks chunks; every split gives the same graph.
inline constexpr std::size_t parallel_threshold = 1 << 15;
inline constexpr unsigned max_chunks = 4;

// The number of chunks for work over Triangles triangles: Requested, or for 0 a choice by size and
// machine.
inline unsigned chunk_count(std::size_t Triangles, unsigned Requested)
{
    if (Requested != 0)
        return Requested;
    if (Triangles < parallel_threshold)
        return 1;
    return std::max(1u, std::min(max_chunks, platform::usableProcessors()));
}

// The start of chunk Chunk of Chunks equal chunks of [0, Total).
inline std::size_t chunk_begin(std::size_t Chunk, std::size_t Chunks, std::size_t Total)
{
    return static_cast<std::size_t>(std::uint64_t(Total) * Chunk / Chunks);
}

// Runs Work(Chunk) for every Chunk in [0, Chunks), on threads of their own where they can be started,
// else on the calling thread, and returns when all are done. Rethrows the first exception of a chunk.
template <class WorkT>
void run_chunks(unsigned Chunks, WorkT Work)
{
    if (Chunks == 1) {
        Work(0u);
        return;
    }
    std::vector<std::exception_ptr> Errors(Chunks);
    const auto Run = [&Work, &Errors](unsigned Chunk) {
        try {
            Work(Chunk);
        } catch (...) {
            Errors[Chunk] = std::current_exception();
        }
    };
    std::vector<std::thread> Threads;
    Threads.reserve(Chunks);
    unsigned Started = 1;
    for (; Started < Chunks; ++Started) {
        try {
            Threads.emplace_back(Run, Started);
        } catch (...) {
            // No thread (or no memory for one): the calling thread runs the remaining chunks.
            break;
        }
    }
    for (unsigned Chunk = Started; Chunk < Chunks; ++Chunk)
        Run(Chunk);
    Run(0);
    for (std::thread &Thread : Threads)
        Thread.join();
    for (const std::exception_ptr &Error : Errors) {
        if (Error)
            std::rethrow_exception(Error);
    }
}

} // namespace detail
} // namespace tristripper
