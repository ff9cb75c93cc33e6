#include "SpiFront.h"

#include "SpiPlugin.h"

#include <cstdio>
#include <dlfcn.h>
#include <string>

namespace spi::front {

namespace {

// The folder of the file this front was loaded from, with its final "/".
std::string OwnFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(&OwnFolder), &info) == 0 || !info.dli_fname)
        return std::string();
    const std::string path(info.dli_fname);
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

CodecEntries Load() {
    CodecEntries entries;
    const std::string folder = OwnFolder();
    if (folder.empty()) {
        std::fprintf(stderr, "quilla plug-in: the folder of %s is unknown\n", kCodecFile);
        return entries;
    }
    const std::string path = folder + kCodecFile;
    // Kept for the process: the pictures it handed over are freed by the host, not by it, and a
    // decoding library's threads and tables outlive a call.
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!module) {
        const char* why = dlerror();
        std::fprintf(stderr, "quilla plug-in: cannot load %s: %s\n", path.c_str(),
                     why ? why : "unknown reason");
        return entries;
    }
    entries.isSupported = reinterpret_cast<SPI_IsSupported>(dlsym(module, "IsSupported"));
    entries.pictureInfo = reinterpret_cast<SPI_GetPictureInfo>(dlsym(module, "GetPictureInfo"));
    entries.picture = reinterpret_cast<SPI_GetPicture>(dlsym(module, "GetPicture"));
    entries.scaled = reinterpret_cast<SPI_GetPictureScaled>(dlsym(module, "GetPictureScaled"));
    return entries;
}

} // namespace

const CodecEntries* Codec() {
    // Loaded once, also by concurrent first calls; a module that failed is not tried again.
    static const CodecEntries entries = Load();
    static const bool loaded = entries.isSupported || entries.pictureInfo || entries.picture;
    return loaded ? &entries : nullptr;
}

int CodecIsSupported(const char* name, uintptr_t dw) {
    const CodecEntries* codec = Codec();
    return codec && codec->isSupported ? codec->isSupported(name, dw) : 0;
}

} // namespace spi::front

using spi::front::Codec;

extern "C" {

int GetPluginInfo(int infono, char* buf, int buflen) {
    return spi::PluginInfo(spi::front::kTexts, spi::front::kTextCount, infono, buf, buflen);
}

// Without its codec the plug-in can decode nothing: an internal error, as any other.
int GetPictureInfo(const char* buf, intptr_t len, unsigned int flag, SPI_PICTUREINFO* lpInfo) {
    const spi::CodecEntries* codec = Codec();
    if (!codec)
        return SPI_END_ERROR;
    return codec->pictureInfo ? codec->pictureInfo(buf, len, flag, lpInfo) : SPI_NOT_IMPLEMENTED;
}

int GetPicture(const char* buf, intptr_t len, unsigned int flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
               SPI_PROGRESS progress, intptr_t lData) {
    const spi::CodecEntries* codec = Codec();
    if (!codec)
        return SPI_END_ERROR;
    return codec->picture ? codec->picture(buf, len, flag, pHBInfo, pHBm, progress, lData)
                          : SPI_NOT_IMPLEMENTED;
}

int GetPictureScaled(const char* buf, intptr_t len, unsigned int flag, HLOCAL* pHBInfo,
                     HLOCAL* pHBm, SPI_PROGRESS progress, intptr_t lData, int width, int height) {
    const spi::CodecEntries* codec = Codec();
    if (!codec)
        return SPI_END_ERROR;
    if (codec->scaled)
        return codec->scaled(buf, len, flag, pHBInfo, pHBm, progress, lData, width, height);
    return codec->picture ? codec->picture(buf, len, flag, pHBInfo, pHBm, progress, lData)
                          : SPI_NOT_IMPLEMENTED;
}

} // extern "C"
