/* Quilla's import plug-in interface: the one header a plug-in is compiled against.
 *
 * A plug-in is a shared object with the extension ".spi" (a DLL on Windows) that exports the
 * functions below by name, with C linkage. It is the classic image import-filter plug-in
 * interface (API version "00IN"), carried over to 64-bit systems.
 *
 * Differences from the 32-bit layout
 * ----------------------------------
 * Every structure keeps its fields in their order and is packed to 1 byte. Only what holds a
 * handle or a pointer, or takes one, has grown to the pointer's size:
 *
 *   SPI_PICTUREINFO   26 bytes -> 30 bytes. left 0, top 4, width 8, height 12, x_density 16,
 *                     y_density 18 and colorDepth 20 keep their sizes and offsets; hInfo stays at
 *                     offset 22 and grows from 4 to 8 bytes. left, top, width and height stay
 *                     32-bit integers (a C "long" would be 64 bits here).
 *   SPI_FILEINFO      position, compsize and filesize stay 32 bits; timestamp is 32 bits (seconds
 *                     since 1970, unsigned); crc stays 32 bits. Its layout does not change
 *                     (8 + 4 + 4 + 4 + 4 + 200 + 200 + 4 = 428 bytes). Quilla never calls the
 *                     archive functions; the record is here for completeness.
 *   Arguments         "len" (a file offset or a buffer length) and "lData" (the caller's value
 *                     for the progress callback) are intptr_t; IsSupported's second argument is a
 *                     uintptr_t holding the address of the file's first 2,048 bytes.
 *                     HLOCAL is a pointer. Everything else keeps its 32-bit size.
 *   BITMAPINFOHEADER  and RGBQUAD are exactly the Windows structures (40 and 4 bytes).
 *
 * Calling convention: the platform's default (__stdcall on 32-bit Windows).
 *
 * Local memory
 * ------------
 * The picture a plug-in returns is two local-memory blocks that the host frees with LocalFree:
 * the BITMAPINFO (header and colour table) and the pixel bits. Host and plug-in share the
 * allocator below: it is inline here, on the C library's malloc and free, which a process has
 * only one of. A block carries its size, so the host can check that the bits a plug-in returns
 * are as many as the header says before it reads them. Blocks never move; LocalLock returns the
 * block's address and LocalUnlock only counts. On Windows the system's own functions are used.
 *
 * What a host relies on
 * ---------------------
 * - GetPluginInfo only copies constant texts: a host may call it from any thread, also while
 *   another thread is inside IsSupported or GetPicture of the same plug-in.
 * - A host never calls IsSupported, GetPictureInfo, GetPicture or GetPictureScaled of one plug-in
 *   from two threads at once (Quilla holds a lock per plug-in around them).
 * - Texts are NUL-terminated; UTF-8 where they are valid UTF-8, else code page 932.
 * - Pictures: the BITMAPINFO's biWidth and biHeight describe the bits; rows are bottom-up
 *   (a negative biHeight means top-down), each padded to a multiple of 4 bytes; 1, 4 and 8 bits
 *   with a colour table, 16 bits 5-5-5 (or BI_BITFIELDS masks), 24 bits B, G, R, and 32 bits
 *   B, G, R, A (an alpha of 0 in every pixel is read as an opaque picture). A picture wider or
 *   taller than 65,535 pixels, or of more than 200 million pixels, is refused by Quilla.
 */
#ifndef QUILLA_SPI_H
#define QUILLA_SPI_H

#include <stddef.h>
#include <stdint.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <stdlib.h>
#include <string.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32) && !defined(_WIN64)
#define SPI_CALL __stdcall
#else
#define SPI_CALL
#endif

#if defined(_WIN32)
#define SPI_EXPORT __declspec(dllexport)
#else
#define SPI_EXPORT __attribute__((visibility("default")))
#endif

/* ---- Windows types ---- */
#ifndef _WIN32
typedef void* HLOCAL;
typedef void* HWND;
typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef int32_t LONG;
typedef unsigned int UINT;

