#include <gtest/gtest.h>

#include <set>

#include "commands/command_table.h"
#include "commands/macro_format.h"

namespace lumadrift {
namespace {

std::set<int> Offered(const CommandContext& c)
{
    std::set<int> ids;
    for (const auto& cmd : CommandTable())
        if (EvaluateCommand(cmd.id, c).enabled)
            ids.insert(cmd.id);
    return ids;
}

CommandContext State(int s)
{
    CommandContext c;
    c.state = s;
    return c;
}

const std::set<int> kAlways = {kCmdOpen, kCmdColors, kCmdRunMacro, kCmdRecordMacro, kCmdAbout,
                               kCmdExit, kCmdToolBar, kCmdStatusBar};

std::set<int> Plus(std::set<int> a, std::initializer_list<int> more)
{
    a.insert(more);
    return a;
}

TEST(CommandRules, NoImageOffersOnlyTheBasics)
{
    EXPECT_EQ(Offered(State(0)), kAlways);
    CommandContext cam = State(0);
    cam.cameraEnabled = true;
    EXPECT_EQ(Offered(cam), Plus(kAlways, {kCmdPreview}));
    CommandContext rec = State(0);
    rec.recording = true;
    std::set<int> expected = kAlways;
    expected.erase(kCmdRecordMacro);
    expected.insert(kCmdStopMacro);
    EXPECT_EQ(Offered(rec), expected);
}

TEST(CommandRules, EveryStateOffersExactlyItsCommands)
{
    const std::set<int> gray = {kCmdContrast, kCmdGamma, kCmdEqualize, kCmdMovingAverage,
                                kCmdMedian, kCmdRank, kCmdRoberts, kCmdSobel, kCmdPrewitt,
                                kCmdLaplacian, kCmdSmooth, kCmdSharpen, kCmdConvolution,
                                kCmdAffine, kCmdFft};
    const std::set<int> image = {kCmdSave, kCmdSaveAs, kCmdZoom};
    const std::set<int> poolOps = {kCmdShowSource, kCmdPool, kCmdAnd, kCmdOr, kCmdXor};
    auto join = [](std::initializer_list<std::set<int>> sets) {
        std::set<int> out;
        for (const auto& s : sets)
            out.insert(s.begin(), s.end());
        return out;
    };
    EXPECT_EQ(Offered(State(1)), join({kAlways, image, {kCmdRange}}));
    EXPECT_EQ(Offered(State(2)), join({kAlways, image, {kCmdRange, kCmdAcquire}}));
    EXPECT_EQ(Offered(State(3)), join({kAlways, image, poolOps, gray, {kCmdBinarize, kCmdProfile}}));
    EXPECT_EQ(Offered(State(4)),
              join({kAlways, image, poolOps, {kCmdDilate, kCmdErode, kCmdLabel, kCmdThin}}));
    EXPECT_EQ(Offered(State(5)), join({kAlways, image, poolOps, {kCmdBinarize}}));
    EXPECT_EQ(Offered(State(7)), join({kAlways, image, {kCmdProfile}}));
    EXPECT_EQ(Offered(State(8)), join({kAlways, {kCmdZoom}}));
}

TEST(CommandRules, Checks)
{
    EXPECT_TRUE(EvaluateCommand(kCmdRange, State(2)).checked);
    EXPECT_FALSE(EvaluateCommand(kCmdRange, State(1)).checked);
    EXPECT_TRUE(EvaluateCommand(kCmdProfile, State(7)).checked);
    EXPECT_FALSE(EvaluateCommand(kCmdProfile, State(3)).checked);
    CommandContext cam = State(8);
    cam.cameraEnabled = true;
    EXPECT_TRUE(EvaluateCommand(kCmdPreview, cam).checked);
    EXPECT_TRUE(EvaluateCommand(kCmdCapture, cam).enabled);
    CommandContext hidden = State(0);
    hidden.toolBarVisible = false;
    EXPECT_FALSE(EvaluateCommand(kCmdToolBar, hidden).checked);
    EXPECT_TRUE(EvaluateCommand(kCmdStatusBar, hidden).checked);
}

TEST(CommandRules, UndoAndRedoFollowTheFlagsButNotInTheProfile)
{
    for (int s : {0, 1, 2, 3, 4, 5, 7, 8}) {
        CommandContext c = State(s);
        c.undoAvailable = c.redoAvailable = true;
        EXPECT_EQ(EvaluateCommand(kCmdUndo, c).enabled, s != 7) << s;
        EXPECT_EQ(EvaluateCommand(kCmdRedo, c).enabled, s != 7) << s;
        c.undoAvailable = c.redoAvailable = false;
        EXPECT_FALSE(EvaluateCommand(kCmdUndo, c).enabled);
        EXPECT_FALSE(EvaluateCommand(kCmdRedo, c).enabled);
    }
}

TEST(CommandRules, SidePanelAndZoomBox)
{
    for (int s : {0, 1, 2, 3, 4, 5, 7, 8}) {
        for (int id : {kCtlRangeX, kCtlRangeY, kCtlRangeW, kCtlRangeH})
            EXPECT_EQ(EvaluateCommand(id, State(s)).enabled, s == 1 || s == 2) << s;
        EXPECT_EQ(EvaluateCommand(kCtlZoomBox, State(s)).enabled, s != 0 && s != 8) << s;
    }
    CommandContext recent = State(0);
    EXPECT_FALSE(EvaluateCommand(kCmdRecentFile, recent).enabled);
    recent.recentFiles = 1;
    EXPECT_TRUE(EvaluateCommand(kCmdRecentFile, recent).enabled);
    EXPECT_FALSE(EvaluateCommand(12345, State(3)).enabled);
}

void CollectIds(const std::vector<MenuNode>& nodes, std::vector<int>& ids)
{
    for (const auto& n : nodes) {
        if (n.kind == MenuNode::kCommand)
            ids.push_back(n.id);
        CollectIds(n.children, ids);
    }
}

TEST(CommandTable, MenuItemsHaveTextPromptAndRule)
{
    std::vector<int> ids;
    CollectIds(MenuLayout(), ids);
    EXPECT_EQ(ids.size(), 45u);
    std::set<int> unique(ids.begin(), ids.end());
    EXPECT_EQ(unique.size(), ids.size()) << "a command appears twice in the menus";
    for (int id : ids) {
        const CommandInfo* c = FindCommand(id);
        ASSERT_NE(c, nullptr) << id;
        EXPECT_NE(c->menuText, nullptr) << id;
        EXPECT_FALSE(PromptStatusText(id).empty()) << id;
    }
    EXPECT_EQ(PromptStatusText(kCmdBinarize), "2値化処理");
    EXPECT_EQ(PromptToolTip(kCmdBinarize), "2値化");
    EXPECT_EQ(PromptToolTip(kCmdRecentFile), "");
    EXPECT_EQ(PromptStatusText(kCmdBatch), "ﾌｨﾙﾀの一括処理");
}

TEST(CommandTable, RecordedCodesNameTheirOperations)
{
    for (const auto& c : CommandTable()) {
        if (c.code > 0) {
            EXPECT_NE(OperationName(c.code), nullptr) << c.id;
        }
    }
    EXPECT_EQ(FindCommand(kCmdSobel)->code, 12);
    EXPECT_EQ(FindCommand(kCmdRank)->code, 20);
}

TEST(CommandTable, TopMenusAndToolbar)
{
    std::vector<std::string> titles;
    for (const auto& m : MenuLayout()) {
        ASSERT_EQ(m.kind, MenuNode::kSubmenu);
        titles.push_back(m.text);
    }
    EXPECT_EQ(titles, (std::vector<std::string>{"ﾌｧｲﾙ(&F)", "表示(&V)", "設定(&S)",
                                                "画像処理(&I)", "ﾍﾙﾌﾟ(&H)"}));
    EXPECT_EQ(ToolbarLayout(), (std::vector<int>{kCmdOpen, kCmdSave, 0, kCmdUndo, kCmdRedo, 0,
                                                 kCmdAbout, 0, kCtlZoomBox}));
    EXPECT_EQ(std::string(FindCommand(kCmdOpen)->menuText), "開く(&O)...\tCtrl+O");
}

}  // namespace
}  // namespace lumadrift
