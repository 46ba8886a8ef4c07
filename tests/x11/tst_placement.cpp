// Where the windows land under a real window manager (openbox on Xvfb): the outer frames centred
// and the main window's restored outer size as laid out. Run by under_openbox.sh.
#include "windows/Application.h"
#include "ProgramFixture.h"
#include "Settle.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScreen>
#include <QTimer>

namespace {

QPoint offCentre(QWidget *window)
{
    return window->frameGeometry().center() - window->screen()->availableGeometry().center();
}

} // namespace

TEST_F(ProgramTest, UnderAWindowManagerFramesAreCentredAndTheRestoredSizeIsAsLaidOut)
{
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    ASSERT_TRUE(Startup::createAll([](const std::exception &e, Startup::Step) {
        ADD_FAILURE() << "start-up failed: " << e.what();
    }));
    Startup::showMainWindow();
    settle(500);
    EXPECT_TRUE(frmMain->isMaximized());
    frmMain->showNormal();
    settle(800);
    EXPECT_EQ(frmMain->frameGeometry().size(), frmMain->restoredOuterSize())
        << "frame " << frmMain->frameGeometry().width() << "x" << frmMain->frameGeometry().height();
    EXPECT_LE(offCentre(frmMain).manhattanLength(), 2);

    for (QWidget *window : {static_cast<QWidget *>(frmInsert), static_cast<QWidget *>(frmSprav)}) {
        QPoint off(1000, 1000);
        QTimer::singleShot(0, [&] {
            settle(500);
            off = offCentre(window);
            window->close();
        });
        Application::showModal(window);
        EXPECT_LE(off.manhattanLength(), 2)
            << window->objectName().toStdString() << " off by " << off.x() << "," << off.y();
    }
    EXPECT_TRUE(dialogs.errors.isEmpty());
}
