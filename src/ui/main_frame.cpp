#include "ui/main_frame.h"

#include <QCloseEvent>
#include <QMessageBox>
#include <QTimer>

#include "ui/lumadrift_view.h"

namespace lumadrift {


CMainFrame::CMainFrame(CLumadriftDoc& doc, FramePlacement& placement, QWidget* parent)
    : QMainWindow(parent), doc_(doc), placement_(placement)
{
    // The placement is applied as the normal rectangle; a maximized close is
    // remembered but the window always starts in its normal state.
    setGeometry(placement_.x, placement_.y, placement_.width, placement_.height);
    view_ = new CLumadriftView(doc_, this);
    setCentralWidget(view_);
    UpdateTitle();
    if (placement_.layoutState != 0)
        QTimer::singleShot(0, this, &CMainFrame::OnEnvironmentFailure);
}

void CMainFrame::UpdateTitle()
{
    setWindowTitle(QString::fromStdString(doc_.Title()) + QStringLiteral(" - Lumadrift"));
}

bool CMainFrame::OpenFile(const QString& path)
{
    const BmpError err = doc_.OpenDocument(path.toStdString());
    UpdateTitle();
    if (err != BmpError::kNone) {
        QMessageBox::warning(this, QStringLiteral("Lumadrift"),
                             QString::fromUtf8(BmpErrorMessage(err)));
        return false;
    }
    return true;
}

QString CMainFrame::EnvironmentNotice()
{
    return QStringLiteral("実行環境が壊れている可能性があります。\r\n"
                          "再度ｲﾝｽﾄｰﾙをしてください。\r\n"
                          "\r\nﾌﾟﾛｸﾞﾗﾑは強制終了されます。");
}

void CMainFrame::OnEnvironmentFailure()
{
    QMessageBox::critical(this, QStringLiteral("Lumadrift"), EnvironmentNotice());
    QTimer::singleShot(0, this, &QWidget::close);
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    const QRect normal = isMaximized() ? normalGeometry() : geometry();
    placement_.x = normal.x();
    placement_.y = normal.y();
    placement_.width = normal.width();
    placement_.height = normal.height();
    placement_.maximized = isMaximized() ? 1 : 0;
    QMainWindow::closeEvent(event);
}

}  // namespace lumadrift