#pragma pack(push, 1)
typedef struct tagBITMAPINFOHEADER {
    DWORD biSize;         /*  0: 40 */
    LONG biWidth;         /*  4 */
    LONG biHeight;        /*  8: positive bottom-up, negative top-down */
    WORD biPlanes;        /* 12: 1 */
    WORD biBitCount;      /* 14: 1, 4, 8, 16, 24 or 32 */
    DWORD biCompression;  /* 16: BI_RGB or BI_BITFIELDS */
    DWORD biSizeImage;    /* 20: may be 0 for BI_RGB */
    LONG biXPelsPerMeter; /* 24 */
    LONG biYPelsPerMeter; /* 28 */
    DWORD biClrUsed;      /* 32: colour-table entries; 0 means 2^biBitCount up to 8 bits */
    DWORD biClrImportant; /* 36 */
} BITMAPINFOHEADER;       /* 40 bytes */

typedef struct tagRGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
} RGBQUAD;

typedef struct tagBITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
} BITMAPINFO;
#pragma pack(pop)

#define BI_RGB 0
#define BI_RLE8 1
#define BI_RLE4 2
#define BI_BITFIELDS 3

#define LMEM_FIXED 0x0000
#define LMEM_MOVEABLE 0x0002
#define LMEM_ZEROINIT 0x0040
#define LHND (LMEM_MOVEABLE | LMEM_ZEROINIT)
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

/* The block header in front of every local-memory block: 16 bytes, keeping the C library's
 * alignment for the block itself. */
typedef struct {
    uint32_t magic; /* SPI_LOCAL_MAGIC while the block is allocated */
    uint32_t locks;
    uint64_t size;
} SPI_LOCALHEADER;
#define SPI_LOCAL_MAGIC 0x4C4D454Du /* "MEML" */

static inline SPI_LOCALHEADER* SPI_LocalHeader(HLOCAL h) {
    if (!h)
        return NULL;
    SPI_LOCALHEADER* hdr = (SPI_LOCALHEADER*)h - 1;
    return hdr->magic == SPI_LOCAL_MAGIC ? hdr : NULL;
}

/* Allocates size bytes (zeroed with LMEM_ZEROINIT); NULL when there is no memory. */
static inline HLOCAL LocalAlloc(UINT flags, size_t size) {
    if (size > SIZE_MAX - sizeof(SPI_LOCALHEADER))
        return NULL;
    SPI_LOCALHEADER* hdr =
        (SPI_LOCALHEADER*)((flags & LMEM_ZEROINIT) ? calloc(1, sizeof(SPI_LOCALHEADER) + size)
                                                   : malloc(sizeof(SPI_LOCALHEADER) + size));
    if (!hdr)
        return NULL;
    hdr->magic = SPI_LOCAL_MAGIC;
    hdr->locks = 0;
    hdr->size = size;
    return (HLOCAL)(hdr + 1);
}

/* The block's address; NULL for a handle that is not a local-memory block. */
static inline void* LocalLock(HLOCAL h) {
    SPI_LOCALHEADER* hdr = SPI_LocalHeader(h);
    if (!hdr)
        return NULL;
    ++hdr->locks;
    return h;
}

/* Non-zero while the block is still locked. */
static inline int LocalUnlock(HLOCAL h) {
    SPI_LOCALHEADER* hdr = SPI_LocalHeader(h);
    if (!hdr || hdr->locks == 0)
        return 0;
    return --hdr->locks != 0;
}

/* The block's size in bytes; 0 for a handle that is not a local-memory block. */
static inline size_t LocalSize(HLOCAL h) {
    SPI_LOCALHEADER* hdr = SPI_LocalHeader(h);
    return hdr ? (size_t)hdr->size : 0;
}

