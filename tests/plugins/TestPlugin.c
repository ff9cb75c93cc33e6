/* Import plug-ins the tests build, one source with a variant per build:
 *   TP_VERSION              version text ("00IN", "00AM", ...)
 *   TP_PATTERN0, TP_DESC0   first format; TP_PATTERN1, TP_DESC1 an optional second
 *   TP_COMBINED_PATTERN     the first pattern is "*.rgb;*.q0"
 *   TP_MAGIC, TP_MAGIC_AT   the four bytes IsSupported looks for, and where in the head
 *   TP_PICTURE_RESULT       when defined, GetPicture returns this and decodes nothing
 *   TP_CRASH_IN_INFO        GetPluginInfo crashes
 *   TP_UNTERMINATED         GetPluginInfo fills the whole buffer without ending the text
 *   TP_ENDLESS              GetPluginInfo answers every number: its list of formats never ends
 *   TP_SLOW_MS              GetPicture takes this long (to catch two threads inside at once)
 *   TP_LIE_WIDTH            the picture's header claims this width
 *   TP_SHOOTING             GetPictureInfo's text is shooting data as camera files give them
 *   TP_SCALED               exports GetPictureScaled: the picture reduced by the largest whole
 *                           factor that keeps it at least as large as the box on both sides
 *   TP_SCALED_SMALL         ... which returns a 1 x 1 picture instead
 *   TP_SCALED_RESULT        ... which returns this and decodes nothing
 *   TP_SCALED_GARBAGE       ... which succeeds with handles that point nowhere
 *   TP_LOG_LOAD             logs "load:1;" when it is loaded (its constructor)
 * Hostile variants, for the helper process the host runs plug-ins in:
 *   TP_LOAD_HANGS           never returns from being loaded; TP_LOAD_CRASHES crashes then
 *   TP_HANG_IN              never returns from GetPluginInfo (1), IsSupported (2),
 *                           GetPictureInfo (3), GetPicture (4) or GetPictureScaled (5)
 *   TP_EXIT_IN_PICTURE      GetPicture calls exit(); TP_ABORT_IN_PICTURE calls abort()
 *   TP_GARBAGE              GetPicture succeeds with handles that point nowhere
 *   TP_GARBAGE_INFO         GetPictureInfo succeeds with a text handle that points nowhere
 *   TP_HUGE_ALLOC           GetPicture asks for a terabyte and writes to it
 *   TP_WRITE_FILE           GetPicture tries to create the file's path + ".written"
 *   TP_CONNECT              GetPicture tries to connect to a Unix socket at the file's path +
 * ".sock" The last two log the error number they met ("write:13;") and then decode as usual. The
 * picture format: the magic, a 16-bit little-endian width and height, then R, G, B per pixel, rows
 * top to bottom. Every call is logged; TestLog() returns the log and TestOverlaps() how often two
 * threads were inside IsSupported or GetPicture at once; text number 1000 of GetPluginInfo is the
 * log too (for a host that runs the plug-in in another process). */
#include "spi.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#ifndef TP_HANG_IN
#define TP_HANG_IN 0
#endif

#ifdef TP_COMBINED_PATTERN /* one text for two extensions (a list in CMake cannot hold it) */
#define TP_PATTERN0 "*.rgb;*.q0"
#endif
#ifndef TP_MAGIC_AT
#define TP_MAGIC_AT 0
#endif

static char log_[8192];
static int inside_;
static int overlaps_;

SPI_EXPORT const char* TestLog(void) {
    return log_;
}
SPI_EXPORT void TestReset(void) {
    log_[0] = 0;
    __atomic_store_n(&overlaps_, 0, __ATOMIC_SEQ_CST);
}
SPI_EXPORT int TestOverlaps(void) {
    return __atomic_load_n(&overlaps_, __ATOMIC_SEQ_CST);
}

static void Log(const char* what, long value) {
    size_t n = strlen(log_);
    if (n + 64 < sizeof log_)
        snprintf(log_ + n, sizeof log_ - n, "%s:%ld;", what, value);
}

static void Hang(int where) {
    if (where == TP_HANG_IN)
        for (;;)
            pause();
}

static void Enter(void) {
    if (__atomic_add_fetch(&inside_, 1, __ATOMIC_SEQ_CST) > 1)
        __atomic_add_fetch(&overlaps_, 1, __ATOMIC_SEQ_CST);
}
static void Leave(void) {
    __atomic_sub_fetch(&inside_, 1, __ATOMIC_SEQ_CST);
}

#if defined(TP_LOG_LOAD) || defined(TP_LOAD_HANGS) || defined(TP_LOAD_CRASHES)
__attribute__((constructor)) static void Loaded(void) {
#ifdef TP_LOAD_HANGS
    for (;;)
        pause();
#endif
#ifdef TP_LOAD_CRASHES
    raise(SIGSEGV);
#endif
    Log("load", 1);
}
#endif

