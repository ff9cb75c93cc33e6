// The conversion of one image file: load, colour depth, size, and the save of the target format
// with its options. The same routine serves the conversion command of the grid and the
// command-line converter, so both write the same files from the same settings.
#pragma once

#include <QString>
#include <optional>

class QWidget;

namespace Convert {

// The output formats in the order of the format list.
enum Format : int { Bmp = 0, Gif = 1, Jpeg = 2, Tiff = 3, Pcx = 4, Png = 5 };
inline constexpr int kFormatCount = 6;
// The format list's text ("GIFF" is the list's own spelling) and the extension written.
const char* FormatListText(int format);
const char* FormatExtension(int format);
// True for the formats that have an option page (GIF, JPEG, TIFF, PNG).
bool HasOptionPage(int format);

// The colour list: its texts and the bits per pixel each entry requests (0 = no conversion).
inline constexpr int kColourCount = 7;
QString ColourListText(int index);
// The bits per pixel of a colour list index; -1 (nothing chosen) and 0 request none.
int BitsOfColourIndex(int index);

// Every value the conversion reads from the settings, with the converter's defaults. A value that
// is set here is used instead of the stored one (the command-line converter's overrides).
struct Options {
    std::optional<int> display; // "Cmd"/"Display"
    std::optional<int> palette; // "Color"/"Pal"
    std::optional<int> dither;  // "Color"/"Dither"
    std::optional<int> gifInterlace, gifTransparent;
    std::optional<unsigned> gifColour;
    std::optional<int> jpegQuality, jpegProgressive, jpegSubsampling;
    std::optional<int> tiffCompression;
    std::optional<int> pngInterlace, pngTransparent;
    std::optional<unsigned> pngColour;

    // Each value from the override when set, else from the settings (converter defaults).
    int Display() const;
    int Palette() const;
    int Dither() const;
    int GifInterlace() const;
    int GifTransparent() const;
    unsigned GifColour() const;
    int JpegQuality() const;
    int JpegProgressive() const;
    int JpegSubsampling() const;
    int TiffCompression() const;
    int PngInterlace() const;
    int PngTransparent() const;
    unsigned PngColour() const;

    // Every value fixed now: the overrides as they are, the rest read from the settings.
    Options Resolved() const;
};

// One file to convert. Width or height 0 means that side is not given.
struct Request {
    QString source;
    QString destination;
    int format = Bmp;
    int bits = 0;
    int width = 0;
    int height = 0;
};

enum class Result {
    Ok,
    LoadFailed,   // the source could not be read
    ResizeFailed, // the library could not resize (or a side is out of range)
    BadRatio,     // the picture is too wide to compute its missing side (ratio 0)
    SaveFailed,   // the destination could not be written
    BadFormat,    // the format index names no format
    NotRegular,   // the source is no regular file (a FIFO or a device, say): it is not opened
};
// A short English reason for messages outside the dialogs (the command-line converter).
const char* ResultText(Result r);

// Converts one file without any window: the library's own progress window is shown only when
// show is set, which only the user-interface thread may do. Options are read as the steps reach
// them. When the source cannot be read because of a plug-in, *reason (if given) says why in the
// plug-in host's words; it is "" otherwise.
Result ConvertFile(const Request& request, const Options& options, bool show,
                   QString* reason = nullptr);

// The conversion of one file as the conversion command runs it on the user-interface thread:
// the progress display follows "Cmd"/"Display", a failed resize is reported with a message box
// holding the bare source path. Returns 1 on success and 0 on failure.
int ConvertImageFile(const QString& source, const QString& destination, int format, int bits,
                     int width, int height);

// The output folder with exactly one "/" at its end ("" becomes "/").
QString WithSeparator(const QString& folder);
// The destination of a file: folderWithSeparator + its name, with everything from the name's last
// "." replaced by the format's extension (a name without a dot gets the extension appended).
QString DestinationOf(const QString& folderWithSeparator, const QString& fileName, int format);

} // namespace Convert
