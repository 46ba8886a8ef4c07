#pragma once

#include "JetFile.h"
#include "TempDatabase.h"

#include <QFileInfo>
#include <QString>

#include <gtest/gtest.h>

// A file of the test data made outside the project (REESTR_FIXTURES); the test skips, naming the
// file, where it is missing.
inline QString sharedFixture(const char *name)
{
    return QStringLiteral(REESTR_FIXTURES "/") + QString::fromUtf8(name);
}

#define REQUIRE_FIXTURE(path)                                                                      \
    do {                                                                                           \
        if (!QFileInfo::exists(path))                                                              \
            GTEST_SKIP() << "the shared test data is missing here: " << (path).toStdString();      \
    } while (false)

// The old program's register, an Access 2000 file the tests write (JetFile::writeOldRegister),
// once per test program, named as the old program's files were.
inline const QString &oldRegisterFile()
{
    static const TempFolder folder;
    static const QString path = [] {
        const QString file = folder.file(QStringLiteral("jet4-Base.mdb"));
        JetFile::writeOldRegister(file);
        return file;
    }();
    return path;
}