static const char* Text(int infono) {
    switch (infono) {
    case 0:
        return TP_VERSION;
    case 1:
        return "Test plug-in";
    case 2:
        return TP_PATTERN0;
    case 3:
        return TP_DESC0;
    case 1000:
        return log_;
#ifdef TP_PATTERN1
    case 4:
        return TP_PATTERN1;
    case 5:
        return TP_DESC1;
#endif
    default:
#ifdef TP_ENDLESS
        return "*.end";
#else
        return NULL;
#endif
    }
}

int GetPluginInfo(int infono, char* buf, int buflen) {
#ifdef TP_CRASH_IN_INFO
    (void)Text(infono), (void)buf, (void)buflen;
    raise(SIGSEGV);
    return 0;
#else
    Hang(1);
    const char* t = Text(infono);
    if (!t || buflen <= 0)
        return 0;
#ifdef TP_UNTERMINATED
    memset(buf, 'x', (size_t)buflen);
    return buflen;
#else
    snprintf(buf, (size_t)buflen, "%s", t);
    return (int)strlen(buf);
#endif
#endif
}

int IsSupported(const char* filename, uintptr_t dw) {
    (void)filename;
    Hang(2);
    Enter();
    Log("IsSupported", 0);
    const int yes = memcmp((const char*)dw + TP_MAGIC_AT, TP_MAGIC, 4) == 0;
    Leave();
    return yes;
}

static unsigned char* Bytes(const char* buf, intptr_t len, long* size) {
    unsigned char* data = NULL;
    FILE* f = fopen(buf, "rb");
    if (f && fseek(f, 0, SEEK_END) == 0) {
        *size = ftell(f) - (long)len;
        if (*size > 0 && fseek(f, (long)len, SEEK_SET) == 0 && (data = malloc((size_t)*size)) &&
            fread(data, 1, (size_t)*size, f) != (size_t)*size) {
            free(data);
            data = NULL;
        }
    }
    if (f)
        fclose(f);
    return data;
}

/* Decodes the picture, reduced by the largest whole factor that keeps it at least boxW x boxH
 * (no reduction for a box of 0). */
__attribute__((unused)) static int Decode(const char* buf, intptr_t len, HLOCAL* pHBInfo,
                                          HLOCAL* pHBm, int boxW, int boxH) {
    long size = 0;
    unsigned char* data = Bytes(buf, len, &size);
    if (!data)
        return SPI_FILE_READ_ERROR;
    int r = SPI_NOT_SUPPORT;
    const int w = size >= 8 ? data[4] | data[5] << 8 : 0;
    const int h = size >= 8 ? data[6] | data[7] << 8 : 0;
    if (w > 0 && h > 0 && memcmp(data, TP_MAGIC, 4) == 0 && size - 8 >= (long)w * h * 3) {
        int k = 1;
        if (boxW > 0 && boxH > 0)
            while (w / (k + 1) >= boxW && h / (k + 1) >= boxH)
                ++k;
        const int ow = w / k, oh = h / k;
        const size_t stride = ((size_t)ow * 3 + 3) & ~(size_t)3;
        *pHBInfo = LocalAlloc(LMEM_ZEROINIT, sizeof(BITMAPINFOHEADER));
        *pHBm = LocalAlloc(LMEM_ZEROINIT, stride * (size_t)oh);
        BITMAPINFOHEADER* bi = LocalLock(*pHBInfo);
        bi->biSize = sizeof *bi;
        bi->biWidth = ow;
        bi->biHeight = oh;
        bi->biPlanes = 1;
        bi->biBitCount = 24;
#ifdef TP_LIE_WIDTH
        bi->biWidth = TP_LIE_WIDTH;
#endif
#ifdef TP_TOP_DOWN /* rows stored from the top, as a negative height says */
        bi->biHeight = -oh;
#endif
        unsigned char* bits = LocalLock(*pHBm);
        for (int y = 0; y < oh; ++y)
            for (int x = 0; x < ow; ++x) {
                const unsigned char* s = data + 8 + ((size_t)y * k * w + (size_t)x * k) * 3;
#ifdef TP_TOP_DOWN
                unsigned char* d = bits + (size_t)y * stride + (size_t)x * 3;
#else
                unsigned char* d = bits + (size_t)(oh - 1 - y) * stride + (size_t)x * 3;
#endif
                d[0] = s[2], d[1] = s[1], d[2] = s[0];
            }
        LocalUnlock(*pHBInfo);
        LocalUnlock(*pHBm);
        r = SPI_ALL_RIGHT;
    }
    free(data);
    return r;
}

