// The owner of one library image with every image operation the program uses, and the free
// functions that classify files by name and type.
#pragma once

#include "ik6.h"

#include <QSize>
#include <QString>

class QPainter;
class QWidget;

class CImageKit {
public:
    CImageKit() = default;
    ~CImageKit();
    CImageKit(const CImageKit&) = delete;
    CImageKit& operator=(const CImageKit&) = delete;

    IKHANDLE GetHandle() const { return m_hImage; }
    bool IsEmpty() const { return m_hImage == 0; }
    // Releases the image.
    void Free();

    // Reads any supported file; on failure the object ends with no image.
    bool Load(const QString& path, bool show);
    // Like Load, but takes an Exif JPEG file's embedded thumbnail when it has one.
    bool LoadThumbnail(const QString& path, bool show);
    // Decodes the file through the import plug-ins.
    bool LoadByPlugin(const QString& path);
    // Reads the file at reduced scale, not below minSize where the format allows (JPEG), and
    // reports the original size; falls back to the plug-ins like Load. For thumbnails.
    bool LoadScaled(const QString& path, QSize minSize, QSize* original);
    // Loads a picture for a thumbnail that will be fitted into box: an Exif JPEG's embedded
    // thumbnail when it has one, else the file decoded no larger than the fitted size needs.
    // *original receives the size of the picture as LoadThumbnail would have loaded it, from
    // which the caller computes the fitted size.
    bool LoadForThumbnail(const QString& path, QSize box, QSize* original);

    bool SaveBmp(const QString& path, bool show);
    bool SaveJpeg(const QString& path, int quality, int progressive, int subsampling, bool show);
    bool SaveTiff(const QString& path, int compression, bool show);
    bool SaveGif(const QString& path, int interlaced, int transparent, unsigned colour, bool show);
    bool SavePcx(const QString& path, bool show);
    bool SavePng(const QString& path, int interlaced, int transparent, unsigned colour, int extra,
                 bool show);

    // Draws into (0, 0, width, height) of the painter; -1 stands for the image's own size. The
    // mode is IK_OUT_PREVIEW or IK_OUT_THUMBNAIL.
    bool Draw(QPainter* dc, int width, int height, int mode);
    // Draws with the painter's origin moved to (x, y), which is put back afterwards.
    bool DrawAt(QPainter* dc, int x, int y, int width, int height, int mode);

    QSize GetSize() const;
    int GetBitCount() const;

    bool Resize(int width, int height, bool show);
    // Shows "処理が失敗しました" when the library fails. The option is IK_SHARP_DEFAULT.
    bool Sharpen(int strength, int left, int top, int right, int bottom, int option, bool show);
    // palette is IK_PALETTE_OPTIMAL or IK_PALETTE_GREY, dither IK_DITHER_OFF or IK_DITHER_ON.
    bool ConvertColor(int bits, int palette, int dither, bool show);
    // Turns the image upright by an Exif orientation (IK_ORIENT_NORMAL to IK_ORIENT_ROTATE_270);
    // 5 to 8 swap width and height. Fails, keeping the image, when there is none or the library
    // fails.
    bool Orient(int orientation);
    bool CopyToClipboard(QWidget* owner);

    // Takes ownership of a handle (the previous image is released).
    void Attach(IKHANDLE image);

private:
    IKHANDLE m_hImage = 0;
};

// True when the file name's extension is one of the eight image extensions, or one a loaded
// import plug-in lists. Reads no file.
bool IsImageFile(const QString& path);
// The library's type code of the file when its extension is one of the eight, else 0. The record
// (IK_FILETYPE_SIZE bytes) is filled when given.
int GetFileTypeCode(const QString& path, void* record = nullptr);
// 0 BMP, 1 GIF, 2 JPEG, 3 TIFF, 4 PCX, 5 PNG by extension; 255 for another; -1 without a dot.
int GetSaveType(const QString& path);
// The side that keeps the aspect ratio, in fixed-point integer arithmetic.
int CalcWidthForHeight(int width, int height, int newHeight);
int CalcHeightForWidth(int width, int height, int newWidth);
