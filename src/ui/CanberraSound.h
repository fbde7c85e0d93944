#pragma once

#include "ui/AlertSinks.h"

#include <QByteArray>
#include <QString>

struct ca_context;

// The alert sound through libcanberra: an event of the desktop's sound theme, played by
// whatever sound system the session has (PulseAudio, PipeWire, ALSA), so the operator's
// own volume and theme apply. Each request is counted with libcanberra's answer, which
// is what tells a silent machine from a request never made.
class CanberraSound : public SoundSink {
public:
    explicit CanberraSound(QByteArray eventId = QByteArrayLiteral("message-new-instant"));
    ~CanberraSound() override;
    CanberraSound(const CanberraSound&) = delete;
    CanberraSound& operator=(const CanberraSound&) = delete;

    bool Play() override;

    int Requests() const { return m_requests; }
    // libcanberra's return code of the last request (0 for success) and its text.
    int LastResult() const { return m_lastResult; }
    QString LastError() const { return m_lastError; }

private:
    QByteArray m_eventId;
    ca_context* m_context = nullptr;
    int m_createResult = 0;
    int m_requests = 0;
    int m_lastResult = 0;
    QString m_lastError;
};
