#include "ImagingSupport.h"

#include "../TestPaths.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProgressDialog>
#include <QStandardPaths>
#include <QThread>
#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testimg {

bool RunTool(const QString& program, const QStringList& args, QByteArray* out, int timeoutMs) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForStarted(10000))
        return false;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return false;
    }
    const QByteArray output = p.readAll();
    if (out)
        *out = output;
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        ADD_FAILURE() << program.toStdString() << " " << args.join(' ').toStdString() << ": "
                      << output.toStdString();
        return false;
    }
    return true;
}

bool Have(const QString& program) {
    return !QStandardPaths::findExecutable(program).isEmpty();
}

QRgb Pattern(int x, int y, int w, int h) {
    if (x >= w / 4 && x < w / 2 && y >= h / 4 && y < h / 2)
        return qRgb(255, 0, 0);
    if (x >= w / 2 && x < 3 * w / 4 && y >= h / 2 && y < 3 * h / 4)
        return qRgb(0, 0, 255);
    return qRgb(x * 255 / std::max(1, w - 1), y * 255 / std::max(1, h - 1),
                (x + y) * 255 / std::max(1, w + h - 2));
}

QString WritePpm(const QDir& dir, const QString& name, int w, int h) {
    QByteArray data = QStringLiteral("P6\n%1 %2\n255\n").arg(w).arg(h).toLatin1();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const QRgb c = Pattern(x, y, w, h);
            data.append(char(qRed(c))).append(char(qGreen(c))).append(char(qBlue(c)));
        }
    return WriteBytes(dir, name, data);
}

QString Convert(const QDir& dir, const QString& src, const QString& dst,
                const QStringList& options) {
    const QString out = dir.filePath(dst);
    QString target = out;
    // A format prefix (BMP3:, GIF87:) goes in front of the path.
    if (dst.contains(QLatin1Char(':'))) {
        const qsizetype c = dst.indexOf(QLatin1Char(':'));
        target = dst.left(c + 1) + dir.filePath(dst.mid(c + 1));
        EXPECT_TRUE(
            RunTool(QStringLiteral("convert"), QStringList{src} + options + QStringList{target}));
        return dir.filePath(dst.mid(c + 1));
    }
    EXPECT_TRUE(
        RunTool(QStringLiteral("convert"), QStringList{src} + options + QStringList{target}));
    return out;
}

QString WriteBytes(const QDir& dir, const QString& name, const QByteArray& bytes) {
    const QString path = dir.filePath(name);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
    return path;
}

QByteArray ReadBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

FileType TypeOf(const QString& path) {
    std::vector<char> rec(IK_FILETYPE_SIZE, 'x');
    FileType t;
    t.ok = IKFileType(path.toUtf8().constData(), 0, rec.data());
    auto i32 = [&](int off) {
        int32_t v;
        std::memcpy(&v, rec.data() + off, 4);
        return v;
    };
    auto i16 = [&](int off) {
        int16_t v;
        std::memcpy(&v, rec.data() + off, 2);
        return int(v);
    };
    t.width = i32(IK_FT_WIDTH);
    t.height = i32(IK_FT_HEIGHT);
    t.type = i16(IK_FT_TYPE);
    t.interlace = i16(IK_FT_INTERLACE);
    t.panes = i16(IK_FT_PANES);
    t.bitCount = i16(IK_FT_BITCOUNT);
    t.fileSize = uint32_t(i32(IK_FT_FILESIZE));
    t.comment = QByteArray(rec.data() + IK_FT_COMMENT);
    return t;
}

Loaded::Loaded(const QString& path)
    : m_h(IKFileLoad(path.toUtf8().constData(), 0, 0, 0, 0, "", "", "")) {}

Loaded::~Loaded() {
    IKFreeMemory(m_h);
}

int Loaded::Bpp() const {
    char rec[IK_IMAGETYPE_SIZE];
    if (!IKGetImageType(m_h, rec))
        return 0;
    int16_t b;
    std::memcpy(&b, rec + IK_IT_BITCOUNT, 2);
    return b;
}

QSize Loaded::Size() const {
    char rec[IK_IMAGETYPE_SIZE];
    if (!IKGetImageType(m_h, rec))
        return QSize();
    int32_t w, h;
    std::memcpy(&w, rec + IK_IT_WIDTH, 4);
    std::memcpy(&h, rec + IK_IT_HEIGHT, 4);
    return QSize(w, h);
}

QImage Loaded::Rgb() const {
    const ik::Image* im = Get();
    return im ? im->img.convertToFormat(QImage::Format_ARGB32) : QImage();
}

StopProgressWindows::StopProgressWindows() {
    qApp->installEventFilter(this);
}

