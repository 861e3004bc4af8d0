#pragma once

// QTEST_MAIN for tests whose code loads pictures: the test program is also
// the child that plays metafiles, as Mosalune.exe and mosalune-cut are.

#include "picture/picturechild.h"

#include <QtTest>

#ifdef QT_WIDGETS_LIB
#include <QApplication>
#define MOSALUNE_TEST_APPLICATION QApplication
#else
#include <QGuiApplication>
#define MOSALUNE_TEST_APPLICATION QGuiApplication
#endif

#define MOSALUNE_PICTURE_TEST_MAIN(TestObject)                                                   \
    int main(int argc, char *argv[])                                                             \
    {                                                                                            \
        if (const auto status = picture::runPictureChild(argc, argv))                           \
            return *status;                                                                      \
        MOSALUNE_TEST_APPLICATION app(argc, argv);                                               \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                 \
        TestObject tc;                                                                           \
        QTEST_SET_MAIN_SOURCE_PATH                                                               \
        return QTest::qExec(&tc, argc, argv);                                                    \
    }
