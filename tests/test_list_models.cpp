// The two lists' models under QAbstractItemModelTester: every announcement the view hears
// (rows inserted, removed, reset, data changed, columns inserted) must agree with what the
// model answers before and after it. The tester fails the running test on the first mismatch.
#include "app/contact_list_model.h"
#include "app/conversation_models.h"
#include "app/results_model.h"
#include "chat/history_loader.h"
#include "core/failure.h"
#include "history_files.h"
#include "one_message.h"
#include "window_harness.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <vector>

using namespace velmoran;
using velmoran::test::WindowHarness;
using namespace Qt::Literals::StringLiterals;

namespace {

constexpr auto ReportToQtTest = QAbstractItemModelTester::FailureReportingMode::QtTest;

QStringList handles(int first, int last)
{
    QStringList result;
    for (int i = first; i <= last; ++i)
        result << QStringLiteral("c%1").arg(i);
    return result;
}

// The model's rows as the view reads them: the first column's text, and "+" for a shown tick.
QStringList viewRows(const QAbstractItemModel& model)
{
    QStringList rows;
    for (int row = 0; row < model.rowCount(); ++row) {
        const QModelIndex first = model.index(row, 0);
        QString text = model.data(first, Qt::DisplayRole).toString();
        if (model.data(first, Qt::CheckStateRole).toInt() == Qt::Checked)
            text += u'+';
        rows << text;
    }
    return rows;
}

// What a view holds of a model when it learns of changes only through the model's
// announcements: rows read when inserted, re-read when their data is announced changed, dropped
// when removed, all read again on a reset. A change the model makes without telling leaves the
// copy behind, and then it differs from viewRows().
class AnnouncedRows {
public:
    explicit AnnouncedRows(const QAbstractItemModel& model)
        : m_model(model)
        , m_rows(viewRows(model))
    {
        QObject::connect(&model, &QAbstractItemModel::rowsInserted, &m_context,
                         [this](const QModelIndex&, int first, int last) {
                             for (int row = first; row <= last; ++row)
                                 m_rows.insert(qMin(qsizetype(row), m_rows.size()), rowText(row));
                         });
        QObject::connect(&model, &QAbstractItemModel::rowsRemoved, &m_context,
                         [this](const QModelIndex&, int first, int last) {
                             if (last < m_rows.size())
                                 m_rows.remove(first, last - first + 1);
                             else // announced more than it knew of: the copy cannot follow
                                 m_rows.append(QStringLiteral("(lost)"));
                         });
        QObject::connect(&model, &QAbstractItemModel::modelReset, &m_context,
                         [this] { m_rows = viewRows(m_model); });
        QObject::connect(&model, &QAbstractItemModel::dataChanged, &m_context,
                         [this](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
                             for (int row = topLeft.row(); row <= bottomRight.row(); ++row) {
                                 if (row < m_rows.size())
                                     m_rows[row] = rowText(row);
                             }
                         });
    }
    const QStringList& rows() const { return m_rows; }

private:
    QString rowText(int row) const
    {
        const QModelIndex first = m_model.index(row, 0);
        QString text = m_model.data(first, Qt::DisplayRole).toString();
        if (m_model.data(first, Qt::CheckStateRole).toInt() == Qt::Checked)
            text += u'+';
        return text;
    }
    const QAbstractItemModel& m_model;
    QStringList m_rows;
    QObject m_context;
};

// A results list with three columns and rows "1".."rows", announced.
void fillResults(ResultsModel& model, int rows)
{
    for (const char* header : {"Contact", "Field", "Value"})
        model.addColumn(QString::fromLatin1(header));
    for (int r = 1; r <= rows; ++r)
        model.append(QString::number(r), MessageField::Body, QStringLiteral("v%1").arg(r));
}

// The contacts of every row, announced or not, as the program reads them.
QStringList contactsOf(const ResultsModel& model)
{
    QStringList result;
    for (qsizetype row = 1; row <= model.size(); ++row)
        result << model.contact(row);
    return result;
}

} // namespace

