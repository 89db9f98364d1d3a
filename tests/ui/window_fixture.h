// A document and its main window, shown offscreen, with the settings kept in
// the test's own folder: the set-up the window tests share.
#pragma once

#include <gtest/gtest.h>

#include <QtTest/QTest>
#include <memory>

#include "app/image_settings.h"
#include "commands/lumadrift_doc.h"
#include "support/test_support.h"
#include "ui/gui_support.h"
#include "ui/main_frame.h"

namespace lumadrift::test {

class MainWindowTest : public ::testing::Test {
protected:
    // width and height 0 keep the placement's own size.
    void OpenWindow(int width = 0, int height = 0)
    {
        KeepSettingsIn(dir_.path());
        env_.layoutState = -1;
        doc_ = std::make_unique<CLumadriftDoc>(env_);
        placement_.layoutState = 0;
        if (width > 0) {
            placement_.width = width;
            placement_.height = height;
        }
        frame_ = std::make_unique<CMainFrame>(*doc_, placement_);
        frame_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(frame_.get()));
    }
    void TearDown() override
    {
        frame_.reset();
        doc_.reset();
    }

    TempDir dir_;
    DocEnvironment env_;
    FramePlacement placement_;
    std::unique_ptr<CLumadriftDoc> doc_;
    std::unique_ptr<CMainFrame> frame_;
};

}  // namespace lumadrift::test
