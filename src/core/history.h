// The undo history: which ring plane holds which earlier result, and the
// state it had. No pixels are stored; the ring bounds the depth.
#pragma once

#include <string>
#include <vector>

namespace lumadrift {

class History {
public:
    struct Entry {
        int plane = 0;
        int state = 0;
        // What made the step, so that the history can be shown: the
        // operation's macro code and the parameter text of its macro line.
        // The text often comes after the push (the line is built once the
        // step is complete), so an entry waits for it until described.
        int code = 0;
        std::string text{};
        bool described = false;
    };

    // Appends (plane, state) after the current entry, dropping the redo
    // branch and, when the list already holds ringSize entries up to the
    // current one, the oldest entry. Returns the new 1-based position.
    int Push(int plane, int state, int ringSize, int code = 0);
    // Gives text to the steps of code still waiting for theirs: the current
    // entry and the waiting entries of the same code right before it (one
    // operation may push more than one step). false when none was waiting.
    bool Describe(int code, const std::string& text);
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
