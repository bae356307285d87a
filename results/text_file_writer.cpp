#include "results/text_file_writer.h"

#include "core/event_pump.h"
#include "core/failure.h"
#include "core/guarded_routine.h"
#include "results/spaced_text.h"
#include "results/text_table.h"

#include <QSaveFile>

namespace velmoran {

QString FileNameFromPath(const QString& path)
{
    const qsizetype separator =
        std::max(path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char('/')));
    return separator < 0 ? path : path.mid(separator + 1);
}

namespace {

// Lines are gathered and handed to the device in blocks of about this many UTF-16 units.
constexpr qsizetype BlockSize = 1 << 16;

class SpacedTextWriter {
public:
    SpacedTextWriter(const TextTable& list, QIODevice& device, const QString& path,
                     ProgressSink* progress, EventPump* pump, GuardedRoutine& routine)
        : m_list(list)
        , m_device(device)
        , m_path(path)
        , m_writingText(QStringLiteral("Writing file: ") + FileNameFromPath(path))
        , m_progress(progress)
        , m_pump(pump)
        , m_routine(routine)
    {
        m_block.reserve(BlockSize + 4096);
    }

    bool run();

private:
    void showProgress(int firstLabel, double value)
    {
        if (!m_progress)
            return;
        m_routine.step(firstLabel + 2, [&] { yieldTo(m_pump); });
        m_routine.step(firstLabel + 4, [&] { m_progress->setValue(value); });
        m_routine.step(firstLabel + 6, [&] { m_progress->setText(m_writingText); });
        m_routine.step(firstLabel + 8, [&] { yieldTo(m_pump); });
    }
    qsizetype width(int column) const
    {
        return size_t(column) <= m_widths.size() ? m_widths[size_t(column - 1)] : 0;
    }
    // Ends the current line; hands the gathered lines to the device once a block is full.
    bool endLine(int label, bool flushAll = false)
    {
        m_block += QLatin1String("\r\n");
        if (m_block.size() < BlockSize && !flushAll)
            return true;
        return flush(label);
    }
    bool flush(int label);
    bool writeRows();
    bool finish();

    const TextTable& m_list;
    QIODevice& m_device;
    const QString& m_path;
    const QString m_writingText;
    ProgressSink* m_progress;
    EventPump* m_pump;
    GuardedRoutine& m_routine;
    std::vector<qsizetype> m_widths;
    QString m_block;
};

bool SpacedTextWriter::flush(int label)
{
    if (m_block.isEmpty())
        return true;
    const QByteArray bytes = m_block.toUtf8();
    m_block.truncate(0);
    if (m_device.write(bytes) == bytes.size())
        return true;
    m_routine.report(
        label, QStringLiteral("Cannot write the file %1: %2").arg(m_path, m_device.errorString()));
    return false;
}

bool SpacedTextWriter::run()
{
    showProgress(100, 1);
    m_routine.step(112, [&] { m_widths = ColumnWidths(m_list, true, m_pump); });
    showProgress(142, 10);

    if (!m_device.open(QIODevice::WriteOnly)) {
        m_routine.report(
            156,
            QStringLiteral("Cannot create the file %1: %2").arg(m_path, m_device.errorString()));
        return false;
    }

    const int columns = m_routine.loopBound(158, [&] { return m_list.columns(); });
    for (int c = 1; c <= columns; ++c) {
        m_routine.step(160, [&] { yieldTo(m_pump); });
        m_routine.step(162, [&] { appendCellField(m_block, m_list.headerText(c), width(c)); });
    }
    if (!endLine(170))
        return false;
    showProgress(172, 20);

    if (!writeRows())
        return false;
    return finish();
}

bool SpacedTextWriter::writeRows()
{
    const qsizetype n = m_routine.loopBound(182, [&] { return m_list.size(); });
    const int columns = m_list.columns();
    for (qsizetype k = 1; k <= n; ++k) {
        m_routine.step(184, [&] { yieldTo(m_pump); });
        // A row that cannot be read (it went away) would leave a hole in the file: the file is
        // then not written at all.
        bool readable = true;
        bool checked = false;
        m_routine.step(188, [&] {
            const qsizetype lineStart = m_block.size();
            try {
                checked = m_list.isChecked(k);
                if (!checked)
                    return;
                for (int c = 1; c <= columns; ++c) {
                    yieldTo(m_pump);
                    appendCellField(m_block, m_list.text(k, c), width(c));
                }
            } catch (...) {
                readable = false;
                m_block.truncate(lineStart);
                throw;
            }
        });
        if (!readable)
            return false;
        if (!checked)
            continue;
        if (m_progress) {
            m_routine.step(212, [&] { yieldTo(m_pump); });
            m_routine.step(214, [&] {
                const qsizetype rows = m_list.size();
                const qsizetype q = rows / 2000;
                m_progress->setValue(double(k + q) / double(rows) * 100.0);
            });
            if (k % 1000 == 0) {
                m_routine.step(218, [&] {
                    m_progress->setText(m_writingText + QStringLiteral(" (") + QString::number(k)
                                        + QLatin1Char(')'));
                });
            }
            m_routine.step(220, [&] { yieldTo(m_pump); });
        }
        if (!endLine(222))
            return false;
    }
    return true;
}

bool SpacedTextWriter::finish()
{
    if (!flush(222))
        return false;
    if (auto* saveFile = qobject_cast<QSaveFile*>(&m_device)) {
        if (!saveFile->commit()) {
            m_routine.report(232, QStringLiteral("Cannot write the file %1: %2")
                                      .arg(m_path, saveFile->errorString()));
            return false;
        }
        return true;
    }
    m_device.close();
    return true;
}

} // namespace

bool SaveListviewProperlySpaced(const TextTable& list, QIODevice& device, const QString& path,
                                ProgressSink* progress, EventPump* pump, ErrorReporter& reporter)
{
    GuardedRoutine routine(reporter, routineLabel(QStringLiteral("Main"),
                                                  QStringLiteral("SaveListviewProperlySpaced")));
    const bool written = SpacedTextWriter(list, device, path, progress, pump, routine).run();
    if (!written) {
        // Whatever was written goes away; an existing file keeps its old content.
        // (A QSaveFile must not be closed: it discards its temporary file when destroyed.)
        if (auto* saveFile = qobject_cast<QSaveFile*>(&device))
            saveFile->cancelWriting();
        else if (device.isOpen())
            device.close();
    }
    if (progress) {
        if (written) {
            routine.step(228, [&] { progress->setValue(100); });
            routine.step(230, [&] { progress->setText(QStringLiteral("Done.")); });
        }
        routine.step(240, [&] { progress->setValue(0); });
        routine.step(242, [&] { progress->setText(QStringLiteral("Progress Bar")); });
    }
    return written;
}

bool SaveListviewProperlySpaced(const TextTable& list, const QString& path, ProgressSink* progress,
                                EventPump* pump, ErrorReporter& reporter)
{
    QSaveFile file(path);
    return SaveListviewProperlySpaced(list, file, path, progress, pump, reporter);
}

} // namespace velmoran
