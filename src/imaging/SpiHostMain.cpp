// quilla-spihost PARENT-PID: the process in which import plug-ins run. The program starts a few of
// them with a socket as descriptor 3 and asks them, one request at a time, what the plug-ins say:
// their texts, whether they read a file, its picture information and its picture. The helper
// confines itself before it loads any plug-in (see platform/Sandbox.h), loads each plug-in the
// first time a request names it, and hands a picture back converted to the image the program
// takes, in shared memory whose size is sealed. A plug-in that hangs, crashes or exits takes only
// this process with it; the program kills and replaces it.
#define SPI_HOST
#include "ik6.h"
#include "spi.h"

#include "imaging/DibRead.h"
#include "platform/HelperIo.h"
#include "platform/ModuleNative.h"
#include "platform/Sandbox.h"
#include "platform/SpiWire.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

using namespace SpiWire;
using HelperChannel::SharedMap;
using HelperChannel::UniqueFd;

namespace {

constexpr int kSocketFd = 3;

// A picture's width and height.
struct Extent {
    int width = 0;
    int height = 0;
    bool Empty() const { return width <= 0 || height <= 0; }
    bool operator==(const Extent&) const = default;
};

// The whole factor a picture of that size is reduced by for a thumbnail in box.
int Reduction(Extent picture, Extent box) {
    return DibRead::Reduction(picture.width, picture.height, box.width, box.height);
}
// The buffer sizes given to GetPluginInfo: 9 bytes for the version, 256 for the others.
constexpr int kVersionBuffer = 9;
constexpr int kTextBuffer = 256;
// The most formats asked for.
constexpr int kMaxFormats = 1024;

struct Plugin {
    Module::Handle module = nullptr;
    std::string failure; // why it cannot be loaded
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
    p.module = Module::OpenNative(path.c_str(), &p.failure);
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
    // One call for the whole range: it fails when any page of it is not mapped (a page by page
    // loop costs a system call, through the sandbox's filter, for every 4 KiB of a picture).
    std::vector<unsigned char> pages(size_t((last - first) / page + 1));
    if (mincore(reinterpret_cast<void*>(first), last - first + page, pages.data()) != 0)
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

std::string RawInfo(SPI_GetPluginInfo fn, int infono, int buflen, int* result) {
    std::array<char, kTextBuffer + 1> buf{};
    const int r = fn(infono, buf.data(), std::min(buflen, kTextBuffer));
    if (result)
        *result = r;
    return std::string(buf.data(), std::strlen(buf.data()));
}

// The texts: version, name, then pattern and name of each format, each ending with a NUL.
void AskInfo(const Plugin& p, Reply& reply, std::string& payload) {
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
                    std::string& payload) {
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
        payload = std::string(s, strnlen(s, std::min<size_t>(size, kMaxPayload - 1)));
        LocalFree(text);
    }
}

// The two blocks of a picture a plug-in handed over, checked to be blocks; freed with this object.
class Blocks {
public:
    Blocks() = default;
    ~Blocks() { Free(); }
    Blocks(const Blocks&) = delete;
    Blocks& operator=(const Blocks&) = delete;

