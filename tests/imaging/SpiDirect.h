// A shipped import plug-in loaded straight from the build's plug-in folder and called through its
// exports, without the host in between: for the entry points the host does not use yet.
#pragma once

#ifndef SPI_HOST
#define SPI_HOST
#endif
#include "spi.h"

#include <QImage>
#include <QString>
#include <gtest/gtest.h>

namespace testimg {

class SpiDirect {
public:
    // Loads <build>/bin/plugins/<name>.spi; Loaded() is false when it was not built.
    explicit SpiDirect(const char* name);
    ~SpiDirect();
    SpiDirect(const SpiDirect&) = delete;
    SpiDirect& operator=(const SpiDirect&) = delete;
    bool Loaded() const { return m_pGetPicture != nullptr; }
    bool HasScaled() const { return m_pGetPictureScaled != nullptr; }

    // IsSupported on the first 2,048 bytes of bytes, as the host passes them.
    int IsSupported(const QString& name, const QByteArray& bytes) const;
    // GetPictureInfo of a file (offset 0); *text gets the information text when there is one.
    int Info(const QString& path, SPI_PICTUREINFO* info, QByteArray* text = nullptr) const;
    // GetPicture (box empty) or GetPictureScaled of a file or of bytes in memory; the picture
    // handed over as a QImage (null on failure), its result in *result.
    QImage Picture(const QString& path, int* result = nullptr, QSize box = QSize()) const;
    QImage PictureOf(const QByteArray& bytes, int* result = nullptr, QSize box = QSize()) const;

private:
    QImage Call(const char* buf, intptr_t len, unsigned flag, int* result, QSize box) const;

    void* m_lib = nullptr;
    SPI_IsSupported m_pIsSupported = nullptr;
    SPI_GetPictureInfo m_pGetPictureInfo = nullptr;
    SPI_GetPicture m_pGetPicture = nullptr;
    SPI_GetPictureScaled m_pGetPictureScaled = nullptr;
};

// The smallest size a reduced picture of a w x h picture may have for the box: the picture
// fitted into it with its aspect ratio kept (rounded down), never larger than the picture.
QSize FittedSize(int w, int h, QSize box);

} // namespace testimg
