// What Quilla and its plug-in helper (quilla-spihost) say to each other over their socket pair.
//
// Every message is a fixed header followed by a payload whose length the header gives. A request
// names the call, the plug-in (its path) and the file; the reply carries the plug-in's result, the
// picture information and texts in its payload, and a picture as a shared-memory descriptor
// (memfd) passed with the header. Nothing in a reply is trusted: the host checks every size
// against the others before it reads anything.
#pragma once

#include <cstddef>
#include <cstdint>

namespace SpiWire {

inline constexpr uint32_t kRequestMagic = 0x51535251u; // "QRSQ"
inline constexpr uint32_t kReplyMagic = 0x51535250u;   // "PRSQ"

// The calls. Only kCallPictureScaled uses the request's width and height; the others leave them 0.
enum Call : uint32_t {
    kCallPluginInfo = 1,  // the plug-in's texts: version, name, patterns and format names
    kCallIsSupported = 2, // payload: the file's first bytes
    kCallPictureInfo = 3,
    kCallPicture = 4,
    kCallPluginText = 5, // one text of GetPluginInfo afresh; the number is the request's offset
    // A picture for a thumbnail, at least as large as the whole picture fitted into the request's
    // width x height: GetPictureScaled when the plug-in exports it and its picture holds
    // together, GetPicture otherwise. The reply's width and height are then the whole picture's
    // size as GetPictureInfo tells it (0 when the picture sent is the whole picture, or the
    // plug-in did not tell).
    kCallPictureScaled = 6,
};

// The helper's own verdict on a call, besides the plug-in's result.
enum Status : int32_t {
    kStatusOk = 0,
    kStatusNotLoaded = 1,  // the module cannot be loaded (the reason is the payload)
    kStatusNoEntry = 2,    // the module lacks the export the call needs
    kStatusBadPicture = 3, // the plug-in's picture does not hold together (reason in payload)
    kStatusNoMemory = 4,   // no shared memory for the picture
    kStatusBadRequest = 5, // the request does not hold together
    kStatusNotPlugin = 6,  // a shared object for another system (the reason is the payload)
    kStatusUnreadable = 7, // a picture the host cannot take (too large, odd depth): no image
};

#pragma pack(push, 1)
struct Request {
    uint32_t magic = kRequestMagic;
    uint32_t call = 0;
    uint64_t serial = 0;
    int64_t offset = 0; // the picture's offset in the file
    int32_t width = 0;  // wanted size of a scaled picture; 0 for the calls above
    int32_t height = 0;
    uint32_t moduleLength = 0; // payload: the plug-in's path,
    uint32_t pathLength = 0;   // the file's path,
    uint32_t headLength = 0;   // and the file's first bytes, in this order
    uint32_t reserved = 0;
};

struct Reply {
    uint32_t magic = kReplyMagic;
    uint32_t call = 0;
    uint64_t serial = 0;
    int32_t status = kStatusOk;
    int32_t result = 0; // what the plug-in returned
    // GetPictureInfo's record (its text block comes as the payload).
    int32_t left = 0, top = 0, width = 0, height = 0;
    int32_t xDensity = 0, yDensity = 0, colorDepth = 0;
    // The picture in the shared memory: a QImage format, its size and row length, and the
    // number of colour-table entries that precede the text in the payload.
    int32_t format = 0;
    int32_t pictureWidth = 0;
    int32_t pictureHeight = 0;
    int32_t bytesPerLine = 0;
    int32_t colours = 0;
    uint64_t pictureBytes = 0;
    uint32_t payloadLength = 0;
    uint32_t retiring = 0; // the helper ends after this reply (it has used its time)
};
#pragma pack(pop)

// The most a payload may hold either way: a request's paths and head, a reply's texts.
inline constexpr uint32_t kMaxPayload = 1u << 20;
// The most colour-table entries a picture carries.
inline constexpr int32_t kMaxColours = 256;

} // namespace SpiWire
