#include "commands/command_table.h"

#include "commands/macro_format.h"


namespace lumadrift {

namespace {

using N = CommandNeeds;
constexpr StateSet kAny = StateSet::All();
constexpr StateSet kRangeStates{kStateColor, kStateRangeEdit};
constexpr StateSet kNoCheck{};

// A command whose operation's states decide alone takes kAny.
const std::vector<CommandInfo> kCommands = {
    {kCmdOpen, "開く(&O)...\tCtrl+O", "既存のﾌｧｲﾙを開く\n開く", kOpOpenFile},
    {kCmdSave, "上書き保存(&S)\tCtrl+S", "作業中のﾌｧｲﾙを上書きして保存\n保存", kOpSaveFile, AllBut({kStateCamera})},
    {kCmdSaveAs, "名前を付けて保存(&A)...", "作業中のﾌｧｲﾙを新しい名前で保存\n名前をつけて保存", kOpSaveFile,
     AllBut({kStateCamera})},
    {kCmdRecentFile, "最新のﾌｧｲﾙ", "指定のﾌｧｲﾙを開く", kOpOpenFile, kAny, N::kRecentFiles},
    {kCmdExit, "ｱﾌﾟﾘｹｰｼｮﾝの終了(&X)", "ｱﾌﾟﾘｹｰｼｮﾝを終了し、ﾌｧｲﾙの保存を指示\n終了", -1},
    {kCmdToolBar, "ﾂｰﾙ ﾊﾞｰ(&T)", "ﾂｰﾙ ﾊﾞｰの 表示/非表示\nﾂｰﾙ ﾊﾞｰの表示切り替え", -1, kAny, N::kNothing, kNoCheck,
     CommandCheck::kToolBarShown},
    {kCmdStatusBar, "ｽﾃｰﾀｽ ﾊﾞｰ(&S)", "ｽﾃｰﾀｽ ﾊﾞｰの 表示/非表示\nｽﾃｰﾀｽ ﾊﾞｰの表示切り替え", -1, kAny, N::kNothing,
     kNoCheck, CommandCheck::kStatusBarShown},
    {kCmdZoom, "ｽﾞｰﾑ(&Z)", "画像の拡大/縮小\nｽﾞｰﾑ", -1, AllBut({kStateNoImage})},
    {kCmdColors, "色設定(&C)", "色の設定\n色設定", -1},
    {kCmdRange, "画像処理範囲(&R)", "画像処理範囲の選択\n画像処理範囲", -1, kRangeStates, N::kNothing,
     {kStateRangeEdit}},
    // The operator takes what the frame shows; a macro line brings its own range.
    {kCmdAcquire, "画像取込(&G)", "画像処理範囲の取り込み\n画像取込", kOpAcquire, {kStateRangeEdit}},
    {kCmdShowSource, "原画表示(&O)", "取り込み画像の表示\n原画像表示", kOpShowSource},
    {kCmdPool, "画像ﾌﾟｰﾙ(&L)", "画像の一時保存\n画像ﾌﾟｰﾙ", kOpPool},
    {kCmdProfile, "濃度ﾌﾟﾛﾌｧｲﾙ(&P)", "濃度ﾌﾟﾛﾌｧｲﾙのｸﾞﾗﾌ表示\n濃度ﾌﾟﾛﾌｧｲﾙ", kOpProfile, kAny, N::kNothing,
     {kStateProfile}},
    {kCmdBinarize, "2値化(&B)", "2値化処理\n2値化", kOpBinarize},
    {kCmdDilate, "膨張(&D)", "2値画像の膨張処理\n膨張", kOpDilate},
    {kCmdErode, "収縮(&E)", "2値画像の収縮処理\n収縮", kOpErode},
    {kCmdLabel, "ﾗﾍﾞﾘﾝｸﾞ(&L)", "2値画像のﾗﾍﾞﾘﾝｸﾞ処理\nﾗﾍﾞﾘﾝｸﾞ", kOpLabel},
    {kCmdThin, "細線化(&N)", "2値画像の細線化処理\n細線化", kOpThin},
    {kCmdContrast, "ｺﾝﾄﾗｽﾄ(&C)", "ｸﾞﾚｲｽｹｰﾙ画像の濃度変換（ｺﾝﾄﾗｽﾄ調整）\nｺﾝﾄﾗｽﾄ調整", kOpContrast},
    {kCmdGamma, "γ補正(&G)", "ｸﾞﾚｲｽｹｰﾙ画像の濃度変換（γ補正）\nγ補正", kOpGamma},
    {kCmdEqualize, "階調ｲｺﾗｲｾﾞｰｼｮﾝ(&I)", "ｸﾞﾚｲｽｹｰﾙ画像の濃度変換（階調ｲｺﾗｲｾﾞｰｼｮﾝ）\n階調ｲｺﾗｲｾﾞｰｼｮﾝ", kOpEqualize},
    {kCmdMovingAverage, "移動平均(&A)", "ｸﾞﾚｲｽｹｰﾙ画像の平滑化（移動平均法）\n移動平均", kOpMovingAverage},
    {kCmdMedian, "ﾒﾃﾞｨｱﾝ(&M)", "ｸﾞﾚｲｽｹｰﾙ画像の平滑化（中央値法）\nﾒﾃﾞｨｱﾝ", kOpMedian},
    {kCmdRank, "ﾗﾝｸ指定(&R)", "ｸﾞﾚｲｽｹｰﾙ画像の平滑化（ﾗﾝｸ指定）\nﾗﾝｸ指定", kOpRank},
    {kCmdRoberts, "Roberts(&R)", "ｸﾞﾚｲｽｹｰﾙ画像の1次元微分（Roberts）\nRoberts", kOpRoberts},
    {kCmdSobel, "Sobel(&S)", "ｸﾞﾚｲｽｹｰﾙ画像の1次元微分（Sobel）\nSobel", kOpSobel},
    {kCmdPrewitt, "Prewitt(&P)", "ｸﾞﾚｲｽｹｰﾙ画像の1次元微分（Prewitt）\nPrewitt", kOpPrewitt},
    {kCmdLaplacian, "ﾗﾌﾟﾗｼｱﾝ(&L)", "ｸﾞﾚｲｽｹｰﾙ画像の2次元微分（ﾗﾌﾟﾗｼｱﾝ）\nﾗﾌﾟﾗｼｱﾝ", kOpLaplacian},
    {kCmdSmooth, "ｽﾑｰｽ化(&M)", "ｸﾞﾚｲｽｹｰﾙ画像の2次元微分（ｽﾑｰｽ化）\nｽﾑｰｽ化", kOpSmooth},
    {kCmdSharpen, "ｼｬｰﾌﾟ化(&S)", "ｸﾞﾚｲｽｹｰﾙ画像の2次元微分（ｼｬｰﾌﾟ化）\nｼｬｰﾌﾟ化", kOpSharpen},
    {kCmdConvolution, "Convolution(&C)", "ｸﾞﾚｲｽｹｰﾙ画像の2次元微分\n2次元微分", kOpConvolution},
    {kCmdAffine, "ｱﾌｨﾝ変換(&F)", "ｸﾞﾚｲｽｹｰﾙ画像のｱﾌｨﾝ変換（回転）\nｱﾌｨﾝ変換", kOpAffine},
    {kCmdFft, "FFT(&I)", "高速ﾌｰﾘｴ変換\nFFT", kOpFft},
    {kCmdAnd, "AND(&A)", "2つの画像間でのAND処理\nAND", kOpPoolAnd},
    {kCmdOr, "OR(&O)", "2つの画像間でのOR処理\nOR", kOpPoolOr},
    {kCmdXor, "XOR(&X)", "2つの画像間でのXOR処理\nXOR", kOpPoolXor},
    // Not while the profile window shows a line of the current plane.
    {kCmdUndo, "元に戻す(&U)", "直前の操作を元に戻します\n元に戻す", kOpUndo, AllBut({kStateProfile}), N::kUndoStep},
    {kCmdRedo, "やり直し(&R)", "前の未完了操作を繰り返します\nやり直し", kOpRedo, AllBut({kStateProfile}), N::kRedoStep},
    {kCmdRecordMacro, "ﾏｸﾛの記録(&R)", "ﾌｨﾙﾀｰ処理を記録します\nﾏｸﾛの記録", -1, kAny, N::kNotRecording},
    {kCmdStopMacro, "停止(&S)", "記録を停止します\n停止", -1, kAny, N::kRecording},
    {kCmdRunMacro, "ﾏｸﾛの実行(&M)", "記録したﾌｨﾙﾀｰ処理を実行します\nﾏｸﾛの実行", -1},
    {kCmdPreview, "ﾌﾟﾚﾋﾞｭｰ(&T)", "ｶﾒﾗ映像のｽﾙｰ表示\nﾌﾟﾚﾋﾞｭｰ", kOpPreview, kAny, N::kCamera, {kStateCamera}},
    {kCmdCapture, "ｷｬﾌﾟﾁｬｰ(&C)", "ｶﾒﾗ映像の取り込み\nｷｬﾌﾟﾁｬｰ", kOpCapture, kAny, N::kCamera},
    {kCmdAbout, "ﾊﾞｰｼﾞｮﾝ情報(Lumadrift) (&A)...",
     "ﾌﾟﾛｸﾞﾗﾑの情報、ﾊﾞｰｼﾞｮﾝそして著作権を表示\nﾊﾞｰｼﾞｮﾝ情報", -1},
    {kCmdBatch, nullptr, "ﾌｨﾙﾀの一括処理\n一括処理", -1, StateSet{}},
};

// Controls that follow the same rules but are not commands.
const std::vector<CommandInfo> kControls = {
    {kCtlRangeX, nullptr, nullptr, -1, kRangeStates},
    {kCtlRangeY, nullptr, nullptr, -1, kRangeStates},
    {kCtlRangeW, nullptr, nullptr, -1, kRangeStates},
    {kCtlRangeH, nullptr, nullptr, -1, kRangeStates},
    {kCtlZoomBox, nullptr, nullptr, -1, AllBut({kStateNoImage, kStateCamera})},
};

MenuNode Cmd(int id) { return {MenuNode::kCommand, id, nullptr, {}}; }
MenuNode Sep() { return {MenuNode::kSeparator, 0, nullptr, {}}; }
MenuNode Sub(const char* text, std::vector<MenuNode> children)
{
    return {MenuNode::kSubmenu, 0, text, std::move(children)};
}

const std::vector<MenuNode> kMenu = {
    Sub("ﾌｧｲﾙ(&F)", {Cmd(kCmdOpen), Cmd(kCmdSave), Cmd(kCmdSaveAs), Sep(), Cmd(kCmdRecentFile),
                      Sep(), Cmd(kCmdExit)}),
    Sub("表示(&V)", {Cmd(kCmdToolBar), Cmd(kCmdStatusBar)}),
    Sub("設定(&S)", {Cmd(kCmdColors), Cmd(kCmdZoom)}),
    Sub("画像処理(&I)",
        {Cmd(kCmdPreview), Cmd(kCmdCapture), Sep(), Cmd(kCmdRange), Cmd(kCmdAcquire),
         Cmd(kCmdShowSource), Cmd(kCmdPool), Sep(),
         Sub("ﾌｨﾙﾀｰ(&F)",
             {Cmd(kCmdDilate), Cmd(kCmdErode), Cmd(kCmdLabel), Cmd(kCmdThin), Sep(),
              Cmd(kCmdBinarize),
              Sub("濃度変換(&C)", {Cmd(kCmdContrast), Cmd(kCmdGamma), Cmd(kCmdEqualize)}),
              Sub("平滑化(&S)", {Cmd(kCmdMovingAverage), Cmd(kCmdMedian), Sep(), Cmd(kCmdRank)}),
              Sub("1次元微分(&O)", {Cmd(kCmdRoberts), Cmd(kCmdSobel), Cmd(kCmdPrewitt)}),
              Sub("2次元微分(&T)", {Cmd(kCmdLaplacian), Cmd(kCmdSmooth), Cmd(kCmdSharpen), Sep(),
                                    Cmd(kCmdConvolution)}),
              Cmd(kCmdAffine), Cmd(kCmdFft), Sep(),
              Sub("画像間演算(&A)", {Cmd(kCmdAnd), Cmd(kCmdOr), Cmd(kCmdXor)}), Sep(),
              Cmd(kCmdUndo), Cmd(kCmdRedo)}),
         Cmd(kCmdProfile), Sep(),
         Sub("ﾏｸﾛ(&M)", {Cmd(kCmdRecordMacro), Cmd(kCmdStopMacro), Cmd(kCmdRunMacro)})}),
    Sub("ﾍﾙﾌﾟ(&H)", {Cmd(kCmdAbout)}),
};

const std::vector<int> kToolbar = {kCmdOpen, kCmdSave, 0, kCmdUndo, kCmdRedo, 0,
                                   kCmdAbout, 0, kCtlZoomBox};

const std::vector<Accelerator> kAccelerators = {{"Ctrl+O", kCmdOpen}, {"Ctrl+S", kCmdSave}};

}  // namespace

const std::vector<CommandInfo>& CommandTable() { return kCommands; }

const CommandInfo* FindCommand(int id)
{
    for (const auto& c : kCommands)
        if (c.id == id)
            return &c;
    return nullptr;
}

const std::vector<MenuNode>& MenuLayout() { return kMenu; }
const std::vector<int>& ToolbarLayout() { return kToolbar; }
const std::vector<Accelerator>& Accelerators() { return kAccelerators; }

CommandUi EvaluateCommand(int id, const CommandContext& c)
{
    const CommandInfo* info = FindCommand(id);
    if (!info) {
        for (const auto& k : kControls)
            if (k.id == id)
                info = &k;
        if (!info)
            return {false, false};
    }
    StateSet states = info->states;
    if (const OperationRow* op = info->code >= 0 ? FindOperation(info->code) : nullptr)
        states = states & op->runsIn;
    bool enabled = states.Has(c.state);
    switch (info->needs) {
    case CommandNeeds::kNothing: break;
    case CommandNeeds::kUndoStep: enabled = enabled && c.undoAvailable; break;
    case CommandNeeds::kRedoStep: enabled = enabled && c.redoAvailable; break;
    case CommandNeeds::kCamera: enabled = enabled && c.cameraEnabled; break;
    case CommandNeeds::kRecording: enabled = enabled && c.recording; break;
    case CommandNeeds::kNotRecording: enabled = enabled && !c.recording; break;
    case CommandNeeds::kRecentFiles: enabled = enabled && c.recentFiles > 0; break;
    }
    bool checked = false;
    switch (info->check) {
    case CommandCheck::kInStates: checked = info->checkedIn.Has(c.state); break;
    case CommandCheck::kToolBarShown: checked = c.toolBarVisible; break;
    case CommandCheck::kStatusBarShown: checked = c.statusBarVisible; break;
    }
    return {enabled, checked};
}

std::string PromptStatusText(int id)
{
    const CommandInfo* c = FindCommand(id);
    if (!c || !c->prompt)
        return {};
    const std::string p = c->prompt;
    return p.substr(0, p.find('\n'));
}

std::string PromptToolTip(int id)
{
    const CommandInfo* c = FindCommand(id);
    if (!c || !c->prompt)
        return {};
    const std::string p = c->prompt;
    const size_t nl = p.find('\n');
    return nl == std::string::npos ? std::string() : p.substr(nl + 1);
}

}  // namespace lumadrift
