#include "imaging/SPIControl.h"

#include "platform/DirList.h"
#include "platform/FileNames.h"
#include "platform/Module.h"

#include <QDir>
#include <QFileInfo>
#include <array>
#include <cstdio>
#include <cstring>

namespace {

// The buffer sizes the host gives GetPluginInfo: 9 bytes for the version, 256 for the others.
constexpr int kVersionBuffer = 9;
constexpr int kTextBuffer = 256;
// How long a plug-in may take to answer in the checker before it is skipped.
constexpr int kCheckTimeoutMs = 10000;
// The start of a picture preceded by a 128-byte header (MacBinary).
constexpr intptr_t kSecondOffset = 128;

int KindOf(const QByteArray& version) {
    if (version.size() < 4 || version[0] != '0' || version[1] != '0')
        return kSpiKindUnknown;
    struct Entry {
        char a, b;
        int kind;
    };
    static constexpr Entry table[] = {
        {'I', 'N', kSpiKindImport},    {'I', 'M', kSpiKindImportMulti},
        {'A', 'N', kSpiKindArchive},   {'A', 'M', kSpiKindArchiveMulti},
        {'X', 'N', kSpiKindExport},    {'X', 'M', kSpiKindExportMulti},
        {'C', 'N', kSpiKindConverter}, {'E', 'N', kSpiKindEditor},
    };
    for (const Entry& e : table)
        if (version[2] == e.a && version[3] == e.b)
            return e.kind;
    return kSpiKindUnknown;
}

// A plug-in's text: UTF-8 where it is valid UTF-8, else code page 932.
QString TextOf(const QByteArray& bytes) {
    return FileNames::Display(FileNames::FromNative(bytes));
}

QByteArray RawInfo(SPI_GetPluginInfo fn, int infono, int buflen, int* result) {
    // One byte more than the plug-in is told, so the text always ends.
    std::array<char, kTextBuffer + 1> buf{};
    const int r = fn ? fn(infono, buf.data(), std::min(buflen, kTextBuffer)) : 0;
    if (result)
        *result = r;
    return QByteArray(buf.data(), qsizetype(std::strlen(buf.data())));
}

// The file name of a path, without folder.
QString FileNameOf(const QString& path) {
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

// ---- CSPICore ----

CSPICore::CSPICore() : m_lock(std::make_unique<std::mutex>()) {}

CSPICore::~CSPICore() {
    Unload();
}

CSPICore::CSPICore(CSPICore&& other) noexcept {
    *this = std::move(other);
}

CSPICore& CSPICore::operator=(CSPICore&& other) noexcept {
    if (this == &other)
        return *this;
    Unload();
    m_nReserved = other.m_nReserved;
    m_bEnable = other.m_bEnable;
    m_hModule = std::exchange(other.m_hModule, nullptr);
    m_strPath = std::move(other.m_strPath);
    m_strFileName = std::move(other.m_strFileName);
    m_nKind = std::exchange(other.m_nKind, 0);
    m_nFormats = std::exchange(other.m_nFormats, 0);
    m_patterns = std::move(other.m_patterns);
    m_descriptions = std::move(other.m_descriptions);
    m_pGetPluginInfo = std::exchange(other.m_pGetPluginInfo, nullptr);
    m_pIsSupported = std::exchange(other.m_pIsSupported, nullptr);
    m_pGetPictureInfo = std::exchange(other.m_pGetPictureInfo, nullptr);
    m_pGetPicture = std::exchange(other.m_pGetPicture, nullptr);
    m_pGetPreview = std::exchange(other.m_pGetPreview, nullptr);
    m_pGetArchiveInfo = std::exchange(other.m_pGetArchiveInfo, nullptr);
    m_pGetFileInfo = std::exchange(other.m_pGetFileInfo, nullptr);
    m_pGetFile = std::exchange(other.m_pGetFile, nullptr);
    m_pConfigurationDlg = std::exchange(other.m_pConfigurationDlg, nullptr);
    m_lock = std::move(other.m_lock);
    other.m_lock = std::make_unique<std::mutex>();
    return *this;
}

void CSPICore::Unload() {
    if (m_hModule)
        Module::Close(std::exchange(m_hModule, nullptr));
    m_strPath.clear();
    m_strFileName.clear();
    m_patterns.clear();
    m_descriptions.clear();
    m_nFormats = 0;
    m_nKind = kSpiKindUnknown;
    m_pGetPluginInfo = nullptr;
    m_pIsSupported = nullptr;
    m_pGetPictureInfo = nullptr;
    m_pGetPicture = nullptr;
    m_pGetPreview = nullptr;
    m_pGetArchiveInfo = nullptr;
    m_pGetFileInfo = nullptr;
    m_pGetFile = nullptr;
    m_pConfigurationDlg = nullptr;
}

bool CSPICore::Load(const QString& path, QString* reason) {
    Unload();
    void* module = Module::Open(path, reason);
    if (!module)
        return false;
    m_hModule = module;
    m_pGetPluginInfo = reinterpret_cast<SPI_GetPluginInfo>(Module::Symbol(module, "GetPluginInfo"));
    if (!m_pGetPluginInfo) {
        Unload();
        if (reason)
            *reason = QStringLiteral("does not export GetPluginInfo");
        return false;
    }
    int r = 0;
    const QByteArray version = RawInfo(m_pGetPluginInfo, 0, kVersionBuffer, &r);
    m_nKind = r >= 4 ? KindOf(version) : kSpiKindUnknown;
    const QString reported = Module::PathOf(module);
    m_strPath = reported.isEmpty() ? QFileInfo(path).absoluteFilePath() : reported;
    m_strFileName = FileNameOf(path);

    auto sym = [module](const char* name) { return Module::Symbol(module, name); };
    m_pIsSupported = reinterpret_cast<SPI_IsSupported>(sym("IsSupported"));
    m_pGetPictureInfo = reinterpret_cast<SPI_GetPictureInfo>(sym("GetPictureInfo"));
    m_pGetPicture = reinterpret_cast<SPI_GetPicture>(sym("GetPicture"));
    m_pGetPreview = reinterpret_cast<SPI_GetPreview>(sym("GetPreview"));
    m_pGetArchiveInfo = reinterpret_cast<SPI_GetArchiveInfo>(sym("GetArchiveInfo"));
    m_pGetFileInfo = reinterpret_cast<SPI_GetFileInfo>(sym("GetFileInfo"));
    m_pGetFile = reinterpret_cast<SPI_GetFile>(sym("GetFile"));
    m_pConfigurationDlg = reinterpret_cast<SPI_ConfigurationDlg>(sym("ConfigurationDlg"));

    // The formats: the pattern of format n is text 2n + 2, its name 2n + 3.
    auto answers = [this](int infono) {
        int result = 0;
        RawInfo(m_pGetPluginInfo, infono, kTextBuffer, &result);
        return result != 0;
    };
    int count = 0;
    if (answers(2)) {
        count = 1;
        while (count < kSpiMaxFormats && answers(2 * count + 2))
            ++count;
    }
    m_nFormats = count;
    for (int k = 0; k < count; ++k) {
        m_patterns << TextOf(RawInfo(m_pGetPluginInfo, 2 * k + 2, kTextBuffer, nullptr));
        m_descriptions << TextOf(RawInfo(m_pGetPluginInfo, 2 * k + 3, kTextBuffer, nullptr));
    }
    m_patterns.squeeze();
    m_descriptions.squeeze();
    return true;
}

QString CSPICore::Info(int infono, int buflen, int* result) const {
    return TextOf(RawInfo(m_pGetPluginInfo, infono, buflen, result));
}

int CSPICore::CountFormats() const {
    if (!m_bEnable || !m_pGetPluginInfo)
        return 0;
    // Only the return values matter; the texts land in a buffer that is thrown away (and need
    // not be cleared first).
    std::array<char, kTextBuffer + 1> buf;
    int n = 0;
    while (n < kSpiMaxFormats && m_pGetPluginInfo(2 * n + 3, buf.data(), kTextBuffer) > 0) {
        m_pGetPluginInfo(2 * n + 2, buf.data(), kTextBuffer);
        ++n;
    }
    return n;
}

// ---- CSPIControl ----

CSPIControl::CSPIControl() = default;

CSPIControl::~CSPIControl() {
    std::unique_lock lock(m_lock);
    m_plugins.clear();
}

int CSPIControl::OnPluginLoaded(const QString&, const QString&, int) {
    return 1;
}

int CSPIControl::LoadFolder(const QString& folder) {
    QString dir = folder;
    if (dir.size() > 1 && !dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    // Every plug-in is loaded by its full path: a bare name would be searched for on the
    // loader's own path instead of in the folder.
    if (dir.isEmpty() || QDir::isRelativePath(dir)) {
        QString current = FileNames::CurrentDir();
        if (!current.endsWith(QLatin1Char('/')))
            current += QLatin1Char('/');
        dir = current + dir;
    }
    QStringList found;
    DirList::ForEachFile(
        dir,
        [](const QString& name) {
            return name.endsWith(QLatin1String(".spi"), Qt::CaseInsensitive);
        },
        [&](const DirList::Entry& e) { found << dir + e.name; });
    if (found.isEmpty())
        return 0;

    // A plug-in already loaded under the same file name is not loaded again; the others are tried
    // in a child process first, so that one that crashes while loading is only skipped.
    QStringList known;
    {
        std::shared_lock lock(m_lock);
        for (const CSPICore& p : m_plugins)
            known << p.m_strFileName;
    }
    QStringList candidates;
    for (const QString& path : std::as_const(found)) {
        if (path.isEmpty() || known.contains(FileNameOf(path), Qt::CaseInsensitive))
            continue;
        candidates << path;
    }
    std::vector<QString> refused(size_t(candidates.size()));
    if (!m_strChecker.isEmpty() && !candidates.isEmpty())
        refused = Module::CheckInChild(m_strChecker, candidates, kCheckTimeoutMs);

    std::unique_lock lock(m_lock);
    std::vector<std::pair<QString, int>> added;
    const size_t before = m_plugins.size();
    m_plugins.reserve(before + size_t(candidates.size()));
    int kept = 0;
    for (qsizetype i = 0; i < candidates.size(); ++i) {
        const QString& path = candidates[i];
        if (!refused[size_t(i)].isEmpty()) {
            std::fprintf(stderr, "quilla: plug-in %s skipped: %s\n", qPrintable(path),
                         qPrintable(refused[size_t(i)]));
            continue;
        }
        CSPICore core;
        QString reason;
        if (!core.Load(path, &reason)) {
            std::fprintf(stderr, "quilla: plug-in %s skipped: %s\n", qPrintable(path),
                         qPrintable(reason));
            continue;
        }
        if ((core.m_nKind & m_nKindMask) == 0)
            continue; // not an import filter: unloaded with core
        bool twice = false;
        for (size_t k = 0; k < before && !twice; ++k)
            twice =
                m_plugins[k].m_strFileName.compare(core.m_strFileName, Qt::CaseInsensitive) == 0;
        if (twice)
            continue;
        added.emplace_back(core.m_strFileName, int(m_plugins.size()));
        m_plugins.push_back(std::move(core));
        ++kept;
    }
    m_plugins.shrink_to_fit();
    lock.unlock();
    // The notifications come once the list is complete, so that they may ask the manager.
    for (const auto& [name, index] : added)
        OnPluginLoaded(name, m_strText, index);
    return kept;
}

int CSPIControl::GetFormatCount() const {
    std::shared_lock lock(m_lock);
    int total = 0;
    for (const CSPICore& p : m_plugins)
        total += p.CountFormats();
    return total;
}

bool CSPIControl::IsSupportedExtension(const QString& extension) const {
    const QString pattern = QLatin1Char('*') + extension;
    std::shared_lock lock(m_lock);
    for (const CSPICore& p : m_plugins)
        for (const QString& q : p.m_patterns)
            if (q.compare(pattern, Qt::CaseInsensitive) == 0)
                return true;
    return false;
}

int CSPIControl::DecodeFile(const QString& path, HLOCAL* header, HLOCAL* bits,
                            SPI_PICTUREINFO* info) {
    if (path.isNull() || !header || !bits)
        return kSpiErrBadArgument;
    *header = nullptr;
    *bits = nullptr;

    // The first 2,048 bytes, zero past the end of a shorter file.
    const QByteArray native = FileNames::ToNative(path);
    std::array<char, SPI_HEAD_SIZE> head{};
    {
        std::FILE* f = std::fopen(native.constData(), "rb");
        if (!f)
            return kSpiErrRead;
        size_t got = 0;
        while (got < head.size()) {
            const size_t n = std::fread(head.data() + got, 1, head.size() - got, f);
            if (n == 0)
                break;
            got += n;
        }
        const bool failed = std::ferror(f) != 0;
        std::fclose(f);
        if (failed)
            return kSpiErrRead;
    }

    std::shared_lock lock(m_lock);
    for (size_t i = 0; i < m_plugins.size(); ++i) {
        const CSPICore& p = m_plugins[i];
        std::lock_guard busy(p.Lock());
        if (!p.m_pIsSupported ||
            p.m_pIsSupported(native.constData(), reinterpret_cast<uintptr_t>(head.data())) != 1)
            continue;
        auto picture = [&](intptr_t offset) {
            *header = nullptr;
            *bits = nullptr;
            return p.m_pGetPicture ? p.m_pGetPicture(native.constData(), offset, SPI_INPUT_FILE,
                                                     header, bits, m_pProgress, m_lData)
                                   : SPI_NOT_IMPLEMENTED;
        };
        int r = picture(0);
        if (r != SPI_ALL_RIGHT && r != SPI_ABORT)
            r = picture(kSecondOffset);
        if (r != SPI_ALL_RIGHT) {
            // What a failed call left in the outputs is not a block to free.
            *header = nullptr;
            *bits = nullptr;
            continue;
        }
        if (!*header || !*bits) {
            // Success without both blocks is no picture: the next plug-in may do better.
            LocalFree(std::exchange(*header, nullptr));
            LocalFree(std::exchange(*bits, nullptr));
            continue;
        }
        if (info) {
            std::memset(info, 0, sizeof *info);
            if (p.m_pGetPictureInfo &&
                p.m_pGetPictureInfo(native.constData(), 0, SPI_INPUT_FILE, info) != 0) {
                std::memset(info, 0, sizeof *info);
                if (p.m_pGetPictureInfo(native.constData(), kSecondOffset, SPI_INPUT_FILE, info) !=
                    0)
                    info->hInfo = nullptr;
            }
        }
        m_nLastDecoder = int(i);
        return 0;
    }
    return kSpiErrNoDecoder;
}

int CSPIControl::GetSize() const {
    std::shared_lock lock(m_lock);
    return int(m_plugins.size());
}

QString CSPIControl::FileNameAt(int index) const {
    std::shared_lock lock(m_lock);
    return index >= 0 && size_t(index) < m_plugins.size() ? m_plugins[size_t(index)].m_strFileName
                                                          : QString();
}

QStringList CSPIControl::PatternsAt(int index) const {
    std::shared_lock lock(m_lock);
    return index >= 0 && size_t(index) < m_plugins.size() ? m_plugins[size_t(index)].m_patterns
                                                          : QStringList();
}
