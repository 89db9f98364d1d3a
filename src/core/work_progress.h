// How a long operation tells the front end that the program is still at
// work, without the core knowing about any window.
//
// The thread that runs the operations (the workbench's user-interface
// thread) installs a WorkObserver for itself. A WorkScope marks one
// operation, or one stretch of it, from start to end; scopes nest. Code
// that may run long calls WorkTick() between pieces of its work: ParallelFor
// between row bands and while it waits for the pool, the FFT between
// passes, thinning between scans, a macro replay between entries (with its
// step count). The observer decides what to show and when; it is called
// only from its own thread, inside the operation, so it must not run the
// event loop or start other operations.
//
// In a thread without an observer (pool workers, batch replay, the
// command-line tool) all of this costs one thread-local read.
#pragma once

namespace lumadrift {

class WorkObserver {
public:
    virtual ~WorkObserver() = default;
    // A scope of this thread began or ended (every level of nesting).
    virtual void OnWorkBegin() = 0;
    virtual void OnWorkEnd() = 0;
    // Still at work: step `done` of `total` when total > 0, else no count.
    virtual void OnWorkTick(int done, int total) = 0;
};

// Installs the calling thread's observer (null removes it) and returns the
// one it replaces.
WorkObserver* SetWorkObserver(WorkObserver* observer);
// True when the calling thread has an observer (ticks would reach it).
bool WorkTicksWanted();

void WorkTick(int done = 0, int total = 0);

// One operation of the calling thread. The end is told even when the
// operation leaves by an exception. An observer removed or replaced while a
// scope is open hears nothing more of it (it tidies up when removed).
class WorkScope {
public:
    WorkScope();
    ~WorkScope();
    WorkScope(const WorkScope&) = delete;
    WorkScope& operator=(const WorkScope&) = delete;

private:
    WorkObserver* observer_;
};

}  // namespace lumadrift
