// The three exports of the results list at their target sizes, with the window's progress bar
// and yields in place.
//
//   bench_results_exports [text|clipboard|workbook|all] [runs]   (QT_QPA_PLATFORM=offscreen)
//
// Prints the median of several runs of each export and, as reference in the same go, the same
// output produced by a bare loop (no list interface, no progress, no yields) and the export
// without a progress display, so the cost of the progress display shows on its own:
//   text:      3,000,000 rows to a text file (target: 3 s)
//   clipboard: 1,000,000 rows to the clipboard (target: 2 s)
//   workbook:  100,000 rows to a workbook (target: 5 s)

#include "app/clipboard_copy.h"
#include "app/progress_display.h"
#include "app/results_model.h"
#include "app/text_file_export.h"
#include "app/workbook_export.h"
#include "core/dialogs.h"
#include "core/error_report.h"
#include "core/event_pump.h"
#include "core/platform.h"
#include "quiet_platform.h"
#include "results/text_table.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <xlsxwriter.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <vector>

using namespace velmoran;

namespace {

ResultsModel& fill(ResultsModel& model, qsizetype rows)
{
    model.addColumn(QStringLiteral("Contact"));
    model.addColumn(QStringLiteral("Field"));
    model.addColumn(QStringLiteral("Value"));
    QStringList contacts;
    for (int i = 0; i < 500; ++i)
        contacts << QStringLiteral("contact.%1").arg(i);
    model.setDeferAnnouncements(true);
    for (qsizetype r = 0; r < rows; ++r) {
        const auto field = MessageField(r % 3);
        model.append(
            contacts[r % 500], field,
            field == MessageField::Timestamp
                ? QStringLiteral("31/08/2021 10:%1:00").arg(r % 60, 2, 10, QLatin1Char('0'))
                : QStringLiteral("message %1 of the sample, with some words").arg(r));
    }
    model.setDeferAnnouncements(false);
    return model;
}

// The reference loops: the same widths and padded, tab-terminated cells, straight from the model.
using Widths = std::array<qsizetype, 3>;

Widths bareWidths(const ResultsModel& model, bool withHeaders)
{
    Widths w = withHeaders ? Widths{7, 5, 5} : Widths{0, 0, 0};
    for (qsizetype r = 1; r <= model.size(); ++r) {
        w[0] = std::max(w[0], model.contact(r).size());
        w[1] = std::max(w[1], messageFieldText(model.field(r)).size());
        w[2] = std::max(w[2], model.value(r).size());
    }
    return w;
}

void appendBareLine(QString& text, const ResultsModel& model, qsizetype r, const Widths& w)
{
    const QString cells[3] = {model.contact(r), messageFieldText(model.field(r)), model.value(r)};
    for (int c = 0; c < 3; ++c) {
        text += cells[c];
        text.resize(text.size() + std::max<qsizetype>(0, w[size_t(c)] - cells[c].size()),
                    QLatin1Char(' '));
        text += QLatin1Char('\t');
    }
}

double medianSeconds(const std::function<void()>& work, int runs)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        times.push_back(timer.nsecsElapsed() / 1e9);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void print(const char* what, double seconds)
{
    std::printf("  %-58s %7.3f s\n", what, seconds);
    std::fflush(stdout);
}

// The window's progress bar and yield, as the commands have them.
struct Window {
    Window()
    {
        bar.setRange(0, 100);
        bar.resize(520, 27);
        bar.show();
        QApplication::processEvents();
    }
    TextProgressBar bar;
    ProgressDisplay display{&bar};
    ProgressDisplaySink progress{display};
    EventPump pump;
    bench::QuietDialogs dialogs;
    DialogErrorReporter reporter{dialogs};
};

// A results list of some rows, and the window the exports report to.
struct Results {
    explicit Results(qsizetype rows)
        : table(fill(model, rows).rows(), model.headerTexts())
    {
    }
    ResultsModel model;
    ResultsTable table;
    Window window;
};

void benchText(int runs)
{
    const qsizetype rows = 3'000'000;
    Results results(rows);
    const ResultsModel& model = results.model;
    const ResultsTable& table = results.table;
    Window& window = results.window;
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("results.txt"));
    std::printf("text file, %lld rows (target 3 s):\n", qlonglong(rows));
    print("SaveListviewProperlySpaced, progress bar and yields",
          medianSeconds(
              [&] {
                  SaveListviewProperlySpaced(table, path, &window.progress, &window.pump,
                                             window.reporter);
              },
              runs));
    const qint64 size = QFileInfo(path).size();
    print("the same without a progress display",
          medianSeconds(
              [&] {
                  SaveListviewProperlySpaced(table, path, nullptr, &window.pump, window.reporter);
              },
              runs));
    print("reference: bare loop writing the same bytes",
          medianSeconds(
              [&] {
                  QFile file(path);
                  if (!file.open(QIODevice::WriteOnly))
                      return;
                  const Widths w = bareWidths(model, true);
                  QString block;
                  for (qsizetype r = 1; r <= rows; ++r) {
                      appendBareLine(block, model, r, w);
                      block += QLatin1String("\r\n");
                      if (block.size() > 65536) {
                          file.write(block.toUtf8());
                          block.truncate(0);
                      }
                  }
                  file.write(block.toUtf8());
              },
              runs));
    std::printf("  file size %.1f MB\n", size / 1e6);
}

