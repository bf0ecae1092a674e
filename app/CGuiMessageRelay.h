#pragma once

#include <QtCore/QPointer>

#include <string>

class QObject;

// Routes the engine's operator messages while the window is open. On the GUI thread a message
// is a modal box. From a worker thread it goes to the log only: the export worker must never
// wait for a click, and it reports every failure on the list entry concerned.
class CGuiMessageRelay {
public:
    // context: an object living on the GUI thread.
    explicit CGuiMessageRelay(QObject* context);
    ~CGuiMessageRelay();
    CGuiMessageRelay(const CGuiMessageRelay&) = delete;
    CGuiMessageRelay& operator=(const CGuiMessageRelay&) = delete;

    void Show(const std::string& text, const std::string& caption);

private:
    QPointer<QObject> m_pContext;
};
