// One small pool of worker threads for the whole program, and the loop that
// spreads the rows of a range over it.
//
// Contract: ParallelFor(first, last, body) calls body(begin, end) for
// disjoint bands [begin, end) that together cover [first, last) exactly once,
// each band in one thread, in no particular order, and returns when all have
// run. A filter whose rows do not depend on each other therefore writes the
// same bytes for any thread count; passes that gather (histograms,
// statistics) keep one partial result per band and add them up afterwards.
//
// The calling thread takes bands too. A call made while another call is
// running (from a band, from a second document in another thread, or inside
// a SerialWorkScope) runs every band inline, so the program never has more
// busy threads than the pool.
//
// A caller whose thread has a work observer (core/work_progress.h) tells it
// after each band it runs and while it waits for the others (with one
// thread it still goes band by band), so a window can show that a long
// filter is still running.
#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>

namespace lumadrift {

// Threads ParallelFor uses, the caller included (at least 1).
int ParallelThreads();
// 0 = one per processor (the default; LUMADRIFT_THREADS in the environment
// overrides it at start-up). Tests set 1, 2, 3, 7 to check that the bytes do
// not depend on it. Not to be called while a ParallelFor runs.
void SetParallelThreads(int threads);

// Smallest band ParallelFor makes, overriding the callers' choice: tests set
// 1 so that small odd pictures are split at every row too. 0 restores the
// callers' choice.
void SetParallelBandRows(int rows);

// While one lives in a thread, ParallelFor called from that thread runs
// inline. Batch workers use it when several pictures run at once, so they
// share the cores instead of each asking for all of them.
class SerialWorkScope {
public:
    explicit SerialWorkScope(bool active = true);
    ~SerialWorkScope();
    SerialWorkScope(const SerialWorkScope&) = delete;
    SerialWorkScope& operator=(const SerialWorkScope&) = delete;

private:
    bool previous_;
};

namespace detail {
using BandFunction = void (*)(void* context, int begin, int end);
void RunBands(int first, int last, int minRows, BandFunction fn, void* context);
}  // namespace detail

// Bands hold at least minRows rows (the last one may hold fewer), so small
// ranges are not split into pieces too small to be worth a thread.
template <typename Body>
void ParallelFor(int first, int last, int minRows, Body&& body)
{
    using B = std::remove_reference_t<Body>;
    detail::RunBands(first, last, minRows,
                     [](void* c, int b, int e) { (*static_cast<B*>(c))(b, e); },
                     const_cast<void*>(static_cast<const void*>(&body)));
}

template <typename Body>
void ParallelFor(int first, int last, Body&& body)
{
    ParallelFor(first, last, 1, std::forward<Body>(body));
}

// Rows per band that give a band about `bytes` bytes of work for rows of
// `rowBytes` bytes: at least 1.
inline int RowsForBytes(size_t rowBytes, size_t bytes = 64 * 1024)
{
    if (rowBytes == 0)
        return 1;
    const size_t rows = bytes / rowBytes;
    return rows < 1 ? 1 : rows > 1 << 20 ? 1 << 20 : static_cast<int>(rows);
}

}  // namespace lumadrift
