#pragma once

#include <QtCore/QPointer>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

class QObject;

// Shows the engine's operator messages as modal boxes on the GUI thread. A worker thread that
// shows a message waits until the box is dismissed, or until Release() lets every waiter go (the
// window is closing and will show no more boxes).
class CGuiMessageRelay {
public:
    // context: an object living on the GUI thread; the boxes are shown through its event queue.
    explicit CGuiMessageRelay(QObject* context);
    ~CGuiMessageRelay();
    CGuiMessageRelay(const CGuiMessageRelay&) = delete;
    CGuiMessageRelay& operator=(const CGuiMessageRelay&) = delete;

    void Show(const std::string& text, const std::string& caption);
    void Release();

private:
    struct SState {
        std::mutex mutex;
        std::condition_variable done;
        bool released = false;
    };

    QPointer<QObject> m_pContext;
    std::shared_ptr<SState> m_pState;
};
