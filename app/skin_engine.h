#pragma once

#include <QString>

class QWidget;

namespace velmoran {

// The program's skin engine. A skin file is a Qt style sheet; applying it styles a window and
// the controls in it.
class SkinEngine {
public:
    enum OptionFlag : qint32 {
        // Also style the program's dialogs and message boxes, not just the skinned window.
        SkinDialogs = 0x1,
    };

    // Loads the skin. The second argument names a section of the skin file; the program's
    // skins have one section, so it is empty. Throws Failure when the file cannot be read or
    // holds no style.
    void loadSkin(const QString& path, const QString& section);

    qint32 optionFlags() const { return m_optionFlags; }
    void setOptionFlags(qint32 flags) { m_optionFlags = flags; }

    // Style tooltips too (they are windows of their own).
    bool skinToolTips() const { return m_skinToolTips; }
    void setSkinToolTips(bool on) { m_skinToolTips = on; }
    // Style windows that the program opens after the skin was applied.
    bool applyToNewWindows() const { return m_applyToNewWindows; }
    void setApplyToNewWindows(bool on) { m_applyToNewWindows = on; }

    // Applies the loaded skin to a window; throws Failure when no skin is loaded.
    void applyWindow(QWidget* window);

    bool isLoaded() const { return !m_styleSheet.isEmpty(); }
    const QString& styleSheet() const { return m_styleSheet; }

private:
    QString m_styleSheet;
    qint32 m_optionFlags = 0;
    bool m_skinToolTips = false;
    bool m_applyToNewWindows = false;
};

} // namespace velmoran
