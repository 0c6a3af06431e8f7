#pragma once

#include <QWebEngineUrlRequestInterceptor>

#include <atomic>

class QWebEngineProfile;

// The no-script mode of a profile: the engine fetches the top document of each page and nothing
// else (no style sheets, scripts, fonts, frames, media), and runs none of the pages' scripts. The
// engine still parses the document and resolves its addresses, so a page reads as a browser with
// scripts turned off shows it. The application's own script world still runs, and the documents
// handed to the engine's parser by the program itself (DocumentHandoff) still pass.
class DocumentOnlyInterceptor : public QWebEngineUrlRequestInterceptor {
    Q_OBJECT
public:
    explicit DocumentOnlyInterceptor(QObject* parent = nullptr);

    // Turns the mode on or off for every page of the profile; the profile keeps one interceptor.
    static void apply(QWebEngineProfile* profile, bool documentsOnly);
    // Whether the mode is on for the profile.
    static bool isOn(const QWebEngineProfile* profile);

    void setActive(bool active);
    bool isActive() const;
    void interceptRequest(QWebEngineUrlRequestInfo& info) override;

private:
    // Read on the engine's thread.
    std::atomic<bool> m_active{false};
};
