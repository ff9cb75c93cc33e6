/* Quilla's imaging library: the entry points of its four modules.
 *
 *   libik6com     handles, image information, bitmap import, clipboard
 *   libik6file    file recognition, loading, Exif information, saving
 *   libik6print   drawing into a QPainter
 *   libik6effect  resizing, colour conversion, sharpening
 *
 * All entry points have C linkage and the platform's default calling convention. Paths are UTF-8.
 * Texts in records are NUL-terminated UTF-8, cut at a character boundary to fit their field.
 * An image is named by an opaque 32-bit handle; 0 means no image. Operations that take a caption,
 * a message and a button text show a progress window with a stop button when the three texts are
 * not empty and the operation takes long; stopping makes the operation fail.
 *
 * Images keep a real pixel format: 1, 4 or 8 bits with a palette, 16 bits (5-5-5; 5-6-5 BMP files
 * are kept as 5-6-5), 24 bits, or 32 bits (with alpha where the file had it).
 *
 * Limits: images larger than IK_MAX_PIXELS pixels, or wider or taller than IK_MAX_SIDE, are refused
 * by every decoder and operation before any pixel memory is allocated.
 */
#ifndef QUILLA_IK6_H
#define QUILLA_IK6_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t IKHANDLE;
typedef struct {
    IKHANDLE image;
    uint32_t reserved;
} IKIMAGEREF;
typedef struct {
    int32_t x, y;
} IKPOINT;
typedef struct {
    int32_t left, top, right, bottom;
} IKRECT;

#define IK_MAX_PIXELS 200000000LL
#define IK_MAX_SIDE 65535

/* ---- File-type record (IKFileType): 1,060 bytes, little-endian fields ---- */
#define IK_FILETYPE_SIZE 1060
#define IK_FT_WIDTH 12     /* int32 */
#define IK_FT_HEIGHT 16    /* int32 */
#define IK_FT_BITCOUNT 20  /* int16: bits per pixel of the file, 0 when unknown */
#define IK_FT_TYPE 28      /* int16: type code below */
#define IK_FT_INTERLACE 30 /* int16: non-zero for interlaced GIF/PNG and progressive JPEG */
#define IK_FT_PANES 32     /* int16: pages of a TIFF, frames of a GIF, 1 otherwise */
#define IK_FT_FILESIZE 36  /* uint32: file size in bytes (low 32 bits) */
#define IK_FT_COMMENT 40   /* NUL-terminated text up to the record's end */

/* Type codes. */
enum {
    IK_TYPE_UNKNOWN = 0,
    IK_TYPE_BMP = 1,
    IK_TYPE_BMP_RLE4 = 2,
    IK_TYPE_BMP_RLE8 = 3,
    IK_TYPE_JPEG = 4,
    IK_TYPE_JPEG_PROGRESSIVE = 5,
    IK_TYPE_GIF87A = 6,
    IK_TYPE_GIF89A = 7,
    IK_TYPE_TIFF_NONE = 8,
    IK_TYPE_TIFF_CCITTRLE = 9,
    IK_TYPE_TIFF_G3_1D = 10,
    IK_TYPE_TIFF_G3_2D = 11,
    IK_TYPE_TIFF_G4 = 12,
    IK_TYPE_TIFF_PACKBITS = 13,
    IK_TYPE_TIFF_LZW = 14,
    IK_TYPE_PNG = 15,
    IK_TYPE_FPX_NONE = 16, /* Flashpix; the tile compression is not inspected */
    IK_TYPE_FPX_SINGLECOLOR = 17,
    IK_TYPE_FPX_JPEG = 18,
    IK_TYPE_PCX = 19,
    IK_TYPE_WMF = 20,
    IK_TYPE_EMF = 21,
    IK_TYPE_DXF = 22,
    IK_TYPE_JPEG_EXIF = 23,
    IK_TYPE_TIFF_OTHER = 24 /* TIFF with any other compression (Deflate, JPEG, ...) */
};

/* ---- Image-type record (IKGetImageType): 40 bytes ---- */
#define IK_IMAGETYPE_SIZE 40
#define IK_IT_BITCOUNT 0 /* int16: 1, 4, 8, 16, 24 or 32 */
#define IK_IT_PALETTE 4  /* int32: palette entries (0 without palette) */
#define IK_IT_STRIDE 8   /* int32: bytes per row as stored */
#define IK_IT_ALPHA 12   /* int32: 1 when the image has an alpha channel */
#define IK_IT_WIDTH 16   /* int32 */
#define IK_IT_HEIGHT 20  /* int32 */

