#pragma once

#include <QNetworkReply>
#include <QString>

// The one place where what went wrong with a transfer turns into a text for the user.
namespace NetworkErrorText {

QString forHttpStatus(int status, const QByteArray& reasonPhrase);
QString forNetworkError(QNetworkReply::NetworkError error, const QString& detail);

QString invalidAddress(const QString& url);
QString unsupportedScheme(const QString& scheme);
QString invalidDataAddress();
QString tooManyRedirects(int limit);
QString redirectToUnsupportedScheme(const QUrl& target);
QString redirectWithoutTarget(int status);
QString bodyCutShort(qint64 received, qint64 declared);
QString insecureRedirect(const QUrl& target);
QString noFileInResponse(int status);
QString unaskedPartialContent();
QString badContentRange(const QByteArray& contentRange);
QString unsupportedEncoding(const QByteArray& encoding);
QString compressedBodyCutShort();
// A body held in memory that grew past its limit once its content encoding was undone.
QString decodedBodyTooLarge(qint64 limit);
QString retryAfterTooLong(qint64 seconds);
QString cancelled();

} // namespace NetworkErrorText