/* Frees the block. Returns NULL on success, the handle when it is not a local-memory block. */
static inline HLOCAL LocalFree(HLOCAL h) {
    SPI_LOCALHEADER* hdr = SPI_LocalHeader(h);
    if (!h)
        return NULL;
    if (!hdr)
        return h;
    hdr->magic = 0;
    free(hdr);
    return NULL;
}
#endif /* !_WIN32 */

/* ---- Records ---- */
#pragma pack(push, 1)
typedef struct {
    int32_t left, top;  /*  0,  4: where the picture is placed */
    int32_t width;      /*  8 */
    int32_t height;     /* 12 */
    WORD x_density;     /* 16: pixels per unit across */
    WORD y_density;     /* 18 */
    int16_t colorDepth; /* 20: bits per pixel */
    HLOCAL hInfo;       /* 22: text information, NUL-terminated, or NULL; the caller frees it */
} SPI_PICTUREINFO;      /* 30 bytes (26 in the 32-bit layout) */

typedef struct {
    unsigned char method[8]; /*   0: compression method text */
    uint32_t position;       /*   8: position in the archive */
    uint32_t compsize;       /*  12: compressed size */
    uint32_t filesize;       /*  16: original size */
    uint32_t timestamp;      /*  20: last write, seconds since 1970 */
    char path[200];          /*  24 */
    char filename[200];      /* 224 */
    uint32_t crc;            /* 424 */
} SPI_FILEINFO;              /* 428 bytes */
#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(SPI_PICTUREINFO) == 22 + sizeof(void*), "picture information layout");
static_assert(offsetof(SPI_PICTUREINFO, hInfo) == 22, "hInfo offset");
static_assert(sizeof(SPI_FILEINFO) == 428, "file information layout");
#ifndef _WIN32
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER layout");
static_assert(sizeof(RGBQUAD) == 4, "RGBQUAD layout");
#endif
#endif

/* ---- Results ---- */
#define SPI_NOT_IMPLEMENTED (-1)
#define SPI_ALL_RIGHT 0
#define SPI_ABORT 1        /* the progress callback asked to stop */
#define SPI_NOT_SUPPORT 2  /* not a format of this plug-in */
#define SPI_OUT_OF_ORDER 3 /* the data is broken */
#define SPI_NO_MEMORY 4    /* memory could not be had (also: picture too large) */
#define SPI_MEMORY_ERROR 5
#define SPI_FILE_READ_ERROR 6
#define SPI_RESERVED 7
#define SPI_END_ERROR 8 /* internal error */

/* Where the picture comes from: the low three bits of "flag". */
#define SPI_INPUT_FILE 0   /* buf is a path, len the offset of the picture in the file */
#define SPI_INPUT_MEMORY 1 /* buf is the file's bytes, len their number */
#define SPI_INPUT_MASK 7

/* The first bytes of a file that IsSupported is given. */
#define SPI_HEAD_SIZE 2048

/* The progress callback: nNum of nDenom done; a non-zero result asks the plug-in to stop. */
typedef int(SPI_CALL* SPI_PROGRESS)(int nNum, int nDenom, intptr_t lData);

/* ---- The exports ---- */
/* infono 0: the API version ("00IN" for an import filter); 1: name, version and copyright;
 * 2n + 2: the extension pattern of format n ("*.webp", or several as "*.RGB;*.Q0");
 * 2n + 3: the name of format n. Copies the text (NUL-terminated, cut to buflen) and returns its
 * length; 0 for a number past the last. */
typedef int(SPI_CALL* SPI_GetPluginInfo)(int infono, char* buf, int buflen);
/* 1 when the plug-in reads the file; dw is the address of its first 2,048 bytes. */
typedef int(SPI_CALL* SPI_IsSupported)(const char* filename, uintptr_t dw);
/* The picture's size and depth without decoding it. hInfo, when a plug-in sets it, is a text in
 * a LocalAlloc block. Quilla's own plug-ins write it as lines "Name=value" separated by "\n",
 * named like the Exif tags they come from (Make, Model, DateTimeOriginal as "YYYY:MM:DD hh:mm:ss",
 * ExposureTime in seconds as "1/250" or "2", FNumber, FocalLength in mm, ISOSpeedRatings), so
 * that a host can show them. */
