// The binarization dialog's live preview as the operator feels it: from a
// MIN or MAX scroll bar's change to the view repainted, on a 2048 x 2048
// range, through the real dialog opened by the real window (offscreen).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "commands/lumadrift_doc.h"
#include "core/bmp.h"
#include "core/file_io.h"
#include "ui/dialogs.h"
#include "ui/lumadrift_view.h"
#include "ui/main_frame.h"

namespace lumadrift {
namespace {

constexpr int kSide = 2048;

CLumadriftDoc* g_doc = nullptr;
CLumadriftView* g_view = nullptr;
CBinarizeDlg* g_dialog = nullptr;

// A smooth ramp with a little texture, so every threshold splits the range.
std::vector<uint8_t> TestPlane()
{
    std::vector<uint8_t> p(static_cast<size_t>(kSide) * kSide);
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x)
            p[static_cast<size_t>(y) * kSide + x] = static_cast<uint8_t>((x + y) / 16 + ((x * 7 + y * 13) & 15));
    return p;
}

// One change of the bar, then the view painted before the next one, at the
// zoom of the benchmark's argument (50: the whole range on screen).
void ScrollBarToRepaintedView(benchmark::State& state, int bar)
{
    g_doc->setZoom(static_cast<int>(state.range(0)));
    g_view->viewport()->repaint();
    QScrollBar* b = g_dialog->scrollBar(bar);
    const int base = bar == 0 ? 100 : 180;
    int i = 0;
    for (auto _ : state) {
        b->setValue(base + (i++ & 1));
        g_view->viewport()->repaint();
    }
}

void BM_BinarizePreviewMin(benchmark::State& state) { ScrollBarToRepaintedView(state, 0); }
void BM_BinarizePreviewMax(benchmark::State& state) { ScrollBarToRepaintedView(state, 1); }
BENCHMARK(BM_BinarizePreviewMin)->Name("ui/binarize_preview_2048/min")->Arg(100)->Arg(50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BinarizePreviewMax)->Name("ui/binarize_preview_2048/max")->Arg(100)->Arg(50)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lumadrift

int main(int argc, char** argv)
{
    using namespace lumadrift;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    benchmark::Initialize(&argc, argv);

    // The document and the window keep nothing of the user's: no folders,
    // no settings, no recent files.
    QTemporaryDir dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    QCoreApplication::setOrganizationName(QStringLiteral("LumadriftBench"));
    QCoreApplication::setApplicationName(QStringLiteral("LumadriftBench"));
    DocEnvironment env;
    env.layoutState = -1;
    env.createDirectories = false;
    env.loadSettings = false;
    env.saveSettings = false;
    CLumadriftDoc doc(env);
    const std::vector<uint8_t> plane = TestPlane();
    const std::string picture = dir.filePath(QStringLiteral("range.bmp")).toStdString();
    if (WriteFileWhole(picture, BuildGrayBmp(plane.data(), kSide, kSide)) != 0 ||
        doc.OpenDocument(picture) != BmpError::kNone) {
        std::fprintf(stderr, "cannot make the test picture in %s\n", picture.c_str());
        return 1;
    }
    doc.setRange({0, 0, kSide - 1, kSide - 1});
    if (doc.Acquire(doc.AcquireInRange(3, 0, 0.0)) != 0) {
        std::fprintf(stderr, "cannot acquire the range\n");
        return 1;
    }

    // The whole window, so the status bar's busy indicator listens as it
    // does for the operator.
    FramePlacement placement;
    placement.layoutState = 0;
    placement.width = 1400;
    placement.height = 1100;
    CMainFrame frame(doc, placement);
    frame.show();
    CLumadriftView& view = *frame.view();
    // An unexposed window ignores repaint(): the figures would leave the
    // painting out.
    for (int k = 0; k < 500 && !(frame.windowHandle() && frame.windowHandle()->isExposed()); ++k)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (!frame.windowHandle() || !frame.windowHandle()->isExposed()) {
        std::fprintf(stderr, "the window never became exposed\n");
        return 1;
    }
    g_doc = &doc;
    g_view = &view;
    int status = 0;
    // The benchmarks run inside the dialog's own event loop, as the
    // operator's changes do; then OK completes the step.
    auto* poll = new QTimer(&view);
    QObject::connect(poll, &QTimer::timeout, [&] {
        auto* dlg = qobject_cast<CBinarizeDlg*>(QApplication::activeModalWidget());
        if (!dlg)
            return;
        poll->stop();
        g_dialog = dlg;
        benchmark::RunSpecifiedBenchmarks();
        dlg->accept();
    });
    poll->start(5);
    frame.OnCommand(kCmdBinarize);
    if (!g_dialog)
        status = 1;
    benchmark::Shutdown();
    return status;
}
