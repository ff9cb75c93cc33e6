// Every setting of the program: section, value name and default. Parts of the program read and
// write settings only through these and the profile functions.
#pragma once

#include "platform/Profile.h"

#include <QString>
#include <initializer_list>

struct IntSetting {
    const char* section;
    const char* value;
    int def;
};

struct StrSetting {
    const char* section;
    const char* value;
    const char16_t* def;
};

namespace Settings {

// "System"
inline constexpr IntSetting InitMode{"System", "InitMode", 3};
inline constexpr StrSetting InitDir{"System", "InitDir", u""};
inline constexpr IntSetting DblClkMode{"System", "DblClkMode", 0};
inline constexpr IntSetting UseSusiePlugin{"System", "UseSusiePlugin", 0};
inline constexpr StrSetting SusiePlugin{"System", "SusiePlugin", u""};

// "View"
inline constexpr IntSetting ThumbnailSizeX{"View", "ThumbnailSizeX", 80};
inline constexpr IntSetting ThumbnailSizeY{"View", "ThumbnailSizeY", 80};
inline constexpr IntSetting PureMode{"View", "PureMode", 0};
inline constexpr IntSetting SortMode{"View", "SortMode", 0};
inline constexpr IntSetting SortAscend{"View", "SortAscend", 1};
inline constexpr IntSetting SplPos{"View", "SplPos", 0}; // read only
inline constexpr IntSetting Colum{"View", "Colum", 260}; // read only
inline constexpr IntSetting Row{"View", "Row", 260};     // read only
// The memory decoded thumbnails may hold, in megabytes; pictures farthest from the visible rows
// are dropped beyond it and made again when they come back into view. Only read.
inline constexpr IntSetting ThumbnailMemory{"View", "ThumbnailMemory", 256};

// "Window": where the main window and the preview were when they were last closed, written then:
// their client areas in screen coordinates (the main window's when it is not maximised); a width
// of 0 means none saved. The tree's size is kept for each arrangement of the splitter (-1: none
// saved, View\Colum or View\Row applies).
inline constexpr IntSetting WindowLeft{"Window", "Left", 0};
inline constexpr IntSetting WindowTop{"Window", "Top", 0};
inline constexpr IntSetting WindowWidth{"Window", "Width", 0};
inline constexpr IntSetting WindowHeight{"Window", "Height", 0};
inline constexpr IntSetting WindowMaximized{"Window", "Maximized", 0};
inline constexpr IntSetting TreeWidth{"Window", "TreeWidth", -1};
inline constexpr IntSetting TreeHeight{"Window", "TreeHeight", -1};
inline constexpr IntSetting PreviewLeft{"Window", "PreviewLeft", 0};
inline constexpr IntSetting PreviewTop{"Window", "PreviewTop", 0};
inline constexpr IntSetting PreviewWidth{"Window", "PreviewWidth", 0};
inline constexpr IntSetting PreviewHeight{"Window", "PreviewHeight", 0};

// "Font": the thumbnails' file-name font
inline constexpr StrSetting FontFaceName{"Font", "FaceName", u"ＭＳ Ｐゴシック"};
inline constexpr IntSetting FontSize{"Font", "Size", -13};
inline constexpr IntSetting FontWeight{"Font", "Weight", 400};
inline constexpr IntSetting FontItalic{"Font", "Italic", 0};
inline constexpr IntSetting FontUnderline{"Font", "Underline", 0};
inline constexpr IntSetting FontCharSet{"Font", "CharSet", 128};

// "DirTree": favourite folders, "Favorites1" to "Favorites<count>"
inline constexpr IntSetting FavoritesCount{"DirTree", "FavoritesCount", 0};
inline constexpr const char* FavoritesSection = "DirTree";
inline constexpr const char* FavoritesEntry = "Favorites%1"; // %1 = position from 1
inline constexpr const char16_t* FavoritesDefault = u"";

// Save options. The transparent colours default to black where the converter reads them and to
// white where the option sheet reads them.
inline constexpr IntSetting GifBack{"Gif", "Back", 0};
inline constexpr IntSetting GifInter{"Gif", "Inter", 0};
inline constexpr IntSetting GifBackColorConvert{"Gif", "BackColor", 0};
inline constexpr IntSetting GifBackColorSheet{"Gif", "BackColor", 0xFFFFFF};
inline constexpr IntSetting JpegInter{"Jpeg", "Inter", 0};
inline constexpr IntSetting JpegQuality{"Jpeg", "Quality", 75};
inline constexpr IntSetting JpegSubSamp{"Jpeg", "SubSamp", 0};
inline constexpr IntSetting TiffType{"Tiff", "Type", 0};
inline constexpr IntSetting PngBack{"Png", "Back", 0};
inline constexpr IntSetting PngInter{"Png", "Inter", 0};
inline constexpr IntSetting PngBackColorConvert{"Png", "BackColor", 0};
inline constexpr IntSetting PngBackColorSheet{"Png", "BackColor", 0xFFFFFF};

// Conversion values without a dialog (changed only by editing the settings)
inline constexpr IntSetting CmdDisplay{"Cmd", "Display", 0};
inline constexpr IntSetting ColorPal{"Color", "Pal", 0};
inline constexpr IntSetting ColorDither{"Color", "Dither", 1};

// "Alert"
inline constexpr IntSetting AlertTypeChange{"Alert", "TypeChange", 0};

// The standard profile settings read at start; never written.
inline constexpr IntSetting PreviewPages{"Settings", "PreviewPages", 0};

// The main frame's bar state is kept under sections named after this profile name:
// "General-Summary" and "General-Bar<n>".
inline constexpr const char* BarStateProfile = "General";

inline int Get(const IntSetting& s) {
    return Profile::GetInt(QLatin1String(s.section), QLatin1String(s.value), s.def);
}
inline QString Get(const StrSetting& s) {
    return Profile::GetString(QLatin1String(s.section), QLatin1String(s.value),
                              QString::fromUtf16(s.def));
}
inline void Write(const IntSetting& s, int v) {
    Profile::WriteInt(QLatin1String(s.section), QLatin1String(s.value), v);
}
inline void Write(const StrSetting& s, const QString& v) {
    Profile::WriteString(QLatin1String(s.section), QLatin1String(s.value), v);
}
// Several integer values of one section in one write (see Profile::WriteValues).
inline void WriteInts(std::initializer_list<std::pair<IntSetting, int>> values) {
    if (values.size() == 0)
        return;
    std::vector<std::pair<QString, QString>> texts;
    for (const auto& [setting, v] : values)
        texts.emplace_back(QLatin1String(setting.value), QString::number(v));
    Profile::WriteValues(QLatin1String(values.begin()->first.section), texts);
}

} // namespace Settings
