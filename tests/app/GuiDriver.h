#pragma once

#include <QtCore/QObject>
#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtCore/QTimer>

#include <QtWidgets/QWidget>

#include <cstdlib>
#include <functional>

// The window's widget of that name; a test cannot go on without it.
template <typename T> T* Child(QWidget& w, const char* name) {
    T* child = w.findChild<T*>(name);
    if (!child)
        qFatal("no child %s", name);
    return child;
}

// Answers the modal dialogs and boxes a test provokes, the way an operator would: it looks for
// them every few milliseconds while the test's event loop (or a dialog's own loop) runs.
class GuiDriver : public QObject {
public:
    GuiDriver();

    // The next file dialog selects these files (absolute paths, one folder) and is accepted.
    void AcceptNextFileDialog(const QStringList& files);
    // The next file dialog selects this folder and is accepted, or is cancelled.
    void AcceptNextFolderDialog(const QString& folder);
    void CancelNextFileDialog();
    // The next context menu chooses the action with this text.
    void ChooseNextMenuAction(const QString& text);

    // Texts of the message boxes seen so far and their details; each was dismissed with OK, or
    // answered Yes (or No when m_answerNo is set).
    QStringList m_messageBoxes;
    QStringList m_messageDetails;
    bool m_answerNo = false;
    // The enabled actions of the last context menu seen.
    QStringList m_menuActions;
    int m_fileDialogsSeen = 0;

private:
    void Poll();

    enum class Answer { None, Files, Folder, Cancel };
    Answer m_answer = Answer::None;
    QString m_menuChoice;
    QStringList m_files;
    QString m_folder;
    QTimer m_timer;
};

// Runs the event loop until the condition holds or the time is up.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 180000);

// Clears the window's stored settings.
void ClearSettings();

// Runs one of our programs from the build's bin folder; true when it exits with 0.
bool RunOurProgram(const QString& name, const QStringList& arguments, QString* output = nullptr);

// What decoding a file reports at error level ("" when it decodes cleanly).
QString DecodeErrors(const QString& path);
