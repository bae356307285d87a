#include "app/archive_save.h"

#include "app/conversation_models.h"
#include "archive/archive_folder.h"
#include "archive/archive_writer.h"
#include "chat/shared_file_archive.h"
#include "core/dialogs.h"
#include "core/event_pump.h"
#include "core/failure.h"
#include "core/platform.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QStyle>
#include <QToolButton>

#include <sys/stat.h>

namespace velmoran {

namespace {

// A folder's name leaves room for the temporary folders made beside it
// (".NAME.velmoran-tmp-XXXXXX") within a file system's 255 bytes.
constexpr qsizetype MaxNameBytes = 200;

QString shownPath(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// Whether an empty folder can be replaced by one renamed into its place: its parent takes new
// entries and holds it on the same disk (a mount point cannot be renamed over).
bool isReplaceable(const QString& folder)
{
    const QFileInfo info(folder);
    const QString parent = info.path();
    struct stat own = {};
    struct stat above = {};
    return !info.fileName().isEmpty() && QFileInfo(parent).isWritable()
           && ::stat(QFile::encodeName(folder).constData(), &own) == 0
           && ::stat(QFile::encodeName(parent).constData(), &above) == 0
           && own.st_dev == above.st_dev;
}

// base, numbered past 1 (" (2)"), cut to fit MaxNameBytes with its number.
QString numberedName(QString base, int number)
{
    const QString suffix = number > 1 ? QStringLiteral(" (%1)").arg(number) : QString();
    while (!base.isEmpty() && (base + suffix).toUtf8().size() > MaxNameBytes)
        base.chop(base.size() >= 2 && base.back().isLowSurrogate() ? 2 : 1);
    return base.trimmed() + suffix;
}

QString counted(qsizetype count, const QString& one, const QString& many)
{
    return count == 1 ? one : many.arg(QLocale().toString(count));
}

} // namespace

QString archiveDestination(const QString& chosen, const QString& name)
{
    const QFileInfo info(chosen);
    if (!info.exists() && !info.isSymLink())
        return QDir::cleanPath(info.absoluteFilePath());
    if (!info.isDir())
        return chosen;
    // The folder itself, not a link to it: the archive is renamed into its place.
    const QString folder = info.canonicalFilePath();
    const QDir dir(folder);
    if (QFileInfo(dir.filePath(QLatin1StringView(ArchiveFolder::MarkerName))).isFile())
        return folder;
    if (dir.isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
        && isReplaceable(folder))
        return folder;
    // A conversation's name is no path: its slashes are kept as dashes, not taken for folders.
    QString plain = name;
    plain.replace(u'/', u'-').replace(u'\\', u'-');
    const QString base = safeFileName(plain, QStringLiteral("Archive"));
    for (int number = 1;; ++number) {
        const QString path = dir.filePath(numberedName(base, number));
        const QFileInfo taken(path);
        if (!taken.exists() && !taken.isSymLink())
            return path;
    }
}

ArchiveSave::ArchiveSave(Platform& platform, EventPump& pump, std::function<Shown()> shown,
                         QWidget* parent)
    : QWidget(parent)
    , m_platform(platform)
    , m_pump(pump)
    , m_shown(std::move(shown))
{
    setObjectName(QStringLiteral("ArchiveSaveBar"));
    m_saveConversation = new QAction(tr("Save Conversation..."), this);
    m_saveConversation->setObjectName(QStringLiteral("SaveConversation"));
    m_saveConversation->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    m_saveConversation->setToolTip(
        tr("Save the conversation shown as pages any browser reads, in a folder"));
    connect(m_saveConversation, &QAction::triggered, this, &ArchiveSave::saveConversation);
    m_saveArchive = new QAction(tr("Save Archive..."), this);
    m_saveArchive->setObjectName(QStringLiteral("SaveArchive"));
    m_saveArchive->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    m_saveArchive->setToolTip(
        tr("Save every conversation of the history as pages any browser reads, in a folder"));
    connect(m_saveArchive, &QAction::triggered, this, &ArchiveSave::saveArchive);

    m_menuButton = new QToolButton(parent);
    m_menuButton->setObjectName(QStringLiteral("SaveMenu"));
    m_menuButton->setText(tr("Save"));
    m_menuButton->setAccessibleName(tr("Save"));
    m_menuButton->setToolTip(tr("Save the conversation (Ctrl+S) or the whole history "
                                "(Ctrl+Shift+S) as an archive"));
    m_menuButton->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(m_menuButton);
    menu->addAction(m_saveConversation);
    menu->addAction(m_saveArchive);
    m_menuButton->setMenu(menu);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_label = new QLabel(this);
    m_label->setObjectName(QStringLiteral("ArchiveStatus"));
    m_label->setTextFormat(Qt::PlainText);
    m_label->setWordWrap(true);
    m_label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_bar = new QProgressBar(this);
    m_bar->setObjectName(QStringLiteral("ArchiveProgress"));
    m_bar->setAccessibleName(tr("Archive progress"));
    m_bar->setRange(0, 1000);
    m_bar->setTextVisible(false);
    m_stop = new QPushButton(tr("Stop"), this);
    m_stop->setObjectName(QStringLiteral("ArchiveStop"));
    m_stop->setAccessibleName(tr("Stop saving"));
    m_open = new QPushButton(tr("Open Folder"), this);
    m_open->setObjectName(QStringLiteral("ArchiveOpenFolder"));
    m_open->setAccessibleName(tr("Open the archive's folder"));
    m_dismiss = new QToolButton(this);
    m_dismiss->setObjectName(QStringLiteral("ArchiveDismiss"));
    m_dismiss->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    m_dismiss->setAutoRaise(true);
    m_dismiss->setAccessibleName(tr("Close this message"));
    m_dismiss->setToolTip(tr("Close this message"));
    layout->addWidget(m_label, 1);
    layout->addWidget(m_bar, 1);
    layout->addWidget(m_stop);
    layout->addWidget(m_open);
    layout->addWidget(m_dismiss);
    connect(m_stop, &QPushButton::clicked, this, &ArchiveSave::stop);
    connect(m_open, &QPushButton::clicked, this, &ArchiveSave::openFolder);
    connect(m_dismiss, &QToolButton::clicked, this, &QWidget::hide);
    hide();
    updateActions();
}

ArchiveSave::~ArchiveSave() = default;

void ArchiveSave::windowClosing()
{
    stop();
    if (!m_busy)
        hide();
}

void ArchiveSave::updateActions()
{
    const Shown shown = m_shown ? m_shown() : Shown{};
    const bool chat =
        shown.history && shown.chat >= 0 && size_t(shown.chat) < shown.history->chats.size();
    m_saveConversation->setEnabled(!m_busy && chat);
    m_saveArchive->setEnabled(!m_busy && shown.history && !shown.history->chats.empty());
    m_menuButton->setEnabled(m_saveConversation->isEnabled() || m_saveArchive->isEnabled());
}

QString ArchiveSave::statusText() const
{
    return isHidden() ? QString() : m_label->text();
}

void ArchiveSave::setBusy(bool busy)
{
    m_busy = busy;
    updateActions();
}

void ArchiveSave::tell(const QString& text, bool done)
{
    m_label->setText(text);
    m_label->setAccessibleName(text);
    m_bar->setVisible(!done);
    m_stop->setVisible(!done);
    m_open->setVisible(done && !m_lastArchive.isEmpty());
    m_dismiss->setVisible(done);
    show();
}

void ArchiveSave::save(bool wholeHistory)
{
    if (m_busy)
        return;
    const Shown shown = m_shown();
    // Held here: window events run during the save, and may show another history.
    const ChatHistoryPtr history = shown.history;
    if (!history
        || (!wholeHistory && (shown.chat < 0 || size_t(shown.chat) >= history->chats.size())))
        return;
    struct Idle {
        ArchiveSave* save;
        ~Idle() { save->setBusy(false); }
    } idle{this};
    setBusy(true);

    const QString name = wholeHistory
                             ? tr("Chat history archive")
                             : withoutFormatCharacters(conversationShownName(*history, shown.chat));
    // What is asked or told belongs to the conversation window.
    const DialogParent modalTo(m_platform.dialogs, window());
    if (m_startFolder.isEmpty())
        m_startFolder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString chosen =
        m_platform.dialogs.existingFolder({wholeHistory ? tr("Save Archive of the Whole History")
                                                        : tr("Save Conversation \"%1\"").arg(name),
                                           m_startFolder});
    if (chosen.isEmpty())
        return;
    m_startFolder = chosen;

    QString destination = chosen;
    m_stopRequested = false;
    m_closing = false;
    bool stopped = false;
    try {
        destination = archiveDestination(chosen, name);
        ArchiveFolder folder(destination, history->sourceFiles, [this] {
            if (!m_closing && eventsDue())
                runEvents();
        });
        if (folder.kind() == ArchiveFolder::Kind::Earlier
            && !m_platform.dialogs.warningQuestion(
                tr("The folder \"%1\" holds an archive saved earlier.\r\rReplace it with the "
                   "new one?")
                    .arg(shownPath(folder.path()))))
            return;
        ArchiveOptions options;
        if (!wholeHistory)
            options.chats = {size_t(shown.chat)};
        const QString what = QStringLiteral("\"%1\"").arg(name);
        m_lastArchive.clear();
        m_bar->setRange(0, 0);
        tell(tr("Saving %1 in \"%2\"").arg(what, shownPath(folder.path())), false);
        m_sinceYield.start();
        const QString temporary = folder.begin();
        const std::optional<ArchiveSummary> summary =
            writeArchive(*history, temporary, options, [&](qint64 done, qint64 total) {
                return showProgress(what, done, total);
            });
        stopped = !summary || m_stopRequested || m_closing;
        if (!stopped) {
            folder.commit();
            m_lastArchive = folder.path();
            tell(tr("Saved %1, %2, %3 (%4) in \"%5\".")
                     .arg(counted(summary->conversations, tr("1 conversation"),
                                  tr("%1 conversations")),
                          counted(summary->messages, tr("1 message"), tr("%1 messages")),
                          counted(summary->files, tr("1 file"), tr("%1 files")),
                          QLocale().formattedDataSize(summary->bytes), shownPath(folder.path())),
                 true);
            return;
        }
        // The temporary folder is removed here, with the folder's guard.
    } catch (const Failure& failure) {
        hide();
        if (!m_closing && !m_pump.isClosing())
            m_platform.dialogs.message(tr("The archive could not be saved in \"%1\".\r\r%2")
                                           .arg(shownPath(destination), failure.description()));
        return;
    } catch (const std::bad_alloc&) {
        hide();
        if (!m_closing && !m_pump.isClosing())
            m_platform.dialogs.message(
                tr("There was not enough memory to save the archive in \"%1\"; nothing was "
                   "saved.")
                    .arg(shownPath(destination)));
        return;
    }
    if (stopped && !m_closing && window()->isVisible())
        tell(tr("Stopped; nothing was saved in \"%1\".").arg(shownPath(destination)), true);
    else
        hide();
}

bool ArchiveSave::showProgress(const QString& what, qint64 done, qint64 total)
{
    // The writer tells progress every thousand messages or so, and between pieces of the
    // shared files it copies.
    if (eventsDue()) {
        if (done > 0 && total > 0) {
            const QLocale locale;
            m_bar->setRange(0, 1000);
            m_bar->setValue(int(std::min<qint64>(1000, done * 1000 / total)));
            m_label->setText(tr("Saving %1: %2 of %3 messages")
                                 .arg(what, locale.toString(done), locale.toString(total)));
        }
        runEvents();
    }
    return !m_stopRequested && !m_closing;
}

bool ArchiveSave::eventsDue() const
{
    return m_pump.minimumInterval() <= 0 || m_sinceYield.elapsed() >= m_pump.minimumInterval();
}

void ArchiveSave::runEvents()
{
    try {
        m_pump.yieldNow();
    } catch (const ProgramClosing&) {
        // Never thrown through the writer or a folder's removal: they stop, or finish, at
        // this answer and clean up.
        m_closing = true;
    }
    m_sinceYield.restart();
}

void ArchiveSave::openFolder()
{
    if (m_lastArchive.isEmpty())
        return;
    ShellOpenRequest request;
    request.file = QLatin1Char('"') + m_lastArchive + QLatin1Char('"');
    request.workingFolder = m_lastArchive;
    request.failed = [&platform = m_platform, window = QPointer<QObject>(window()),
                      path = m_lastArchive](const QString& reason) {
        const DialogParent modalTo(platform.dialogs, window);
        platform.dialogs.message(
            tr("The folder \"%1\" could not be opened: %2.").arg(shownPath(path), reason));
    };
    m_platform.shell.openDocument(request);
}

} // namespace velmoran
