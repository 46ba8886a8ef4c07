// Runs the real program's age calculation once, as a separate process that a test can kill or run
// twice at the same time: `walk-runner FOLDER YEAR [SERVER]` in the folder holding Base.mdb, or on
// the register on SERVER (a libpq connection string), as another computer would. The boxes it
// would show are written to the error output instead. Prints "walking" just before the walk.
#include "RecordingDialogs.h"
#include "windows/MainWindow.h"
#include "windows/DataModule.h"
#include "controls/TextComboBox.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QPushButton>
#include <QTest>

#include <cstdio>

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 3 && argc != 4)
        return 2;
    QDir::setCurrent(QString::fromLocal8Bit(argv[1]));
    RecordingDialogs dialogs;
    frmMain = new TfrmMain;
    DM = new TDM(argc == 4 ? QString::fromLocal8Bit(argv[3]) : QString());
    frmMain->linkDataControls(*DM);
    DM->open();
    frmMain->show();
    frmMain->cbb2->setEditText(QString::fromLocal8Bit(argv[2]));
    std::printf("walking\n");
    std::fflush(stdout);
    QTest::mouseClick(frmMain->btn4, Qt::LeftButton);
    for (const QString &error : dialogs.errors)
        std::fprintf(stderr, "BOX %s\n", error.toUtf8().constData());
    delete std::exchange(DM, nullptr);
    delete std::exchange(frmMain, nullptr);
    return dialogs.errors.isEmpty() ? 0 : 1;
}
