#include "CGuiMessageRelay.h"

#include "Log.h"
#include "MessageBoxes.h"
#include "Platform.h"

#include <QtCore/QThread>

CGuiMessageRelay::CGuiMessageRelay(QObject* context) : m_pContext(context) {
    Platform::SetUserMessageHandler(
        [this](const std::string& text, const std::string& caption) { Show(text, caption); });
}

CGuiMessageRelay::~CGuiMessageRelay() {
    Platform::SetUserMessageHandler(nullptr);
}

void CGuiMessageRelay::Show(const std::string& text, const std::string& caption) {
    (void)caption; // the boxes use their text as caption
    if (m_pContext && QThread::currentThread() == m_pContext->thread()) {
        MessageBoxes::Show(nullptr, QString::fromStdString(text));
        return;
    }
    LogError("%s", text.c_str());
}
