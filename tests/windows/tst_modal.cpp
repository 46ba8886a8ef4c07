// Showing a secondary window modally, and failures inside it.
#include "ProgramFixture.h"

#include "Application.h"
#include "Unit3.h"
#include "controls/Guard.h"

#include "controls/TextComboBox.h"

#include <QComboBox>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QPointer>
#include <QTimer>

TEST_F(ProgramTest, AModalWindowBlocksTheOthersAndIsHiddenNotDestroyedWhenClosed)
{
    startProgram();
    QPointer<TfrmInsert> window(frmInsert);
    auto *typed = new QLineEdit(frmInsert);

    bool wasModal = false;
    bool mainBlocked = false;
    QTimer::singleShot(0, [&] {
        wasModal = QApplication::activeModalWidget() == frmInsert && frmInsert->isVisible();
        mainBlocked = QApplication::activeModalWidget() != frmMain;
        typed->setText(QStringLiteral("Иванов"));
        // A failure in the modal window is shown and the window stays open and usable.
        guarded([] { throw Error(QStringLiteral("сбой в окне")); });
        frmInsert->close();
    });
    Application::showModal(frmInsert);

    EXPECT_TRUE(wasModal);
    EXPECT_TRUE(mainBlocked);
    EXPECT_EQ(dialogs.errors, QStringList{QStringLiteral("сбой в окне.")});
    ASSERT_FALSE(window.isNull()) << "closing hides the window, never destroys it";
    EXPECT_FALSE(frmInsert->isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    QTimer::singleShot(0, [&] { frmInsert->close(); });
    Application::showModal(frmInsert);
    EXPECT_EQ(typed->text(), QStringLiteral("Иванов")) << "its controls keep their state";
}

TEST_F(ProgramTest, EveryWindowUsesTahomaBoldAtNineteenPixels)
{
    Application::registerFonts();
    startProgram();
    for (QWidget *widget :
         {static_cast<QWidget *>(frmMain->lbl1), static_cast<QWidget *>(frmMain->btn4),
          static_cast<QWidget *>(frmMain->cbb2)}) {
        const QFontInfo font(widget->font());
        EXPECT_EQ(font.family(), QStringLiteral("Tahoma")) << widget->objectName().toStdString();
        EXPECT_TRUE(font.bold());
        EXPECT_EQ(font.pixelSize(), 19);
    }
}
