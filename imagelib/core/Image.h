// The imaging library's internals shared by its modules: the image store behind the handles,
// size limits, the status of the last call, the progress window, and helpers for records and
// texts.
#pragma once

#include "ik6.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QImage>
#include <QString>
#include <cstdint>
#include <cstring>
#include <memory>

class QProgressDialog;

namespace ik {

// One image: the pixels and their true depth. Palette images (1, 4 or 8 bits) are stored one byte
// per pixel (QImage::Format_Indexed8) with at most 2, 16 or 256 colours; 16-bit images as
// Format_RGB555 (or RGB16 for 5-6-5); 24-bit as Format_RGB888; 32-bit as RGB32 or ARGB32.
struct Image {
    QImage img;
    int bpp = 0;
    // The ICC colour profile the pixels are in, one that Little CMS reads and whose colour space
    // suits the pixels (RGB, or grey for a grey picture); empty for sRGB.
    QByteArray icc;

    bool IsNull() const { return img.isNull(); }
};

// True when an image of this size may be allocated.
bool SizeAllowed(int64_t width, int64_t height);

// The status of the calling thread's last call (IKGetErrorStatus). Each entry point that can fail
// starts a Call; the decoders and savers below it record why they fail with Fail(), and the first
// reason recorded is kept, being the most specific one (a decoder's "the strips cannot hold the
// picture" rather than the entry point's "cannot decode").
class Call {
public:
    Call(); // clears the thread's status
    // Ends the call: success clears any reason recorded on the way (keeping a note, such as a
    // truncated file); failure keeps the recorded reason, or this one when none was recorded.
    bool Done(bool ok, int code, const char* reason);
    IKHANDLE Done(IKHANDLE handle, int code, const char* reason) {
        return Done(handle != 0, code, reason) ? handle : 0;
    }
};
// Records why the current call fails (only the first reason counts). Returns false.
bool Fail(int code, const QByteArray& reason);
// Records a note about a call that succeeds (IK_STATUS_TRUNCATED).
void Note(int code, const QByteArray& reason);
// The thread's status: the code, and the reason through *reason when given.
int Status(QByteArray* reason = nullptr);

// True on the thread that runs the application's event loop. Only there may the library touch
// widgets or dispatch events.
bool OnGuiThread();

// Stores the image and returns its new handle (0 when the image is null).
IKHANDLE Put(Image image);
// The image of a handle, or null.
Image* Get(IKHANDLE handle);
bool Free(IKHANDLE handle);
// How many images are stored (for tests of leaks).
int Count();

// The depth a QImage stands for, and an Image made from any QImage (unsupported formats become
// 32 bits).
int DepthOf(const QImage& img);
Image FromQImage(const QImage& img);
// The smallest palette depth (1, 4, 8) that holds n colours.
int PaletteDepth(int colours);

// Colour conversions shared by the modules.
// The image as 32 bits (ARGB32 when it has alpha, else RGB32).
QImage As32(const Image& src);
// A processed 32-bit image back at the depth of `like` (palette sources come back true colour).
Image BackToDepth(QImage img32, const Image& like);
// Luminance 0..255.
int Luma(QRgb p);
class Progress;
// Black and white, by Floyd-Steinberg error diffusion or by a threshold.
Image ToOneBit(const Image& src, bool dither, int threshold, Progress& progress);
// A grey-level palette of 2^bits entries.
Image ToGreyPalette(const Image& src, int bits, bool dither, Progress& progress);
// An optimal palette of at most 2^bits colours (libimagequant).
Image Quantise(const Image& src, int bits, bool dither, Progress& progress);

// A progress window with a stop button, shown when the texts are not empty, the caller is the GUI
// thread, and the operation has run longer than the delay. Step() keeps the window and the user's
// input alive and returns false once the user pressed stop. On any other thread it never creates
// a window or dispatches events: it only returns true.
class Progress {
public:
    Progress(const char* caption, const char* message, const char* button);
    ~Progress();
    bool Step(int64_t done, int64_t total);
    bool Stopped() const { return m_stopped; }

private:
    QString m_caption, m_message, m_button;
    bool m_enabled = false;
    bool m_stopped = false;
    QElapsedTimer m_timer;
    qint64 m_lastPump = -1000;
    std::unique_ptr<QProgressDialog> m_dialog;
};
void SetProgressDelay(int ms);

// Little-endian record fields.
inline void Put16(void* rec, int off, int v) {
    const int16_t x = int16_t(v);
    std::memcpy(static_cast<char*>(rec) + off, &x, 2);
}
inline void Put32(void* rec, int off, int64_t v) {
    const uint32_t x = uint32_t(v);
    std::memcpy(static_cast<char*>(rec) + off, &x, 4);
}
// Copies UTF-8 text into a field of cap bytes, NUL-terminated, cut at a character boundary.
void PutText(void* rec, int off, int cap, const QByteArray& utf8);
// Text from a file: kept when it is valid UTF-8, otherwise read as code page 932.
QByteArray TextToUtf8(const QByteArray& raw);

// A UTF-8 path as a QString.
inline QString PathOf(const char* path) {
    return path ? QString::fromUtf8(path) : QString();
}

} // namespace ik
