// Loaded into the real program with LD_PRELOAD by the start-up tests. It answers every message box
// (writing its caption and text to stderr), makes the choice REESTR_ROBOT_CHOICE names in the first
// start's window, and, once the main window is up, writes its caption and closes it, so a test can
// check what a user would have seen without the program knowing.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

void print(const char *kind, const QString &caption, const QString &text)
{
    std::fprintf(stderr, "%s [%s] %s\n", kind, qPrintable(caption),
                 qPrintable(QString(text).replace(QLatin1Char('\n'), QLatin1String("\\n"))));
    std::fflush(stderr);
}

void step()
{
    // The first start's window: the choice named by REESTR_ROBOT_CHOICE (a button's name).
    if (QWidget *modal = QApplication::activeModalWidget();
        modal && modal->objectName() == QLatin1String("FirstStartWindow")) {
        const QString choice = qEnvironmentVariable("REESTR_ROBOT_CHOICE");
        print("FIRSTSTART", modal->windowTitle(), choice);
        if (auto *button = modal->findChild<QAbstractButton *>(choice))
            button->click();
        return;
    }
    if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
        print("BOX", box->windowTitle(),
              QStringLiteral("icon=%1 buttons=%2 %3")
                  .arg(int(box->icon()))
                  .arg(box->buttons().size())
                  .arg(box->text()));
        box->buttons().first()->click();
        return;
    }
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && window->objectName() == QLatin1String("frmMain")) {
            // The rows the register shows, once its refresh has run.
            const auto *grid = window->findChild<QAbstractItemView *>(QStringLiteral("dbgrd1"));
            // And what the detail panel shows, box by box.
            QStringList detail;
            for (const char *name :
                 {"dbedt1", "dbedt_", "dbedt3", "dbedt4", "dbedt5", "dbedt6", "dbedt7"}) {
                const auto *box = window->findChild<QLineEdit *>(QLatin1String(name));
                detail << (box ? box->text() : QStringLiteral("?"));
            }
            print("WINDOW", window->windowTitle(),
                  QStringLiteral("maximized=%1 rows=%2 detail=%3")
                      .arg(window->isMaximized() ? 1 : 0)
                      .arg(grid ? grid->model()->rowCount() : -1)
                      .arg(detail.join(QLatin1Char('|'))));
            window->close();
            return;
        }
    }
}

void startRobot()
{
    auto *timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, step);
    timer->start(30);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startRobot)
