#include "NepirikaError.h"

#include <utility>

NepirikaError::NepirikaError(QString message)
    : m_message(std::move(message))
    , m_utf8(m_message.toStdString()) {}

const QString& NepirikaError::message() const noexcept {
    return m_message;
}

const char* NepirikaError::what() const noexcept {
    return m_utf8.c_str();
}
