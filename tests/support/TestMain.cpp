// The main() of every test program: Qt needs its application object, and widget tests run on the
// offscreen platform unless the caller chose another.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QThreadPool>

#include <gtest/gtest.h>

#ifdef REESTR_TEST_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

namespace {

// Whether the system still lists a thread of Qt's global pool (Qt names them so).
bool pooledThreadListed()
{
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile name(tasks.filePath(task + QStringLiteral("/comm")));
        if (name.open(QIODevice::ReadOnly) && name.readAll().startsWith("Thread (pooled)"))
            return true;
    }
    return false;
}

// Qt fills large areas and converts large images on its global thread pool, whose threads are
// detached: Qt counts one as done before it has run its thread-local destructors, so one may
// still be ending when the process exits, and the leak checker then reports its thread data
// (152 bytes inside Qt's core library) as lost. The pool's threads are ended and waited for until
// the system no longer lists them.
void endPooledThreads()
{
    QThreadPool::globalInstance()->waitForDone();
    QElapsedTimer waited;
    waited.start();
    while (pooledThreadListed() && waited.elapsed() < 5000)
        QThread::msleep(1);
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    TestApplication app(argc, argv);
    const int status = RUN_ALL_TESTS();
    endPooledThreads();
    return status;
}
