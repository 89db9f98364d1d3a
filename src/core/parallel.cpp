#include "core/parallel.h"

#include "core/work_progress.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace lumadrift {

namespace {

// True in pool workers, in a caller while it runs bands, and inside a
// SerialWorkScope: ParallelFor then runs inline.
thread_local bool t_inline = false;

int DefaultThreads()
{
    if (const char* env = std::getenv("LUMADRIFT_THREADS")) {
        const int n = std::atoi(env);
        if (n > 0)
            return n;
    }
    const unsigned hw = std::thread::hardware_concurrency();
    return hw > 0 ? static_cast<int>(hw) : 1;
}

struct Job {
    detail::BandFunction fn;
    void* context;
    int first, last, bandRows, bands;
    std::atomic<int> next{0};
};

// How often a caller with a work observer reports while it waits for the
// pool's threads to finish their bands.
constexpr std::chrono::milliseconds kTickInterval{40};

// Runs the bands of a job until none is left; returns how many it ran. The
// caller of ParallelFor reports to its work observer after each band.
int TakeBands(Job& job, bool ticking)
{
    int ran = 0;
    for (;;) {
        const int band = job.next.fetch_add(1, std::memory_order_relaxed);
        if (band >= job.bands)
            return ran;
        const int begin = job.first + band * job.bandRows;
        const int end = std::min(job.last, begin + job.bandRows);
        job.fn(job.context, begin, end);
        ++ran;
        if (ticking)
            WorkTick();
    }
}

class Pool {
public:
    explicit Pool(int threads) : threads_(threads)
    {
        for (int i = 1; i < threads; ++i)
            workers_.emplace_back([this] { Work(); });
    }

    ~Pool()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        for (auto& t : workers_)
            t.join();
    }

    int threads() const { return threads_; }

    // false when another job holds the pool; the caller then runs inline.
    bool Run(Job& job, bool ticking)
    {
        if (busy_.exchange(true, std::memory_order_acquire))
            return false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            job_ = &job;
            finished_ = 0;
            ++generation_;
        }
        wake_.notify_all();
        const int mine = TakeBands(job, ticking);
        {
            std::unique_lock<std::mutex> lock(mutex_);
            finished_ += mine;
            const auto allDone = [&] { return finished_ == job.bands && inside_ == 0; };
            if (ticking) {
                // The observer is never called with the lock held: the
                // workers could not hand in their bands meanwhile.
                while (!done_.wait_for(lock, kTickInterval, allDone)) {
                    lock.unlock();
                    WorkTick();
                    lock.lock();
                }
            } else {
                done_.wait(lock, allDone);
            }
            job_ = nullptr;
        }
        busy_.store(false, std::memory_order_release);
        return true;
    }

private:
    void Work()
    {
        t_inline = true;
        unsigned long long seen = 0;
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return stop_ || (job_ && generation_ != seen); });
            if (stop_)
                return;
            seen = generation_;
            Job* job = job_;
            ++inside_;
            lock.unlock();
            const int ran = TakeBands(*job, false);
            lock.lock();
            finished_ += ran;
            --inside_;
            if (finished_ == job->bands && inside_ == 0)
                done_.notify_all();
        }
    }

    const int threads_;
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    Job* job_ = nullptr;
    unsigned long long generation_ = 0;
    int finished_ = 0;
    int inside_ = 0;
    bool stop_ = false;
    std::atomic<bool> busy_{false};
};

std::mutex g_poolMutex;
std::atomic<int> g_threads{0};  // 0: not decided yet
Pool* g_pool = nullptr;         // kept to the end of the program
std::atomic<int> g_bandRows{0};

int ThreadsSetting()
{
    int n = g_threads.load(std::memory_order_acquire);
    if (n == 0) {
        std::lock_guard<std::mutex> lock(g_poolMutex);
        n = g_threads.load(std::memory_order_relaxed);
        if (n == 0) {
            n = DefaultThreads();
            g_threads.store(n, std::memory_order_release);
        }
    }
    return n;
}

Pool* CurrentPool(int threads)
{
    std::lock_guard<std::mutex> lock(g_poolMutex);
    if (!g_pool || g_pool->threads() != threads) {
        delete g_pool;
        g_pool = new Pool(threads);
    }
    return g_pool;
}

}  // namespace

int ParallelThreads() { return ThreadsSetting(); }

void SetParallelThreads(int threads)
{
    g_threads.store(threads > 0 ? threads : DefaultThreads(), std::memory_order_release);
}

void SetParallelBandRows(int rows) { g_bandRows.store(rows > 0 ? rows : 0, std::memory_order_relaxed); }

SerialWorkScope::SerialWorkScope(bool active) : previous_(t_inline)
{
    if (active)
        t_inline = true;
}

SerialWorkScope::~SerialWorkScope() { t_inline = previous_; }

namespace detail {

void RunBands(int first, int last, int minRows, BandFunction fn, void* context)
{
    if (last <= first)
        return;
    const int rows = last - first;
    const int threads = ParallelThreads();
    if (const int forced = g_bandRows.load(std::memory_order_relaxed))
        minRows = forced;
    minRows = std::max(minRows, 1);
    const bool ticking = !t_inline && WorkTicksWanted();
    if (t_inline || rows <= minRows || (threads <= 1 && !ticking)) {
        fn(context, first, last);
        return;
    }
    // A few bands per thread, so a thread slowed by other work on the
    // machine does not hold the others up.
    const int wanted = std::min(threads * 4, (rows + minRows - 1) / minRows);
    Job job;
    job.fn = fn;
    job.context = context;
    job.first = first;
    job.last = last;
    job.bandRows = (rows + wanted - 1) / wanted;
    job.bands = (rows + job.bandRows - 1) / job.bandRows;
    t_inline = true;
    // One thread with an observer still goes band by band, so it can tell
    // the observer between them.
    bool ran = true;
    if (threads <= 1)
        TakeBands(job, ticking);
    else
        ran = CurrentPool(threads)->Run(job, ticking);
    t_inline = false;
    if (!ran)
        fn(context, first, last);
}

}  // namespace detail

}  // namespace lumadrift
