#include "core/Image.h"

#include <QApplication>
#include <QProgressDialog>
#include <QStringDecoder>
#include <QThread>
#include <atomic>
#include <mutex>
#include <unordered_map>

namespace ik {

namespace {

struct Store {
    std::mutex mutex;
    std::unordered_map<IKHANDLE, std::unique_ptr<Image>> images;
    IKHANDLE next = 1;
};

Store& TheStore() {
    static Store store;
    return store;
}

std::atomic<int> g_progressDelay{400};

// The status of the thread's last call, read by IKGetErrorStatus.
struct ThreadStatus {
    int code = IK_ERR_NONE;
    QByteArray reason;
    int note = IK_ERR_NONE;
    QByteArray noteReason;
};
thread_local ThreadStatus t_status;

} // namespace

Call::Call() {
    t_status = ThreadStatus();
}

bool Call::Done(bool ok, int code, const char* reason) {
    ThreadStatus& s = t_status;
    if (ok) {
        s.code = s.note;
        s.reason = s.noteReason;
    } else if (s.code <= IK_ERR_NONE) {
        s.code = code;
        s.reason = reason;
    }
    s.note = IK_ERR_NONE;
    s.noteReason.clear();
    return ok;
}

bool Fail(int code, const QByteArray& reason) {
    if (t_status.code <= IK_ERR_NONE) {
        t_status.code = code;
        t_status.reason = reason;
    }
    return false;
}

void Note(int code, const QByteArray& reason) {
    t_status.note = code;
    t_status.noteReason = reason;
}

int Status(QByteArray* reason) {
    if (reason)
        *reason = t_status.reason;
    return t_status.code;
}

bool OnGuiThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

bool SizeAllowed(int64_t width, int64_t height) {
    return width > 0 && height > 0 && width <= IK_MAX_SIDE && height <= IK_MAX_SIDE &&
           width * height <= IK_MAX_PIXELS;
}

IKHANDLE Put(Image image) {
    if (image.IsNull())
        return 0;
    Store& s = TheStore();
    std::lock_guard<std::mutex> lock(s.mutex);
    IKHANDLE h = s.next;
    // Handles are never 0 and never reused while an image holds them.
    while (h == 0 || s.images.count(h))
        ++h;
    s.next = h + 1;
    s.images.emplace(h, std::make_unique<Image>(std::move(image)));
    return h;
}

Image* Get(IKHANDLE handle) {
    if (handle == 0)
        return nullptr;
    Store& s = TheStore();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.images.find(handle);
    return it == s.images.end() ? nullptr : it->second.get();
}

bool Free(IKHANDLE handle) {
    if (handle == 0)
        return false;
    Store& s = TheStore();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.images.erase(handle) > 0;
}

int Count() {
    Store& s = TheStore();
    std::lock_guard<std::mutex> lock(s.mutex);
    return int(s.images.size());
}

int PaletteDepth(int colours) {
    return colours <= 2 ? 1 : colours <= 16 ? 4 : 8;
}

int DepthOf(const QImage& img) {
    switch (img.format()) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
    case QImage::Format_Indexed8:
        return PaletteDepth(img.colorCount());
    case QImage::Format_RGB555:
    case QImage::Format_RGB16:
        return 16;
    case QImage::Format_RGB888:
    case QImage::Format_BGR888:
        return 24;
    default:
        return 32;
    }
}

Image FromQImage(const QImage& src) {
    Image out;
    if (src.isNull() || !SizeAllowed(src.width(), src.height()))
        return out;
    switch (src.format()) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
        out.img = src.convertToFormat(QImage::Format_Indexed8, src.colorTable());
        break;
    case QImage::Format_Indexed8:
        out.img = src.copy();
        break;
    case QImage::Format_RGB555:
    case QImage::Format_RGB16:
    case QImage::Format_RGB888:
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
        out.img = src.copy();
        break;
    case QImage::Format_BGR888:
        out.img = src.convertToFormat(QImage::Format_RGB888);
        break;
    default:
        out.img = src.convertToFormat(src.hasAlphaChannel() ? QImage::Format_ARGB32
                                                            : QImage::Format_RGB32);
        break;
    }
    if (out.img.format() == QImage::Format_Indexed8 && out.img.colorCount() == 0) {
        // An indexed image without colours is read as grey levels.
        QVector<QRgb> grey(256);
        for (int i = 0; i < 256; ++i)
            grey[i] = qRgb(i, i, i);
        out.img.setColorTable(grey);
    }
    out.bpp = DepthOf(out.img);
    return out;
}

void PutText(void* rec, int off, int cap, const QByteArray& utf8) {
    char* dst = static_cast<char*>(rec) + off;
    int n = int(std::min<qsizetype>(utf8.size(), cap - 1));
    // Never cut inside a multi-byte character: back up over continuation bytes.
    if (n < utf8.size())
        while (n > 0 && (uchar(utf8[n]) & 0xC0) == 0x80)
            --n;
    // An embedded NUL ends the text.
    const int nul = int(utf8.left(n).indexOf('\0'));
    if (nul >= 0)
        n = nul;
    std::memcpy(dst, utf8.constData(), size_t(n));
    std::memset(dst + n, 0, size_t(cap - n));
}

QByteArray TextToUtf8(const QByteArray& raw) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString s = utf8.decode(raw);
    if (!utf8.hasError())
        return raw;
    QStringDecoder sjis("Shift_JIS");
    if (!sjis.isValid())
        return QString::fromLatin1(raw).toUtf8();
    return QString(sjis.decode(raw)).toUtf8();
}

void SetProgressDelay(int ms) {
    g_progressDelay = std::max(0, ms);
}

Progress::Progress(const char* caption, const char* message, const char* button)
    : m_caption(QString::fromUtf8(caption ? caption : "")),
      m_message(QString::fromUtf8(message ? message : "")),
      m_button(QString::fromUtf8(button ? button : "")) {
    // A window needs texts, a widget application, and its GUI thread: workers never get one.
    m_enabled = !(m_caption.isEmpty() && m_message.isEmpty() && m_button.isEmpty()) &&
                qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr &&
                OnGuiThread();
    m_timer.start();
}

Progress::~Progress() = default;

bool Progress::Step(int64_t done, int64_t total) {
    if (!m_enabled || m_stopped)
        return !m_stopped;
    const qint64 now = m_timer.elapsed();
    if (now - m_lastPump < 40)
        return true;
    m_lastPump = now;
    if (!m_dialog && now >= g_progressDelay) {
        m_dialog = std::make_unique<QProgressDialog>(m_message, m_button, 0, 1000);
        m_dialog->setWindowTitle(m_caption);
        m_dialog->setWindowModality(Qt::ApplicationModal);
        m_dialog->setMinimumDuration(0);
        m_dialog->setAutoClose(false);
        m_dialog->setAutoReset(false);
        m_dialog->show();
    }
    if (m_dialog) {
        m_dialog->setValue(total > 0 ? int(std::min<int64_t>(1000, done * 1000 / total)) : 0);
        QCoreApplication::processEvents();
        if (m_dialog->wasCanceled()) {
            m_stopped = true;
            Fail(IK_ERR_STOPPED, "stopped by the user");
        }
    }
    return !m_stopped;
}

} // namespace ik
