#include "imaging/ImageLibrary.h"

#include <QCoreApplication>
#include <QDir>
#include <cstring>
#include <dlfcn.h>
#include <unordered_map>
#include <vector>

namespace {

struct Module {
    const char* file;
    std::vector<const char*> names;
    std::vector<void*> entries;
};

std::vector<const char*> FileModuleNames() {
    std::vector<const char*> names = {"IKOpenFileDlg", "IKSaveFileDlg", "IKSaveFileDlgEx",
                                      "IKFileType", "IKFileLoad"};
    static const char* const pairs[][2] = {
        {"IKBmpFileLoad", "IKBmpFileSave"}, {"IKJpegFileLoad", "IKJpegFileSave"},
        {"IKGifFileLoad", "IKGifFileSave"}, {"IKTiffFileLoad", "IKTiffFileSave"},
        {"IKPngFileLoad", "IKPngFileSave"}, {"IKFpxFileLoad", "IKFpxFileSave"},
        {"IKPcxFileLoad", "IKPcxFileSave"}, {"IKWmfFileLoad", "IKWmfFileSave"},
        {"IKEmfFileLoad", "IKEmfFileSave"}, {"IKDxfFileLoad", "IKDxfFileSave"}};
    for (const auto& p : pairs) {
        names.push_back(p[0]);
        names.push_back(p[1]);
        if (std::strcmp(p[1], "IKJpegFileSave") == 0)
            names.push_back("IKJpegExifInfo");
    }
    for (const char* n :
         {"IKFTPGetFile", "IKFTPPutFile", "IKFTPDeleteFile", "IKFTPRenameFile", "IKHTTPGetFile",
          "IKHTTPPutFile",
          // Additions of this library: reduced-scale loading for thumbnails and
          // the thumbnail cache's PNG files with text keys.
          "IKFileLoadScaled", "IKFileLoadScaledAs", "IKPngFileSaveText", "IKPngTextRead"})
        names.push_back(n);
    return names;
}

std::vector<Module>& Modules() {
    static std::vector<Module> modules = {
        {"libik6com.so",
         {"IKGetMemorySize", "IKFreeMemory", "IKGetImageType", "IKGetSystemPalette", "IKSetDpi",
          "IKGetDpi", "IKGetErrorStatus", "IKGetPalette", "IKSetPalette", "IKDibFromBitmap",
          "IKBitmapFromDib", "IKDeleteBitmapObject", "IKGetOneBitPalCount", "IKGetFromClipBrd",
          "IKSetToClipBrd", "IKClearClipBrd", "IKIsClipBrdData", "IKCopyImage", "IKCreateImage",
          "IKCreateVectImage", "IKCreateVectImageEx", "IKDrawVectObject", "IKVectToDib",
          "IKResizeRefine1BitImage",
          // The colour profile of an image, an addition of this library.
          "IKGetColorProfile"},
         {}},
        {"libik6file.so", FileModuleNames(), {}},
        {"libik6scan.so",
         {"IKScanInitialize", "IKScanSelect", "IKScanListLen", "IKScanList", "IKScanGetDSInfo",
          "IKScanOpenDS", "IKScanGetPixelType", "IKScanGetPhysicalSize", "IKScanGetMinimumSize",
          "IKScanGetBitDepth", "IKScanGetCapRange", "IKScanIsCapSupported", "IKScanGetCapEnum",
          "IKScanExec", "IKScanCloseDS", "IKScanTerminate"},
         {}},
        {"libik6print.so",
         {"IKImageOut",
          "IKImageOutToHwnd",
          "IKSetPixel",
          "IKGetPixel",
          "IKPaint",
          "IKLine",
          "IKRectangle",
          "IKEllipse",
          "IKPolygon",
          "IKPolyline",
          "IKArc",
          "IKPie",
          "IKChord",
          "IKRoundRect",
          "IKFillRect",
          "IKDrawText",
          "IKTextOut",
          "IKGetTextExtent",
          "IKGetImageFromHdc",
          "IKPreviewInit",
          "IKSetPrint",
          "IKPrintStartDoc",
          "IKPrintStartPage",
          "IKPrintEndPage",
          "IKPrintEndDoc",
          "IKGetPaperSize",
          "IKPrintDlg",
          "IKPrintCreateDC",
          "IKPrintDeleteDC",
          "IKGetDevModeHandle",
          "IKReleaseDevModeHandle",
          "IKEnumPrinters",
          "IKGetPrinterPort",
          "IKGetDevModeInfo",
          "IKSetDevModeInfo"},
         {}},
        {"libik6effect.so",
         {"IKAntiAlias", "IKCustomFilter", "IKEmboss", "IKMosaic", "IKOutline", "IKRemoveNoise",
          "IKBlur", "IKSharp", "IKChroma", "IKConvertColor", "IKRGBLevel", "IKRGBGamma",
          "IKRGBSpline", "IKRGBRev", "IKSetGray", "IKYCCLevel", "IKYCCGamma", "IKYCCSpline",
          "IKYCCRev", "IKSetSecretImage", "IKCheckSecretImage", "IKAffine", "IKPanorama",
          "IKSelectImage", "IKAutoSelectImage", "IKResize", "IKRotation", "IKSelectImageEx",
          "IKAutoSelectImageEx", "IKResizeEx", "IKRotationEx", "IKPasteImage", "IKLayer",
          "IKRipple", "IKWhirlPinch", "IKWaves", "IKOilPaint", "IKCanvas", "IKLens", "IKMotionBlur",
          "IKGlassTile", "IKStartDibAccess", "IKEndDibAccess", "IKGetDibPixel", "IKSetDibPixel",
          "IKUnifyColor", "IKCutRectImage",
          // Additions of this library: turning a picture upright by its Exif orientation, and
          // converting its colours from one profile to another.
          "IKOrient", "IKColorTransform"},
         {}},
    };
    return modules;
}

// Name → slot, rebuilt on every load.
std::unordered_map<std::string, void*>& Index() {
    static std::unordered_map<std::string, void*> index;
    return index;
}

ImageLib::EntryPoints g_entries;

// The progress texts of each thread.
thread_local char t_caption[60], t_message[60], t_button[60];

void CopyText(char* dst, const char* text) {
    std::strncpy(dst, text, 59);
    dst[59] = '\0';
}

} // namespace

