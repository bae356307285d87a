#include "window_harness.h"

#include "app/contact_list_model.h"
#include "app/results_model.h"
#include "chat/history_loader.h"
#include "chat/sample_history.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace velmoran::test {

WindowHarness::WindowHarness(Start start, const QString& folderTemplate)
    : folder(QDir::tempPath() + QLatin1Char('/') + folderTemplate)
    , fake(folder.path())
    , window(fake.platform, chats)
{
    window.eventPump().setMinimumInterval(0);
    if (start == Start::Loaded)
        load();
}

WindowHarness::~WindowHarness() = default;

void WindowHarness::load()
{
    QVERIFY2(!m_loaded, "the start-up routine runs once");
    m_loaded = true;
    window.Form_Load();
}

void WindowHarness::serveSample()
{
    chats.history = sampleHistory();
}

HistoryLoader& WindowHarness::readHistoryFiles(const QStringList& files)
{
    loader = std::make_shared<HistoryLoader>(files);
    loader->setReport([this](const QString& text) { fake.dialogs.message(text); });
    loader->setNotice([this](const QString& notice) { chats.addNotice(notice); });
    chats.provider = [history = loader] { return history->load(); };
    return *loader;
}

void WindowHarness::press(int button)
{
    QPushButton* pushButton = window.button(button);
    QVERIFY2(pushButton, qPrintable(QStringLiteral("no PushButton%1").arg(button)));
    pushButton->click();
}

void WindowHarness::find(const QString& text, bool matchCase)
{
    window.searchText()->setText(text);
    window.matchCase()->setChecked(matchCase);
    press(7);
}

void WindowHarness::whenEventsRun(std::function<void()> action)
{
    QTimer::singleShot(0, &window, std::move(action));
}

QStringList WindowHarness::contactTexts() const
{
    QStringList result;
    const ContactListModel& model = const_cast<Form1&>(window).contacts();
    for (int row = 0; row < model.rowCount(); ++row)
        result << model.data(model.index(row, 0), Qt::DisplayRole).toString();
    return result;
}

QList<bool> WindowHarness::contactTicks() const
{
    QList<bool> result;
    const ContactListModel& model = const_cast<Form1&>(window).contacts();
    for (int row = 0; row < model.rowCount(); ++row)
        result << (model.data(model.index(row, 0), Qt::CheckStateRole).toInt() == Qt::Checked);
    return result;
}

void WindowHarness::addContacts(const QStringList& handles, bool ticked)
{
    ContactListModel& model = window.contacts();
    for (const QString& handle : handles) {
        model.append(handle);
        model.setChecked(model.size(), ticked);
    }
}

void WindowHarness::tickContact(int row, bool ticked)
{
    ContactListModel& model = window.contacts();
    QVERIFY(model.setData(model.index(row - 1, 0), ticked ? Qt::Checked : Qt::Unchecked,
                          Qt::CheckStateRole));
}

void WindowHarness::addResults(const std::vector<ResultRow>& rows)
{
    for (const ResultRow& row : rows)
        window.results().append(row.contact, row.field, row.value);
}

QStringList WindowHarness::resultRows() const
{
    QStringList result;
    const ResultsModel& model = const_cast<Form1&>(window).results();
    for (qsizetype row = 1; row <= model.size(); ++row)
        result << model.text(row, 1) + u'|' + model.text(row, 2) + u'|' + model.text(row, 3);
    return result;
}

QStringList WindowHarness::resultBodies() const
{
    QStringList result;
    const ResultsModel& model = const_cast<Form1&>(window).results();
    for (qsizetype row = 1; row <= model.size(); ++row) {
        if (model.field(row) == MessageField::Body)
            result << model.value(row);
    }
    return result;
}

QStringList WindowHarness::resultContacts() const
{
    QStringList result;
    const ResultsModel& model = const_cast<Form1&>(window).results();
    for (qsizetype row = 1; row <= model.size(); ++row)
        result << model.contact(row);
    return result;
}

} // namespace velmoran::test