class ListModelsTest : public QObject {
    Q_OBJECT

private slots:
    void contactListAppendsTicksAndAddsColumns()
    {
        ContactListModel model;
        QAbstractItemModelTester tester(&model, ReportToQtTest);
        AnnouncedRows view(model);
        // Rows may come before the column that shows them.
        model.append(QStringLiteral("early"));
        model.addColumn(QStringLiteral("Contacts"));
        model.appendAll(handles(1, 5));
        model.appendAll({});
        model.append(QStringLiteral("late"));
        QCOMPARE(model.rowCount(), 7);

        model.setChecked(1, true);
        model.setCheckedRange(2, 7, true);
        model.setCheckedRange(3, 4, false);
        model.setCheckedRange(5, 4, false); // an empty range changes nothing
        QVERIFY(model.setData(model.index(6, 0), Qt::Unchecked, Qt::CheckStateRole));
        QVERIFY(!model.setData(model.index(1, 0), QStringLiteral("x"), Qt::DisplayRole));
        QCOMPARE(view.rows(), viewRows(model));
        QCOMPARE(viewRows(model),
                 (QStringList{QStringLiteral("early+"), QStringLiteral("c1+"), QStringLiteral("c2"),
                              QStringLiteral("c3"), QStringLiteral("c4+"), QStringLiteral("c5+"),
                              QStringLiteral("late")}));

        // A second column on a filled list: the rows stay, the new cells are empty.
        model.addColumn(QStringLiteral("More"));
        QCOMPARE(model.columnCount(), 2);
        QCOMPARE(model.data(model.index(0, 1), Qt::DisplayRole), QVariant());
        QVERIFY(!(model.flags(model.index(0, 1)) & Qt::ItemIsUserCheckable));
        QVERIFY(!model.setData(model.index(0, 1), Qt::Checked, Qt::CheckStateRole));
    }

    void contactTickOutOfRangeChangesNothing()
    {
        ContactListModel model;
        QAbstractItemModelTester tester(&model, ReportToQtTest);
        model.addColumn(QStringLiteral("Contacts"));
        model.appendAll(handles(1, 3));
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        bool failed = false;
        try {
            model.setCheckedRange(2, 4, true);
        } catch (const Failure&) {
            failed = true;
        }
        QVERIFY(failed);
        QVERIFY(changed.isEmpty());
        QCOMPARE(viewRows(model), handles(1, 3));
        QVERIFY(!model.setData(model.index(3, 0), Qt::Checked, Qt::CheckStateRole));
    }

    void resultsAppendedAtOnceOrInBatches()
    {
        ResultsModel model;
        QAbstractItemModelTester tester(&model, ReportToQtTest);
        AnnouncedRows view(model);
        fillResults(model, 2);
        QCOMPARE(model.rowCount(), 2);

        model.setDeferAnnouncements(true);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        for (int r = 3; r <= 7; ++r)
            model.append(QString::number(r), MessageField::Body, QString());
        // The program sees every row; the view only those announced.
        QCOMPARE(model.size(), 7);
        QCOMPARE(model.rowCount(), 2);
        model.setChecked(4, false); // pending: nothing to tell the view yet
        model.setChecked(1, false);
        model.announcePending();
        QCOMPARE(model.rowCount(), 7);
        QCOMPARE(inserted.size(), 1);
        model.announcePending(); // nothing pending: no announcement
        QCOMPARE(inserted.size(), 1);

        model.append(QStringLiteral("8"), MessageField::Body, QString());
        model.append(QStringLiteral("9"), MessageField::Body, QString());
        QCOMPARE(model.rowCount(), 7);
        // Ending the deferral announces what is pending.
        model.setDeferAnnouncements(false);
        QCOMPARE(model.rowCount(), 9);
        QCOMPARE(inserted.size(), 2);
        model.append(QStringLiteral("10"), MessageField::Body, QString());
        QCOMPARE(inserted.size(), 3);
        QCOMPARE(view.rows(), viewRows(model));
        QCOMPARE(viewRows(model),
                 (QStringList{QStringLiteral("1"), QStringLiteral("2+"), QStringLiteral("3+"),
                              QStringLiteral("4"), QStringLiteral("5+"), QStringLiteral("6+"),
                              QStringLiteral("7+"), QStringLiteral("8+"), QStringLiteral("9+"),
                              QStringLiteral("10+")}));
    }

    void resultsRemovals_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("pending"); // rows appended, unannounced, before the removal
        QTest::addColumn<QList<int>>("positions");

