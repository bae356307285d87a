#include "app/form1.h"

#include "app/command_context.h"

#include "app/allow_access_command.h"
#include "app/clipboard_copy.h"
#include "app/contact_list_commands.h"
#include "app/contact_list_model.h"
#include "app/conversation_entry.h"
#include "app/hand_pointer.h"
#include "app/main_window_help_command.h"
#include "app/program_files.h"
#include "app/results_filters.h"
#include "app/results_model.h"
#include "app/results_removal_lock.h"
#include "app/search_run.h"
#include "app/shared_file_opener.h"
#include "app/text_file_export.h"
#include "app/window_keyboard.h"
#include "app/workbook_export.h"
#include "chat/chat_service.h"
#include "core/application_title.h"
#include "core/file_exists.h"
#include "core/guarded_routine.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTime>

#include <cmath>

namespace velmoran {

int twipsToPixels(int twips)
{
    return int(std::lround(twips / 15.0));
}

namespace {

QRect twipsRect(int left, int top, int width, int height)
{
    return {twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height)};
}

struct ButtonDesign {
    int number;
    const char16_t* caption;
    int left, top, width, height;
    bool insideFrame2;
};

// The window design, top to bottom; positions in twips. PushButton1 lies below the client
// area on purpose: it is reached through the focus order.
const ButtonDesign ButtonsDesign[] = {
    {13, u"Help", 120, 120, 7800, 405, false},
    {2, u"List Contacts In Skype", 120, 630, 7800, 405, false},
    {3, u"Check All", 120, 3045, 3840, 405, false},
    {4, u"Uncheck All", 4080, 3045, 3840, 405, false},
    {7, u"Start Finding", 240, 750, 7320, 405, true},
    {5, u"Save Results As Text File", 120, 7610, 3840, 405, false},
    {14, u"Save Results As Excel File", 4080, 7610, 3840, 405, false},
    {8, u"Copy Results To Clipboard", 120, 8120, 3840, 405, false},
    {6, u"Clear Results", 4080, 8120, 3840, 405, false},
    {17, u"Remove Results Containing X", 120, 8630, 3840, 405, false},
    {11, u"Remove Results Not Containing X", 4080, 8630, 3840, 405, false},
    {1, u"2. Click 'Allow access' In Skype", 120, 9810, 3840, 405, false},
};

const int ClientWidthTwips = 8040;
const int ClientHeightTwips = 9675;

QFont arialBold(double points)
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setBold(true);
    return font;
}

void setWhiteBackground(QWidget* widget)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, Qt::white);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

void setupReportView(QTableView* view)
{
    view->setFont(arialBold(9));
    view->setShowGrid(false);
    view->setWordWrap(false);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    view->verticalHeader()->hide();
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 4);
    QHeaderView* header = view->horizontalHeader();
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setSectionsClickable(false);
    header->setSectionsMovable(false);
    header->setStretchLastSection(false);
    header->setHighlightSections(false);
    header->setSectionResizeMode(QHeaderView::Interactive);
    view->viewport()->setMouseTracking(true);
}

} // namespace