StopProgressWindows::~StopProgressWindows() {
    qApp->removeEventFilter(this);
}

bool StopProgressWindows::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show) {
        if (auto* dlg = qobject_cast<QProgressDialog*>(watched)) {
            ++shown;
            caption = dlg->windowTitle();
            label = dlg->labelText();
            QMetaObject::invokeMethod(dlg, &QProgressDialog::cancel, Qt::QueuedConnection);
        }
    }
    return false;
}

Status LastStatus() {
    char reason[512];
    Status s;
    s.code = IKGetErrorStatus(reason, sizeof reason);
    s.reason = reason;
    return s;
}

namespace {

// The resident memory of this process now, in kilobytes.
long ResidentKb() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * (sysconf(_SC_PAGESIZE) / 1024) : 0;
}

} // namespace

ChildRun RunInChild(const std::function<int()>& fn, int timeoutMs) {
    ChildRun run;
    int pipeFd[2];
    if (::pipe(pipeFd) != 0)
        return run;
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(pipeFd[0]);
        ::close(pipeFd[1]);
        return run;
    }
    if (pid == 0) {
        ::close(pipeFd[0]);
        const long before = ResidentKb();
        const int result = fn();
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        const long report[2] = {result, (usage.ru_maxrss - before) / 1024};
        const ssize_t written = ::write(pipeFd[1], report, sizeof report);
        ::_exit(written == ssize_t(sizeof report) ? 0 : 1);
    }
    ::close(pipeFd[1]);
    QElapsedTimer timer;
    timer.start();
    int status = 0;
    pid_t done = 0;
    while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 && timer.elapsed() < timeoutMs)
        QThread::msleep(5);
    if (done == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    } else if (done == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        long report[2] = {-1, -1};
        if (::read(pipeFd[0], report, sizeof report) == ssize_t(sizeof report)) {
            run.finished = true;
            run.result = int(report[0]);
            run.peakGrowthMb = report[1];
        }
    }
    ::close(pipeFd[0]);
    return run;
}

void AppendBE16(QByteArray& b, int v) {
    b.append(char((v >> 8) & 0xFF)).append(char(v & 0xFF));
}
void AppendBE32(QByteArray& b, uint32_t v) {
    for (int i = 3; i >= 0; --i)
        b.append(char((v >> (8 * i)) & 0xFF));
}
void AppendLE16(QByteArray& b, int v) {
    b.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF));
}
void AppendLE32(QByteArray& b, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.append(char((v >> (8 * i)) & 0xFF));
}

QByteArray PngChunk(const char* type, const QByteArray& data) {
    QByteArray chunk;
    AppendBE32(chunk, uint32_t(data.size()));
    const QByteArray body = QByteArray(type, 4) + data;
    // CRC-32 of the type and data, bit by bit.
    uint32_t crc = 0xFFFFFFFFu;
    for (const char c : body) {
        crc ^= uchar(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    chunk += body;
    AppendBE32(chunk, ~crc);
    return chunk;
}

int MaxDiff(const QImage& a, const QImage& b) {
    if (a.size() != b.size())
        return -1;
    const QImage x = a.convertToFormat(QImage::Format_ARGB32);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32);
    int worst = 0;
    for (int r = 0; r < x.height(); ++r) {
        const QRgb* p = reinterpret_cast<const QRgb*>(x.constScanLine(r));
        const QRgb* q = reinterpret_cast<const QRgb*>(y.constScanLine(r));
        for (int c = 0; c < x.width(); ++c) {
            worst = std::max({worst, std::abs(qRed(p[c]) - qRed(q[c])),
                              std::abs(qGreen(p[c]) - qGreen(q[c])),
                              std::abs(qBlue(p[c]) - qBlue(q[c]))});
        }
    }
    return worst;
}

double MeanDiff(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.isNull())
        return -1;
    const QImage x = a.convertToFormat(QImage::Format_ARGB32);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32);
    double sum = 0;
    for (int r = 0; r < x.height(); ++r)
        for (int c = 0; c < x.width(); ++c) {
            const QRgb p = x.pixel(c, r), q = y.pixel(c, r);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                   std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * x.width() * x.height());
}

QString BuiltSpi(const QString& name) {
    return testpaths::SpiDir() + QStringLiteral("/") + name + QStringLiteral(".spi");
}

QByteArray FlatTestPicture(const char* magic, int w, int h) {
    QByteArray b(magic, 4);
    b.append(char(w & 0xFF)).append(char(w >> 8)).append(char(h & 0xFF)).append(char(h >> 8));
    for (int i = 0; i < w * h; ++i)
        b.append(char(10)).append(char(20)).append(char(30));
    return b;
}

} // namespace testimg
