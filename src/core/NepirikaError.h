#pragma once

#include <QString>

#include <exception>
#include <string>

// A failure that carries a text for the user. Whatever escapes an event handler is shown by the
// application's one central error box; code that can fail in an expected way returns a status instead.
class NepirikaError : public std::exception {
public:
    explicit NepirikaError(QString message);
    const QString& message() const noexcept;
    const char* what() const noexcept override;

private:
    QString m_message;
    std::string m_utf8;
};
