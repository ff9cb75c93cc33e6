// GIF decoding through giflib: the first frame on the logical screen, with transparency.
#include "file/Formats.h"

#include <gif_lib.h>

namespace ik {

Image DecodeGif(const char* path, Progress* progress) {
    int error = 0;
    GifFileType* gif = DGifOpenFileName(path, &error);
    if (!gif)
        return Image();
    Image out;
    int transparent = -1;
    bool done = false, failed = false;
    while (!done && !failed) {
        GifRecordType kind;
        if (DGifGetRecordType(gif, &kind) == GIF_ERROR) {
            failed = true;
            break;
        }
        switch (kind) {
        case EXTENSION_RECORD_TYPE: {
            int code = 0;
            GifByteType* ext = nullptr;
            if (DGifGetExtension(gif, &code, &ext) == GIF_ERROR) {
                failed = true;
                break;
            }
            if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4 && (ext[1] & 1))
                transparent = ext[4];
            while (ext) {
                if (DGifGetExtensionNext(gif, &ext) == GIF_ERROR) {
                    failed = true;
                    break;
                }
            }
            break;
        }
        case IMAGE_DESC_RECORD_TYPE: {
            if (DGifGetImageDesc(gif) == GIF_ERROR) {
                failed = true;
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
            if (!SizeAllowed(sw, sh) || fw <= 0 || fh <= 0) {
                failed = true;
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
                failed = true;
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
            // Interlaced frames arrive in four passes.
            static const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
            const int passes = d.Interlace ? 4 : 1;
            int64_t rowsDone = 0;
            for (int p = 0; p < passes && !failed; ++p) {
                for (int64_t r = d.Interlace ? start[p] : 0; r < fh;
                     r += d.Interlace ? step[p] : 1) {
                    if (DGifGetLine(gif, line.data(), int(fw)) == GIF_ERROR) {
                        failed = true;
                        break;
                    }
                    std::memcpy(out.img.scanLine(int(d.Top + r)) + d.Left, line.data(), size_t(fw));
                    if (progress && !progress->Step(++rowsDone, fh)) {
                        failed = true;
                        break;
                    }
                }
            }
            done = true;
            break;
        }
        case TERMINATE_RECORD_TYPE:
            failed = out.IsNull();
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
