// GIF decoding through giflib: the first frame on the logical screen, with transparency.
#include "file/Formats.h"

#include <gif_lib.h>

namespace ik {

namespace {

QByteArray GifReason(int error) {
    const char* text = GifErrorString(error);
    return QByteArray("GIF: ") + (text ? text : "damaged file");
}

// Interlaced frames arrive in four passes; each row of a pass also stands for the rows below it
// up to the next row of an earlier or the same pass, so a file that ends early shows its earlier
// passes enlarged.
constexpr int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2}, kCovers[4] = {8, 4, 2, 1};

// giflib reads the file through this: buffered, so that a file of many tiny blocks costs a copy
// a block rather than a locked stdio call.
struct GifSource {
    File* file;
    int64_t pos;
};

int ReadGif(GifFileType* gif, GifByteType* buf, int n) {
    auto* src = static_cast<GifSource*>(gif->UserData);
    const int take = int(std::clamp<int64_t>(src->file->Size() - src->pos, 0, n));
    if (take > 0 && !src->file->ReadAt(src->pos, buf, size_t(take)))
        return 0;
    src->pos += take;
    return take;
}

} // namespace

Image DecodeGif(const char* path, Progress* progress) {
    File file(path);
    if (!file.IsOpen())
        return Refuse(IK_ERR_OPEN, file.Error());
    GifSource source{&file, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&source, ReadGif, &error);
    if (!gif)
        return Refuse(IK_ERR_DATA, GifReason(error));
    Image out;
    int transparent = -1;
    bool done = false, failed = false;
    while (!done && !failed) {
        GifRecordType kind;
        if (DGifGetRecordType(gif, &kind) == GIF_ERROR) {
            failed = !Fail(IK_ERR_DATA, GifReason(gif->Error));
            break;
        }
        switch (kind) {
        case EXTENSION_RECORD_TYPE: {
            int code = 0;
            GifByteType* ext = nullptr;
            if (DGifGetExtension(gif, &code, &ext) == GIF_ERROR) {
                failed = !Fail(IK_ERR_DATA, GifReason(gif->Error));
                break;
            }
            if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4 && (ext[1] & 1))
                transparent = ext[4];
            while (ext) {
                if (DGifGetExtensionNext(gif, &ext) == GIF_ERROR) {
                    failed = !Fail(IK_ERR_DATA, GifReason(gif->Error));
                    break;
                }
            }
            break;
        }
        case IMAGE_DESC_RECORD_TYPE: {
            if (DGifGetImageDesc(gif) == GIF_ERROR) {
                failed = !Fail(IK_ERR_DATA, GifReason(gif->Error));
                break;
            }
            const GifImageDesc& d = gif->Image;
            const int64_t fw = d.Width, fh = d.Height;
            int64_t sw = gif->SWidth, sh = gif->SHeight;
            if (sw < d.Left + fw || sh < d.Top + fh) {
                // A frame that overhangs the screen widens the canvas to hold it.
                sw = std::max<int64_t>(sw, d.Left + fw);
                sh = std::max<int64_t>(sh, d.Top + fh);
            }
            if (fw <= 0 || fh <= 0) {
                failed = !Fail(IK_ERR_DATA, "GIF: an empty frame");
                break;
            }
            if (!SizeAllowed(sw, sh)) {
                failed = !Fail(IK_ERR_LIMIT, "GIF: the picture is larger than the library's limit");
                break;
            }
            const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
            const int colours = map ? std::min(map->ColorCount, 256) : 256;
            QVector<QRgb> table(colours);
            for (int i = 0; i < colours; ++i)
                table[i] = map ? qRgb(map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue)
                               : qRgb(i, i, i);
            if (transparent >= 0 && transparent < colours)
                table[transparent] &= 0x00FFFFFF;
            out.img = QImage(int(sw), int(sh), QImage::Format_Indexed8);
            if (out.img.isNull()) {
                failed = !Fail(IK_ERR_MEMORY, "GIF: out of memory");
                break;
            }
            out.img.setColorTable(table);
            out.bpp = PaletteDepth(colours);
            // Outside the frame: transparent where the frame has a transparent colour, else the
            // screen's background colour.
            const int fill = transparent >= 0 && transparent < colours ? transparent
                             : gif->SBackGroundColor < colours         ? gif->SBackGroundColor
                                                                       : 0;
            out.img.fill(uint(fill));
            std::vector<GifPixelType> line(static_cast<size_t>(fw));
            const int passes = d.Interlace ? 4 : 1;
            int64_t rowsDone = 0;
            int64_t covered = 0; // frame rows from the top that hold something
            bool lineError = false;
            for (int p = 0; p < passes && !failed && !lineError; ++p) {
                const int64_t step = d.Interlace ? kStep[p] : 1;
                const int64_t spans = d.Interlace ? kCovers[p] : 1;
                for (int64_t r = d.Interlace ? kStart[p] : 0; r < fh; r += step) {
                    if (DGifGetLine(gif, line.data(), int(fw)) == GIF_ERROR) {
                        Fail(IK_ERR_DATA, GifReason(gif->Error));
                        lineError = true;
                        break;
                    }
                    for (int64_t k = 0; k < spans && r + k < fh; ++k)
                        std::memcpy(out.img.scanLine(int(d.Top + r + k)) + d.Left, line.data(),
                                    size_t(fw));
                    if (p == 0)
                        covered = std::min(fh, r + spans);
                    if (progress && !progress->Step(++rowsDone, fh)) {
                        failed = true;
                        break;
                    }
                }
            }
            if (lineError) {
                // A file that ends (or breaks) inside the frame: what was read, the rest grey.
                if (rowsDone == 0) {
                    failed = true;
                } else {
                    FillMissing(
                        out, QRect(int(d.Left), int(d.Top + covered), int(fw), int(fh - covered)));
                    Note(IK_STATUS_TRUNCATED,
                         "GIF: the file ends early; the rest of the picture is grey");
                }
            }
            done = true;
            break;
        }
        case TERMINATE_RECORD_TYPE:
            failed = out.IsNull() && !Fail(IK_ERR_DATA, "GIF: the file holds no picture");
            done = true;
            break;
        default:
            break;
        }
    }
    DGifCloseFile(gif, &error);
    return failed ? Image() : out;
}

} // namespace ik
