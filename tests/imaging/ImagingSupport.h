// What the imaging tests share: a temporary folder, real image files written by independent
// tools (ImageMagick, exiftool, Pillow, libtiff's tools), and access to decoded pixels.
#pragma once

#include "core/Image.h"
#include "ik6.h"

#include <QColor>
#include <QDir>
#include <QImage>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

namespace testimg {

// Runs a program; true when it exited with 0. Output goes to *out when given.
bool RunTool(const QString& program, const QStringList& args, QByteArray* out = nullptr,
             int timeoutMs = 60000);
// True when the program is installed.
bool Have(const QString& program);
// ImageMagick's convert; skips the calling test when it is missing.
#define REQUIRE_TOOL(tool)                                                                         \
    do {                                                                                           \
        if (!testimg::Have(tool))                                                                  \
            GTEST_SKIP() << tool << " is not installed";                                           \
    } while (0)

// The test pattern: smooth gradients with a few solid blocks, odd sizes to exercise row padding.
QRgb Pattern(int x, int y, int w, int h);
// Writes the pattern as a binary PPM (the neutral source every tool reads).
QString WritePpm(const QDir& dir, const QString& name, int w, int h);
// Converts src to dst with ImageMagick's convert and the given options; fails the test on error.
QString Convert(const QDir& dir, const QString& src, const QString& dst,
                const QStringList& options = {});
// Writes the bytes to a file.
QString WriteBytes(const QDir& dir, const QString& name, const QByteArray& bytes);
QByteArray ReadBytes(const QString& path);

// The record IKFileType fills.
struct FileType {
    int ok = 0, width = 0, height = 0, type = 0, interlace = 0, panes = 0, bitCount = 0;
    uint32_t fileSize = 0;
    QByteArray comment;
};
FileType TypeOf(const QString& path);

// Loads a file through IKFileLoad; the handle is freed with the object.
class Loaded {
public:
    explicit Loaded(const QString& path);
    explicit Loaded(IKHANDLE h) : m_h(h) {}
    ~Loaded();
    Loaded(const Loaded&) = delete;
    Loaded& operator=(const Loaded&) = delete;
    IKHANDLE Handle() const { return m_h; }
    const ik::Image* Get() const { return ik::Get(m_h); }
    int Bpp() const;
    QSize Size() const;
    // The pixels as 32-bit colours.
    QImage Rgb() const;

private:
    IKHANDLE m_h = 0;
};

// Presses the stop button of every progress window the moment it appears (through a queued call,
// delivered by the window's own first round of events), and notes its caption and message. No
// timing is involved: a window that appears is always stopped.
class StopProgressWindows : public QObject {
public:
    StopProgressWindows();
    ~StopProgressWindows() override;
    QString caption, label;
    int shown = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// The status of the calling thread's last library call.
struct Status {
    int code = 0;
    QByteArray reason;
};
Status LastStatus();

// Runs fn in a child process and reports how it went: whether it finished (within timeoutMs,
// without a crash), fn's result, and how much the child's resident memory grew at its peak (in
// megabytes) while fn ran. For what a hostile file costs without letting it cost the tests.
struct ChildRun {
    bool finished = false;
    int result = -1;
    long peakGrowthMb = -1;
};
ChildRun RunInChild(const std::function<int()>& fn, int timeoutMs = 120000);

// Big-endian and little-endian fields for files built byte by byte, and the CRC of PNG chunks.
void AppendBE16(QByteArray& b, int v);
void AppendBE32(QByteArray& b, uint32_t v);
void AppendLE16(QByteArray& b, int v);
void AppendLE32(QByteArray& b, uint32_t v);
QByteArray PngChunk(const char* type, const QByteArray& data);

// The largest difference of any colour channel between two images of the same size (-1 when
// the sizes differ).
int MaxDiff(const QImage& a, const QImage& b);
// The mean absolute difference over all colour channels (-1 when the sizes differ).
double MeanDiff(const QImage& a, const QImage& b);

// The path of a test plug-in built beside the tests (name without ".spi").
QString BuiltSpi(const QString& name);
// A picture in the test plug-ins' format, of one colour (10, 20, 30): magic, 16-bit width and
// height, R, G, B top down.
QByteArray FlatTestPicture(const char* magic, int w, int h);

} // namespace testimg
