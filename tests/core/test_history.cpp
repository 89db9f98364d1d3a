#include <gtest/gtest.h>

#include <algorithm>

#include "core/history.h"
#include "core/image_model.h"

namespace lumadrift {
namespace {

// A tiny model of the ring and the history as the operations drive them.
struct Ring {
    History h;
    int current = 0;
    int state = 3;
    void Acquire()
    {
        h.Reset();
        current = 0;
        state = 3;
        h.Push(current, state, 5);
    }
    void Filter(int newState = -1)
    {
        current = NextRingPlane(current);
        if (newState >= 0)
            state = newState;
        h.Push(current, state, 5);
    }
    bool Undo() { return Step(-1); }
    bool Redo() { return Step(+1); }
    bool Step(int d)
    {
        History::Entry e;
        if (!h.Step(d, e))
            return false;
        current = e.plane;
        state = e.state;
        return true;
    }
    std::vector<int> Planes() const
    {
        std::vector<int> p;
        for (const auto& e : h.entries())
            p.push_back(e.plane);
        return p;
    }
};

TEST(History, FourFiltersThenFourUndos)
{
    Ring r;
    r.Acquire();
    for (int i = 0; i < 4; ++i)
        r.Filter();
    EXPECT_EQ(r.Planes(), (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(r.h.position(), 5);
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(r.Undo());
    EXPECT_EQ(r.current, 0);
    EXPECT_FALSE(r.h.undoAvailable());
    EXPECT_TRUE(r.h.redoAvailable());
    EXPECT_FALSE(r.Undo());  // nothing behind: no change
    EXPECT_EQ(r.h.position(), 1);
}

TEST(History, FifthFilterDropsTheOldestEntry)
{
    Ring r;
    r.Acquire();
    for (int i = 0; i < 5; ++i)
        r.Filter();
    EXPECT_EQ(r.Planes(), (std::vector<int>{1, 2, 3, 4, 0}));
    EXPECT_EQ(r.h.position(), 5);
    EXPECT_EQ(r.current, 0);
}

TEST(History, FilterAfterUndoDropsTheRedoBranch)
{
    Ring r;
    r.Acquire();
    for (int i = 0; i < 4; ++i)
        r.Filter();
    r.Undo();
    r.Undo();
    EXPECT_EQ(r.current, 2);
    r.Filter();  // reads plane 2, writes plane 3
    EXPECT_EQ(r.current, 3);
    EXPECT_EQ(r.Planes(), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(r.h.position(), 4);
    EXPECT_FALSE(r.h.redoAvailable());
}

TEST(History, UndoRestoresTheState)
{
    Ring r;
    r.Acquire();
    r.Filter(4);  // binarization
    EXPECT_EQ(r.state, 4);
    r.Undo();
    EXPECT_EQ(r.state, 3);
    r.Redo();
    EXPECT_EQ(r.state, 4);
    EXPECT_FALSE(r.Redo());
}

TEST(History, EmptyHistoryRefusesBothDirections)
{
    History h;
    History::Entry e{7, 7};
    EXPECT_FALSE(h.Step(-1, e));
    EXPECT_FALSE(h.Step(+1, e));
    EXPECT_EQ(e.plane, 7);
    EXPECT_EQ(h.position(), 0);
    EXPECT_FALSE(h.undoAvailable());
    EXPECT_FALSE(h.redoAvailable());
}

TEST(History, NeverMoreEntriesThanRingPlanes)
{
    Ring r;
    r.Acquire();
    for (int i = 0; i < 23; ++i) {
        r.Filter();
        ASSERT_LE(r.h.entries().size(), 5u);
        // Every entry names a distinct plane, so each still holds its image.
        auto p = r.Planes();
        std::sort(p.begin(), p.end());
        ASSERT_TRUE(std::adjacent_find(p.begin(), p.end()) == p.end());
        ASSERT_EQ(r.h.entries().back().plane, r.current);
    }
}

}  // namespace
}  // namespace lumadrift
