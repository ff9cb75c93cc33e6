// quilla-convert: converts image files named on the command line with the conversion command's
// own routine and settings, on all cores. See ToolOptions.cpp for the options.
#include "convert/Convert.h"
#include "convert/ToolOptions.h"
#include "imaging/ImageLibrary.h"
#include "imaging/SusieHost.h"
#include "platform/FileNames.h"
#include "platform/Files.h"
#include "platform/Settings.h"
#include "platform/Terminal.h"

#include <QCoreApplication>
#include <QDir>
#include <QHash>
#include <QThread>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Output folders are made as the shell makes folders (the mask applies).
constexpr int kFolderMode = 0777;

QString FileName(const QString& path) {
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

struct Job {
    QString argument; // the file as it was named
    Convert::Request request;
    bool sameFile = false;
};

// Failures on standard error as they happen, and a progress bar below them on a terminal.
class Reporter {
public:
    Reporter(int total, bool bar) : m_total(total), m_bar(bar) {
        if (m_bar)
            m_columns = Terminal::Columns(stderr);
    }

    void Done(const Job& job, const QString& failure) {
        const std::lock_guard<std::mutex> lock(m_mutex);
        ++m_done;
        if (m_bar)
            std::fputs("\r\033[K", stderr);
        if (!failure.isEmpty()) {
            ++m_failed;
            // Names in the text keep their bytes, as the file system has them.
            std::fprintf(stderr, "quilla-convert: %s: %s\n",
                         FileNames::ToNative(job.argument).constData(),
                         FileNames::ToNative(failure).constData());
        }
        if (m_bar)
            DrawBar(job);
    }

    void Finish() {
        if (m_bar)
            std::fputs("\r\033[K", stderr);
        if (m_failed)
            std::fprintf(stderr, "quilla-convert: %d of %d files could not be converted\n",
                         m_failed, m_total);
        std::fflush(stderr);
    }

    int Failed() const { return m_failed; }

private:
    void DrawBar(const Job& job) {
        const QString count = QStringLiteral(" %1/%2 ").arg(m_done).arg(m_total);
        const int width = std::clamp(m_columns / 3, 10, 40);
        const int filled = m_total ? int(int64_t(width) * m_done / m_total) : width;
        QString line = QLatin1Char('[') + QString(filled, QLatin1Char('#')) +
                       QString(width - filled, QLatin1Char('.')) + QLatin1Char(']') + count;
        const int room = m_columns - int(line.size()) - 1;
        QString name = FileNames::Display(FileName(job.argument));
        if (room < 4)
            name.clear();
        else if (name.size() > room)
            name = QStringLiteral("...") + name.right(room - 3);
        line += name;
        std::fputs(line.toLocal8Bit().constData(), stderr);
        std::fflush(stderr);
    }

    std::mutex m_mutex;
    int m_total, m_done = 0, m_failed = 0, m_columns = 80;
    bool m_bar;
};

// Paths are joined and cleaned as strings, never through the file system's Qt names, so that
// names that are not UTF-8 keep their bytes.
QString Absolute(const QString& cwd, const QString& path) {
    return QDir::cleanPath(path.startsWith(QLatin1Char('/')) ? path
                                                             : cwd + QLatin1Char('/') + path);
}

// The destination names the source file itself (by its path, or by a link to it).
bool IsSameFile(const QString& source, const QString& destination) {
    return source == destination || Files::SameFile(source, destination);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    app.setOrganizationName(QStringLiteral("Norvo"));
    app.setApplicationName(QStringLiteral("Quilla"));
    // Names keep their bytes, whatever their encoding.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << FileNames::FromNative(argv[i]);

    ConvertTool::Settings cmd;
    const QString error = ConvertTool::Parse(args, cmd);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "quilla-convert: %s\nTry 'quilla-convert --help'.\n",
                     qPrintable(error));
        return 2;
    }
    if (cmd.help) {
        std::fputs(ConvertTool::HelpText().toUtf8().constData(), stdout);
        return 0;
    }
    if (cmd.version) {
        std::printf("quilla-convert %s\n", QUILLA_CONVERT_VERSION);
        return 0;
    }

    LoadImageLibrary();
    if (!ImageLib::Slot("IKFileLoad")) {
        std::fprintf(stderr, "quilla-convert: the imaging library was not found in %s\n",
                     qPrintable(QCoreApplication::applicationDirPath()));
        return 2;
    }
    if (Settings::Get(Settings::UseSusiePlugin) != 0)
        SusieHost::LoadFolder(Settings::Get(Settings::SusiePlugin));

    const QString cwd = FileNames::CurrentDir();
    const QString folder = Convert::WithSeparator(
        Absolute(cwd, Convert::WithSeparator(cmd.output.isEmpty() ? cwd : cmd.output)));
    // The whole path is made, missing levels above the folder too.
    if (!Files::MakeFolders(folder, kFolderMode)) {
        std::fprintf(stderr, "quilla-convert: cannot create the output folder %s\n",
                     FileNames::ToNative(folder).constData());
        return 2;
    }
    // Every option is fixed before the first file, so all files are written alike.
    const Convert::Options options = cmd.overrides.Resolved();

    // Files with the same destination are taken one after the other in the order given: the
    // first one converted writes it, and the later ones fail rather than replace what this run
    // wrote (a.png and a.jpg to BMP make one a.bmp). Different destinations run in parallel.
    std::vector<std::vector<Job>> groups;
    QHash<QString, size_t> groupOf;
    for (const QString& file : cmd.files) {
        Job job;
        job.argument = file;
        job.request.source = Absolute(cwd, file);
        job.request.destination =
            Convert::DestinationOf(folder, FileName(job.request.source), cmd.format);
        job.request.format = cmd.format;
        job.request.bits = cmd.bits;
        job.request.width = cmd.width;
        job.request.height = cmd.height;
        job.sameFile = IsSameFile(job.request.source, job.request.destination);
        const auto it = groupOf.constFind(job.request.destination);
        if (it == groupOf.constEnd()) {
            groupOf.insert(job.request.destination, groups.size());
            groups.push_back({job});
        } else {
            groups[*it].push_back(job);
        }
    }

    const int jobs = cmd.jobs > 0 ? cmd.jobs : std::max(1, QThread::idealThreadCount());
    Reporter reporter(int(cmd.files.size()), !cmd.quiet && Terminal::IsTerminal(stderr));
    std::atomic<size_t> next{0};
    const auto work = [&] {
        for (size_t g; (g = next.fetch_add(1)) < groups.size();) {
            QString writtenFrom; // the file whose output the destination now holds
            for (const Job& job : groups[g]) {
                const QString& destination = job.request.destination;
                if (!writtenFrom.isEmpty()) {
                    reporter.Done(job, QStringLiteral("%1 was already written from %2 in this run")
                                           .arg(destination, writtenFrom));
                    continue;
                }
                if (job.sameFile && !cmd.overwriteSource) {
                    reporter.Done(job, QStringLiteral("would overwrite the source file "
                                                      "(use --overwrite-source to allow it)"));
                    continue;
                }
                if (Files::IsReadOnlyFile(destination)) {
                    reporter.Done(
                        job,
                        QStringLiteral("%1 is read-only and is not replaced").arg(destination));
                    continue;
                }
                QString pluginReason;
                const Convert::Result r =
                    Convert::ConvertFile(job.request, options, false, &pluginReason);
                QString failure;
                if (r == Convert::Result::SaveFailed)
                    failure = QStringLiteral("cannot write %1").arg(destination);
                else if (r == Convert::Result::LoadFailed && !pluginReason.isEmpty())
                    failure = pluginReason; // the plug-in's own trouble, in the host's words
                else if (r != Convert::Result::Ok)
                    failure = QString::fromLatin1(Convert::ResultText(r));
                else
                    writtenFrom = job.argument;
                reporter.Done(job, failure);
            }
        }
    };
    std::vector<std::thread> threads;
    for (int t = 1; t < std::min<int>(jobs, int(groups.size())); ++t)
        threads.emplace_back(work);
    work();
    for (std::thread& t : threads)
        t.join();
    reporter.Finish();
    return reporter.Failed() ? 1 : 0;
}
