#include "app/shared_file_opener.h"

#include "chat/history_file_error.h"
#include "chat/history_loader.h"
#include "chat/shared_file_archive.h"
#include "core/dialogs.h"
#include "core/event_pump.h"
#include "core/failure.h"
#include "core/platform.h"
#include "core/stale_folders.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMimeDatabase>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStorageInfo>
#include <QTemporaryDir>

namespace velmoran {

namespace {

constexpr QStringView FolderPattern = u"velmoran-files-XXXXXX";

// Types whose default application may run what the file holds: programs and launchers,
// scripts, installers and disk images, pages a browser runs scripts in. Subtypes count too
// (QMimeType::inherits).
const QStringList& runnableTypes()
{
    static const QStringList types = {
        QStringLiteral("application/x-executable"),
        QStringLiteral("application/x-pie-executable"),
        QStringLiteral("application/x-sharedlib"),
        QStringLiteral("application/x-elf"),
        QStringLiteral("application/x-ms-dos-executable"),
        QStringLiteral("application/x-msdownload"),
        QStringLiteral("application/vnd.microsoft.portable-executable"),
        QStringLiteral("application/x-msi"),
        QStringLiteral("application/x-ms-shortcut"),
        QStringLiteral("application/x-mswinurl"),
        QStringLiteral("application/x-desktop"),
        QStringLiteral("application/x-shellscript"),
        QStringLiteral("application/x-csh"),
        QStringLiteral("application/x-executable-script"),
        QStringLiteral("text/x-python"),
        QStringLiteral("text/x-python3"),
        QStringLiteral("application/x-perl"),
        QStringLiteral("application/x-ruby"),
        QStringLiteral("application/x-php"),
        QStringLiteral("text/x-tcl"),
        QStringLiteral("application/javascript"),
        QStringLiteral("text/javascript"),
        QStringLiteral("application/java-archive"),
        QStringLiteral("application/x-java-archive"),
        QStringLiteral("application/x-java-jnlp-file"),
        QStringLiteral("application/x-appimage"),
        QStringLiteral("application/vnd.appimage"),
        QStringLiteral("application/vnd.flatpak"),
        QStringLiteral("application/vnd.flatpak.ref"),
        QStringLiteral("application/vnd.flatpak.repo"),
        QStringLiteral("application/vnd.snap"),
        QStringLiteral("application/vnd.debian.binary-package"),
        QStringLiteral("application/x-deb"),
        QStringLiteral("application/x-rpm"),
        QStringLiteral("application/vnd.android.package-archive"),
        QStringLiteral("application/x-iso9660-image"),
        QStringLiteral("application/x-cd-image"),
        QStringLiteral("application/x-raw-disk-image"),
        QStringLiteral("application/x-apple-diskimage"),
        QStringLiteral("text/html"),
        QStringLiteral("application/xhtml+xml"),
        QStringLiteral("application/x-mimearchive"),
        QStringLiteral("image/svg+xml"),
        QStringLiteral("application/x-ms-wim"),
        QStringLiteral("application/hta"),
    };
    return types;
}

// Endings that a desktop somewhere runs or installs, for names whose type the MIME database
// does not know.
bool hasRunnableEnding(const QString& name)
{
    static const QStringList endings = {
        QStringLiteral("desktop"), QStringLiteral("sh"),       QStringLiteral("bash"),
        QStringLiteral("zsh"),     QStringLiteral("csh"),      QStringLiteral("ksh"),
        QStringLiteral("fish"),    QStringLiteral("command"),  QStringLiteral("run"),
        QStringLiteral("bin"),     QStringLiteral("appimage"), QStringLiteral("flatpakref"),
        QStringLiteral("snap"),    QStringLiteral("deb"),      QStringLiteral("rpm"),
        QStringLiteral("apk"),     QStringLiteral("jar"),      QStringLiteral("jnlp"),
        QStringLiteral("exe"),     QStringLiteral("com"),      QStringLiteral("scr"),
        QStringLiteral("msi"),     QStringLiteral("msp"),      QStringLiteral("bat"),
        QStringLiteral("cmd"),     QStringLiteral("ps1"),      QStringLiteral("vbs"),
        QStringLiteral("vbe"),     QStringLiteral("js"),       QStringLiteral("jse"),
        QStringLiteral("wsf"),     QStringLiteral("wsh"),      QStringLiteral("hta"),
        QStringLiteral("lnk"),     QStringLiteral("url"),      QStringLiteral("reg"),
        QStringLiteral("py"),      QStringLiteral("pyw"),      QStringLiteral("pl"),
        QStringLiteral("rb"),      QStringLiteral("php"),      QStringLiteral("html"),
        QStringLiteral("htm"),     QStringLiteral("xhtml"),    QStringLiteral("shtml"),
        QStringLiteral("svg"),     QStringLiteral("mht"),      QStringLiteral("mhtml"),
        QStringLiteral("iso"),     QStringLiteral("img"),      QStringLiteral("dmg"),
        QStringLiteral("pkg"),     QStringLiteral("elf"),      QStringLiteral("so"),
    };
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot >= 0 && endings.contains(name.mid(dot + 1), Qt::CaseInsensitive);
}

QString runnableDescription(const QMimeType& type)
{
    if (!type.isValid())
        return {};
    for (const QString& runnable : runnableTypes()) {
        if (type.inherits(runnable))
            return type.comment().isEmpty() ? type.name() : type.comment();
    }
    return {};
}

QString sizeText(qint64 bytes)
{
    return QLocale().formattedDataSize(bytes);
}

} // namespace

QString runnableKind(const QString& path, bool byContent)
{
    static const QMimeDatabase types;
    const QString name = QFileInfo(path).fileName();
    // The name and the content each: a desktop may go by either.
    QString kind = runnableDescription(types.mimeTypeForFile(name, QMimeDatabase::MatchExtension));
    if (kind.isEmpty() && hasRunnableEnding(name))
        kind = QStringLiteral("file that may run a program");
    if (kind.isEmpty() && byContent)
        kind = runnableDescription(types.mimeTypeForFile(path, QMimeDatabase::MatchContent));
    if (kind.isEmpty() && byContent) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            const QByteArray head = file.read(4);
            if (head.startsWith("#!"))
                kind = QStringLiteral("script");
            else if (head
                         == "\x7f"
                            "ELF"
                     || head.startsWith("MZ"))
                kind = QStringLiteral("program");
        }
    }
    return kind;
}

