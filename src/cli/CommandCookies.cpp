#include "CommandCookies.h"

#include "BrowserCookieJar.h"
#include "BrowserProfileFolder.h"
#include "CommandLanguage.h"
#include "CommandOutput.h"
#include "WindowLoginCookies.h"

namespace {

void writeLine(const QString& line) {
    CommandOutput::write(stderr, line + u'\n');
}

} // namespace

bool CommandCookies::take(const QStringList& arguments, qsizetype* i, QString* error) {
    const QString& argument = arguments.at(*i);
    if (argument == u"--use-window-login") {
        m_windowLogin = true;
        return true;
    }
    if (argument == u"--cookies") {
        if (*i + 1 >= arguments.size()) {
            *error = QStringLiteral("--cookies needs a file");
            return true;
        }
        m_files.append(arguments.at(++*i));
        return true;
    }
    if (argument.startsWith(QLatin1String("--cookies="))) {
        m_files.append(argument.mid(10));
        if (m_files.last().isEmpty())
            *error = QStringLiteral("--cookies needs a file");
        return true;
    }
    return false;
}

bool CommandCookies::any() const {
    return m_windowLogin || !m_files.isEmpty();
}

bool CommandCookies::read() {
    const bool japanese = CommandLanguage::isJapanese();
    QList<QPair<QString, CookieFile::Reading>> readings;
    if (m_windowLogin)
        readings.append(
            {BrowserProfileFolder::window(), WindowLoginCookies::read(BrowserProfileFolder::window())});
    for (const QString& file : std::as_const(m_files))
        readings.append({file, CookieFile::read(file)});
    for (const auto& [source, reading] : std::as_const(readings)) {
        if (!reading.error.isEmpty()) {
            writeLine(reading.error);
            return false;
        }
        for (const QString& note : CookieFile::notes(source, reading, japanese))
            writeLine(note);
        for (const FileCookie& cookie : reading.cookies) {
            m_origin.append({source, cookie.line});
            m_cookies.append(cookie);
            m_cookies.last().line = int(m_cookies.size());
        }
    }
    return true;
}

const QList<FileCookie>& CommandCookies::cookies() const {
    return m_cookies;
}

void CommandCookies::reportRefused(const QList<CookieFile::Problem>& refused) const {
    const bool japanese = CommandLanguage::isJapanese();
    for (const CookieFile::Problem& problem : refused) {
        if (problem.line < 1 || problem.line > m_origin.size())
            continue;
        const auto& [source, line] = m_origin.at(problem.line - 1);
        writeLine(CookieFile::describe(source, {line, problem.fault}, japanese));
    }
}

void CommandCookies::fill(BrowserCookieJar* jar) const {
    reportRefused(jar->addFileCookies(m_cookies));
}
