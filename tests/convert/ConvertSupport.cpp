#include "ConvertSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>

namespace convtest {

bool Run(const QString& program, const QStringList& args, QByteArray* out, QByteArray* err,
         const QStringList& env, int* exitCode) {
    QProcess p;
    if (!env.isEmpty()) {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        for (const QString& kv : env) {
            const qsizetype eq = kv.indexOf(QLatin1Char('='));
            e.insert(kv.left(eq), kv.mid(eq + 1));
        }
        p.setProcessEnvironment(e);
    }
    p.start(program, args);
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        return false;
    }
    if (out)
        *out = p.readAllStandardOutput();
    if (err)
        *err = p.readAllStandardError();
    if (exitCode)
        *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool Have(const QString& program) {
    return QFileInfo(program).isExecutable();
}

QString Pillow(const QString& script, const QStringList& args) {
    QByteArray out, err;
    const bool ok = Run(kPython, QStringList{QStringLiteral("-c"), script} + args, &out, &err);
    EXPECT_TRUE(ok) << err.constData();
    return ok ? QString::fromUtf8(out).trimmed() : QString();
}

QString Identify(const QString& format, const QString& path) {
    QByteArray out, err;
    const bool ok = Run(kIdentify, {QStringLiteral("-format"), format, path}, &out, &err);
    EXPECT_TRUE(ok) << err.constData();
    return QString::fromUtf8(out).trimmed();
}

void WriteGradient(const QString& path, int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y,
                         qRgb(x * 255 / std::max(1, w - 1), y * 255 / std::max(1, h - 1),
                              (x + y) * 255 / std::max(1, w + h - 2)));
    ASSERT_TRUE(img.save(path)) << path.toStdString();
}

void WriteFlat(const QString& path, int w, int h, QColor c) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(c);
    ASSERT_TRUE(img.save(path)) << path.toStdString();
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

} // namespace convtest
