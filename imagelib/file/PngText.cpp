// The text keys of a PNG file (tEXt chunks before the picture data), as the shared thumbnail
// cache uses them. Only headers are read; nothing is decoded.
#include "file/Formats.h"

using namespace ik;

namespace {

constexpr uint32_t kMaxTextChunk = 64 * 1024; // a key and its value; the cache's are far smaller
constexpr int kMaxChunks = 1000;

} // namespace

extern "C" int IKPngTextRead(const char* path, char* buffer, int size) {
    Call call;
    if (!buffer || size < 1)
        return call.Done(false, IK_ERR_ARGUMENT, "no buffer") ? 0 : 0;
    buffer[0] = '\0';
    File f(path);
    if (!f.IsOpen())
        return call.Done(false, IK_ERR_OPEN, f.Error().constData()) ? 0 : 0;
    static const uchar signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    uchar head[8];
    if (!f.ReadAt(0, head, 8) || std::memcmp(head, signature, 8) != 0)
        return call.Done(false, IK_ERR_FORMAT, "not a PNG file") ? 0 : 0;
    // "key\0value\0" for each text chunk, the list ended by an empty key.
    QByteArray out;
    int64_t pos = 8;
    for (int n = 0; n < kMaxChunks; ++n) {
        uchar chunk[8];
        if (!f.ReadAt(pos, chunk, 8))
            break;
        const uint32_t length = BE32(chunk);
        if (length > 0x7FFFFFFFu)
            break;
        if (std::memcmp(chunk + 4, "IDAT", 4) == 0 || std::memcmp(chunk + 4, "IEND", 4) == 0)
            break;
        if (std::memcmp(chunk + 4, "tEXt", 4) == 0 && length <= kMaxTextChunk) {
            const QByteArray data = f.ReadAt(pos + 8, length);
            const qsizetype nul = data.indexOf('\0');
            if (data.size() == qsizetype(length) && nul > 0) {
                out += data.left(nul) + '\0' + data.mid(nul + 1) + '\0';
            }
        }
        pos += 12 + int64_t(length);
    }
    if (out.size() + 1 > size)
        return call.Done(false, IK_ERR_ARGUMENT, "the buffer is too small") ? 0 : 0;
    std::memcpy(buffer, out.constData(), size_t(out.size()));
    buffer[out.size()] = '\0';
    call.Done(true, IK_ERR_NONE, "");
    return int(out.size()) + 1;
}
