// Every command the workbench offers, as data: ids, menu texts, prompts,
// the operation code each records, the menu layout, the toolbar order and
// the accelerators; and the one rule that decides which commands are
// offered (and checked) in the document's present situation. The window
// builds its menus, toolbar and side panel from this and asks
// EvaluateCommand for every action after each command.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "commands/operation_table.h"

namespace lumadrift {

enum CommandId : int {
    kCmdOpen = 57601,
    kCmdSave = 57603,
    kCmdSaveAs = 57604,
    kCmdRecentFile = 57616,  // first of the recent-file entries (57616..57619 used)
    kCmdAbout = 57664,
    kCmdExit = 57665,
    kCmdToolBar = 59392,
    kCmdStatusBar = 59393,
    kCmdZoom = 32771,
    kCmdColors = 32772,
    kCmdRange = 32773,
    kCmdAcquire = 32774,
    kCmdBinarize = 32775,
    kCmdDilate = 32776,
    kCmdErode = 32777,
    kCmdProfile = 32778,
    kCmdShowSource = 32779,
    kCmdRoberts = 32781,
    kCmdSobel = 32783,
    kCmdPrewitt = 32784,
    kCmdBatch = 32785,  // reserved: a prompt but no menu item
    kCmdMovingAverage = 32786,
    kCmdMedian = 32787,
    kCmdUndo = 32788,
    kCmdRedo = 32789,
    kCmdEqualize = 32790,
    kCmdContrast = 32791,
    kCmdGamma = 32792,
    kCmdLaplacian = 32793,
    kCmdSmooth = 32794,
    kCmdSharpen = 32795,
    kCmdConvolution = 32796,
    kCmdAffine = 32797,
    kCmdLabel = 32798,
    kCmdThin = 32799,
    kCmdRecordMacro = 32800,
    kCmdStopMacro = 32801,
    kCmdRunMacro = 32802,
    kCmdFft = 32803,
    kCmdPool = 32804,
    kCmdAnd = 32805,
    kCmdOr = 32806,
    kCmdXor = 32807,
    kCmdEnvironmentFailure = 32812,
    kCmdRank = 32813,
    kCmdPreview = 32814,
    kCmdCapture = 32815,
    // Side-panel and toolbar controls that follow the rules as well.
    kCtlRangeX = 1001,
    kCtlRangeY = 1002,
    kCtlRangeW = 1003,
    kCtlRangeH = 1004,
    kCtlZoomBox = 1020,
};

// What a command needs besides the document's state.
enum class CommandNeeds : uint8_t {
    kNothing,
    kUndoStep,
    kRedoStep,
    kCamera,
    kRecording,
    kNotRecording,
    kRecentFiles,
};
// What shows a command checked.
enum class CommandCheck : uint8_t { kInStates, kToolBarShown, kStatusBarShown };

struct CommandInfo {
    int id;
    const char* menuText;  // UTF-8 with "&" mnemonic and "\t" accelerator; nullptr when none
    const char* prompt;    // status-bar text "\n" tool tip; nullptr when none
    int code;              // operation code recorded, -1 when none
    // Offered in these states, narrowed to the states the recorded
    // operation runs in.
    StateSet states = StateSet::All();
    CommandNeeds needs = CommandNeeds::kNothing;
    StateSet checkedIn = {};
    CommandCheck check = CommandCheck::kInStates;
};

// Every command with a menu item or a prompt.
const std::vector<CommandInfo>& CommandTable();
const CommandInfo* FindCommand(int id);
// The two halves of a prompt: the status-bar text and the tool tip (empty
// when the command has none).
std::string PromptStatusText(int id);
std::string PromptToolTip(int id);

struct MenuNode {
    enum Kind { kCommand, kSeparator, kSubmenu };
    Kind kind = kCommand;
    int id = 0;                    // command id (kCommand)
    const char* text = nullptr;    // submenu title (kSubmenu); commands take theirs from the table
    std::vector<MenuNode> children;
};

// The main menu, top to bottom; every top-level node is a submenu.
const std::vector<MenuNode>& MenuLayout();

// Toolbar order: command ids, 0 for a separator, kCtlZoomBox for the
// 80-pixel place of the zoom box.
const std::vector<int>& ToolbarLayout();

struct Accelerator {
    const char* keys;  // "Ctrl+O"
    int id;
};
// Only open and save have actions; the other standard accelerators reach
// no handler and are not listed.
const std::vector<Accelerator>& Accelerators();

// What the rules read.
struct CommandContext {
    int state = 0;
    bool undoAvailable = false;
    bool redoAvailable = false;
    bool recording = false;
    bool cameraEnabled = false;
    int recentFiles = 0;
    bool toolBarVisible = true;
    bool statusBarVisible = true;
};

struct CommandUi {
    bool enabled = false;
    bool checked = false;
};

// The enabling and check rule of a command or control id. Unknown ids are
// disabled.
CommandUi EvaluateCommand(int id, const CommandContext& c);

// The zoom presets in percent (the zoom box's entries and the zoom
// dialog's buttons, index 0..5).
constexpr int kZoomPresets[6] = {200, 150, 100, 75, 50, 25};

}  // namespace lumadrift