typedef int(SPI_CALL* SPI_GetPictureInfo)(const char* buf, intptr_t len, unsigned int flag,
                                          SPI_PICTUREINFO* lpInfo);
/* Decodes the picture into two new local-memory blocks: *pHBInfo the BITMAPINFO with its colour
 * table, *pHBm the bits. Returns SPI_ALL_RIGHT or an error above. */
typedef int(SPI_CALL* SPI_GetPicture)(const char* buf, intptr_t len, unsigned int flag,
                                      HLOCAL* pHBInfo, HLOCAL* pHBm, SPI_PROGRESS lpPrgressCallback,
                                      intptr_t lData);
typedef int(SPI_CALL* SPI_GetPreview)(const char* buf, intptr_t len, unsigned int flag,
                                      HLOCAL* pHBInfo, HLOCAL* pHBm, SPI_PROGRESS lpPrgressCallback,
                                      intptr_t lData);
/* Quilla's extension of the interface: a picture reduced for a thumbnail. GetPicture's
 * arguments, then the size of the box the picture is to be fitted into. A plug-in that can make a
 * smaller picture cheaper than the whole one (a decoder's own scaling, a thumbnail or preview
 * stored in the file, a coarse progressive pass) returns one that is at least as large as the
 * whole picture fitted into width x height with its aspect ratio kept, with the same orientation
 * applied as GetPicture's; else it returns what GetPicture returns. A width or height of 0 or less
 * asks for the whole picture. The export is optional: a host calls GetPicture when a plug-in does
 * not export it, and other hosts never call it. */
typedef int(SPI_CALL* SPI_GetPictureScaled)(const char* buf, intptr_t len, unsigned int flag,
                                            HLOCAL* pHBInfo, HLOCAL* pHBm,
                                            SPI_PROGRESS lpPrgressCallback, intptr_t lData,
                                            int width, int height);
/* Archive plug-ins ("00AM"); Quilla loads only import filters. */
typedef int(SPI_CALL* SPI_GetArchiveInfo)(const char* buf, intptr_t len, unsigned int flag,
                                          HLOCAL* lphInf);
typedef int(SPI_CALL* SPI_GetFileInfo)(const char* buf, intptr_t len, const char* filename,
                                       unsigned int flag, SPI_FILEINFO* lpInfo);
typedef int(SPI_CALL* SPI_GetFile)(const char* src, intptr_t len, char* dest, unsigned int flag,
                                   SPI_PROGRESS prgressCallback, intptr_t lData);
typedef int(SPI_CALL* SPI_ConfigurationDlg)(HWND parent, int fnc);

/* Declarations for a plug-in's own source (a host defines SPI_HOST and looks them up instead). */
#ifndef SPI_HOST
SPI_EXPORT int SPI_CALL GetPluginInfo(int infono, char* buf, int buflen);
SPI_EXPORT int SPI_CALL IsSupported(const char* filename, uintptr_t dw);
SPI_EXPORT int SPI_CALL GetPictureInfo(const char* buf, intptr_t len, unsigned int flag,
                                       SPI_PICTUREINFO* lpInfo);
SPI_EXPORT int SPI_CALL GetPicture(const char* buf, intptr_t len, unsigned int flag,
                                   HLOCAL* pHBInfo, HLOCAL* pHBm, SPI_PROGRESS lpPrgressCallback,
                                   intptr_t lData);
SPI_EXPORT int SPI_CALL GetPictureScaled(const char* buf, intptr_t len, unsigned int flag,
                                         HLOCAL* pHBInfo, HLOCAL* pHBm,
                                         SPI_PROGRESS lpPrgressCallback, intptr_t lData, int width,
                                         int height);
#endif

#ifdef __cplusplus
}
#endif

#endif