Form1::Form1(Platform& platform, ChatServiceFactory& chatServices, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , m_platform(platform)
    , m_chatServices(chatServices)
    , m_errorReporter(platform.dialogs)
{
    setObjectName(QStringLiteral("Form1"));
    createControls();
    setTabOrder();
    createCommands();
    QList<QAbstractButton*> buttons(m_buttons.cbegin(), m_buttons.cend());
    new WindowKeyboard(this, {m_listView1, m_listView2}, buttons);
    m_mousePointer.attach(this);
    m_listView1->setFocus();
}

Form1::~Form1() = default;

QPushButton* Form1::button(int number) const
{
    return m_buttons.value(number);
}

void Form1::createControls()
{
    setFixedSize(twipsToPixels(ClientWidthTwips), twipsToPixels(ClientHeightTwips));
    setWhiteBackground(this);
    setFont(arialBold(9));
    setMouseTracking(true);
    installEventFilter(this);

    m_frame1 = new QGroupBox(QStringLiteral("Match Option"), this);
    m_frame1->setObjectName(QStringLiteral("Frame1"));
    m_frame1->setGeometry(twipsRect(120, 3510, 7800, 705));
    m_frame2 = new QGroupBox(QStringLiteral("Search For This Text"), this);
    m_frame2->setObjectName(QStringLiteral("Frame2"));
    m_frame2->setGeometry(twipsRect(120, 4275, 7800, 1320));
    for (QGroupBox* frame : {m_frame1, m_frame2}) {
        frame->setFont(arialBold(9));
        setWhiteBackground(frame);
        // A plain etched frame with its caption on the top line, on the window's colour.
        frame->setStyleSheet(QStringLiteral(
            "QGroupBox { border: 1px solid #b4b4b4; border-radius: 2px; margin-top: 7px; }"
            "QGroupBox::title { subcontrol-origin: margin; left: 7px; padding: 0 2px; }"));
        frame->setMouseTracking(true);
        frame->installEventFilter(this);
    }

    m_check4 = new QCheckBox(QStringLiteral("Match case"), m_frame1);
    m_check4->setObjectName(QStringLiteral("Check4"));
    m_check4->setGeometry(twipsRect(240, 300, 1335, 255));
    m_check4->setFont(arialBold(9));
    m_check4->setChecked(true);
    // Drawn on the frame's own colour, white by design.
    QPalette checkPalette = m_check4->palette();
    checkPalette.setColor(QPalette::Window, Qt::white);
    m_check4->setPalette(checkPalette);

    m_text1 = new QLineEdit(m_frame2);
    m_text1->setObjectName(QStringLiteral("Text1"));
    m_text1->setGeometry(twipsRect(240, 300, 7320, 345));
    m_text1->setFont(arialBold(9));

    for (const ButtonDesign& design : ButtonsDesign) {
        auto* button = new QPushButton(QString::fromUtf16(design.caption),
                                       design.insideFrame2 ? static_cast<QWidget*>(m_frame2)
                                                           : static_cast<QWidget*>(this));
        button->setObjectName(QStringLiteral("PushButton%1").arg(design.number));
        button->setGeometry(twipsRect(design.left, design.top, design.width, design.height));
        button->setFont(arialBold(11.25));
        button->setAutoDefault(false);
        button->setMouseTracking(true);
        button->installEventFilter(this);
        m_buttons.insert(design.number, button);
    }

    m_contacts = new ContactListModel(this);
    m_listView1 = new QTableView(this);
    m_listView1->setObjectName(QStringLiteral("ListView1"));
    m_listView1->setAccessibleName(QStringLiteral("Contacts"));
    m_listView1->setGeometry(twipsRect(120, 1140, 7800, 1815));
    m_listView1->setModel(m_contacts);
    m_listView1->setToolTip(
        QStringLiteral("Move | line to right and out of window to reveal full names."));
    setupReportView(m_listView1);
    m_listView1->viewport()->installEventFilter(this);

    m_results = new ResultsModel(this);
    m_listView2 = new QTableView(this);
    m_listView2->setObjectName(QStringLiteral("ListView2"));
    m_listView2->setAccessibleName(QStringLiteral("Search results"));
    m_listView2->setGeometry(twipsRect(120, 5700, 7800, 1815));
    m_listView2->setModel(m_results);
    m_listView2->setToolTip(QStringLiteral("Double-click item to remove it. Move | line to right "
                                           "and out of window to reveal full names."));
    setupReportView(m_listView2);
    m_listView2->viewport()->installEventFilter(this);

    m_progressBar1 = new TextProgressBar(this);
    m_progressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    m_progressBar1->setGeometry(twipsRect(120, 9150, 7800, 405));
    m_progressBar1->setRange(0, 100);
    m_progress = std::make_unique<ProgressDisplay>(m_progressBar1);
    m_progress->setText(QStringLiteral("Progress Bar"));
    // The list views are created after the frames, so raise nothing over the frames' children.
}

void Form1::onClick(int buttonNumber, std::function<void()> command)
{
    connect(button(buttonNumber), &QPushButton::clicked, this,
            [this, command = std::move(command)] { runCommand(command); });
}

void Form1::createCommands()
{
    m_help = std::make_unique<MainWindowHelpCommand>(m_platform, m_errorReporter,
                                                     [this] { return button(2)->text(); });
    m_resultsRemoval = std::make_unique<ResultsRemovalLock>();
    for (const int removes : {6, 11, 17})
        m_resultsRemoval->addControl(button(removes));
    m_context = std::make_unique<CommandContext>(
        CommandContext{m_platform, m_errorReporter, m_eventPump, m_mousePointer, *m_progress,
                       m_chatServices, *m_contacts, *m_results, *m_resultsRemoval, *m_help});

    onClick(13, [this] { m_help->PushButton13_Click(); });

    m_resultsFilters = std::make_unique<ResultsFilterCommands>(*m_context);
    onClick(17, [this] { m_resultsFilters->PushButton17_Click(); });
    onClick(11, [this] { m_resultsFilters->PushButton11_Click(); });
    onClick(6, [this] { m_resultsFilters->PushButton6_Click(); });

    m_contactCommands = std::make_unique<ContactListCommands>(*m_context);
    onClick(2, [this] { m_contactCommands->PushButton2_Click(); });
    onClick(3, [this] { m_contactCommands->PushButton3_Click(); });
    onClick(4, [this] { m_contactCommands->PushButton4_Click(); });

    m_allowAccess = std::make_unique<AllowAccessCommand>(*m_context);
    onClick(1, [this] { m_allowAccess->PushButton1_Click(); });
    m_saveResultsAsText = std::make_unique<SaveResultsAsTextFileCommand>(*m_context);
    onClick(5, [this] { m_saveResultsAsText->PushButton5_Click(); });
    m_copyResults = std::make_unique<CopyResultsToClipboardCommand>(*m_context);
    onClick(8, [this] { m_copyResults->PushButton8_Click(); });
    m_saveResultsAsExcel = std::make_unique<SaveResultsAsExcelFileCommand>(*m_context);
    onClick(14, [this] { m_saveResultsAsExcel->PushButton14_Click(); });

    m_search =
        std::make_unique<SearchRun>(*m_context, SearchRun::Controls{button(7), m_text1, m_check4});
    onClick(7, [this] { m_search->PushButton7_Click(); });
    connect(m_listView2, &QAbstractItemView::doubleClicked, this, &Form1::ListView2_DblClick);

    m_conversations = std::make_unique<ConversationEntry>(
        m_platform, m_eventPump, m_chatServices,
        ConversationEntry::Views{m_listView1, *m_contacts, m_listView2, *m_results, m_text1,
                                 m_check4});
}

void Form1::ListView2_DblClick(const QModelIndex& index)
{
    // Not while a command holds positions into the results list.
    if (m_resultsRemoval->removalAllowed() && index.isValid() && index.row() < m_results->size())
        m_results->removeRow(index.row() + 1);
}

void Form1::setTabOrder()
{
    // The design's focus order; frames and the progress bar take no focus.
    const QList<QWidget*> order = {m_listView1, button(2), button(13), button(1),
                                   button(3),   button(4), m_text1,    m_check4,
                                   m_listView2, button(5), button(6),  button(17),
                                   button(11),  button(8), button(14), button(7)};
    for (qsizetype i = 0; i + 1 < order.size(); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);
}

void Form1::Form_Load()
{
    GuardedRoutine routine(m_errorReporter,
                           routineLabel(QStringLiteral("Form1"), QStringLiteral("Form_Load")));
    routine.step(100, [&] { LoadSkinIfPresent(); });
    const QString handPointer =
        besideProgram(m_platform.programFolder, QStringLiteral("/HAND-M.CUR"));
    if (routine.test(104, [&] { return FileExists(handPointer); }))
        routine.step(106, [&] { loadHandPointer(handPointer); });
    routine.step(108, [&] { OccasionalSiteVisit(); });
    routine.step(126, [&] { setWindowTitle(QString::fromUtf16(ProductName)); });
    routine.step(126, [&] { setWindowIcon(programIcon()); });
    routine.step(126, [&] {
        setApplicationTitle(applicationTitleFromProductName(QString::fromUtf16(ProductName)));
    });
    routine.step(128, [&] { m_contacts->addColumn(QStringLiteral("Contacts")); });
    routine.step(130, [&] { m_listView1->setColumnWidth(0, twipsToPixels(7300)); });
    routine.step(132, [&] { m_results->addColumn(QStringLiteral("Contact")); });
    routine.step(134, [&] { m_results->addColumn(QStringLiteral("Field")); });
    routine.step(136, [&] { m_results->addColumn(QStringLiteral("Value")); });
    routine.step(138, [&] { m_listView2->setColumnWidth(0, twipsToPixels(2000)); });
    routine.step(140, [&] { m_listView2->setColumnWidth(1, twipsToPixels(2300)); });
    routine.step(142, [&] { m_listView2->setColumnWidth(2, twipsToPixels(3000)); });
    // Workbooks that earlier exports left for the spreadsheet application, and files taken out
    // of a history for a viewer, once neither can be read any more. Nothing to tell when it fails:
    // they are left for the next start.
    try {
        removeStaleWorkbookFolders(QDir::tempPath(), m_platform.clock.now());
        removeStaleSharedFileFolders(QDir::tempPath(), m_platform.clock.now());
    } catch (...) {
    }
}

void Form1::LoadSkinIfPresent()
{
    const QString path = besideProgram(m_platform.programFolder, QStringLiteral("/x/o.cjs"));
    const QFileInfo info(path);
    if (!info.isFile() || info.isHidden())
        return;
    // The design's white gives way to the button-face colour that skins are drawn against.
    const QColor buttonFace = QApplication::palette().color(QPalette::Button);
    auto paint = [&](QWidget* widget) {
        QPalette palette = widget->palette();
        palette.setColor(QPalette::Window, buttonFace);
        widget->setPalette(palette);
    };
    paint(this);
    for (QWidget* control : findChildren<QWidget*>()) {
        if (qobject_cast<QGroupBox*>(control) || qobject_cast<QCheckBox*>(control))
            paint(control);
    }
    m_skinEngine.loadSkin(path, QString());
    m_skinEngine.setOptionFlags(m_skinEngine.optionFlags() | SkinEngine::SkinDialogs);
    m_skinEngine.setApplyToNewWindows(true);
    m_skinEngine.setSkinToolTips(true);
    m_skinEngine.applyWindow(this);
}

void Form1::loadHandPointer(const QString& path)
{
    m_mousePointer.setIcon(loadPointerImage(path));
}

void Form1::OccasionalSiteVisit()
{
    const QTime timeOfDay = m_platform.clock.now().time();
    m_platform.random.seed(quint32(timeOfDay.msecsSinceStartOfDay() / 1000));
    const int n = int(std::floor(m_platform.random.next() * 100)) + 1;
    if (n == 7)
        m_platform.shell.openUrl(QUrl(QString::fromUtf16(MakerSiteUrl)));
}

void Form1::runCommand(const std::function<void()>& command)
{
    try {
        m_eventPump.throwIfClosing();
        command();
    } catch (const ProgramClosing&) {
        // The window was closed during one of the command's yields: it ends here, silently.
    }
}

void Form1::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_centred)
        return;
    m_centred = true;
    if (QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void Form1::closeEvent(QCloseEvent* event)
{
    // Closing cannot be refused: every window closes and a running command is unwound at its
    // next yield (see EventPump), so no step of it runs afterwards.
    event->accept();
    m_eventPump.requestClose();
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window != this && window->isVisible())
            window->hide();
    }
    QCoreApplication::quit();
}

bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::MouseMove)
        return QWidget::eventFilter(watched, event);
    auto* widget = qobject_cast<QWidget*>(watched);
    if (qobject_cast<QPushButton*>(widget)) {
        PointerOverButton();
    } else if (widget == this || widget == m_frame1 || widget == m_frame2
               || widget == m_listView1->viewport() || widget == m_listView2->viewport()) {
        // A move over a control inside the surface (the check box, the text box) reaches the
        // surface too when the control ignores it; only the surface's own area counts.
        const auto* move = static_cast<QMouseEvent*>(event);
        if (!widget->childAt(move->position().toPoint()))
            PointerOverSurface();
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::PointerOverButton()
{
    if (m_mousePointer.value() == MousePointer::Hourglass)
        return;
    m_mousePointer.set(MousePointer::Custom);
}

void Form1::PointerOverSurface()
{
    if (m_mousePointer.value() == MousePointer::Hourglass)
        return;
    m_mousePointer.set(MousePointer::Default);
}

} // namespace velmoran
