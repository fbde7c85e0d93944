#include "ui/CanberraSound.h"

#include <canberra.h>

CanberraSound::CanberraSound(QByteArray eventId)
    : m_eventId(std::move(eventId)) {
    m_createResult = ca_context_create(&m_context);
    if (m_createResult != CA_SUCCESS) {
        m_context = nullptr;
        return;
    }
    // The sound server shows these in its per-application volume list.
    ca_context_change_props(m_context, CA_PROP_APPLICATION_NAME, "Orvanta", CA_PROP_APPLICATION_ID,
                            "orvanta-console", CA_PROP_APPLICATION_ICON_NAME, "orvanta-console",
                            nullptr);
}

CanberraSound::~CanberraSound() {
    if (m_context)
        ca_context_destroy(m_context);
}

bool CanberraSound::Play() {
    ++m_requests;
    // Played without waiting: libcanberra hands the sample to the sound server, or to its
    // own thread for ALSA, so the main thread goes on at once.
    m_lastResult = m_context
                       ? ca_context_play(m_context, 0, CA_PROP_EVENT_ID, m_eventId.constData(),
                                         CA_PROP_EVENT_DESCRIPTION, "Order waits", nullptr)
                       : m_createResult;
    m_lastError =
        m_lastResult == CA_SUCCESS ? QString() : QString::fromUtf8(ca_strerror(m_lastResult));
    return m_lastResult == CA_SUCCESS;
}
