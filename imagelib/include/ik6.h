/* Quilla's imaging library: the entry points of its four modules.
 *
 *   libik6com     handles, image information, bitmap import, clipboard, the status of a call
 *   libik6file    file recognition, loading, Exif information, saving
 *   libik6print   drawing into a QPainter
 *   libik6effect  resizing, colour conversion, sharpening, orientation
 *
 * All entry points have C linkage and the platform's default calling convention. Paths are UTF-8.
 * Texts in records are NUL-terminated UTF-8, cut at a character boundary to fit their field.
 * An image is named by an opaque 32-bit handle; 0 means no image. Operations that take a caption,
 * a message and a button text show a progress window with a stop button when the three texts are
 * not empty, the caller is the GUI thread, and the operation takes long; stopping makes the
 * operation fail.
 *
 * Images keep a real pixel format: 1, 4 or 8 bits with a palette, 16 bits (5-5-5; 5-6-5 BMP files
 * are kept as 5-6-5), 24 bits, or 32 bits (with alpha where the file had it).
 *
 * Limits: images larger than IK_MAX_PIXELS pixels, or wider or taller than IK_MAX_SIDE, are refused
 * by every decoder and operation before any pixel memory is allocated. A file is also refused
 * before its pixels are allocated when it cannot hold them: a TIFF whose strips or tiles are too
 * small for the picture, or a progressive (or multi-scan) JPEG whose scans times pixels exceed
 * IK_MAX_SCAN_PIXELS. Ancillary chunks of PNG files other than tRNS and those of the colour space
 * (iCCP, within a 16 MB limit, sRGB, cHRM, gAMA) are skipped unread by the decoder, whatever length
 * they declare.
 *
 * Truncated files: a JPEG (baseline or progressive), PNG (interlaced or not) or GIF (interlaced or
 * not) that ends early loads with what it holds: the rows it lacks are mid-grey (128, 128, 128;
 * a CMYK JPEG's are darker), an interlaced or progressive file shows its earlier passes, and the
 * status of the call is IK_STATUS_TRUNCATED. A file of which nothing decodes fails with
 * IK_ERR_DATA. A TIFF read row by row (palette and grey of up to 8 bits, 8-bit RGB, RGBA and grey
 * with alpha) whose strips or tiles cannot all be decoded shows the rows it lacks grey (a tile's
 * area black) with the same status.
 *
 * Status: every entry point except IKGetErrorStatus, IKGetImageType and IKFreeMemory sets the
 * calling thread's status when it returns: IK_ERR_NONE on success (or a note such as
 * IK_STATUS_TRUNCATED), else one of the IK_ERR_ codes with a reason in English. IKGetErrorStatus
 * reads it. Each thread has its own status.
 *
 * Threads. These entry points may be called concurrently from any number of threads, as long as
 * no two threads use the same image at the same time (reading one image from several threads at
 * once is allowed; freeing it while another thread uses it is not):
 *   IKFileType, IKFileLoad, IKFileLoadScaled, IKFileLoadScaledAs, IKJpegExifInfo,
 *   IKBmpFileSave, IKJpegFileSave, IKTiffFileSave, IKGifFileSave, IKPcxFileSave, IKPngFileSave
 *       (each thread writing a different path),
 *   IKGetImageType, IKFreeMemory, IKDibFromBitmap, IKGetErrorStatus, IKSetProgressDelay,
 *   IKResize, IKConvertColor, IKSharp, IKOrient, IKGetColorProfile, IKColorTransform.
 * On any thread but the GUI thread they never create a widget or dispatch events: the progress
 * texts are then ignored and no progress window appears. Only the GUI thread may call
 * IKSetToClipBrd (it fails with IK_ERR_THREAD elsewhere) and IKImageOut with a widget's painter
 * (IKImageOut with a painter on a QImage works on any thread that owns the painter).
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
/* Scans times pixels of a progressive JPEG: a 100-megapixel camera file has about 10 scans
 * (1e9); 4e9 leaves ample room and bounds the decoding of a hostile file to well under a second. */
#define IK_MAX_SCAN_PIXELS 4000000000LL
/* An Exif thumbnail wider or taller than this is not a thumbnail: it is ignored. */
#define IK_MAX_THUMBNAIL_SIDE 1024

