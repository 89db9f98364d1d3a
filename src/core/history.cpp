#include "core/history.h"

#include <cstddef>

namespace lumadrift {

int History::Push(int plane, int state, int ringSize, int code)
{
    if (current_ >= 0) {
        // Drop the oldest entry when the list would hold more steps than the
        // ring has planes: its plane is about to be overwritten.
        if (ringSize < position() + 1) {
            entries_.erase(entries_.begin());
            --current_;
        }
        entries_.resize(static_cast<std::size_t>(current_ + 1));
    }
    entries_.push_back({plane, state, code, {}, false});
    current_ = static_cast<int>(entries_.size()) - 1;
    return position();
}

bool History::Step(int direction, Entry& reached)
{
    const int target = current_ + (direction < 0 ? -1 : 1);
    if (current_ < 0 || target < 0 || target >= static_cast<int>(entries_.size()))
        return false;
    current_ = target;
    reached = entries_[static_cast<std::size_t>(current_)];
    return true;
}

bool History::Describe(int code, const std::string& text)
{
    bool any = false;
    for (int i = current_; i >= 0; --i) {
        Entry& e = entries_[static_cast<std::size_t>(i)];
        if (e.described || e.code != code)
            break;
        e.text = text;
        e.described = true;
        any = true;
    }
    return any;
}

void History::Reset()
{
    entries_.clear();
    current_ = -1;
}

}  // namespace lumadrift
