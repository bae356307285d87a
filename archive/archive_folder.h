#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QTemporaryDir;

namespace velmoran {

// The folder an archive goes to, which is only ever replaced whole. The archive is written into
// a temporary folder beside it (same parent, ".NAME.velmoran-tmp-XXXXXX") and renamed into
// place once complete; until then nothing stands under the folder's name that was not there
// before, and a failure or a stop leaves the folder as it was.
class ArchiveFolder {
public:
    // What stood at the path before: nothing, an empty folder, or an archive this program
    // wrote (it holds the marker file MarkerName).
    enum class Kind { New, Empty, Earlier };
    static constexpr char MarkerName[] = ".velmoran-archive";

    // Checks the path. Throws Failure, and makes nothing, when it is anything else (a file, a
    // link, a folder holding other things), or an earlier archive that holds one of
    // historyFiles (replacing it would remove that file).
    // pace is called every sixteen files while a folder is removed (the temporary one after
    // a stop or failure, the earlier archive once replaced), so a window can let its events
    // run meanwhile; it must not throw.
    ArchiveFolder(const QString& path, const QStringList& historyFiles,
                  std::function<void()> pace = {});
    ~ArchiveFolder();
    ArchiveFolder(const ArchiveFolder&) = delete;
    ArchiveFolder& operator=(const ArchiveFolder&) = delete;

    Kind kind() const { return m_kind; }
    const QString& path() const { return m_path; }

    // Makes the temporary folder and answers its path. Throws Failure when it cannot.
    QString begin();
    // Writes the marker into the temporary folder and puts it in the path's place: an earlier
    // archive is renamed aside first and removed once the new one stands. Throws Failure
    // (the path then holds what it held before).
    void commit();

private:
    QString m_path;
    Kind m_kind = Kind::New;
    std::function<void()> m_pace;
    std::unique_ptr<QTemporaryDir> m_temporary;
};

} // namespace velmoran