int GetPictureInfo(const char* buf, intptr_t len, unsigned flag, SPI_PICTUREINFO* info) {
    (void)flag;
    Hang(3);
    Log("GetPictureInfo", (long)len);
#ifdef TP_GARBAGE_INFO
    (void)buf;
    info->width = 1;
    info->height = 1;
    info->hInfo = (HLOCAL)(uintptr_t)0x1234;
    return SPI_ALL_RIGHT;
#endif
    long size = 0;
    unsigned char* data = Bytes(buf, len, &size);
    if (!data)
        return SPI_FILE_READ_ERROR;
    int r = SPI_NOT_SUPPORT;
    if (size >= 8 && memcmp(data, TP_MAGIC, 4) == 0) {
        info->width = data[4] | data[5] << 8;
        info->height = data[6] | data[7] << 8;
        info->colorDepth = 24;
#ifdef TP_SHOOTING
        static const char text[] = "Make=Norvo\nModel=QX-9 RAW\nDateTimeOriginal=2024:05:01 "
                                   "12:34:56\nExposureTime=1/250\nFNumber=5.6\nFocalLength=35\n"
                                   "ISOSpeedRatings=200\nNotes=\x01\x02\n";
#else
        static const char text[] = "comment";
#endif
        info->hInfo = LocalAlloc(LMEM_FIXED, sizeof text);
        memcpy(LocalLock(info->hInfo), text, sizeof text);
        LocalUnlock(info->hInfo);
        r = SPI_ALL_RIGHT;
    }
    free(data);
    return r;
}

int GetPicture(const char* buf, intptr_t len, unsigned flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
               SPI_PROGRESS progress, intptr_t lData) {
    (void)flag, (void)progress, (void)lData;
    Hang(4);
    Enter();
    Log("GetPicture", (long)len);
#ifdef TP_EXIT_IN_PICTURE
    exit(3);
#endif
#ifdef TP_ABORT_IN_PICTURE
    abort();
#endif
#ifdef TP_GARBAGE
    *pHBInfo = (HLOCAL)(uintptr_t)0x10;
    *pHBm = (HLOCAL)(uintptr_t)0xdeadbeef0ull;
    Leave();
    return SPI_ALL_RIGHT;
#endif
#ifdef TP_HUGE_ALLOC
    {
        const size_t huge = (size_t)1 << 40;
        char* p = malloc(huge);
        for (size_t i = 0; i < huge; i += 4096)
            p[i] = 1; /* unchecked, as careless code does */
        Log("huge", (long)p[0]);
    }
#endif
#ifdef TP_WRITE_FILE
    {
        char name[4096];
        snprintf(name, sizeof name, "%s.written", buf);
        const int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        Log("write", fd >= 0 ? 0 : (long)errno);
        if (fd >= 0)
            close(fd);
    }
#endif
#ifdef TP_CONNECT
    {
        struct sockaddr_un addr;
        memset(&addr, 0, sizeof addr);
        addr.sun_family = AF_UNIX;
        snprintf(addr.sun_path, sizeof addr.sun_path, "%s.sock", buf);
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        long err = fd < 0 ? (long)errno : 0;
        if (fd >= 0 && connect(fd, (struct sockaddr*)&addr, sizeof addr) != 0)
            err = (long)errno;
        Log("connect", err);
        if (fd >= 0)
            close(fd);
    }
#endif
#ifdef TP_SLOW_MS
    struct timespec pause = {0, TP_SLOW_MS * 1000000L};
    nanosleep(&pause, NULL);
#endif
#ifdef TP_PICTURE_RESULT
    (void)buf, (void)pHBInfo, (void)pHBm;
    Leave();
    return TP_PICTURE_RESULT;
#else
    const int r = Decode(buf, len, pHBInfo, pHBm, 0, 0);
    Leave();
    return r;
#endif
}

#ifdef TP_SCALED
int GetPictureScaled(const char* buf, intptr_t len, unsigned flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
                     SPI_PROGRESS progress, intptr_t lData, int width, int height) {
    (void)flag, (void)progress, (void)lData;
    Hang(5);
    Enter();
    Log("GetPictureScaled", (long)len);
    Log("box", (long)width * 100000 + height);
#if defined(TP_SCALED_RESULT)
    (void)buf, (void)pHBInfo, (void)pHBm;
    Leave();
    return TP_SCALED_RESULT;
#elif defined(TP_SCALED_GARBAGE)
    (void)buf;
    *pHBInfo = (HLOCAL)(uintptr_t)0x10;
    *pHBm = (HLOCAL)(uintptr_t)0xdeadbeef0ull;
    Leave();
    return SPI_ALL_RIGHT;
#elif defined(TP_SCALED_SMALL)
    (void)width, (void)height;
    const int r = Decode(buf, len, pHBInfo, pHBm, 1, 1);
    if (r == SPI_ALL_RIGHT) {
        /* Claims the first pixel is the whole picture. */
        BITMAPINFOHEADER* bi = LocalLock(*pHBInfo);
        bi->biWidth = 1;
        bi->biHeight = 1;
        LocalUnlock(*pHBInfo);
    }
    Leave();
    return r;
#else
    const int r = Decode(buf, len, pHBInfo, pHBm, width, height);
    Leave();
    return r;
#endif
}
#endif
