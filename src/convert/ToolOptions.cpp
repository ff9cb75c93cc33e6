#include "convert/ToolOptions.h"

#include "ik6.h"

#include <QRegularExpression>

namespace ConvertTool {

namespace {

int FormatByName(const QString& name) {
    const QString n = name.toLower();
    if (n == QLatin1String("bmp"))
        return Convert::Bmp;
    if (n == QLatin1String("gif"))
        return Convert::Gif;
    if (n == QLatin1String("jpeg") || n == QLatin1String("jpg"))
        return Convert::Jpeg;
    if (n == QLatin1String("tiff") || n == QLatin1String("tif"))
        return Convert::Tiff;
    if (n == QLatin1String("pcx"))
        return Convert::Pcx;
    if (n == QLatin1String("png"))
        return Convert::Png;
    return -1;
}

// The colour list's entries by the names the command line gives them.
int BitsByName(const QString& name) {
    static const struct {
        const char* name;
        int bits;
    } names[] = {{"none", 0},   {"2", 1},      {"16", 4},    {"256", 8},
                 {"16bit", 16}, {"24bit", 24}, {"32bit", 32}};
    for (const auto& n : names)
        if (name.compare(QLatin1String(n.name), Qt::CaseInsensitive) == 0)
            return n.bits;
    return -1;
}

int IndexOf(const QString& value, const QStringList& names) {
    for (int i = 0; i < names.size(); ++i)
        if (value.compare(names[i], Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

bool ParseCount(const QString& text, int min, int max, int& out) {
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    if (!ok || v < min || v > max)
        return false;
    out = v;
    return true;
}

// The options the tool knows, by their long and short names, and whether each takes a value.
struct OptionName {
    const char* longName;
    char shortName;
    bool takesValue;
};
constexpr OptionName kOptions[] = {
    {"format", 'f', true},          {"colors", 'c', true},      {"width", 'W', true},
    {"height", 'H', true},          {"output", 'o', true},      {"jobs", 'j', true},
    {"quality", 0, true},           {"subsampling", 0, true},   {"tiff-compression", 0, true},
    {"transparent", 0, true},       {"progressive", 0, false},  {"no-progressive", 0, false},
    {"interlace", 0, false},        {"no-interlace", 0, false}, {"no-transparent", 0, false},
    {"overwrite-source", 0, false}, {"quiet", 'q', false},      {"help", 'h', false},
    {"version", 0, false},
};

const OptionName* FindLong(const QString& name) {
    for (const OptionName& s : kOptions)
        if (name == QLatin1String(s.longName))
            return &s;
    return nullptr;
}

const OptionName* FindShort(QChar c) {
    for (const OptionName& s : kOptions)
        if (s.shortName && c == QLatin1Char(s.shortName))
            return &s;
    return nullptr;
}

} // namespace

QString Parse(const QStringList& args, Settings& out) {
    out = Settings();
    QString interlace, transparent, progressive, quality, subsampling, tiffType;
    bool onlyFiles = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (onlyFiles || arg == QLatin1String("-") || !arg.startsWith(QLatin1Char('-'))) {
            out.files << arg;
            continue;
        }
        if (arg == QLatin1String("--")) {
            onlyFiles = true;
            continue;
        }
        const OptionName* option = nullptr;
        QString value;
        bool hasValue = false;
        if (arg.startsWith(QLatin1String("--"))) {
            const qsizetype eq = arg.indexOf(QLatin1Char('='));
            const QString name = arg.mid(2, eq < 0 ? -1 : eq - 2);
            option = FindLong(name);
            if (!option)
                return QStringLiteral("unknown option %1").arg(arg);
            if (eq >= 0) {
                if (!option->takesValue)
                    return QStringLiteral("option --%1 takes no value").arg(name);
                value = arg.mid(eq + 1);
                hasValue = true;
            }
        } else {
            option = FindShort(arg.at(1));
            if (!option)
                return QStringLiteral("unknown option %1").arg(arg);
            if (arg.size() > 2) {
                if (!option->takesValue)
                    return QStringLiteral("unknown option %1").arg(arg);
                value = arg.mid(2);
                hasValue = true;
            }
        }
        const QString name = QLatin1String(option->longName);
        if (option->takesValue && !hasValue) {
            if (i + 1 >= args.size())
                return QStringLiteral("option %1 needs a value").arg(arg);
            value = args[++i];
        }
        if (name == QLatin1String("format")) {
            out.format = FormatByName(value);
            if (out.format < 0)
                return QStringLiteral("unknown format \"%1\" (png, gif, jpeg, tiff, pcx, bmp)")
                    .arg(value);
        } else if (name == QLatin1String("colors")) {
            out.bits = BitsByName(value);
            if (out.bits < 0)
                return QStringLiteral(
                           "unknown colour count \"%1\" (2, 16, 256, 16bit, 24bit, 32bit, none)")
                    .arg(value);
        } else if (name == QLatin1String("width")) {
            if (!ParseCount(value, 0, IK_MAX_SIDE, out.width))
                return QStringLiteral("width must be a whole number from 0 to %1").arg(IK_MAX_SIDE);
        } else if (name == QLatin1String("height")) {
            if (!ParseCount(value, 0, IK_MAX_SIDE, out.height))
                return QStringLiteral("height must be a whole number from 0 to %1")
                    .arg(IK_MAX_SIDE);
        } else if (name == QLatin1String("output")) {
            out.output = value;
        } else if (name == QLatin1String("jobs")) {
            if (!ParseCount(value, 1, 1024, out.jobs))
                return QStringLiteral("jobs must be a whole number from 1 to 1024");
        } else if (name == QLatin1String("quality")) {
            quality = value;
        } else if (name == QLatin1String("subsampling")) {
            subsampling = value;
        } else if (name == QLatin1String("tiff-compression")) {
            tiffType = value;
        } else if (name == QLatin1String("transparent")) {
            transparent = value;
        } else if (name == QLatin1String("no-transparent")) {
            transparent = QStringLiteral("off");
        } else if (name == QLatin1String("progressive")) {
            progressive = QStringLiteral("1");
        } else if (name == QLatin1String("no-progressive")) {
            progressive = QStringLiteral("0");
        } else if (name == QLatin1String("interlace")) {
            interlace = QStringLiteral("1");
        } else if (name == QLatin1String("no-interlace")) {
            interlace = QStringLiteral("0");
        } else if (name == QLatin1String("overwrite-source")) {
            out.overwriteSource = true;
        } else if (name == QLatin1String("quiet")) {
            out.quiet = true;
        } else if (name == QLatin1String("help")) {
            out.help = true;
        } else if (name == QLatin1String("version")) {
            out.version = true;
        }
    }
    if (out.help || out.version)
        return QString();
    if (out.format < 0)
        return QStringLiteral("no output format given (-f png|gif|jpeg|tiff|pcx|bmp)");
    if (out.files.isEmpty())
        return QStringLiteral("no files given");

    // The save options apply to the formats that have them.
    const auto onlyFor = [&](const QString& option, std::initializer_list<int> formats,
                             const char* names) -> QString {
        for (int f : formats)
            if (f == out.format)
                return QString();
        return QStringLiteral("%1 applies to %2 output only").arg(option, QLatin1String(names));
    };
    Convert::Options& o = out.overrides;
    if (!quality.isEmpty()) {
        if (QString e = onlyFor(QStringLiteral("--quality"), {Convert::Jpeg}, "JPEG"); !e.isEmpty())
            return e;
        int q = 0;
        if (!ParseCount(quality, 0, 100, q))
            return QStringLiteral("quality must be a whole number from 0 to 100");
        o.jpegQuality = q;
    }
    if (!progressive.isEmpty()) {
        if (QString e = onlyFor(QStringLiteral("--progressive"), {Convert::Jpeg}, "JPEG");
            !e.isEmpty())
            return e;
        o.jpegProgressive = progressive.toInt();
    }
    if (!subsampling.isEmpty()) {
        if (QString e = onlyFor(QStringLiteral("--subsampling"), {Convert::Jpeg}, "JPEG");
            !e.isEmpty())
            return e;
        const int idx = IndexOf(subsampling, {QStringLiteral("4:1:1"), QStringLiteral("4:2:2"),
                                              QStringLiteral("4:4:4")});
        if (idx < 0)
            return QStringLiteral("subsampling must be 4:1:1, 4:2:2 or 4:4:4");
        o.jpegSubsampling = idx;
    }
    if (!tiffType.isEmpty()) {
        if (QString e = onlyFor(QStringLiteral("--tiff-compression"), {Convert::Tiff}, "TIFF");
            !e.isEmpty())
            return e;
        const int idx = IndexOf(tiffType, {QStringLiteral("none"), QStringLiteral("ccittrle"),
                                           QStringLiteral("group3-1d"), QStringLiteral("group3-2d"),
                                           QStringLiteral("group4"), QStringLiteral("packbits"),
                                           QStringLiteral("lzw")});
        if (idx < 0)
            return QStringLiteral("tiff compression must be none, ccittrle, group3-1d, group3-2d, "
                                  "group4, packbits or lzw");
        o.tiffCompression = idx;
    }
    if (!interlace.isEmpty()) {
        if (QString e =
                onlyFor(QStringLiteral("--interlace"), {Convert::Gif, Convert::Png}, "GIF and PNG");
            !e.isEmpty())
            return e;
        (out.format == Convert::Gif ? o.gifInterlace : o.pngInterlace) = interlace.toInt();
    }
    if (!transparent.isEmpty()) {
        if (QString e = onlyFor(QStringLiteral("--transparent"), {Convert::Gif, Convert::Png},
                                "GIF and PNG");
            !e.isEmpty())
            return e;
        auto& flag = out.format == Convert::Gif ? o.gifTransparent : o.pngTransparent;
        if (transparent == QLatin1String("off")) {
            flag = 0;
        } else {
            static const QRegularExpression hex(QStringLiteral("^#?([0-9A-Fa-f]{6})$"));
            const QRegularExpressionMatch m = hex.match(transparent);
            if (!m.hasMatch())
                return QStringLiteral("transparent colour must be RRGGBB in hexadecimal");
            const unsigned rgb = m.captured(1).toUInt(nullptr, 16);
            // RRGGBB as written; the settings hold 0x00BBGGRR.
            const unsigned value = ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16);
            flag = 1;
            (out.format == Convert::Gif ? o.gifColour : o.pngColour) = value;
        }
    }
    return QString();
}

QString HelpText() {
    return QStringLiteral(
        "Usage: quilla-convert -f FORMAT [OPTIONS] FILE...\n"
        "\n"
        "Converts image files the way Quilla's conversion command (変換) does, with the same\n"
        "routine and the same settings file (~/.config/Norvo/Quilla.conf), so a batch run from a\n"
        "shell gives exactly the files the dialog gives. Each FILE is written into the output\n"
        "folder under its own name with the extension of FORMAT (photo.jpeg -> photo.jpg).\n"
        "\n"
        "  -f, --format FORMAT     png, gif, jpeg, tiff, pcx or bmp (required)\n"
        "  -c, --colors COUNT      2, 16, 256, 16bit, 24bit or 32bit; none (the default) keeps\n"
        "                          the depth. GIF output is always reduced to 256 colours.\n"
        "  -W, --width N           new width; with only one of -W and -H the other side keeps\n"
        "  -H, --height N          the aspect ratio, with both the picture is stretched to fit\n"
        "  -o, --output FOLDER     output folder (default: the current directory); a missing\n"
        "                          folder is created with every missing folder above it\n"
        "  -j, --jobs N            files converted at once (default: one per core)\n"
        "      --overwrite-source  allow writing over a source file (same name, same format);\n"
        "                          without it such a file is reported and left alone\n"
        "  -q, --quiet             no progress bar\n"
        "  -h, --help              this text\n"
        "      --version           the version\n"
        "\n"
        "Save options (default: the values of Quilla's option sheet 画像形式の設定):\n"
        "      --quality N                JPEG quality, 0 to 100 (settings: [Jpeg] Quality)\n"
        "      --progressive, --no-progressive\n"
        "                                 progressive JPEG ([Jpeg] Inter)\n"
        "      --subsampling S            JPEG chroma subsampling 4:1:1, 4:2:2 or 4:4:4\n"
        "                                 ([Jpeg] SubSamp)\n"
        "      --tiff-compression C       none, ccittrle, group3-1d, group3-2d, group4, packbits\n"
        "                                 or lzw ([Tiff] Type)\n"
        "      --interlace, --no-interlace\n"
        "                                 interlaced GIF or PNG ([Gif]/[Png] Inter)\n"
        "      --transparent RRGGBB, --no-transparent\n"
        "                                 GIF or PNG with that colour transparent\n"
        "                                 ([Gif]/[Png] Back and BackColor)\n"
        "\n"
        "The colour reduction reads [Color] Pal (0 an optimal palette, 1 grey levels) and\n"
        "[Color] Dither (1 dithered, the default).\n"
        "\n"
        "A progress bar is shown when standard error is a terminal. Each file that cannot be\n"
        "converted is reported on standard error and the others go on. Only regular files\n"
        "are read. An output file is never written twice in one run (a.png and a.jpg to bmp:\n"
        "the second fails), and an existing output file without write permission is kept.\n"
        "\n"
        "Exit status: 0 when every file was converted, 1 when any failed, 2 for a usage error.\n"
        "\n"
        "Example:\n"
        "  quilla-convert -f jpeg -W 1600 --quality 85 -o small ~/Pictures/*.png\n");
}

} // namespace ConvertTool