        QTest::newRow("single row") << 5 << 0 << QList<int>{3};
        QTest::newRow("first and last") << 5 << 0 << QList<int>{1, 5};
        QTest::newRow("adjacent run") << 8 << 0 << QList<int>{3, 4, 5, 6};
        QTest::newRow("runs of several lengths") << 12 << 0 << QList<int>{1, 2, 5, 7, 8, 9, 12};
        QTest::newRow("every row") << 6 << 0 << QList<int>{1, 2, 3, 4, 5, 6};
        QTest::newRow("pending rows among them") << 4 << 3 << QList<int>{2, 5, 7};
        QList<int> scattered;
        for (int p = 2; p <= 300; p += 3)
            scattered << p;
        QTest::newRow("many scattered rows: one reset") << 300 << 0 << scattered;
        QTest::newRow("many scattered rows, some pending") << 250 << 50 << scattered;
        QTest::newRow("nothing") << 3 << 2 << QList<int>{};
    }
    void resultsRemovals()
    {
        QFETCH(int, rows);
        QFETCH(int, pending);
        QFETCH(QList<int>, positions);

        ResultsModel model;
        QAbstractItemModelTester tester(&model, ReportToQtTest);
        AnnouncedRows view(model);
        fillResults(model, rows);
        model.setDeferAnnouncements(true);
        for (int r = rows + 1; r <= rows + pending; ++r)
            model.append(QString::number(r), MessageField::Body, QString());
        QList<int> kept;
        for (int r = 1; r <= rows + pending; ++r) {
            if (!positions.contains(r))
                kept << r;
        }

        if (positions.size() == 1)
            model.removeRow(positions[0]);
        else
            model.removePositions(std::vector<qsizetype>(positions.begin(), positions.end()));
        QStringList expected;
        for (int r : kept)
            expected << QString::number(r);
        QCOMPARE(contactsOf(model), expected);
        QCOMPARE(view.rows(), viewRows(model));
        if (positions.isEmpty()) {
            QCOMPARE(model.rowCount(), rows);
            return;
        }
        // A removal first shows the view every pending row, so what it sees is whole.
        for (QString& row : expected)
            row += u'+';
        QCOMPARE(viewRows(model), expected);
    }

    void resultsClearedAndRefilled()
    {
        ResultsModel model;
        QAbstractItemModelTester tester(&model, ReportToQtTest);
        AnnouncedRows view(model);
        fillResults(model, 4);
        model.setDeferAnnouncements(true);
        model.append(QStringLiteral("pending"), MessageField::Body, QString());
        model.clear();
        QCOMPARE(model.size(), 0);
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(view.rows(), QStringList());
        QCOMPARE(model.columnCount(), 3);
        model.append(QStringLiteral("again"), MessageField::Timestamp, QStringLiteral("t"));
        model.setDeferAnnouncements(false);
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(model.data(model.index(0, 1), Qt::DisplayRole).toString(),
                 QStringLiteral("Timestamp"));
        QCOMPARE(model.data(model.index(0, 2), Qt::ToolTipRole).toString(), QStringLiteral("t"));
        QCOMPARE(view.rows(), QStringList{QStringLiteral("again+")});
        model.clear();
        model.clear();
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(view.rows(), QStringList());
    }

    // The window's own lists while the commands run on them: listing, ticking, a search that
    // announces its rows in batches, a filter, a double-click and Clear Results.
    void windowListsThroughTheCommands()
    {
        WindowHarness f(WindowHarness::Start::NotLoaded);
        QAbstractItemModelTester contactsTester(&f.window.contacts(), ReportToQtTest);
        QAbstractItemModelTester resultsTester(&f.window.results(), ReportToQtTest);
        AnnouncedRows contactsView(f.window.contacts());
        AnnouncedRows resultsView(f.window.results());
        f.load();
        QCOMPARE(f.window.contacts().columnCount(), 1);
        QCOMPARE(f.window.results().columnCount(), 3);

        f.serveSample();
        f.press(2);
        f.press(2);
        QCOMPARE(f.window.contacts().rowCount(), 12);
        f.press(4);
        f.tickContact(1, true);
        f.tickContact(7, true);
        f.press(3);
        f.press(4);
        f.tickContact(2, true);
        QCOMPARE(f.contactTicks().count(true), 1);
        QCOMPARE(contactsView.rows(), viewRows(f.window.contacts()));

        f.find(QStringLiteral("e"), false);
        const qsizetype found = f.window.results().size();
        QVERIFY(found > 20);
        QCOMPARE(f.window.results().rowCount(), int(found));
        QCOMPARE(resultsView.rows(), viewRows(f.window.results()));
        // Listed twice: the second listing's rows are searched too, so every row comes twice.
        f.tickContact(8, true);
        f.find(QStringLiteral("e"), false);
        QCOMPARE(f.window.results().size(), 3 * found);

        f.fake.dialogs.answerInput(QStringLiteral("kenji"));
        f.press(11);
        QCOMPARE(f.window.results().size(), 3 * found);
        f.fake.dialogs.answerInput(QStringLiteral("kenji"));
        f.press(17);
        QCOMPARE(f.window.results().size(), 0);

        f.tickContact(2, false);
        f.tickContact(3, true);
        f.find(QString());
        const qsizetype rows = f.window.results().size();
        QVERIFY(rows > 3);
        f.window.ListView2_DblClick(f.window.results().index(1, 2));
        QCOMPARE(f.window.results().size(), rows - 1);
        QCOMPARE(resultsView.rows(), viewRows(f.window.results()));
        f.press(6);
        QCOMPARE(f.window.results().rowCount(), 0);
        QCOMPARE(resultsView.rows(), QStringList());
        QVERIFY(f.reports().isEmpty());
    }

    // Calls, deletions and quoted replies read as what happened, in the row, its copy and the
    // find bar, never as a blank row or the raw legacy quote.
    void eventsReadAsTheirParts_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("content");
        QTest::addColumn<QByteArray>("properties");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("notShown");
        const QString part = u"<part identity=\"live:anna\"><name>Anna</name>"
                             "<duration>2160</duration></part>"_s;
        QTest::newRow("call") << u"Event/Call"_s
                              << u"<partlist type=\"ended\" alt=\"\">"_s + part + u"</partlist>"_s
                              << QByteArray() << u"Call, 36 min"_s << u"<"_s;
        QTest::newRow("missed call")
            << u"Event/Call"_s << u"<partlist type=\"missed\" alt=\"\"></partlist>"_s
            << QByteArray() << u"Missed call"_s << u"<"_s;
        QTest::newRow("deleted") << u"RichText"_s << QString()
                                 << QByteArray(R"({"deletetime":"1683000000000"})")
                                 << u"This message was deleted"_s << u"(no text)"_s;
        QTest::newRow("quoted reply")
            << u"RichText"_s
            << u"<quote author=\"live:bob\" authorname=\"Bob\" timestamp=\"1683000000\">"
               "<legacyquote>[1683000000] Bob: </legacyquote>old words<legacyquote>\n\n"
               "&lt;&lt;&lt; </legacyquote></quote>my reply"_s
            << QByteArray() << u"my reply"_s << u"[1683000000]"_s;
    }
    void eventsReadAsTheirParts()
    {
        QFETCH(QString, type);
        QFETCH(QString, content);
        QFETCH(QByteArray, properties);
        QFETCH(QString, shown);
        QFETCH(QString, notShown);
        QTemporaryDir dir;
        const QString file = dir.filePath(u"messages.json"_s);
        QVERIFY(test::writeBytes(file, test::exportWithOneMessage(type, content, properties)));
        const auto history = std::make_shared<const ChatHistory>(readHistoryFile(file));
        MessageListModel messages;
        messages.setChat(history, 0);
        const QModelIndex row = messages.index(messages.rowOfMessage(0));
        const QString text = row.data(MessageListModel::TextRole).toString();
        QVERIFY2(text.contains(shown) && !text.contains(notShown), qPrintable(text));
        QVERIFY(messages.copyLine(0).endsWith(text));
        std::vector<qint32> found;
        messages.find(shown, Qt::CaseSensitive, 0, 1, found);
        QCOMPARE(found, std::vector<qint32>{0});
    }

    // The conversation window names each person once over the history, the export's own user
    // as such; groups tell their members, same-named chats are told apart, a bot shows its
    // name. The history is read from a file, as the window gets it.
    void conversationModelsShowOnePersonByOneName_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<int>("chat");
        QTest::addColumn<int>("message");
        QTest::addColumn<QString>("expected");
        QTest::newRow("own message with a name") << u"sender"_s << 0 << 0 << u"Me Myself (you)"_s;
        QTest::newRow("own message without a name")
            << u"sender"_s << 0 << 1 << u"Me Myself (you)"_s;
        QTest::newRow("partner") << u"sender"_s << 0 << 2 << u"Anna K"_s;
        QTest::newRow("partner unnamed in a group") << u"sender"_s << 1 << 0 << u"Anna K"_s;
        QTest::newRow("copy of an unnamed message") << u"copy"_s << 0 << 1 << u"Me Myself: again"_s;
        QTest::newRow("tooltip") << u"tooltip"_s << 0 << 1
                                 << u"Me Myself (you) \u00b7 me.myself\nagain"_s;
        QTest::newRow("find by the one name") << u"find"_s << 0 << -1 << u"0,1"_s;
        QTest::newRow("find where they wrote nothing") << u"find"_s << 1 << -1 << u""_s;
        QTest::newRow("one-to-one header") << u"header"_s << 0 << -1 << u"Anna K"_s;
        QTest::newRow("group stating 5 members")
            << u"header"_s << 1 << -1 << u"Team  (group, 5 members)"_s;
        QTest::newRow("second Team listing 2 members")
            << u"header"_s << 2 << -1 << u"Team (2)  (group, 2 members)"_s;
        QTest::newRow("group telling no members") << u"header"_s << 3 << -1 << u"Crew  (group)"_s;
        QTest::newRow("bot") << u"header"_s << 4 << -1 << u"Concierge  (bot)"_s;
        QTest::newRow("bot in the list") << u"list"_s << 4 << -1 << u"Concierge"_s;
        QTest::newRow("second Team in the list") << u"list"_s << 2 << -1 << u"Team (2)"_s;
        QTest::newRow("members in the list's tooltip")
            << u"listtip"_s << 2 << -1
            << u"Team (2)\n19:b@thread.skype\ngroup, 2 members\nAnna K, Me Myself (you)"_s;
    }

    void conversationModelsShowOnePersonByOneName()
    {
        QFETCH(QString, what);
        QFETCH(int, chat);
        QFETCH(int, message);
        QFETCH(QString, expected);
        auto text = [](const char* time, const char* from, const char* name, const char* body) {
            return QByteArray("{\"id\":\"1\",\"originalarrivaltime\":\"") + time
                   + "\",\"messagetype\":\"Text\",\"from\":\"" + from + "\",\"displayName\":" + name
                   + ",\"content\":\"" + body + "\"}";
        };
        const QByteArray json =
            "{\"userId\":\"8:me.myself\",\"conversations\":["
            "{\"id\":\"8:anna\",\"displayName\":null,\"MessageList\":["
            + text("2021-01-01T10:00:00Z", "8:me.myself", "\"Me Myself\"", "hi") + ","
            + text("2021-01-02T10:00:00Z", "8:me.myself", "null", "again") + ","
            + text("2021-01-03T10:00:00Z", "8:anna", "\"Anna K\"", "yo")
            + "]},{\"id\":\"19:a@thread.skype\",\"displayName\":\"Group a\",\"threadProperties\":"
              "{\"membercount\":5,\"topic\":\"Team\"},\"MessageList\":["
            + text("2021-02-01T10:00:00Z", "8:anna", "null", "yes")
            + "]},{\"id\":\"19:b@thread.skype\",\"threadProperties\":{\"topic\":\"Team\","
              "\"members\":\"[\\\"8:anna\\\",\\\"8:me.myself\\\"]\"},\"MessageList\":[]},"
              "{\"id\":\"19:c@thread.skype\",\"displayName\":\"Crew\",\"MessageList\":[]},"
              "{\"id\":\"28:concierge\",\"displayName\":null,\"MessageList\":["
            + text("2021-03-01T10:00:00Z", "8:concierge", "\"Concierge\"", "beep") + "]}]}";
        QTemporaryDir dir;
        const QString file = dir.filePath(u"messages.json"_s);
        QVERIFY(test::writeBytes(file, json));
        const auto history = std::make_shared<const ChatHistory>(readHistoryFile(file));
        QCOMPARE(history->chats.size(), size_t(5));

        MessageListModel messages;
        messages.setChat(history, chat);
        ConversationListModel list;
        list.setHistory(history);
        const QModelIndex listRow = list.index(list.rowOfChat(chat), 0);
        QString actual;
        if (what == u"sender") {
            actual = messages
                         .data(messages.index(messages.rowOfMessage(message)),
                               MessageListModel::SenderRole)
                         .toString();
        } else if (what == u"tooltip") {
            actual = messages.data(messages.index(messages.rowOfMessage(message)), Qt::ToolTipRole)
                         .toString();
        } else if (what == u"copy") {
            // After the date and time, which follow the locale.
            const QString line = messages.copyLine(message);
            const QString when = localDateTimeText(messages.message(message).timestampMs) + u", "_s;
            QVERIFY(line.startsWith(when));
            actual = line.mid(when.size());
        } else if (what == u"find") {
            std::vector<qint32> found;
            messages.find(u"Me Myself"_s, Qt::CaseSensitive, 0, messages.messageCount(), found);
            QStringList numbers;
            for (const qint32 m : found)
                numbers << QString::number(m);
            actual = numbers.join(u',');
        } else if (what == u"header") {
            actual = conversationHeaderText(*history, chat);
        } else if (what == u"list") {
            // The row's name, isolated, before its count and dates.
            actual = list.data(listRow, Qt::DisplayRole).toString().section(u"  \u00b7  "_s, 0, 0);
            QVERIFY(actual.startsWith(QChar(0x2068)) && actual.endsWith(QChar(0x2069)));
            actual = actual.mid(1, actual.size() - 2);
        } else if (what == u"listtip") {
            actual = list.data(listRow, Qt::ToolTipRole).toString();
        }
        QCOMPARE(actual, expected);
    }
};

QTEST_MAIN(ListModelsTest)
#include "test_list_models.moc"
