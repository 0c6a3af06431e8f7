#include "NetworkErrorText.h"

#include <QUrl>

namespace NetworkErrorText {

QString forHttpStatus(int status, const QByteArray& reasonPhrase) {
    QString code = QStringLiteral("HTTP %1").arg(status);
    if (!reasonPhrase.trimmed().isEmpty())
        code += u' ' + QString::fromLatin1(reasonPhrase.trimmed());
    return QStringLiteral("サーバーがエラーを返しました (%1)").arg(code);
}

QString forNetworkError(QNetworkReply::NetworkError error, const QString& detail) {
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("サーバーに接続を拒否されました");
    case QNetworkReply::RemoteHostClosedError:
        return QStringLiteral("サーバーが途中で接続を閉じました");
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("サーバーが見つかりません");
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
        // Our own cancellation never reaches here; a cancelled operation is the transfer timeout.
        return QStringLiteral("サーバーの応答がありません (タイムアウト)");
    case QNetworkReply::SslHandshakeFailedError:
        return QStringLiteral("安全な接続を確立できません (%1)").arg(detail);
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::BackgroundRequestNotAllowedError:
        return QStringLiteral("ネットワークに接続できません");
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::ProxyAuthenticationRequiredError:
        return QStringLiteral("プロキシを通して接続できません (%1)").arg(detail);
    case QNetworkReply::TooManyRedirectsError:
        return QStringLiteral("転送が多すぎます");
    case QNetworkReply::InsecureRedirectError:
        return QStringLiteral("安全でない転送には従いません");
    case QNetworkReply::ProtocolUnknownError:
        return QStringLiteral("対応していない種類のアドレスです");
    case QNetworkReply::NoError:
        return QString();
    default:
        return QStringLiteral("転送に失敗しました (%1)").arg(detail);
    }
}

QString invalidAddress(const QString& url) {
    Q_UNUSED(url);
    return QStringLiteral("アドレスが正しくありません");
}

QString unsupportedScheme(const QString& scheme) {
    return QStringLiteral(
               "対応していない種類のアドレスです (%1:)。保存できるのは http、https、data のアドレスです")
        .arg(scheme);
}

QString invalidDataAddress() {
    return QStringLiteral("data: アドレスの形式が正しくありません");
}

QString tooManyRedirects(int limit) {
    return QStringLiteral("転送が多すぎます (%1 回を超えました)").arg(limit);
}

QString redirectToUnsupportedScheme(const QUrl& target) {
    return QStringLiteral("http、https 以外への転送には従いません (%1)").arg(target.toDisplayString());
}

QString redirectWithoutTarget(int status) {
    return QStringLiteral("転送先のない転送です (HTTP %1)").arg(status);
}

QString bodyCutShort(qint64 received, qint64 declared) {
    return QStringLiteral("データが途中で切れました (%1 / %2 バイト)").arg(received).arg(declared);
}

QString insecureRedirect(const QUrl& target) {
    return QStringLiteral("https から http への転送には従いません (%1)").arg(target.toDisplayString());
}

QString noFileInResponse(int status) {
    return QStringLiteral("サーバーの応答にファイルがありません (HTTP %1)").arg(status);
}

QString unaskedPartialContent() {
    return QStringLiteral("求めていない部分だけの応答です (HTTP 206)");
}

QString badContentRange(const QByteArray& contentRange) {
    return QStringLiteral("続きの範囲が合いません (Content-Range: %1)")
        .arg(QString::fromLatin1(contentRange));
}

QString unsupportedEncoding(const QByteArray& encoding) {
    return QStringLiteral("対応していない圧縮形式です (%1)").arg(QString::fromLatin1(encoding));
}

QString compressedBodyCutShort() {
    return QStringLiteral("圧縮されたデータが途中で切れました");
}

QString retryAfterTooLong(qint64 seconds) {
    return QStringLiteral("サーバーが %1 秒後に再試行するよう求めています").arg(seconds);
}

QString cancelled() {
    return QStringLiteral("中止しました");
}

QString decodedBodyTooLarge(qint64 limit) {
    return QStringLiteral("展開したデータが上限 (%1 バイト) を超えたため、読むのをやめました").arg(limit);
}

} // namespace NetworkErrorText
