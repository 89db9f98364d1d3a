// The undo history: which ring plane holds which earlier result, and the
// state it had. No pixels are stored; the ring bounds the depth.
#pragma once

#include <vector>

namespace lumadrift {

class History {
public:
    struct Entry {
        int plane = 0;
        int state = 0;
    };

    // Appends (plane, state) after the current entry, dropping the redo
    // branch and, when the list already holds ringSize entries up to the
    // current one, the oldest entry. Returns the new 1-based position.
    int Push(int plane, int state, int ringSize);
    // Moves one entry back (-1) or forward (+1). false, and nothing changes,
    // when there is no entry in that direction.
    bool Step(int direction, Entry& reached);
    void Reset();

    int position() const { return current_ + 1; }  // 0 when empty
    bool undoAvailable() const { return current_ > 0; }
    bool redoAvailable() const { return current_ >= 0 && current_ + 1 < static_cast<int>(entries_.size()); }
    const std::vector<Entry>& entries() const { return entries_; }

private:
    std::vector<Entry> entries_;
    int current_ = -1;  // index of the current entry, -1 when empty
};

}  // namespace lumadrift
