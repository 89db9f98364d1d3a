// A macro holding every operation, written exactly as the recorder writes
// it, replays without a failure and records itself again byte for byte.
#include <gtest/gtest.h>

#include "commands/commands_test_util.h"
#include "commands/lumadrift_doc.h"
#include "commands/replay.h"

namespace lumadrift {
namespace {

TEST(RoundTrip, EveryOperationReplaysAndRecordsItself)
{
    test::Installation inst;
    test::WriteBytes(inst.root() + "/picture/p.bmp", test::MakeBmp24(40, 30));
    test::WriteText(inst.root() + "/filter/k.knl", "1 2 1\r\n2 4 2\r\n1 2 1\r\n");
    std::string ones;
    for (int r = 0; r < 32; ++r) {
        for (int c = 0; c < 64; ++c)
            ones += c ? ",1" : "1";
        ones += "\r\n";
    }
    test::WriteText(inst.root() + "/filter/m.msk", ones);
    const std::string root = inst.root();
    const std::string macro =
        "51 ファイルを開く\nファイル=" + root + "/picture/p.bmp\n"
        "55 画像処理範囲取得\nチャネル=3 反転=0 彩度=0.00 左座標=1 上座標=2 右座標=38 下座標=27\n"
        "57 画像プール\n追加CD=1 ID= ファイル=start\n"
        "06 コントラスト\n倍率=1.20\n"
        "07 ガンマ補正\n倍率=0.90\n"
        "08 階調イコライゼーション\n"
        "09 移動平均\nXサイズ=3 Yサイズ=5\n"
        "10 メディアン\nXサイズ=3 Yサイズ=3\n"
        "20 ランク指定\nXサイズ=5 Yサイズ=3 ランク=7 インデックス=3\n"
        "11 Roberts\n12 Solbel\n13 Prewitt\n14 ラプラシアン\n15 スムース化\n16 シャープ化\n"
        "17 コンボリューション\nモード=3  1-1=0 1-2=1 1-3=0 2-1=1 2-2=4 2-3=1 3-1=0 3-2=1 3-3=0\n"
        "17 コンボリューション\nモード=0 ファイル=" + root + "/filter/k.knl\n"
        "18 アフィン変換\n角度=30.00 中心値X=18.00 中心値Y=12.00 拡大率X=1.00 拡大率Y=1.00 移動量X=2.00 移動量Y=0.00\n"
        "19 FFT処理\nマスク=1 最小値=0.00 最大値=0.50\n"
        "19 FFT処理\nマスク=2 ファイル=" + root + "/filter/m.msk\n"
        "61 元に戻す\n62 やり直し\n"
        "58 濃度プロファイル\nID=1\n"
        "58 濃度プロファイル\nID=2 始点X=0 始点Y=0 終点X=37 終点Y=25 ファイル=" + root + "/data/p.pfl\n"
        "58 濃度プロファイル\nID=0\n"
        "01 2値化\n最小値=100 最大値=255\n"
        "02 膨張\n03 収縮\n05 細線化\n"
        "04 ラベリング\nファイル=" + root + "/data/l.lbl\n"
        "57 画像プール\n追加CD=1 ID= ファイル=labels\n"
        "57 画像プール\n保存CD=3 ID=1 ファイル=" + root + "/data/pool.bmp\n"
        "21 画像間AND演算\n対象ID=1 参照ID=0\n"
        "22 画像間OR演算\n対象ID=0 参照ID=1\n"
        "23 画像間XOR演算\n対象ID=1 参照ID=1\n"
        "57 画像プール\n対象CD=4 ID=0 ファイル=\n"
        "57 画像プール\n削除CD=2 ID=1 ファイル=\n"
        "57 画像プール\n全削除CD=5 ID= ファイル=\n"
        "52 ファイルの保存\nファイル=" + root + "/data/out.bmp\n"
        "56 元画像表示\n"
        "63 スリープ\nミリ秒=1\n";

    CLumadriftDoc doc(inst.Environment());
    ASSERT_TRUE(doc.StartRecording(root + "/filter/rec.flt"));
    std::vector<int> failed;
    ReplayOptions o;
    o.logDir = inst.logDir();
    o.baseDir = root + "/filter";
    o.onEntry = [&](const ReplayEntry& e) {
        if (e.outcome != EntryOutcome::kRan)
            failed.push_back(e.lineNumber);
    };
    const ReplaySummary s = ReplayMacroBytes(doc, test::Bytes(test::MacroBytes(macro)), o);
    doc.StopRecording();
    EXPECT_TRUE(failed.empty()) << "first failing line " << failed.front();
    EXPECT_EQ(s.entries, 41);
    EXPECT_EQ(test::ReadText(root + "/filter/rec.flt"), test::MacroBytes(macro));
    EXPECT_EQ(doc.state(), kStateColor);
    for (const char* f : {"/data/p.pfl", "/data/l.lbl", "/data/pool.bmp", "/data/out.bmp"})
        EXPECT_FALSE(test::ReadBytes(root + f).empty()) << f;
}

}  // namespace
}  // namespace lumadrift