void benchClipboard(int runs)
{
    const qsizetype rows = 1'000'000;
    Results results(rows);
    const ResultsModel& model = results.model;
    const ResultsTable& table = results.table;
    Window& window = results.window;
    bench::TakingClipboard clipboard;
    std::printf("clipboard, %lld rows (target 2 s):\n", qlonglong(rows));
    print("CopyListviewProperlySpaced with yields",
          medianSeconds([&] { CopyListviewProperlySpaced(table, clipboard, &window.pump); }, runs));
    const qsizetype size = clipboard.text.size();
    print("reference: bare loop building the same text",
          medianSeconds(
              [&] {
                  const Widths w = bareWidths(model, false);
                  QString text;
                  for (qsizetype r = 1; r <= rows; ++r) {
                      appendBareLine(text, model, r, w);
                      text.chop(1);
                      while (text.endsWith(QLatin1Char(' ')))
                          text.chop(1);
                      text += QLatin1String("\r\n");
                  }
                  clipboard.setText(text, 0);
              },
              runs));
    std::printf("  text of %.1f M characters\n", size / 1e6);
}

void benchWorkbook(int runs)
{
    const qsizetype rows = 100'000;
    Results results(rows);
    const ResultsModel& model = results.model;
    const ResultsTable& table = results.table;
    Window& window = results.window;
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("results.xlsx"));
    std::printf("workbook, %lld rows (target 5 s):\n", qlonglong(rows));
    print("writeWorkbook with yields",
          medianSeconds([&] { writeWorkbook(table, path, &window.pump); }, runs));
    print("reference: bare libxlsxwriter loop, same cells",
          medianSeconds(
              [&] {
                  const QByteArray file = QFile::encodeName(path);
                  lxw_workbook* workbook = workbook_new(file.constData());
                  lxw_worksheet* sheet = workbook_add_worksheet(workbook, nullptr);
                  for (qsizetype r = 1; r <= rows; ++r) {
                      for (int c = 1; c <= 3; ++c)
                          worksheet_write_string(sheet, lxw_row_t(r), lxw_col_t(c - 1),
                                                 model.text(r, c).toUtf8().constData(), nullptr);
                  }
                  workbook_close(workbook);
              },
              runs));
    std::printf("  workbook of %.1f MB\n", QFileInfo(path).size() / 1e6);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QString which = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("all");
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 5;
    const bool all = which == QLatin1String("all");
    if (all || which == QLatin1String("text"))
        benchText(runs);
    if (all || which == QLatin1String("clipboard"))
        benchClipboard(runs);
    if (all || which == QLatin1String("workbook"))
        benchWorkbook(runs);
    return 0;
}