/* ---- Status of the last call (IKGetErrorStatus) ---- */
enum {
    IK_STATUS_TRUNCATED = -1, /* success: the file ended early; the rows it lacked are grey */
    IK_ERR_NONE = 0,
    IK_ERR_ARGUMENT = 1, /* no such image, or an argument out of range */
    IK_ERR_OPEN = 2,     /* the file cannot be opened or read */
    IK_ERR_FORMAT = 3,   /* not a format the library reads, or a variant it does not */
    IK_ERR_DATA = 4,     /* damaged data, or a file that ends before any of its picture */
    IK_ERR_LIMIT = 5,    /* the file or operation would cost more than the limits allow */
    IK_ERR_MEMORY = 6,   /* out of memory */
    IK_ERR_STOPPED = 7,  /* the user pressed the progress window's stop button */
    IK_ERR_WRITE = 8,    /* the file cannot be written, or the format cannot hold the image */
    IK_ERR_THREAD = 9    /* the operation needs the GUI thread */
};

/* ---- Named arguments ---- */
/* IKConvertColor: palette kind for 4 and 8 bits, dithering, and the black-and-white threshold. */
#define IK_PALETTE_OPTIMAL 0 /* the best palette for the image */
#define IK_PALETTE_GREY 1    /* grey levels */
#define IK_DITHER_OFF 0
#define IK_DITHER_ON 1 /* Floyd-Steinberg error diffusion */
#define IK_THRESHOLD_MIDDLE 128
/* IKResize: the resampling kind (the only one there is). */
#define IK_RESIZE_SMOOTH 1
/* IKSharp: the corners form a polygon; the option is reserved and passed as IK_SHARP_DEFAULT. */
#define IK_AREA_POLYGON 2
#define IK_SHARP_DEFAULT 1
/* IKImageOut: the preview window's and the thumbnails' drawing (alike in this library). */
#define IK_OUT_PREVIEW 0
#define IK_OUT_THUMBNAIL 1
/* IKTiffFileSave: compression. */
#define IK_TIFF_NONE 0
#define IK_TIFF_CCITTRLE 1
#define IK_TIFF_G3_1D 2
#define IK_TIFF_G3_2D 3
#define IK_TIFF_G4 4
#define IK_TIFF_PACKBITS 5
#define IK_TIFF_LZW 6
/* IKJpegFileSave: chroma subsampling. */
#define IK_JPEG_411 0 /* "4:1:1": chroma halved both ways */
#define IK_JPEG_422 1 /* chroma halved across */
#define IK_JPEG_444 2 /* full chroma */

/* Exif orientation (tag 0x0112): how the stored picture must be turned to stand upright. */
#define IK_ORIENT_NORMAL 1
#define IK_ORIENT_MIRROR 2 /* mirrored left to right */
#define IK_ORIENT_ROTATE_180 3
#define IK_ORIENT_FLIP 4       /* mirrored top to bottom */
#define IK_ORIENT_TRANSPOSE 5  /* mirrored along the top-left to bottom-right diagonal */
#define IK_ORIENT_ROTATE_90 6  /* turn 90 degrees clockwise to view */
#define IK_ORIENT_TRANSVERSE 7 /* mirrored along the top-right to bottom-left diagonal */
#define IK_ORIENT_ROTATE_270 8 /* turn 90 degrees anticlockwise to view */

/* ---- File-type record (IKFileType): 1,060 bytes, little-endian fields ---- */
#define IK_FILETYPE_SIZE 1060
#define IK_FT_WIDTH 12       /* int32 */
#define IK_FT_HEIGHT 16      /* int32 */
#define IK_FT_BITCOUNT 20    /* int16: bits per pixel of the file, 0 when unknown */
#define IK_FT_ORIENTATION 24 /* int16: Exif orientation of a JPEG file, 1..8; 1 when absent */
#define IK_FT_TYPE 28        /* int16: type code below */
#define IK_FT_INTERLACE 30   /* int16: non-zero for interlaced GIF/PNG and progressive JPEG */
#define IK_FT_PANES 32       /* int16: pages of a TIFF, frames of a GIF, 1 otherwise */
#define IK_FT_FILESIZE 36    /* uint32: file size in bytes (low 32 bits) */
#define IK_FT_COMMENT 40     /* NUL-terminated text up to the record's end */

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
#define IK_EX_MAKER 1070 /* text, up to 1,024 bytes */
#define IK_EX_MODEL 2094 /* text, up to 1,024 bytes */
/* IKHANDLE of the embedded thumbnail (the caller frees it); 0 when there is none, or when it is
 * wider or taller than IK_MAX_THUMBNAIL_SIDE. */
#define IK_EX_THUMBNAIL 12388
#define IK_EX_DATETIME 14504    /* text, up to 52 bytes: DateTimeOriginal, else DateTime */
#define IK_EX_EXPOSURE 14556    /* uint32 numerator, uint32 denominator */
#define IK_EX_SHUTTER 14564     /* int32 numerator, int32 denominator (APEX) */
#define IK_EX_FOCAL 14620       /* uint32 numerator, uint32 denominator */
#define IK_EX_FNUMBER 14628     /* uint32 numerator, uint32 denominator */
#define IK_EX_ORIENTATION 14700 /* int16: Exif orientation 1..8; 1 when absent or out of range */