bool mayOpenFromHistory(Platform& platform, const QString& name, const QString& kind)
{
    return kind.isEmpty()
           || platform.dialogs.warningQuestion(
               QObject::tr("The file \"%1\" comes from the chat history. Opening a file of this "
                           "kind (%2) may run a program on this computer: open it only if you "
                           "trust whoever sent it.\r\rOpen \"%1\"?")
                   .arg(name, kind));
}

bool openFileFromHistory(Platform& platform, const QString& path, bool agreed)
{
    // A file taken out never keeps an executable bit, whatever the archive recorded.
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    if (!agreed && !mayOpenFromHistory(platform, QFileInfo(path).fileName(), runnableKind(path)))
        return false;
    ShellOpenRequest request;
    request.file = QLatin1Char('"') + path + QLatin1Char('"');
    request.workingFolder = QFileInfo(path).path();
    // The desktop may tell only later that it could not: the message then belongs to the
    // window that asked, if it is still there.
    request.failed = [&platform, window = QPointer<QObject>(platform.dialogs.parentWindow()),
                      name = QFileInfo(path).fileName()](const QString& reason) {
        const DialogParent modalTo(platform.dialogs, window);
        platform.dialogs.message(
            QObject::tr("The file \"%1\" could not be opened: %2.").arg(name, reason));
    };
    platform.shell.openDocument(request);
    return true;
}

