// Opening TIFF files with bounded allocations and the errors reported as the call's reason.
#pragma once

#include <tiffio.h>

namespace ik {

// Opens a TIFF by path, or by descriptor when fd >= 0 (the TIFF then owns it). libtiff refuses any
// single allocation above maxAlloc bytes; its errors become the reason of the current call and
// its warnings are dropped, on this TIFF only (never through the process-wide handlers).
TIFF* OpenTiff(const char* path, const char* mode, tmsize_t maxAlloc, int fd = -1);

// Closes the TIFF when it goes out of scope.
struct TiffCloser {
    TIFF* t;
    ~TiffCloser() {
        if (t)
            TIFFClose(t);
    }
};

} // namespace ik
