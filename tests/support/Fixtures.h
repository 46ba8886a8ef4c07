#pragma once

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