SharedFileOpener::SharedFileOpener(Platform& platform, EventPump& pump, QWidget* parent)
    : QWidget(parent)
    , m_platform(platform)
    , m_pump(pump)
{
    setObjectName(QStringLiteral("TakeOutProgress"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_label = new QLabel(this);
    m_label->setTextFormat(Qt::PlainText);
    m_bar = new QProgressBar(this);
    m_bar->setRange(0, 1000);
    m_bar->setTextVisible(false);
    m_stop = new QPushButton(tr("Stop"), this);
    m_stop->setObjectName(QStringLiteral("TakeOutStop"));
    layout->addWidget(m_label);
    layout->addWidget(m_bar, 1);
    layout->addWidget(m_stop);
    connect(m_stop, &QPushButton::clicked, this, &SharedFileOpener::stop);
    hide();
}

void SharedFileOpener::open(const ChatHistoryPtr& history, const HistoryMessage& message)
{
    if (!history || !message.file || m_busy)
        return;
    // Held here: window events run during the take-out, and may replace the shown history.
    const ChatHistoryPtr keptHistory = history;
    const std::shared_ptr<const SharedFile> keptFile = message.file;
    const SharedFile& file = *keptFile;
    const QString shownName =
        withoutFormatCharacters(file.fileName.isEmpty() ? message.body : file.fileName);
    // What is asked or told about the file belongs to the window that shows it.
    const DialogParent modalTo(m_platform.dialogs, window());
    try {
        const QStringList sources = keptHistory->sourceFiles;
        for (const QString& source : sources) {
            if (sniffHistoryFile(source) != HistoryFileKind::ExportArchive)
                continue;
            const SharedFileMember member = findSharedFileMember(source, file);
            if (member.name.isEmpty())
                continue;
            // The member's name is never used as a path: the file gets a safe name of its own.
            const QString name = safeFileName(
                file.fileName.isEmpty() ? member.name.section(u'/', -1) : file.fileName);
            // Asked before anything is written when the name tells; after, when only the
            // content does.
            const QString kind = runnableKind(name, false);
            if (!mayOpenFromHistory(m_platform, name, kind))
                return;
            const QString path = takeOut(source, member, file, name, shownName);
            if (!path.isEmpty() && !openFileFromHistory(m_platform, path, !kind.isEmpty())) {
                m_takenOut.remove(m_takenOut.key(path));
                QFile::remove(path);
                QDir().rmdir(QFileInfo(path).path());
            }
            return;
        }
        m_platform.dialogs.message(tr("The chat history holds no copy of the file \"%1\": the "
                                      "export has only the message about it.")
                                       .arg(shownName));
    } catch (const Failure& failure) {
        m_platform.dialogs.message(failure.description());
    } catch (const ProgramClosing&) {
        // The program is closing; the partial file is gone with the stack.
    }
}

QString SharedFileOpener::takeOut(const QString& archive, const SharedFileMember& member,
                                  const SharedFile& file, const QString& name,
                                  const QString& shownName)
{
    const QFileInfo archiveInfo(archive);
    const QString key = archiveInfo.absoluteFilePath() + QLatin1Char('\n') + member.name
                        + QLatin1Char('\n') + QString::number(archiveInfo.size())
                        + QLatin1Char('\n')
                        + QString::number(archiveInfo.lastModified().toMSecsSinceEpoch());
    const QString earlier = m_takenOut.value(key);
    if (!earlier.isEmpty()) {
        const QFileInfo copy(earlier);
        if (copy.isFile() && !copy.isSymLink() && copy.size() == member.size) {
            m_lastFolder = copy.path();
            return earlier;
        }
        m_takenOut.remove(key);
    }

    const QString temporary = QDir::tempPath();
    if (member.size < 0)
        failToRead(archive, tr("the size of its copy of \"%1\" is not recorded").arg(member.name));
    const QStorageInfo disk(temporary);
    const qint64 free = disk.isValid() ? disk.bytesAvailable() : -1;
    if (free >= 0 && member.size > free - SpareBytes) {
        m_platform.dialogs.message(
            tr("The file \"%1\" is %2, but only %3 are free in \"%4\": it is not taken out of "
               "the chat history.")
                .arg(shownName, sizeText(member.size), sizeText(std::max<qint64>(free, 0)),
                     QDir::toNativeSeparators(temporary)));
        return {};
    }
    // A copy much larger than the message says is no copy of that file; a large one takes
    // long and fills the disk: either is asked for.
    const bool unlikeMessage = file.size >= 0 && member.size > file.size + (qint64(1) << 20);
    if (member.size > AskAboveBytes || unlikeMessage) {
        QString text =
            tr("The file \"%1\" in the chat history is %2").arg(shownName, sizeText(member.size));
        if (unlikeMessage)
            text += tr(", although the message says it is %1").arg(sizeText(file.size));
        text += tr(". Taking it out writes that much to \"%1\" (%2 free).\r\rTake it out?")
                    .arg(QDir::toNativeSeparators(temporary),
                         free >= 0 ? sizeText(free) : tr("unknown"));
        if (!m_platform.dialogs.warningQuestion(text))
            return {};
    }

    QTemporaryDir folder(temporary + QLatin1Char('/') + FolderPattern.toString());
    if (!folder.isValid())
        throw Failure(tr("No folder for the file could be made in \"%1\": %2.")
                          .arg(QDir::toNativeSeparators(temporary), folder.errorString()));
    const QString target = folder.filePath(name);

    m_busy = true;
    m_stopRequested = false;
    m_label->setText(tr("Taking \"%1\" out of the chat history").arg(shownName));
    m_bar->setValue(0);
    show();
    struct Idle {
        SharedFileOpener* opener;
        ~Idle()
        {
            opener->m_busy = false;
            opener->hide();
        }
    } idle{this};
    const bool whole =
        extractArchiveMember(archive, member.name, target, [this](qint64 done, qint64 total) {
            return showProgress(done, total);
        });
    if (!whole)
        return {};
    folder.setAutoRemove(false);
    m_takenOut.insert(key, target);
    m_lastFolder = folder.path();
    return target;
}

bool SharedFileOpener::showProgress(qint64 done, qint64 total)
{
    m_bar->setValue(total > 0 ? int(std::min<qint64>(1000, done * 1000 / total)) : 1000);
    m_pump.yield();
    return !m_stopRequested;
}

int removeStaleSharedFileFolders(const QString& temporaryFolder, const QDateTime& now)
{
    if (!now.isValid())
        return 0;
    return removeStaleFolders(
        temporaryFolder, now.addDays(-1),
        [](const QString& name) { return matchesTemporaryPattern(name, FolderPattern); },
        [](const QByteArray&) { return true; });
}

} // namespace velmoran
