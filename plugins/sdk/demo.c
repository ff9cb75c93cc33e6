/* A minimal import plug-in for a made-up format: the four bytes "DEMO", a 16-bit little-endian
 * width and height, then the rows top to bottom, three bytes (R, G, B) per pixel. */
#include "spi.h"

#include <stdio.h>

static const char* const texts[] = {"00IN", "Demo plug-in 1.0", "*.demo", "Demo picture"};

int GetPluginInfo(int infono, char* buf, int buflen) {
    if (infono < 0 || infono >= 4 || buflen <= 0)
        return 0;
    snprintf(buf, (size_t)buflen, "%s", texts[infono]);
    return (int)strlen(buf);
}

int IsSupported(const char* filename, uintptr_t dw) {
    (void)filename;
    return memcmp((const char*)dw, "DEMO", 4) == 0; /* dw: the file's first 2,048 bytes */
}

/* The file's bytes from the picture's offset: buf is the path and len the offset, or (in memory)
 * buf the bytes and len their number. */
static unsigned char* Bytes(const char* buf, intptr_t len, unsigned flag, long* size) {
    if ((flag & SPI_INPUT_MASK) == SPI_INPUT_MEMORY) {
        *size = (long)len;
        return (unsigned char*)buf;
    }
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

int GetPictureInfo(const char* buf, intptr_t len, unsigned flag, SPI_PICTUREINFO* info) {
    (void)buf, (void)len, (void)flag, (void)info;
    return SPI_NOT_IMPLEMENTED; /* optional: the host decodes without it */
}

int GetPicture(const char* buf, intptr_t len, unsigned flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
               SPI_PROGRESS progress, intptr_t lData) {
    long size = 0;
    unsigned char* data = Bytes(buf, len, flag, &size);
    if (!data)
        return SPI_FILE_READ_ERROR;
    int r = SPI_OUT_OF_ORDER;
    const int w = size >= 8 ? data[4] | data[5] << 8 : 0,
              h = size >= 8 ? data[6] | data[7] << 8 : 0;
    const size_t stride = ((size_t)w * 3 + 3) & ~(size_t)3;
    if (w > 0 && h > 0 && memcmp(data, "DEMO", 4) == 0 && size - 8 >= (long)w * h * 3) {
        *pHBInfo = LocalAlloc(LMEM_ZEROINIT, sizeof(BITMAPINFOHEADER));
        *pHBm = LocalAlloc(LMEM_ZEROINIT, stride * (size_t)h);
        if (!*pHBInfo || !*pHBm) {
            *pHBInfo = LocalFree(*pHBInfo);
            *pHBm = LocalFree(*pHBm);
            r = SPI_NO_MEMORY;
        } else {
            BITMAPINFOHEADER* bi = LocalLock(*pHBInfo);
            bi->biSize = sizeof *bi;
            bi->biWidth = w;
            bi->biHeight = h; /* positive: the rows bottom-up */
            bi->biPlanes = 1;
            bi->biBitCount = 24;
            unsigned char* bits = LocalLock(*pHBm);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const unsigned char* s = data + 8 + ((size_t)y * w + x) * 3;
                    unsigned char* d = bits + (size_t)(h - 1 - y) * stride + (size_t)x * 3;
                    d[0] = s[2], d[1] = s[1], d[2] = s[0]; /* B, G, R */
                }
            LocalUnlock(*pHBInfo);
            LocalUnlock(*pHBm);
            r = SPI_ALL_RIGHT;
            if (progress && progress(1, 1, lData)) { /* asked to stop: nothing is handed over */
                *pHBInfo = LocalFree(*pHBInfo);
                *pHBm = LocalFree(*pHBm);
                r = SPI_ABORT;
            }
        }
    }
    if ((flag & SPI_INPUT_MASK) != SPI_INPUT_MEMORY)
        free(data);
    return r;
}
