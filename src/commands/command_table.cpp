#include "commands/command_table.h"


namespace lumadrift {

namespace {

const std::vector<CommandInfo> kCommands = {
    {kCmdOpen, "開く(&O)...\tCtrl+O", "既存のﾌｧｲﾙを開く\n開く", 51},
    {kCmdSave, "上書き保存(&S)\tCtrl+S", "作業中のﾌｧｲﾙを上書きして保存\n保存", 52},
    {kCmdSaveAs, "名前を付けて保存(&A)...", "作業中のﾌｧｲﾙを新しい名前で保存\n名前をつけて保存", 52},
    {kCmdRecentFile, "最新のﾌｧｲﾙ", "指定のﾌｧｲﾙを開く", 51},
    {kCmdExit, "ｱﾌﾟﾘｹｰｼｮﾝの終了(&X)", "ｱﾌﾟﾘｹｰｼｮﾝを終了し、ﾌｧｲﾙの保存を指示\n終了", -1},
    {kCmdToolBar, "ﾂｰﾙ ﾊﾞｰ(&T)", "ﾂｰﾙ ﾊﾞｰの 表示/非表示\nﾂｰﾙ ﾊﾞｰの表示切り替え", -1},
    {kCmdStatusBar, "ｽﾃｰﾀｽ ﾊﾞｰ(&S)", "ｽﾃｰﾀｽ ﾊﾞｰの 表示/非表示\nｽﾃｰﾀｽ ﾊﾞｰの表示切り替え", -1},
    {kCmdZoom, "ｽﾞｰﾑ(&Z)", "画像の拡大/縮小\nｽﾞｰﾑ", -1},
    {kCmdColors, "色設定(&C)", "色の設定\n色設定", -1},
    {kCmdRange, "画像処理範囲(&R)", "画像処理範囲の選択\n画像処理範囲", -1},
    {kCmdAcquire, "画像取込(&G)", "画像処理範囲の取り込み\n画像取込", 55},
    {kCmdShowSource, "原画表示(&O)", "取り込み画像の表示\n原画像表示", 56},
    {kCmdPool, "画像ﾌﾟｰﾙ(&L)", "画像の一時保存\n画像ﾌﾟｰﾙ", 57},
    {kCmdProfile, "濃度ﾌﾟﾛﾌｧｲﾙ(&P)", "濃度ﾌﾟﾛﾌｧｲﾙのｸﾞﾗﾌ表示\n濃度ﾌﾟﾛﾌｧｲﾙ", 58},
    {kCmdBinarize, "2値化(&B)", "2値化処理\n2値化", 1},
    {kCmdDilate, "膨張(&D)", "2値画像の膨張処理\n膨張", 2},
    {kCmdErode, "収縮(&E)", "2値画像の収縮処理\n収縮", 3},
    {kCmdLabel, "ﾗﾍﾞﾘﾝｸﾞ(&L)", "2値画像のﾗﾍﾞﾘﾝｸﾞ処理\nﾗﾍﾞﾘﾝｸﾞ", 4},
    {kCmdThin, "細線化(&N)", "2値画像の細線化処理\n細線化", 5},
    {kCmdContrast, "ｺﾝﾄﾗｽﾄ(&C)", "ｸﾞﾚｲｽｹｰﾙ画像の濃度変換（ｺﾝﾄﾗｽﾄ調整）\nｺﾝﾄﾗｽﾄ調整", 6},
    {kCmdGamma, "γ補正(&G)", "ｸﾞﾚｲｽｹｰﾙ画像の濃度変換（γ補正）\nγ補正", 7},
    {kCmdEqualize, "階調ｲｺﾗｲｾﾞｰｼｮﾝ(&I)", "ｸﾞﾚｲｽｹｰﾙ画像の濃度変換（階調ｲｺﾗｲｾﾞｰｼｮﾝ）\n階調ｲｺﾗｲｾﾞｰｼｮﾝ", 8},
    {kCmdMovingAverage, "移動平均(&A)", "ｸﾞﾚｲｽｹｰﾙ画像の平滑化（移動平均法）\n移動平均", 9},
    {kCmdMedian, "ﾒﾃﾞｨｱﾝ(&M)", "ｸﾞﾚｲｽｹｰﾙ画像の平滑化（中央値法）\nﾒﾃﾞｨｱﾝ", 10},
    {kCmdRank, "ﾗﾝｸ指定(&R)", "ｸﾞﾚｲｽｹｰﾙ画像の平滑化（ﾗﾝｸ指定）\nﾗﾝｸ指定", 20},
    {kCmdRoberts, "Roberts(&R)", "ｸﾞﾚｲｽｹｰﾙ画像の1次元微分（Roberts）\nRoberts", 11},
    {kCmdSobel, "Sobel(&S)", "ｸﾞﾚｲｽｹｰﾙ画像の1次元微分（Sobel）\nSobel", 12},
    {kCmdPrewitt, "Prewitt(&P)", "ｸﾞﾚｲｽｹｰﾙ画像の1次元微分（Prewitt）\nPrewitt", 13},
    {kCmdLaplacian, "ﾗﾌﾟﾗｼｱﾝ(&L)", "ｸﾞﾚｲｽｹｰﾙ画像の2次元微分（ﾗﾌﾟﾗｼｱﾝ）\nﾗﾌﾟﾗｼｱﾝ", 14},
    {kCmdSmooth, "ｽﾑｰｽ化(&M)", "ｸﾞﾚｲｽｹｰﾙ画像の2次元微分（ｽﾑｰｽ化）\nｽﾑｰｽ化", 15},
    {kCmdSharpen, "ｼｬｰﾌﾟ化(&S)", "ｸﾞﾚｲｽｹｰﾙ画像の2次元微分（ｼｬｰﾌﾟ化）\nｼｬｰﾌﾟ化", 16},
    {kCmdConvolution, "Convolution(&C)", "ｸﾞﾚｲｽｹｰﾙ画像の2次元微分\n2次元微分", 17},
    {kCmdAffine, "ｱﾌｨﾝ変換(&F)", "ｸﾞﾚｲｽｹｰﾙ画像のｱﾌｨﾝ変換（回転）\nｱﾌｨﾝ変換", 18},
    {kCmdFft, "FFT(&I)", "高速ﾌｰﾘｴ変換\nFFT", 19},
    {kCmdAnd, "AND(&A)", "2つの画像間でのAND処理\nAND", 21},
    {kCmdOr, "OR(&O)", "2つの画像間でのOR処理\nOR", 22},
    {kCmdXor, "XOR(&X)", "2つの画像間でのXOR処理\nXOR", 23},
    {kCmdUndo, "元に戻す(&U)", "直前の操作を元に戻します\n元に戻す", 61},
    {kCmdRedo, "やり直し(&R)", "前の未完了操作を繰り返します\nやり直し", 62},
    {kCmdRecordMacro, "ﾏｸﾛの記録(&R)", "ﾌｨﾙﾀｰ処理を記録します\nﾏｸﾛの記録", -1},
    {kCmdStopMacro, "停止(&S)", "記録を停止します\n停止", -1},
    {kCmdRunMacro, "ﾏｸﾛの実行(&M)", "記録したﾌｨﾙﾀｰ処理を実行します\nﾏｸﾛの実行", -1},
    {kCmdPreview, "ﾌﾟﾚﾋﾞｭｰ(&T)", "ｶﾒﾗ映像のｽﾙｰ表示\nﾌﾟﾚﾋﾞｭｰ", 59},
    {kCmdCapture, "ｷｬﾌﾟﾁｬｰ(&C)", "ｶﾒﾗ映像の取り込み\nｷｬﾌﾟﾁｬｰ", 60},
    {kCmdAbout, "ﾊﾞｰｼﾞｮﾝ情報(Lumadrift) (&A)...",
     "ﾌﾟﾛｸﾞﾗﾑの情報、ﾊﾞｰｼﾞｮﾝそして著作権を表示\nﾊﾞｰｼﾞｮﾝ情報", -1},
    {kCmdBatch, nullptr, "ﾌｨﾙﾀの一括処理\n一括処理", -1},
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

bool In(int state, std::initializer_list<int> states)
{
    for (int s : states)
        if (s == state)
            return true;
    return false;
}

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
    const int s = c.state;
    switch (id) {
    case kCmdOpen:
    case kCmdColors:
    case kCmdRunMacro:
    case kCmdAbout:
    case kCmdExit:
        return {true, false};
    case kCmdToolBar: return {true, c.toolBarVisible};
    case kCmdStatusBar: return {true, c.statusBarVisible};
    case kCmdRecentFile: return {c.recentFiles > 0, false};
    case kCmdSave:
    case kCmdSaveAs:
    case kCtlZoomBox:
        return {s != 0 && s != 8, false};
    case kCmdZoom: return {s != 0, false};
    case kCmdRange: return {In(s, {1, 2}), s == 2};
    case kCtlRangeX:
    case kCtlRangeY:
    case kCtlRangeW:
    case kCtlRangeH:
        return {In(s, {1, 2}), false};
    case kCmdAcquire: return {s == 2, false};
    case kCmdShowSource:
    case kCmdPool:
    case kCmdAnd:
    case kCmdOr:
    case kCmdXor:
        return {In(s, {3, 4, 5}), false};
    case kCmdProfile: return {In(s, {3, 7}), s == 7};
    case kCmdBinarize: return {In(s, {3, 5}), false};
    case kCmdDilate:
    case kCmdErode:
    case kCmdLabel:
    case kCmdThin:
        return {s == 4, false};
    case kCmdContrast:
    case kCmdGamma:
    case kCmdEqualize:
    case kCmdMovingAverage:
    case kCmdMedian:
    case kCmdRank:
    case kCmdRoberts:
    case kCmdSobel:
    case kCmdPrewitt:
    case kCmdLaplacian:
    case kCmdSmooth:
    case kCmdSharpen:
    case kCmdConvolution:
    case kCmdAffine:
    case kCmdFft:
        return {s == 3, false};
    case kCmdUndo: return {s != 7 && c.undoAvailable, false};
    case kCmdRedo: return {s != 7 && c.redoAvailable, false};
    case kCmdRecordMacro: return {!c.recording, false};
    case kCmdStopMacro: return {c.recording, false};
    case kCmdPreview: return {c.cameraEnabled, s == 8};
    case kCmdCapture: return {c.cameraEnabled && s == 8, false};
    default: return {false, false};
    }
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
