// What the conversion tests share: pictures written by independent writers, and reading results
// back with Pillow and ImageMagick.
#pragma once

#include <QByteArray>
#include <QColor>
#include <QDir>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

namespace convtest {

// Runs a program; true when it exited with 0. Its standard output goes to *out, its standard error
// to *err, when given; env entries "NAME=value" are added to the environment.
bool Run(const QString& program, const QStringList& args, QByteArray* out = nullptr,
         QByteArray* err = nullptr, const QStringList& env = {}, int* exitCode = nullptr);
bool Have(const QString& program);

#define REQUIRE_PROGRAM(p)                                                                         \
    do {                                                                                           \
        if (!convtest::Have(p))                                                                    \
            GTEST_SKIP() << (p).toStdString() << " is not installed";                              \
    } while (0)

inline const QString kPython = QStringLiteral("/usr/bin/python3");
inline const QString kConvert = QStringLiteral("/usr/bin/convert");
inline const QString kIdentify = QStringLiteral("/usr/bin/identify");

// Runs a Python script with Pillow on the arguments; returns its trimmed standard output ("" on
// failure, which also fails the test).
QString Pillow(const QString& script, const QStringList& args);
// ImageMagick's identify -format on one file.
QString Identify(const QString& format, const QString& path);

// A picture of smooth gradients (true colour), written by Qt's writers in the format of the
// file's extension.
void WriteGradient(const QString& path, int w, int h);
// A flat picture of one colour.
void WriteFlat(const QString& path, int w, int h, QColor c);
QByteArray ReadAll(const QString& path);
void WriteAll(const QString& path, const QByteArray& bytes);

} // namespace convtest
