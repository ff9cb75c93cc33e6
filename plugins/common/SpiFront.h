// A plug-in whose decoding library is heavy to load (libheif with its codecs, libjxl with its
// run-time set-up) ships in two files: the plug-in itself, a light front holding its texts and a
// quick test of a file's first bytes, and its codec module beside it, which the front loads the
// first time a file passes that test. A host asks every plug-in in its list whether it reads a
// file, so a front costs a process next to nothing for the files of other formats.
//
// A front defines spi::front::kCodecFile, kTexts, kTextCount and IsSupported; SpiFront.cpp gives
// it GetPluginInfo and the picture entries, which call the codec module's own.
#pragma once

#include "spi.h"

#include <cstddef>

namespace spi {

// The entries of a codec module; each may be null where the module lacks it.
struct CodecEntries {
    SPI_IsSupported isSupported = nullptr;
    SPI_GetPictureInfo pictureInfo = nullptr;
    SPI_GetPicture picture = nullptr;
    SPI_GetPictureScaled scaled = nullptr;
};

namespace front {
// The codec module's file name, looked for in the front's own folder.
extern const char* const kCodecFile;
extern const char* const* const kTexts;
extern const int kTextCount;

// The codec module, loaded on the first call (once per process, also when it fails); null when
// it cannot be loaded, the reason then written once to the standard error.
const CodecEntries* Codec();
// The codec's IsSupported for a file that passed the front's own test: 0 without a codec.
int CodecIsSupported(const char* name, uintptr_t dw);
} // namespace front

} // namespace spi
