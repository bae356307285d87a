#include "app/skin_engine.h"

#include "core/failure.h"

#include <QApplication>
#include <QFile>
#include <QWidget>

namespace velmoran {

void SkinEngine::loadSkin(const QString& path, const QString& section)
{
    Q_UNUSED(section)
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Failure(QStringLiteral("Cannot load skin \"%1\": %2").arg(path, file.errorString()));
    const QString sheet = QString::fromUtf8(file.readAll());
    if (file.error() != QFileDevice::NoError)
        throw Failure(QStringLiteral("Cannot load skin \"%1\": %2").arg(path, file.errorString()));
    if (sheet.trimmed().isEmpty())
        throw Failure(
            QStringLiteral("Cannot load skin \"%1\": the file holds no style.").arg(path));
    m_styleSheet = sheet;
}

void SkinEngine::applyWindow(QWidget* window)
{
    if (!isLoaded())
        throw Failure(QStringLiteral("No skin is loaded."));
    // Dialogs, later windows and tooltips are windows of their own: only an application-wide
    // sheet reaches them.
    if ((m_optionFlags & SkinDialogs) || m_applyToNewWindows || m_skinToolTips)
        qApp->setStyleSheet(m_styleSheet);
    else
        window->setStyleSheet(m_styleSheet);
}

} // namespace velmoran