/* ---- libik6com ---- */
/* The status of the calling thread's last call: its code (IK_ERR_NONE, an IK_ERR_ code, or a note
 * such as IK_STATUS_TRUNCATED), and its reason copied into reason (size bytes, NUL-terminated;
 * empty on success) when reason is not null. */
int IKGetErrorStatus(char* reason, int size);
int IKFreeMemory(IKHANDLE image); /* 0: does nothing and returns 0 */
int IKGetImageType(IKHANDLE image, void* record40);
/* Copies a const QImage* into a new image; its depth follows the QImage's format. */
IKHANDLE IKDibFromBitmap(const void* qimage, int zero);
/* Puts the image on the system clipboard. ownerWidget may be null. */
int IKSetToClipBrd(void* ownerWidget, IKHANDLE image, int zero, const char* a, const char* b,
                   const char* c);
/* The ICC colour profile an image's pixels are in: the profile embedded in the file it was loaded
 * from (JPEG APP2, PNG iCCP or cHRM and gAMA, TIFF), kept by every operation that makes a new image
 * from it, and embedded again by the JPEG, PNG and TIFF savers. Returns its size in bytes, copied
 * into buffer when buffer is not null and size is large enough; 0 when the image is sRGB (a file
 * without a profile, or one whose profile cannot be read or does not suit its pixels). */
int IKGetColorProfile(IKHANDLE image, void* buffer, int size);
/* How long an operation runs before its progress window appears (default 400 ms). */
void IKSetProgressDelay(int milliseconds);

/* ---- libik6file ---- */
int IKFileType(const char* path, int zero, void* record1060);
IKHANDLE IKFileLoad(const char* path, int a, int b, int c, int d, const char* caption,
                    const char* message, const char* button);
/* Loads the file at reduced scale for a thumbnail: a JPEG is decoded straight to the smallest DCT
 * scale (1/8 to 1) whose size is not below minWidth × minHeight. Other formats are shrunk by the
 * largest whole factor that keeps that size (the sides divided by it, rounded down), the picture
 * divided evenly into blocks of that many pixels a side or a few more, each becoming their
 * average: a PNG that is not interlaced and a TIFF while they decode, row by row, the others once
 * decoded; none through a 32-bit copy of the full picture. A shrunk palette or grey picture comes
 * back at 32 bits, a shrunk colour one at 24 (32 with alpha). A TIFF comes back turned upright by
 * its orientation tag, and its sizes are the upright ones.
 * The original width and height are stored through origWidth and origHeight (either may be null).
 * The caller resizes the result to its exact target. */
IKHANDLE IKFileLoadScaled(const char* path, int minWidth, int minHeight, int32_t* origWidth,
                          int32_t* origHeight);
/* IKFileLoadScaled for a file whose type code (IK_TYPE_) IKFileType has given: the file is not
 * recognised again. A file whose content is not of that type fails. */
IKHANDLE IKFileLoadScaledAs(const char* path, int type, int minWidth, int minHeight,
                            int32_t* origWidth, int32_t* origHeight);
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

/* The shared thumbnail cache's files: a PNG with text keys (tEXt chunks written before the
 * picture), written atomically with the given permissions (or the usual ones when mode is -1)
 * and without waiting for the disk, and the keys read back from a PNG's headers into buffer as
 * "key\0value\0...", ended by an empty key. IKPngTextRead returns the bytes used, 0 on failure
 * (a file that is no PNG, a buffer too small). */
int IKPngFileSaveText(const char* path, IKHANDLE image, int count, const char* const* keys,
                      const char* const* values, int mode);
int IKPngTextRead(const char* path, char* buffer, int size);

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
/* A new image: the given one's colours converted from its colour profile (sRGB when it has none)
 * to the given ICC profile (sRGB when size is 0), which the new image carries afterwards. The depth
 * and palette are kept (a palette's colours are converted); 16-bit images are refused. Conversions
 * are made once per pair of profiles and kept for every thread. */
IKHANDLE IKColorTransform(IKHANDLE image, const void* profile, int size);
/* A new image: the given one turned upright according to an Exif orientation (IK_ORIENT_, 1..8).
 * Orientations 5 to 8 swap width and height. The depth and palette are kept. */
IKHANDLE IKOrient(IKHANDLE image, int orientation);

#ifdef __cplusplus
}
#endif

#endif
