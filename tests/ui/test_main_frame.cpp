#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QtTest/QTest>

#include "commands/lumadrift_doc.h"
#include "support/test_support.h"
#include "ui/lumadrift_view.h"
#include "ui/main_frame.h"

namespace lumadrift {
namespace {

DocEnvironment QuietEnvironment()
{
    DocEnvironment env;
    env.layoutState = -1;  // no files touched
    return env;
}

TEST(MainFrame, EmptyWindowTitleAndPlacement)
{
    CLumadriftDoc doc(QuietEnvironment());
    FramePlacement placement;
    placement.layoutState = 0;  // no environment notice
    placement.x = 30;
    placement.y = 40;
    placement.width = 500;
    placement.height = 300;
    CMainFrame frame(doc, placement);
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("無題 - Lumadrift"));
    frame.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
    // The placement is the frame's rectangle, title bar and borders included.
    EXPECT_TRUE(QTest::qWaitFor([&] { return frame.frameGeometry() == QRect(30, 40, 500, 300); }))
        << frame.frameGeometry().x() << "," << frame.frameGeometry().y() << " "
        << frame.frameGeometry().width() << "x" << frame.frameGeometry().height();
    frame.resize(520, 310);
    const QRect outer = frame.frameGeometry();
    frame.close();
    EXPECT_EQ(placement.x, outer.x());
    EXPECT_EQ(placement.y, outer.y());
    EXPECT_EQ(placement.width, outer.width());
    EXPECT_EQ(placement.height, outer.height());
    EXPECT_GT(placement.width, 520);  // the client area alone is not stored
    EXPECT_EQ(placement.maximized, 0);
}

TEST(MainFrame, EnvironmentNoticeThenClose)
{
    CLumadriftDoc doc(QuietEnvironment());
    FramePlacement placement;  // layout state -1
    CMainFrame frame(doc, placement);
    frame.show();
    QString shown;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    // The notice is modal: answer it from a timer once it is up.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = box->text();
            icon = box->icon();
            box->accept();
        }
    });
    poll.start(10);
    QTRY_VERIFY_WITH_TIMEOUT(!frame.isVisible(), 5000);
    EXPECT_EQ(shown, CMainFrame::EnvironmentNotice());
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_TRUE(shown.startsWith(QStringLiteral("実行環境が壊れている可能性があります。\r\n")));
    EXPECT_TRUE(shown.endsWith(QStringLiteral("\r\n\r\nﾌﾟﾛｸﾞﾗﾑは強制終了されます。")));
}

TEST(MainFrame, OpenedFileNamesTheWindow)
{
    test::TempDir dir;
    // A 2 x 1 24-bit picture: red, then blue.
    std::vector<uint8_t> f(54 + 8, 0);
    f[0] = 'B';
    f[1] = 'M';
    f[2] = 62;
    f[14] = 40;
    f[18] = 2;
    f[22] = 1;
    f[26] = 1;
    f[28] = 24;
    const uint8_t px[] = {0, 0, 255, 255, 0, 0};
    std::copy(px, px + 6, f.begin() + 54);
    test::WriteBytes(dir / "two.bmp", f);

    CLumadriftDoc doc(QuietEnvironment());
    FramePlacement placement;
    placement.layoutState = 0;
    CMainFrame frame(doc, placement);
    ASSERT_TRUE(frame.OpenFile(QString::fromStdString(dir / "two.bmp")));
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("two.bmp - Lumadrift"));
    const QImage img = RenderDocumentImage(doc, 0);
    ASSERT_EQ(img.size(), QSize(2, 1));
    EXPECT_EQ(img.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(img.pixel(1, 0), qRgb(0, 0, 255));
}

TEST(MainFrame, GrayPlaneIsShownThroughTheGrayTable)
{
    CLumadriftDoc doc(QuietEnvironment());
    ASSERT_EQ(doc.planes().CreatePlaneBank(5, 3, 2), 0);
    uint8_t* p = doc.planes().GetPlane(2);
    const uint8_t values[] = {0, 7, 255, 128, 1, 254};
    std::copy(values, values + 6, p);
    doc.setState(kStateBinary);
    const QImage img = RenderDocumentImage(doc, 2);
    ASSERT_EQ(img.size(), QSize(3, 2));
    EXPECT_EQ(img.pixel(1, 0), qRgb(7, 7, 7));
    EXPECT_EQ(img.pixel(0, 1), qRgb(128, 128, 128));
    EXPECT_TRUE(RenderDocumentImage(doc, 7).isNull());  // no such plane
}

}  // namespace
}  // namespace lumadrift

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Test discovery runs the program without the test environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
