#include "SpiDirect.h"

#include "imaging/Dib.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <dlfcn.h>

namespace testimg {

SpiDirect::SpiDirect(const char* name) {
    const QString path =
        QDir(QCoreApplication::applicationDirPath()).filePath(QString("plugins/%1.spi").arg(name));
    if (!QFile::exists(path))
        return;
    // The module stays mapped after dlclose, as a host keeps its plug-ins: the codec libraries it
    // pulls in hold process-wide tables in memory they allocated once, which would otherwise be
    // reported as lost when their data segment goes.
    m_lib = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!m_lib) {
        ADD_FAILURE() << dlerror();
        return;
    }
    m_pIsSupported = reinterpret_cast<SPI_IsSupported>(dlsym(m_lib, "IsSupported"));
    m_pGetPictureInfo = reinterpret_cast<SPI_GetPictureInfo>(dlsym(m_lib, "GetPictureInfo"));
    m_pGetPicture = reinterpret_cast<SPI_GetPicture>(dlsym(m_lib, "GetPicture"));
    m_pGetPictureScaled = reinterpret_cast<SPI_GetPictureScaled>(dlsym(m_lib, "GetPictureScaled"));
}

SpiDirect::~SpiDirect() {
    if (m_lib)
        dlclose(m_lib);
}

int SpiDirect::IsSupported(const QString& name, const QByteArray& bytes) const {
    QByteArray head = bytes.left(SPI_HEAD_SIZE);
    head.resize(SPI_HEAD_SIZE, '\0');
    return m_pIsSupported(QFile::encodeName(name).constData(),
                          reinterpret_cast<uintptr_t>(head.constData()));
}

int SpiDirect::Info(const QString& path, SPI_PICTUREINFO* info, QByteArray* text) const {
    *info = SPI_PICTUREINFO{};
    const int r = m_pGetPictureInfo(QFile::encodeName(path).constData(), 0, SPI_INPUT_FILE, info);
    if (info->hInfo) {
        if (text)
            *text = QByteArray(static_cast<const char*>(LocalLock(info->hInfo)));
        LocalUnlock(info->hInfo);
        LocalFree(info->hInfo);
        info->hInfo = nullptr;
    }
    return r;
}

QImage SpiDirect::Call(const char* buf, intptr_t len, unsigned flag, int* result, QSize box) const {
    HLOCAL hi = nullptr, hb = nullptr;
    const int r = box.isEmpty() ? m_pGetPicture(buf, len, flag, &hi, &hb, nullptr, 0)
                                : m_pGetPictureScaled(buf, len, flag, &hi, &hb, nullptr, 0,
                                                      box.width(), box.height());
    if (result)
        *result = r;
    if (r != SPI_ALL_RIGHT)
        return QImage();
    const QImage img = DibToImage(LocalLock(hi), LocalSize(hi), LocalLock(hb), LocalSize(hb));
    EXPECT_FALSE(img.isNull()) << "a picture the host cannot read";
    LocalFree(hi);
    LocalFree(hb);
    return img.convertToFormat(img.hasAlphaChannel() ? QImage::Format_ARGB32
                                                     : QImage::Format_RGB32);
}

QImage SpiDirect::Picture(const QString& path, int* result, QSize box) const {
    const QByteArray native = QFile::encodeName(path);
    return Call(native.constData(), 0, SPI_INPUT_FILE, result, box);
}

QImage SpiDirect::PictureOf(const QByteArray& bytes, int* result, QSize box) const {
    return Call(bytes.constData(), bytes.size(), SPI_INPUT_MEMORY, result, box);
}

QSize FittedSize(int w, int h, QSize box) {
    if (w <= box.width() && h <= box.height())
        return QSize(w, h);
    if (qint64(w) * box.height() >= qint64(h) * box.width())
        return QSize(box.width(), std::max(1, int(qint64(h) * box.width() / w)));
    return QSize(std::max(1, int(qint64(w) * box.height() / h)), box.height());
}

} // namespace testimg
