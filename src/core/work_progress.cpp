#include "core/work_progress.h"

namespace lumadrift {

namespace {
thread_local WorkObserver* t_observer = nullptr;
}  // namespace

WorkObserver* SetWorkObserver(WorkObserver* observer)
{
    WorkObserver* previous = t_observer;
    t_observer = observer;
    return previous;
}

bool WorkTicksWanted() { return t_observer != nullptr; }

void WorkTick(int done, int total)
{
    if (t_observer)
        t_observer->OnWorkTick(done, total);
}

WorkScope::WorkScope() : observer_(t_observer)
{
    if (observer_)
        observer_->OnWorkBegin();
}

WorkScope::~WorkScope()
{
    // One removed meanwhile may be gone.
    if (observer_ && observer_ == t_observer)
        observer_->OnWorkEnd();
}

}  // namespace lumadrift