QStringList LoadImageLibraryFrom(const QString& folder) {
    Index().clear();
    for (Module& m : Modules()) {
        // Empty the whole table first; fill it only from a module that loaded.
        m.entries.assign(m.names.size(), nullptr);
        const QByteArray file = QDir(folder).filePath(QString::fromLatin1(m.file)).toLocal8Bit();
        // Modules stay loaded until the process ends.
        void* lib = dlopen(file.constData(), RTLD_NOW | RTLD_LOCAL);
        for (size_t i = 0; i < m.names.size(); ++i) {
            m.entries[i] = lib ? dlsym(lib, m.names[i]) : nullptr;
            Index()[m.names[i]] = m.entries[i];
        }
    }
    // The program's entry points, typed, from the slots just filled.
    QStringList missing;
    g_entries = ImageLib::EntryPoints();
#define QUILLA_IK_RESOLVE(name)                                                                    \
    g_entries.name = reinterpret_cast<decltype(g_entries.name)>(ImageLib::Slot(#name));            \
    if (!g_entries.name)                                                                           \
        missing << QStringLiteral(#name);
    QUILLA_IK_ENTRY_POINTS(QUILLA_IK_RESOLVE)
#undef QUILLA_IK_RESOLVE
    return missing;
}

QStringList LoadImageLibrary() {
    return LoadImageLibraryFrom(QCoreApplication::applicationDirPath());
}

void SetProgressTexts(bool show) {
    CopyText(t_caption, show ? "処理中" : "");
    CopyText(t_message, show ? "処理中です..." : "");
    CopyText(t_button, show ? "中止" : "");
}

namespace ImageLib {

const EntryPoints& Entries() {
    return g_entries;
}

const char* Caption() {
    return t_caption;
}
const char* Message() {
    return t_message;
}
const char* Button() {
    return t_button;
}

QString LastError(int* code) {
    char reason[512] = {};
    const int status = g_entries.IKGetErrorStatus
                           ? g_entries.IKGetErrorStatus(reason, sizeof reason)
                           : IK_ERR_ARGUMENT;
    if (code)
        *code = status;
    if (!g_entries.IKGetErrorStatus)
        return QStringLiteral("the imaging library is not loaded");
    return QString::fromUtf8(reason);
}

void* Slot(const char* name) {
    auto it = Index().find(name);
    return it == Index().end() ? nullptr : it->second;
}

} // namespace ImageLib
