// The owner of one library image with every image operation the program uses, and the free
// functions that classify files by name and type.
#pragma once

#include "ik6.h"

#include <QByteArray>
#include <QSize>
#include <QString>
#include <atomic>
#include <cstdint>
#include <utility>
#include <vector>

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
    // Decodes the file through the import plug-ins (waiting for a helper process: never on the
    // user-interface thread). reserved takes the helper kept for the preview and the information;
    // cancel gives up as soon as it becomes true. False with the reason in SusieHost::LastError()
    // when a plug-in failed.
    bool LoadByPlugin(const QString& path, bool reserved = false,
                      const std::atomic<bool>* cancel = nullptr);
    // The same for a thumbnail fitted into box: a plug-in that can is asked for a reduced picture
    // at least that large. *original receives the whole picture's size (the picture's own when
    // the plug-in gave the whole picture or did not tell).
    bool LoadByPluginScaled(const QString& path, QSize box, QSize* original);
    // While one lives, the loads of this thread do not fall back to the plug-ins (the
    // user-interface thread reads what the library reads and hands the rest to a worker).
    class NoPlugins {
    public:
        NoPlugins();
        ~NoPlugins();
        NoPlugins(const NoPlugins&) = delete;
        NoPlugins& operator=(const NoPlugins&) = delete;

    private:
        bool m_bBefore;
    };
    // Reads the file at reduced scale, not below minSize (JPEG by its DCT scales, the library's
    // other formats by a whole factor), and reports the original size; falls back to the plug-ins
    // like Load, asking them for a picture reduced to minSize (LoadByPluginScaled). For
    // thumbnails.
    bool LoadScaled(const QString& path, QSize minSize, QSize* original);
    // Loads a picture for a thumbnail that will be fitted into box: an Exif JPEG's embedded
    // thumbnail when it has one, else the file decoded no larger than the fitted size needs.
    // *original receives the size of the picture as LoadThumbnail would have loaded it, from
    // which the caller computes the fitted size.
    // The picture keeps the file's colour profile: it is converted once it is reduced.
    // The picture is turned upright by the file's Exif orientation (the embedded thumbnail too):
    // *original is the upright size, and box applies to the upright picture. *fromExif tells
    // whether the embedded thumbnail was taken. With exifAtLeast above 0, the embedded thumbnail is
    // taken only when its longer side has at least that many pixels (a screen with more device
    // pixels than the thumbnail has would show it blurred).
    bool LoadForThumbnail(const QString& path, QSize box, QSize* original, bool* fromExif = nullptr,
                          int exifAtLeast = 0);
    // Load, then turned upright by the file's Exif orientation (for showing the picture).
    bool LoadUpright(const QString& path, bool show);
    // A PNG file with its text keys (the shared thumbnail cache's entries), and writing one
    // (atomically, with the given permissions, without waiting for the disk, in sRGB).
    bool LoadPngWithText(const QString& path, std::vector<std::pair<QByteArray, QByteArray>>* text);
    bool SavePngWithText(const QString& path,
                         const std::vector<std::pair<QByteArray, QByteArray>>& text,
                         int mode) const;

    bool SaveBmp(const QString& path, bool show);
    bool SaveJpeg(const QString& path, int quality, int progressive, int subsampling, bool show);
    bool SaveTiff(const QString& path, int compression, bool show);
    bool SaveGif(const QString& path, int interlaced, int transparent, unsigned colour, bool show);
    bool SavePcx(const QString& path, bool show);
    bool SavePng(const QString& path, int interlaced, int transparent, unsigned colour, int extra,
                 bool show);

    // The ICC colour profile the picture is in: the one its file embeds, or the one it was
    // converted to; empty for sRGB.
    QByteArray GetColorProfile() const;
    // Converts the picture's colours from its profile to the given one (empty: sRGB), which it is
    // in afterwards; nothing is done when it is in that one already. On failure (a profile the
    // library cannot use) the picture stays as it is and false is returned.
    bool ConvertToProfile(const QByteArray& profile);
    // Converts it to the screen's profile, for showing.
    bool ConvertToDisplay();

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

    // Sharpens like Sharpen, without progress and without a message: false on failure, for the
    // caller to report (workers show nothing).
    bool TrySharpen(int strength, int left, int top, int right, int bottom);
    // The memory the image's pixels hold.
    int64_t ByteCount() const;

    // Takes ownership of a handle (the previous image is released).
    void Attach(IKHANDLE image);
    // Gives the handle away; the object is empty afterwards.
    IKHANDLE Detach();
    // Releases a handle that no object owns.
    static void Release(IKHANDLE image);

private:
    // LoadScaled for a file whose library type code is known (0: none; the plug-ins only).
    bool LoadScaledAs(const QString& path, int type, QSize minSize, QSize* original);

    IKHANDLE m_hImage = 0;
};

// True when the file name's extension is one of the eight image extensions, or one a loaded
// import plug-in lists. Reads no file.
bool IsImageFile(const QString& path);
// True when the file name's extension is one of the eight the library reads itself.
bool IsLibraryFileName(const QString& path);
// The library's type code of the file when its extension is one of the eight, else 0. The record
// (IK_FILETYPE_SIZE bytes) is filled when given.
int GetFileTypeCode(const QString& path, void* record = nullptr);
// The file's Exif orientation (IK_ORIENT_NORMAL when it has none or is no JPEG).
int OrientationOf(const QString& path);
// 0 BMP, 1 GIF, 2 JPEG, 3 TIFF, 4 PCX, 5 PNG by extension; 255 for another; -1 without a dot.
int GetSaveType(const QString& path);
// The side that keeps the aspect ratio, in fixed-point integer arithmetic.
int CalcWidthForHeight(int width, int height, int newHeight);
int CalcHeightForWidth(int width, int height, int newWidth);

// What the library tells of an image file, read by its content whatever the extension.
struct ImageFileInfo {
    int type = 0; // the library's type code (IK_TYPE_…)
    bool interlaced = false;
    int width = 0;
    int height = 0;
    int panes = 0;
    uint32_t fileSize = 0; // the low 32 bits
    QString comment;
};
// False when the library does not recognise the file.
bool GetImageFileInfo(const QString& path, ImageFileInfo& info);

// The shooting data of an Exif JPEG file; a rational is 0/0 when the file does not give it.
struct ExifShootingInfo {
    QString maker;
    QString model;
    QString dateTime;
    uint32_t exposureNum = 0, exposureDen = 0;
    int32_t shutterNum = 0, shutterDen = 0; // APEX value
    uint32_t focalNum = 0, focalDen = 0;
    uint32_t fNumberNum = 0, fNumberDen = 0;
};
// False when the file's Exif block cannot be read. The embedded thumbnail is not kept.
bool GetExifShootingInfo(const QString& path, ExifShootingInfo& info);
