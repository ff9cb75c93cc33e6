#include "platform/Files.h"

#include "platform/FileNames.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Files {

std::optional<Info> Stat(const QString& path) {
    struct stat st {};
    if (::stat(FileNames::ToNative(path).constData(), &st) != 0)
        return std::nullopt;
    return Info{int64_t(st.st_size), int64_t(st.st_mtim.tv_sec), S_ISDIR(st.st_mode),
                S_ISREG(st.st_mode)};
}

bool Exists(const QString& path) {
    return Stat(path).has_value();
}

bool MakeFolders(const QString& path, int mode) {
    if (const std::optional<Info> info = Stat(path))
        return info->isFolder;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash > 0 && !MakeFolders(path.left(slash), mode))
        return false;
    return ::mkdir(FileNames::ToNative(path).constData(), mode_t(mode)) == 0 || errno == EEXIST;
}

bool RemoveFile(const QString& path) {
    return ::unlink(FileNames::ToNative(path).constData()) == 0 || errno == ENOENT;
}

bool IsReadOnlyFile(const QString& path) {
    const QByteArray native = FileNames::ToNative(path);
    struct stat st {};
    if (::stat(native.constData(), &st) != 0 || S_ISDIR(st.st_mode))
        return false;
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
           ::access(native.constData(), W_OK) != 0;
}

bool SameFile(const QString& a, const QString& b) {
    struct stat sa {
    }, sb{};
    return ::stat(FileNames::ToNative(a).constData(), &sa) == 0 &&
           ::stat(FileNames::ToNative(b).constData(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

QString ErrorText(int errnum) {
    // What a file operation can meet, each said as the program's other messages say things; the
    // system's own texts are English and never shown.
    struct Entry {
        int err;
        const char16_t* text;
    };
    static constexpr Entry kTexts[] = {
        {ENOENT, u"ファイルが見つかりません"},
        {EACCES, u"アクセスが拒否されました"},
        {EPERM, u"この操作は許可されていません"},
        {EEXIST, u"同じ名前の項目が既にあります"},
        {ENOSPC, u"ディスクの空き領域が足りません"},
        {EDQUOT, u"ディスクの使用量の上限を超えます"},
        {EROFS, u"書き込みできないボリュームです"},
        {ELOOP, u"シンボリックリンクが循環しているか、深すぎます"},
        {ENAMETOOLONG, u"名前が長すぎます"},
        {EXDEV, u"別のボリュームへは移せません"},
        {EISDIR, u"フォルダです"},
        {ENOTDIR, u"フォルダではありません"},
        {ENOTEMPTY, u"フォルダが空ではありません"},
        {EBUSY, u"使用中です"},
        {ETXTBSY, u"実行中のプログラムのファイルです"},
        {EIO, u"入出力エラーが起きました"},
        {EMLINK, u"リンクまたは項目の数が上限を超えます"},
        {EFBIG, u"ファイルが大きすぎます"},
        {EOVERFLOW, u"ファイルが大きすぎます"},
        {EINVAL, u"この操作はできません"},
        {ENOTSUP, u"このボリュームではこの操作はできません"},
        {ENOSYS, u"このシステムではこの操作はできません"},
        {EMFILE, u"開いているファイルが多すぎます"},
        {ENFILE, u"開いているファイルが多すぎます"},
        {ENOMEM, u"メモリが足りません"},
        {EAGAIN, u"一時的に使えません。しばらくしてからやり直してください"},
        {EINTR, u"操作が中断されました"},
        {ECANCELED, u"操作が中断されました"},
        {EBADF, u"ファイルを読み書きできる状態ではありません"},
        {ENXIO, u"装置が見つかりません"},
        {ENODEV, u"装置が見つかりません"},
        {ENOMEDIUM, u"メディアが入っていません"},
        {EMEDIUMTYPE, u"メディアの種類が違います"},
        {ESTALE, u"ネットワーク上のファイルが見つからなくなりました"},
        {ETIMEDOUT, u"応答がありません"},
        {ENOTCONN, u"接続されていません"},
        {ECONNABORTED, u"接続が切れました"},
        {ECONNRESET, u"接続が切れました"},
        {EHOSTDOWN, u"相手のコンピュータに接続できません"},
        {EHOSTUNREACH, u"相手のコンピュータに接続できません"},
        {ENETDOWN, u"ネットワークに接続できません"},
        {ENETUNREACH, u"ネットワークに接続できません"},
        {EUCLEAN, u"ファイルシステムが壊れています"},
        {EBADMSG, u"データが壊れています"},
        {ENODATA, u"データがありません"},
        {ENOLCK, u"ファイルをロックできません"},
        {EDEADLK, u"ファイルをロックできません"},
        {ENOLINK, u"ネットワーク上のファイルに接続できません"},
        {EREMOTEIO, u"ネットワーク上のファイルの入出力エラーが起きました"},
        {EKEYEXPIRED, u"暗号化の鍵が使えません"},
        {ENOKEY, u"暗号化の鍵が使えません"},
    };
    for (const Entry& e : kTexts)
        if (e.err == errnum)
            return QString::fromUtf16(e.text);
    return QStringLiteral("システムエラーが起きました（エラー番号 %1）").arg(errnum);
}

int RenameNoReplace(const QByteArray& from, const QByteArray& to) {
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return errno;
    // A file system that cannot refuse by itself (some network ones): look first. A name taken
    // in between the two steps is the only case left open.
    struct stat st {};
    if (::lstat(to.constData(), &st) == 0)
        return EEXIST;
    return ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
}

bool RemoveTree(const QByteArray& path) {
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(st.st_mode))
        return ::unlink(path.constData()) == 0;
    ::nftw(
        path.constData(),
        [](const char* p, const struct stat*, int, FTW*) {
            ::remove(p);
            return 0;
        },
        16, FTW_DEPTH | FTW_PHYS);
    return ::lstat(path.constData(), &st) != 0 && errno == ENOENT;
}

namespace {
void WalkBelow(const QByteArray& root, const QByteArray& rel,
               const std::function<void(const QByteArray&)>& fn) {
    const QByteArray dirPath = rel.isEmpty() ? root : root + '/' + rel;
    DIR* dir = ::opendir(dirPath.constData());
    if (!dir)
        return;
    while (const dirent* e = ::readdir(dir)) {
        const QByteArray name(e->d_name);
        if (name == "." || name == "..")
            continue;
        const QByteArray childRel = rel.isEmpty() ? name : rel + '/' + name;
        bool isDir = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN) {
            struct stat st {};
            isDir = ::lstat((root + '/' + childRel).constData(), &st) == 0 && S_ISDIR(st.st_mode);
        }
        if (isDir)
            WalkBelow(root, childRel, fn);
        else
            fn(childRel);
    }
    ::closedir(dir);
}
} // namespace

void ForEachBelow(const QByteArray& folder, const std::function<void(const QByteArray&)>& fn) {
    WalkBelow(folder, QByteArray(), fn);
}

} // namespace Files
