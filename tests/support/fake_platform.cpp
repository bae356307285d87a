#include "fake_platform.h"

namespace velmoran::test {

void ScriptedDialogs::record(ShownDialog dialog)
{
    dialog.parent = m_parent;
    shown << dialog;
    if (onShow)
        onShow(shown.constLast());
}

QStringList ScriptedDialogs::texts(ShownDialog::Kind kind) const
{
    QStringList result;
    for (const ShownDialog& dialog : shown) {
        if (dialog.kind == kind)
            result << dialog.text;
    }
    return result;
}

void ScriptedDialogs::message(const QString& text)
{
    record({ShownDialog::Message, text, {}, {}});
}

bool ScriptedDialogs::question(const QString& text)
{
    record({ShownDialog::Question, text, {}, {}});
    return m_questionAnswers.isEmpty() ? false : m_questionAnswers.dequeue();
}

bool ScriptedDialogs::warningQuestion(const QString& text)
{
    record({ShownDialog::WarningQuestion, text, {}, {}});
    return m_questionAnswers.isEmpty() ? false : m_questionAnswers.dequeue();
}

void ScriptedDialogs::errorReport(const QString& text)
{
    record({ShownDialog::ErrorReport, text, {}, {}});
}

QString ScriptedDialogs::inputBox(const QString& prompt)
{
    record({ShownDialog::InputBox, prompt, {}, {}});
    return m_inputAnswers.isEmpty() ? QString() : m_inputAnswers.dequeue();
}

QString ScriptedDialogs::saveFileName(const SaveDialogRequest& request)
{
    record({ShownDialog::SaveFile, request.title, request, {}});
    return m_saveAnswers.isEmpty() ? QString() : m_saveAnswers.dequeue();
}

QStringList ScriptedDialogs::openFileNames(const OpenDialogRequest& request)
{
    record({ShownDialog::OpenFiles, request.title, {}, request});
    return m_openAnswers.isEmpty() ? QStringList() : m_openAnswers.dequeue();
}

QString ScriptedDialogs::existingFolder(const FolderDialogRequest& request)
{
    record({ShownDialog::Folder, request.title, {}, {}, request});
    return m_folderAnswers.isEmpty() ? QString() : m_folderAnswers.dequeue();
}

bool MemoryClipboard::clear()
{
    ++clearCalls;
    if (failuresBeforeSuccess > 0) {
        --failuresBeforeSuccess;
        return false;
    }
    text.clear();
    format = -1;
    return true;
}

bool MemoryClipboard::setText(const QString& newText, int newFormat)
{
    ++setTextCalls;
    if (failuresBeforeSuccess > 0) {
        --failuresBeforeSuccess;
        return false;
    }
    text = newText;
    format = newFormat;
    return true;
}

FakePlatform::FakePlatform(QString programFolder)
    : platform{dialogs, shell, clipboard, random, clock, std::move(programFolder)}
{
}

} // namespace velmoran::test
