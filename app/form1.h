#pragma once

#include "app/mouse_pointer.h"
#include "app/progress_display.h"
#include "app/skin_engine.h"
#include "core/error_report.h"
#include "core/event_pump.h"
#include "core/platform.h"

#include <QWidget>

#include <functional>
#include <memory>

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QModelIndex;
class QProgressBar;
class QPushButton;
class QTableView;

namespace velmoran {

class AllowAccessCommand;
class ChatServiceFactory;
class ContactListCommands;
class ContactListModel;
class ConversationEntry;
class MainWindowHelpCommand;
class CopyResultsToClipboardCommand;
class ResultsFilterCommands;
class ResultsModel;
class ResultsRemovalLock;
class SaveResultsAsExcelFileCommand;
class SaveResultsAsTextFileCommand;
class SearchRun;
struct CommandContext;

// The address of the maker's web site, opened now and then at start-up.
inline constexpr char16_t MakerSiteUrl[] = u"https://velmoran.org/";

// The main window. It owns every control, both lists and the search text; each button runs one
// command. Controls carry their design names as object names ("PushButton7", "ListView2").
class Form1 final : public QWidget {
    Q_OBJECT
public:
    Form1(Platform& platform, ChatServiceFactory& chatServices, QWidget* parent = nullptr);
    ~Form1() override;

    // The start-up routine; run once, before the window is first shown.
    void Form_Load();

    // Runs a command as a button does: a close of the window during one of its yields unwinds
    // it, and nothing of it runs afterwards.
    void runCommand(const std::function<void()>& command);

    EventPump& eventPump() { return m_eventPump; }
    MousePointer& mousePointer() { return m_mousePointer; }
    SkinEngine& skinEngine() { return m_skinEngine; }
    ProgressDisplay& progress() { return *m_progress; }
    ContactListModel& contacts() { return *m_contacts; }
    ResultsModel& results() { return *m_results; }
    const SearchRun& search() const { return *m_search; }
    // Held while positions into the results list must stay valid; commands that remove results
    // rows check removalAllowed() first.
    ResultsRemovalLock& resultsRemoval() { return *m_resultsRemoval; }
    // The ways into the conversation window.
    ConversationEntry& conversations() { return *m_conversations; }

    // A double-click on a results row removes it.
    void ListView2_DblClick(const QModelIndex& index);

    QPushButton* button(int number) const;
    QTableView* contactListView() const { return m_listView1; }
    QTableView* resultsListView() const { return m_listView2; }
    QLineEdit* searchText() const { return m_text1; }
    QCheckBox* matchCase() const { return m_check4; }
    QGroupBox* matchOptionFrame() const { return m_frame1; }
    QGroupBox* searchFrame() const { return m_frame2; }
    QProgressBar* progressBar() const { return m_progressBar1; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void createCommands();
    // Runs a command when the button is clicked.
    void onClick(int buttonNumber, std::function<void()> command);
    void setTabOrder();
    void LoadSkinIfPresent();
    void loadHandPointer(const QString& path);
    void OccasionalSiteVisit();
    void PointerOverButton();
    void PointerOverSurface();

    Platform& m_platform;
    ChatServiceFactory& m_chatServices;
    DialogErrorReporter m_errorReporter;
    EventPump m_eventPump;
    MousePointer m_mousePointer;
    SkinEngine m_skinEngine;
    bool m_centred = false;

    QMap<int, QPushButton*> m_buttons;
    QTableView* m_listView1 = nullptr;
    QTableView* m_listView2 = nullptr;
    QLineEdit* m_text1 = nullptr;
    QCheckBox* m_check4 = nullptr;
    QGroupBox* m_frame1 = nullptr;
    QGroupBox* m_frame2 = nullptr;
    TextProgressBar* m_progressBar1 = nullptr;
    std::unique_ptr<ProgressDisplay> m_progress;
    ContactListModel* m_contacts = nullptr;
    ResultsModel* m_results = nullptr;
    std::unique_ptr<MainWindowHelpCommand> m_help;
    std::unique_ptr<CommandContext> m_context;
    std::unique_ptr<ResultsRemovalLock> m_resultsRemoval;
    std::unique_ptr<ResultsFilterCommands> m_resultsFilters;
    std::unique_ptr<ContactListCommands> m_contactCommands;
    std::unique_ptr<AllowAccessCommand> m_allowAccess;
    std::unique_ptr<SaveResultsAsTextFileCommand> m_saveResultsAsText;
    std::unique_ptr<CopyResultsToClipboardCommand> m_copyResults;
    std::unique_ptr<SaveResultsAsExcelFileCommand> m_saveResultsAsExcel;
    std::unique_ptr<SearchRun> m_search;
    std::unique_ptr<ConversationEntry> m_conversations;
};

// Converts the window design's twips to pixels at 96 dots per inch (15 twips a pixel).
int twipsToPixels(int twips);

} // namespace velmoran