    // Takes what a successful call left in its outputs; false (and freed) unless both are blocks.
    bool Take(HLOCAL header, HLOCAL bits) {
        Free();
        m_header = header;
        m_bits = bits;
        m_headerSize = BlockSize(header);
        m_bitsSize = BlockSize(bits);
        if (m_headerSize == 0 || m_bitsSize == 0) {
            FreeBlock(header);
            FreeBlock(bits);
            m_header = m_bits = nullptr;
            m_headerSize = m_bitsSize = 0;
            return false;
        }
        return true;
    }
    void Free() {
        if (m_header)
            LocalFree(m_header);
        if (m_bits)
            LocalFree(m_bits);
        m_header = m_bits = nullptr;
        m_headerSize = m_bitsSize = 0;
    }
    // The size the header gives (biWidth, and biHeight without its sign); empty when the header
    // is too short to say. Whether the bits hold it is DibToImage's check.
    Extent Size() const {
        if (m_headerSize < sizeof(BITMAPINFOHEADER))
            return Extent();
        int32_t w = 0, h = 0;
        std::memcpy(&w, static_cast<const char*>(m_header) + 4, sizeof w);
        std::memcpy(&h, static_cast<const char*>(m_header) + 8, sizeof h);
        if (w <= 0 || h == 0 || h == INT32_MIN)
            return Extent();
        return Extent{w, h < 0 ? -h : h};
    }
    // The picture in shared memory, reduced by factor (see DibToImage); *memory receives its
    // descriptor and the reply what the program needs to read it. The blocks are freed.
    void HandOver(int factor, Reply& reply, std::string& payload, UniqueFd* memory);

private:
    HLOCAL m_header = nullptr, m_bits = nullptr;
    size_t m_headerSize = 0, m_bitsSize = 0;
};

// The bytes of the band of picture rows converted at a time when a whole picture is written into
// shared memory (see HandOverInBands).
constexpr size_t kBandBytes = size_t(1) << 20;
// A 24-bit picture of at least this many rows is handed over in bands.
constexpr int kBandedRows = 64;

// A whole 24-bit picture written into shared memory in bands: each band of rows converted into a
// small buffer, which the kernel then copies into the memory. The helper never maps the memory:
// a full-size mapping would cost a page fault (and, in a virtual machine, often more) for every
// 4 KiB of the picture in this process too, besides the program's own. False (nothing said in
// the reply) when the picture is not one to hand over so; the caller then converts it whole.
bool HandOverInBands(const uint8_t* info, size_t infoSize, const uint8_t* bits, size_t bitsSize,
                     Reply& reply, std::string& payload, UniqueFd* memory) {
    BITMAPINFOHEADER bi{};
    if (infoSize < sizeof bi)
        return false;
    std::memcpy(&bi, info, sizeof bi);
    if (bi.biSize < sizeof bi || bi.biSize > infoSize || bi.biBitCount != 24 ||
        bi.biCompression != BI_RGB || bi.biWidth <= 0 || bi.biHeight == 0 ||
        bi.biHeight == INT32_MIN)
        return false;
    const bool topDown = bi.biHeight < 0;
    const int w = bi.biWidth, h = topDown ? -bi.biHeight : bi.biHeight;
    if (h < kBandedRows || w > IK_MAX_SIDE || h > IK_MAX_SIDE || int64_t(w) * h > IK_MAX_PIXELS)
        return false;
    const size_t stride = (size_t(w) * 24 + 31) / 32 * 4;
    if (bitsSize / stride < size_t(h))
        return false;
    const size_t line = DibRead::RowBytes(w, DibRead::kRgb888);
    const int band = int(std::clamp<size_t>(kBandBytes / line, 1, size_t(h)));
    UniqueFd mem = SharedMap::CreateUnmapped(line * size_t(h));
    if (!mem.Valid()) {
        reply.status = kStatusNoMemory;
        return true;
    }
    // Each band is a picture of its own: the same header with the band's height.
    std::vector<uint8_t> header(info, info + infoSize);
    std::vector<uint8_t> buffer(line * size_t(band));
    for (int y0 = 0; y0 < h; y0 += band) {
        const int rows = std::min(band, h - y0);
        // Picture rows y0 .. y0 + rows - 1 from the top; a bottom-up picture stores them last.
        const size_t first = topDown ? size_t(y0) : size_t(h - y0 - rows);
        const int32_t height = topDown ? -rows : rows;
        std::memcpy(header.data() + offsetof(BITMAPINFOHEADER, biHeight), &height, sizeof height);
        std::string why;
        bool fits = true;
        DibRead::Picture rowsRead;
        const bool read = DibRead::Read(
            header.data(), header.size(), bits + first * stride, stride * size_t(rows),
            [&](int bw, int bh, DibRead::Format format) {
                fits = bw == w && bh == rows && format == DibRead::kRgb888;
                return fits ? DibRead::Canvas{buffer.data(), line} : DibRead::Canvas{};
            },
            &rowsRead, &why);
        if (!read || !fits) {
            reply.status = kStatusUnreadable;
            payload = why;
            return true;
        }
        if (!SharedMap::WriteShared(mem.Get(), buffer.data(), line * size_t(rows),
                                    uint64_t(y0) * line)) {
            reply.status = kStatusNoMemory;
            return true;
        }
    }
    if (!SharedMap::SealSize(mem.Get())) {
        reply.status = kStatusNoMemory;
        return true;
    }
    reply.format = DibRead::kRgb888;
    reply.pictureWidth = w;
    reply.pictureHeight = h;
    reply.bytesPerLine = int32_t(line);
    reply.pictureBytes = line * size_t(h);
    *memory = std::move(mem);
    return true;
}

void Blocks::HandOver(int factor, Reply& reply, std::string& payload, UniqueFd* memory) {
    if (factor <= 1 && HandOverInBands(static_cast<const uint8_t*>(LocalLock(m_header)),
                                       m_headerSize, static_cast<const uint8_t*>(LocalLock(m_bits)),
                                       m_bitsSize, reply, payload, memory)) {
        Free();
        return;
    }
    SharedMap shared;
    bool noMemory = false;
    const DibRead::CanvasMaker make = [&](int w, int h, DibRead::Format format) {
        const size_t line = DibRead::RowBytes(w, format);
        shared = SharedMap::Create(line * size_t(h), memory);
        if (!shared.Valid()) {
            noMemory = true;
            return DibRead::Canvas{};
        }
        return DibRead::Canvas{shared.Data(), line};
    };
    std::string why;
    DibRead::Picture picture;
    const bool read = DibRead::Read(LocalLock(m_header), m_headerSize, LocalLock(m_bits),
                                    m_bitsSize, make, &picture, &why, factor);
    Free();
    if (!read) {
        memory->Reset();
        reply.status = noMemory ? kStatusNoMemory : kStatusUnreadable;
        payload = why;
        return;
    }
    if (!SharedMap::SealSize(memory->Get())) {
        memory->Reset();
        reply.status = kStatusNoMemory;
        return;
    }
    reply.format = picture.format;
    reply.pictureWidth = picture.width;
    reply.pictureHeight = picture.height;
    reply.bytesPerLine = int32_t(DibRead::RowBytes(picture.width, picture.format));
    reply.pictureBytes = shared.Size();
    reply.colours = int32_t(std::min<size_t>(picture.colours.size(), kMaxColours));
    payload.assign(reinterpret_cast<const char*>(picture.colours.data()),
                   size_t(reply.colours) * sizeof(uint32_t));
}

// Calls GetPicture (a box of 0 x 0) or GetPictureScaled; true with both blocks in *blocks. False
// when the plug-in failed (its result is in the reply) or its success brought no picture.
bool CallPicture(const Plugin& p, const char* path, int64_t offset, int boxWidth, int boxHeight,
                 Reply& reply, std::string& payload, Blocks* blocks) {
    HLOCAL header = nullptr, bits = nullptr;
    if (boxWidth > 0 && boxHeight > 0)
        reply.result = p.scaled(path, intptr_t(offset), SPI_INPUT_FILE, &header, &bits, nullptr, 0,
                                boxWidth, boxHeight);
    else
        reply.result =
            p.picture(path, intptr_t(offset), SPI_INPUT_FILE, &header, &bits, nullptr, 0);
    if (reply.result != SPI_ALL_RIGHT)
        return false; // what a failed call left in the outputs is not a block to free
    if (!blocks->Take(header, bits)) {
        // Success without both blocks is no picture.
        reply.status = kStatusBadPicture;
        payload = "no picture blocks";
        return false;
    }
    return true;
}

// Decodes the whole picture into shared memory; *memory receives its descriptor.
void AskPicture(const Plugin& p, const char* path, int64_t offset, Reply& reply,
                std::string& payload, UniqueFd* memory) {
    Blocks blocks;
    if (CallPicture(p, path, offset, 0, 0, reply, payload, &blocks))
        blocks.HandOver(1, reply, payload, memory);
}

// A picture for a thumbnail (kCallPictureScaled). GetPictureScaled's answer is taken when it holds
// together and is large enough: at least as large as the box on one side (a pixel less for
// rounding), or else the whole picture, as GetPictureInfo tells its size. Otherwise (an error, a
// picture that does not hold together or one smaller than promised) the plug-in's GetPicture
// decides, as for a plug-in without the extension: the reduced entry is an optimisation and never
// costs the file its picture. Either picture is then reduced here as the program would reduce it
// for the thumbnail (by the whole factor that keeps it at least the fitted size), so that only a
// small picture crosses to the program.
void AskScaled(const Plugin& p, const char* path, int64_t offset, int boxWidth, int boxHeight,
               Reply& reply, std::string& payload, UniqueFd* memory) {
    const Extent box{boxWidth, boxHeight};
    // The whole picture's size, told with a picture that is not it.
    auto tellWhole = [&reply](Extent whole, Extent sent) {
        if (!whole.Empty() && whole != sent) {
            reply.width = whole.width;
            reply.height = whole.height;
        }
    };
    if (p.scaled && boxWidth > 0 && boxHeight > 0) {
        Blocks blocks;
        const bool got = CallPicture(p, path, offset, boxWidth, boxHeight, reply, payload, &blocks);
        if (!got && reply.result == SPI_ABORT)
            return; // stopped: GetPicture would be stopped alike
        const Extent size = got ? blocks.Size() : Extent();
        if (got && !size.Empty()) {
            const int w = size.width, h = size.height;
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
            if (whole || largeEnough) {
                blocks.HandOver(Reduction(size, box), reply, payload, memory);
                if (reply.status == kStatusOk) {
                    const Extent sent{reply.pictureWidth, reply.pictureHeight};
                    tellWhole(whole  ? size
                              : told ? Extent{info.width, info.height}
                                     : Extent(),
                              sent);
                    return;
                }
            }
        }
        // Not taken: the memory and what was said of it go.
        blocks.Free();
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
    Blocks blocks;
    if (!CallPicture(p, path, offset, 0, 0, reply, payload, &blocks))
        return;
    const Extent size = blocks.Size();
    blocks.HandOver(box.Empty() ? 1 : Reduction(size, box), reply, payload, memory);
    if (reply.status == kStatusOk)
        tellWhole(size, Extent{reply.pictureWidth, reply.pictureHeight});
}

void Answer(const Request& req, const std::string& body, Reply& reply, std::string& payload,
            UniqueFd* memory) {
    const std::string module = body.substr(0, req.moduleLength);
    const std::string path = body.substr(req.moduleLength, req.pathLength);
    const std::string head = body.substr(size_t(req.moduleLength) + req.pathLength);
    Plugin& p = PluginAt(module);
    if (!p.module) {
        const std::string foreign = Module::ForeignReasonNative(module.c_str());
        reply.status = foreign.empty() ? kStatusNotLoaded : kStatusNotPlugin;
        payload = foreign.empty() ? p.failure : foreign;
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
        std::memcpy(buf.data(), head.data(), std::min<size_t>(head.size(), SPI_HEAD_SIZE));
        reply.result = p.isSupported(path.c_str(), reinterpret_cast<uintptr_t>(buf.data()));
        return;
    }
    case kCallPictureInfo:
        if (!p.pictureInfo) {
            reply.status = kStatusNoEntry;
            return;
        }
        AskPictureInfo(p, path.c_str(), req.offset, reply, payload);
        return;
    case kCallPicture:
        if (!p.picture) {
            reply.status = kStatusNoEntry;
            return;
        }
        AskPicture(p, path.c_str(), req.offset, reply, payload, memory);
        return;
    case kCallPictureScaled:
        if (req.width < 0 || req.height < 0) {
            reply.status = kStatusBadRequest;
            return;
        }
        AskScaled(p, path.c_str(), req.offset, req.width, req.height, reply, payload, memory);
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
    std::string why;
    if (!Sandbox::Enter(&why))
        return 1; // never run a plug-in unconfined
    for (;;) {
        Request req;
        if (!HelperChannel::ReceiveAll(kSocketFd, &req, sizeof req))
            return 0; // the program closed its end
        const uint64_t body = uint64_t(req.moduleLength) + req.pathLength + req.headLength;
        if (req.magic != kRequestMagic || body > kMaxPayload)
            return 1;
        std::string bytes(size_t(body), '\0');
        if (body > 0 && !HelperChannel::ReceiveAll(kSocketFd, bytes.data(), size_t(body)))
            return 0;
        Reply reply;
        reply.call = req.call;
        reply.serial = req.serial;
        std::string payload;
        UniqueFd memory;
        if (req.moduleLength == 0)
            reply.status = kStatusBadRequest;
        else
            Answer(req, bytes, reply, payload, &memory);
        if (payload.size() > size_t(kMaxPayload))
            payload.resize(kMaxPayload);
        reply.payloadLength = uint32_t(payload.size());
        reply.retiring = Sandbox::CpuSeconds() >= Sandbox::kCpuRetireSeconds ? 1 : 0;
        if (!HelperChannel::Send(kSocketFd, &reply, sizeof reply, payload.data(), payload.size(),
                                 memory.Get()))
            return 0;
        if (reply.retiring)
            return 0;
    }
}