/* ---- Exif record (IKJpegExifInfo): 15,708 bytes ---- */
#define IK_EXIF_SIZE 15708
#define IK_EX_MAKER 1070      /* text, up to 1,024 bytes */
#define IK_EX_MODEL 2094      /* text, up to 1,024 bytes */
#define IK_EX_THUMBNAIL 12388 /* IKHANDLE of the embedded thumbnail, 0 when none; caller frees */
#define IK_EX_DATETIME 14504  /* text, up to 52 bytes: DateTimeOriginal, else DateTime */
#define IK_EX_EXPOSURE 14556  /* uint32 numerator, uint32 denominator */
#define IK_EX_SHUTTER 14564   /* int32 numerator, int32 denominator (APEX) */
#define IK_EX_FOCAL 14620     /* uint32 numerator, uint32 denominator */
#define IK_EX_FNUMBER 14628   /* uint32 numerator, uint32 denominator */

/* ---- libik6com ---- */
int IKFreeMemory(IKHANDLE image); /* 0: does nothing and returns 0 */
int IKGetImageType(IKHANDLE image, void* record40);
/* Copies a const QImage* into a new image; its depth follows the QImage's format. */
IKHANDLE IKDibFromBitmap(const void* qimage, int zero);
/* Puts the image on the system clipboard. ownerWidget may be null. */
int IKSetToClipBrd(void* ownerWidget, IKHANDLE image, int zero, const char* a, const char* b,
                   const char* c);
/* How long an operation runs before its progress window appears (default 400 ms). */
void IKSetProgressDelay(int milliseconds);

/* ---- libik6file ---- */
int IKFileType(const char* path, int zero, void* record1060);
IKHANDLE IKFileLoad(const char* path, int a, int b, int c, int d, const char* caption,
                    const char* message, const char* button);
/* Loads the file at reduced scale for a thumbnail: a JPEG is decoded straight to the smallest DCT
 * scale (1/8 to 1) whose size is not below minWidth × minHeight; other formats are decoded whole.
 * The original width and height are stored through origWidth and origHeight (either may be null).
 * The caller resizes the result to its exact target. */
IKHANDLE IKFileLoadScaled(const char* path, int minWidth, int minHeight, int32_t* origWidth,
                          int32_t* origHeight);
int IKJpegExifInfo(const char* path, void* record15708);

int IKBmpFileSave(const char* path, IKHANDLE image, int a, int b, const char* caption,
                  const char* message, const char* button);
int IKJpegFileSave(const char* path, IKHANDLE image, int progressive, int quality, int subsampling,
                   const char* text, int a, const char* caption, const char* message,
                   const char* button);
int IKTiffFileSave(const char* path, IKHANDLE image, int compression, int a, int b,
                   const char* text, int c, int d, const char* caption, const char* message,
                   const char* button);
int IKGifFileSave(const char* path, IKHANDLE image, int interlaced, int transparent, int red,
                  int green, int blue, int a, int b, const char* text, int c, const char* caption,
                  const char* message, const char* button);
int IKPcxFileSave(const char* path, IKHANDLE image, int a, const char* caption, const char* message,
                  const char* button);
int IKPngFileSave(const char* path, IKHANDLE image, int interlaced, int transparent, int red,
                  int green, int blue, int extra, int a, const char* caption, const char* message,
                  const char* button);

/* ---- libik6print ---- */
/* Draws the image into dest of a QPainter*, scaled to the rectangle. mode 0 and 1 draw alike. */
int IKImageOut(void* qpainter, IKHANDLE image, const IKRECT* dest, int mode, int a, int b);

/* ---- libik6effect ---- */
IKIMAGEREF IKResize(IKIMAGEREF ref, int width, int height, int one, int zero, const char* caption,
                    const char* message, const char* button);
IKHANDLE IKConvertColor(IKHANDLE image, int bits, int palette, int dither, int threshold, int zero,
                        const char* caption, const char* message, const char* button);
IKHANDLE IKSharp(IKIMAGEREF ref, int two, const IKPOINT* corners, int count, int zero, int option,
                 int strength, int zero2, const char* caption, const char* message,
                 const char* button);

#ifdef __cplusplus
}
#endif

#endif
