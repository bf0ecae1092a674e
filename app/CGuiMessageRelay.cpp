#include "CGuiMessageRelay.h"

#include "MessageBoxes.h"
#include "Platform.h"

#include <QtCore/QMetaObject>
#include <QtCore/QThread>

CGuiMessageRelay::CGuiMessageRelay(QObject* context)
    : m_pContext(context), m_pState(std::make_shared<SState>()) {
    Platform::SetUserMessageHandler(
        [this](const std::string& text, const std::string& caption) { Show(text, caption); });
}

CGuiMessageRelay::~CGuiMessageRelay() {
    Platform::SetUserMessageHandler(nullptr);
    Release();
}

void CGuiMessageRelay::Show(const std::string& text, const std::string& caption) {
    (void)caption; // the boxes use their text as caption
    const QString message = QString::fromStdString(text);
    if (!m_pContext)
        return;
    if (QThread::currentThread() == m_pContext->thread()) {
        MessageBoxes::Show(nullptr, message);
        return;
    }
    auto state = m_pState;
    auto shown = std::make_shared<bool>(false);
    QMetaObject::invokeMethod(
        m_pContext.data(),
        [state, shown, message] {
            {
                std::lock_guard<std::mutex> lock(state->mutex);
                if (state->released)
                    return;
            }
            MessageBoxes::Show(nullptr, message);
            std::lock_guard<std::mutex> lock(state->mutex);
            *shown = true;
            state->done.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(state->mutex);
    state->done.wait(lock, [&] { return *shown || state->released; });
}

void CGuiMessageRelay::Release() {
    std::lock_guard<std::mutex> lock(m_pState->mutex);
    m_pState->released = true;
    m_pState->done.notify_all();
}
