// quilla-spihost PARENT-PID: the process in which import plug-ins run. The program starts a few of
// them with a socket as descriptor 3 and asks them, one request at a time, what the plug-ins say:
// their texts, whether they read a file, its picture information and its picture. The helper
// confines itself before it loads any plug-in (see platform/Sandbox.h), loads each plug-in the
// first time a request names it, and hands a picture back converted to the image the program
// takes, in shared memory whose size is sealed. A plug-in that hangs, crashes or exits takes only
// this process with it; the program kills and replaces it.
#define SPI_HOST
#include "spi.h"

#include "imaging/Dib.h"
#include "platform/FileNames.h"
#include "platform/HelperChannel.h"
#include "platform/Module.h"
#include "platform/Sandbox.h"
#include "platform/SpiWire.h"

#include <QByteArray>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

using namespace SpiWire;
using HelperChannel::SharedMap;
using HelperChannel::UniqueFd;

namespace {

constexpr int kSocketFd = 3;
// The buffer sizes given to GetPluginInfo: 9 bytes for the version, 256 for the others.
constexpr int kVersionBuffer = 9;
constexpr int kTextBuffer = 256;
// The most formats asked for.
constexpr int kMaxFormats = 1024;

struct Plugin {
    Module::Handle module = nullptr;
    QString failure; // why it cannot be loaded
    SPI_GetPluginInfo info = nullptr;
    SPI_IsSupported isSupported = nullptr;
    SPI_GetPictureInfo pictureInfo = nullptr;
    SPI_GetPicture picture = nullptr;
    SPI_GetPictureScaled scaled = nullptr; // Quilla's optional extension
};

std::map<std::string, Plugin>& Plugins() {
    static std::map<std::string, Plugin> plugins;
    return plugins;
}

Plugin& PluginAt(const std::string& path) {
    auto [it, fresh] = Plugins().try_emplace(path);
    Plugin& p = it->second;
    if (!fresh)
        return p;
    const QString name = FileNames::FromNative(QByteArray(path.c_str()));
    p.module = Module::Open(name, &p.failure);
    if (!p.module)
        return p;
    auto sym = [&p](const char* n) { return Module::Symbol(p.module, n); };
    p.info = reinterpret_cast<SPI_GetPluginInfo>(sym("GetPluginInfo"));
    p.isSupported = reinterpret_cast<SPI_IsSupported>(sym("IsSupported"));
    p.pictureInfo = reinterpret_cast<SPI_GetPictureInfo>(sym("GetPictureInfo"));
    p.picture = reinterpret_cast<SPI_GetPicture>(sym("GetPicture"));
    p.scaled = reinterpret_cast<SPI_GetPictureScaled>(sym("GetPictureScaled"));
    return p;
}

// True when the bytes from p to p + size are mapped (a plug-in's handle may point anywhere).
bool Readable(const void* p, size_t size) {
    if (!p || size == 0)
        return false;
    const auto page = uintptr_t(sysconf(_SC_PAGESIZE));
    const uintptr_t first = uintptr_t(p) & ~(page - 1);
    const uintptr_t last = (uintptr_t(p) + size - 1) & ~(page - 1);
    if (last < first)
        return false;
    unsigned char vec = 0;
    for (uintptr_t a = first; a <= last; a += page)
        if (mincore(reinterpret_cast<void*>(a), page, &vec) != 0)
            return false;
    // Mapped is not readable (a guard region is mapped without access): the first and the last
    // byte are read by the kernel, which says EFAULT instead of faulting.
    static int probe[2] = {-1, -1};
    if (probe[0] < 0 && pipe2(probe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    for (const char* at : {static_cast<const char*>(p), static_cast<const char*>(p) + size - 1}) {
        if (write(probe[1], at, 1) != 1)
            return false;
        char sink;
        if (read(probe[0], &sink, 1) != 1)
            return false;
    }
    return true;
}

// The size of a local-memory block, 0 when the handle is none.
size_t BlockSize(HLOCAL h) {
    // The header's address in integers: a null or garbage handle minus the header is no pointer.
    const uintptr_t at = reinterpret_cast<uintptr_t>(h);
    if (at < sizeof(SPI_LOCALHEADER) ||
        !Readable(reinterpret_cast<const void*>(at - sizeof(SPI_LOCALHEADER)),
                  sizeof(SPI_LOCALHEADER)))
        return 0;
    const size_t size = LocalSize(h);
    return size > 0 && Readable(h, size) ? size : 0;
}

void FreeBlock(HLOCAL h) {
    if (BlockSize(h) > 0)
        LocalFree(h);
}

QByteArray RawInfo(SPI_GetPluginInfo fn, int infono, int buflen, int* result) {
    std::array<char, kTextBuffer + 1> buf{};
    const int r = fn(infono, buf.data(), std::min(buflen, kTextBuffer));
    if (result)
        *result = r;
    return QByteArray(buf.data(), qsizetype(std::strlen(buf.data())));
}

// The texts: version, name, then pattern and name of each format, each ending with a NUL.
void AskInfo(const Plugin& p, Reply& reply, QByteArray& payload) {
    int r = 0;
    payload += RawInfo(p.info, 0, kVersionBuffer, &r) + '\0';
    reply.result = r;
    payload += RawInfo(p.info, 1, kTextBuffer, nullptr) + '\0';
    auto answers = [&p](int infono) {
        int result = 0;
        RawInfo(p.info, infono, kTextBuffer, &result);
        return result != 0;
    };
    int count = 0;
    if (answers(2)) {
        count = 1;
        while (count < kMaxFormats && answers(2 * count + 2))
            ++count;
    }
    for (int k = 0; k < count; ++k) {
        payload += RawInfo(p.info, 2 * k + 2, kTextBuffer, nullptr) + '\0';
        payload += RawInfo(p.info, 2 * k + 3, kTextBuffer, nullptr) + '\0';
    }
}

void AskPictureInfo(const Plugin& p, const char* path, int64_t offset, Reply& reply,
                    QByteArray& payload) {
    SPI_PICTUREINFO info{};
    reply.result = p.pictureInfo(path, intptr_t(offset), SPI_INPUT_FILE, &info);
    if (reply.result != SPI_ALL_RIGHT)
        return;
    reply.left = info.left;
    reply.top = info.top;
    reply.width = info.width;
    reply.height = info.height;
    reply.xDensity = info.x_density;
    reply.yDensity = info.y_density;
    reply.colorDepth = info.colorDepth;
    const HLOCAL text = info.hInfo;
    if (const size_t size = BlockSize(text)) {
        const auto* s = static_cast<const char*>(text);
        payload = QByteArray(s, qsizetype(strnlen(s, std::min<size_t>(size, kMaxPayload - 1))));
        LocalFree(text);
    }
}

// Decodes the picture into shared memory; *memory receives its descriptor. A box of 0 x 0 asks
// GetPicture, another GetPictureScaled (which the caller has checked is exported).
void AskPicture(const Plugin& p, const char* path, int64_t offset, int boxWidth, int boxHeight,
                Reply& reply, QByteArray& payload, UniqueFd* memory) {
    HLOCAL header = nullptr, bits = nullptr;
    if (boxWidth > 0 && boxHeight > 0)
        reply.result = p.scaled(path, intptr_t(offset), SPI_INPUT_FILE, &header, &bits, nullptr, 0,
                                boxWidth, boxHeight);
    else
        reply.result =
            p.picture(path, intptr_t(offset), SPI_INPUT_FILE, &header, &bits, nullptr, 0);
    if (reply.result != SPI_ALL_RIGHT)
        return; // what a failed call left in the outputs is not a block to free
    const size_t headerSize = BlockSize(header), bitsSize = BlockSize(bits);
    if (headerSize == 0 || bitsSize == 0) {
        // Success without both blocks is no picture.
        FreeBlock(header);
        FreeBlock(bits);
        reply.status = kStatusBadPicture;
        payload = "no picture blocks";
        return;
    }
    SharedMap shared;
    bool noMemory = false;
    const DibImageMaker make = [&](int w, int h, QImage::Format format) {
        const int depth = QImage::toPixelFormat(format).bitsPerPixel();
        const qsizetype line = ((qsizetype(w) * depth + 31) / 32) * 4;
        shared = SharedMap::Create(size_t(line) * size_t(h), memory);
        if (!shared.Valid()) {
            noMemory = true;
            return QImage();
        }
        return QImage(shared.Data(), w, h, line, format);
    };
    QString why;
    const QImage image =
        DibToImage(LocalLock(header), headerSize, LocalLock(bits), bitsSize, &why, make);
    LocalFree(header);
    LocalFree(bits);
    if (image.isNull()) {
        memory->Reset();
        reply.status = noMemory ? kStatusNoMemory : kStatusUnreadable;
        payload = why.toUtf8();
        return;
    }
    if (image.constBits() != shared.Data() || !SharedMap::SealSize(memory->Get())) {
        memory->Reset();
        reply.status = kStatusNoMemory;
        return;
    }
    reply.format = int32_t(image.format());
    reply.pictureWidth = image.width();
    reply.pictureHeight = image.height();
    reply.bytesPerLine = int32_t(image.bytesPerLine());
    reply.pictureBytes = shared.Size();
    const QList<QRgb> table = image.colorTable();
    reply.colours = int32_t(std::min<qsizetype>(table.size(), kMaxColours));
    payload = QByteArray(reinterpret_cast<const char*>(table.constData()),
                         qsizetype(reply.colours) * qsizetype(sizeof(QRgb)));
}

// A picture for a thumbnail (kCallPictureScaled). GetPictureScaled's answer is taken when it holds
// together and is large enough: at least as large as the box on one side (a pixel less for
// rounding), or else the whole picture, as GetPictureInfo tells its size. Otherwise (an error, a
// picture that does not hold together or one smaller than promised) the plug-in's GetPicture
// decides, as for a plug-in without the extension: the reduced entry is an optimisation and never
// costs the file its picture.
void AskScaled(const Plugin& p, const char* path, int64_t offset, int boxWidth, int boxHeight,
               Reply& reply, QByteArray& payload, UniqueFd* memory) {
    if (p.scaled && boxWidth > 0 && boxHeight > 0) {
        AskPicture(p, path, offset, boxWidth, boxHeight, reply, payload, memory);
        if (reply.result == SPI_ABORT)
            return; // stopped: GetPicture would be stopped alike
        if (reply.result == SPI_ALL_RIGHT && reply.status == kStatusOk) {
            const int w = reply.pictureWidth, h = reply.pictureHeight;
            const bool largeEnough = w + 1 >= boxWidth || h + 1 >= boxHeight;
            SPI_PICTUREINFO info{};
            const int r = p.pictureInfo
                              ? p.pictureInfo(path, intptr_t(offset), SPI_INPUT_FILE, &info)
                              : SPI_NOT_IMPLEMENTED;
            if (r == SPI_ALL_RIGHT)
                FreeBlock(info.hInfo);
            const bool told = r == SPI_ALL_RIGHT && info.width > 0 && info.height > 0;
            // The picture may stand turned as the file says, the told size not.
            const bool whole = told && ((info.width == w && info.height == h) ||
                                        (info.width == h && info.height == w));
            if (whole)
                return;
            if (largeEnough) {
                if (told) {
                    reply.width = info.width;
                    reply.height = info.height;
                }
                return;
            }
        }
        // Not taken: the memory and what was said of it go.
        memory->Reset();
        const uint32_t call = reply.call;
        const uint64_t serial = reply.serial;
        reply = Reply{};
        reply.call = call;
        reply.serial = serial;
        payload.clear();
    }
    if (!p.picture) {
        reply.status = kStatusNoEntry;
        return;
    }
    AskPicture(p, path, offset, 0, 0, reply, payload, memory);
}

void Answer(const Request& req, const QByteArray& body, Reply& reply, QByteArray& payload,
            UniqueFd* memory) {
    const std::string module(body.constData(), req.moduleLength);
    const QByteArray path = body.mid(req.moduleLength, req.pathLength);
    const QByteArray head = body.mid(qsizetype(req.moduleLength) + req.pathLength);
    Plugin& p = PluginAt(module);
    if (!p.module) {
        const QString foreign =
            Module::ForeignReason(FileNames::FromNative(QByteArray(module.c_str())));
        reply.status = foreign.isEmpty() ? kStatusNotLoaded : kStatusNotPlugin;
        payload = (foreign.isEmpty() ? p.failure : foreign).toUtf8();
        return;
    }
    switch (req.call) {
    case kCallPluginInfo:
        if (!p.info) {
            reply.status = kStatusNoEntry;
            return;
        }
        AskInfo(p, reply, payload);
        return;
    case kCallPluginText:
        if (!p.info) {
            reply.status = kStatusNoEntry;
            return;
        }
        payload = RawInfo(p.info, int(req.offset), kTextBuffer, &reply.result);
        return;
    case kCallIsSupported: {
        if (!p.isSupported) {
            reply.status = kStatusNoEntry;
            return;
        }
        std::array<char, SPI_HEAD_SIZE> buf{};
        std::memcpy(buf.data(), head.constData(),
                    size_t(std::min<qsizetype>(head.size(), SPI_HEAD_SIZE)));
        reply.result = p.isSupported(path.constData(), reinterpret_cast<uintptr_t>(buf.data()));
        return;
    }
    case kCallPictureInfo:
        if (!p.pictureInfo) {
            reply.status = kStatusNoEntry;
            return;
        }
        AskPictureInfo(p, path.constData(), req.offset, reply, payload);
        return;
    case kCallPicture:
        if (!p.picture) {
            reply.status = kStatusNoEntry;
            return;
        }
        AskPicture(p, path.constData(), req.offset, 0, 0, reply, payload, memory);
        return;
    case kCallPictureScaled:
        if (req.width < 0 || req.height < 0) {
            reply.status = kStatusBadRequest;
            return;
        }
        AskScaled(p, path.constData(), req.offset, req.width, req.height, reply, payload, memory);
        return;
    default:
        reply.status = kStatusBadRequest;
        return;
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr,
                     "usage: %s PARENT-PID\n"
                     "The program's plug-in helper; the program starts it.\n",
                     argv[0]);
        return 2;
    }
    if (!Sandbox::FollowParent(std::strtol(argv[1], nullptr, 10)))
        return 1;
    Sandbox::CloseInherited(kSocketFd);
    QString why;
    if (!Sandbox::Enter(&why))
        return 1; // never run a plug-in unconfined
    for (;;) {
        Request req;
        if (!HelperChannel::ReceiveAll(kSocketFd, &req, sizeof req))
            return 0; // the program closed its end
        const uint64_t body = uint64_t(req.moduleLength) + req.pathLength + req.headLength;
        if (req.magic != kRequestMagic || body > kMaxPayload)
            return 1;
        QByteArray bytes(qsizetype(body), Qt::Uninitialized);
        if (body > 0 && !HelperChannel::ReceiveAll(kSocketFd, bytes.data(), size_t(body)))
            return 0;
        Reply reply;
        reply.call = req.call;
        reply.serial = req.serial;
        QByteArray payload;
        UniqueFd memory;
        if (req.moduleLength == 0)
            reply.status = kStatusBadRequest;
        else
            Answer(req, bytes, reply, payload, &memory);
        if (payload.size() > qsizetype(kMaxPayload))
            payload.truncate(kMaxPayload);
        reply.payloadLength = uint32_t(payload.size());
        reply.retiring = Sandbox::CpuSeconds() >= Sandbox::kCpuRetireSeconds ? 1 : 0;
        if (!HelperChannel::Send(kSocketFd, &reply, sizeof reply, payload, memory.Get()))
            return 0;
        if (reply.retiring)
            return 0;
    }
}
