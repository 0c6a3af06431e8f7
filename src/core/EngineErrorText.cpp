#include "EngineErrorText.h"

#include <QHash>
#include <QRegularExpression>

namespace EngineErrorText {
namespace {

// The engine's error names (without "net::ERR_") and what they mean to the user.
const QHash<QString, QString>& table() {
    static const QHash<QString, QString> reasons = {
        {QStringLiteral("CONNECTION_REFUSED"), QStringLiteral("接続を拒否されました")},
        {QStringLiteral("CONNECTION_RESET"), QStringLiteral("接続がリセットされました")},
        {QStringLiteral("CONNECTION_CLOSED"), QStringLiteral("サーバーが接続を閉じました")},
        {QStringLiteral("CONNECTION_ABORTED"), QStringLiteral("接続が中断されました")},
        {QStringLiteral("CONNECTION_FAILED"), QStringLiteral("接続できませんでした")},
        {QStringLiteral("CONNECTION_TIMED_OUT"), QStringLiteral("接続がタイムアウトしました")},
        {QStringLiteral("TIMED_OUT"), QStringLiteral("応答がなくタイムアウトしました")},
        {QStringLiteral("NAME_NOT_RESOLVED"), QStringLiteral("サーバーが見つかりません")},
        {QStringLiteral("NAME_RESOLUTION_FAILED"), QStringLiteral("サーバー名を調べられませんでした")},
        {QStringLiteral("ADDRESS_UNREACHABLE"), QStringLiteral("サーバーに到達できません")},
        {QStringLiteral("ADDRESS_INVALID"), QStringLiteral("アドレスが正しくありません")},
        {QStringLiteral("INVALID_URL"), QStringLiteral("アドレスが正しくありません")},
        {QStringLiteral("UNKNOWN_URL_SCHEME"), QStringLiteral("対応していない種類のアドレスです")},
        {QStringLiteral("DISALLOWED_URL_SCHEME"),
         QStringLiteral("開くことが許されていない種類のアドレスです")},
        {QStringLiteral("INTERNET_DISCONNECTED"), QStringLiteral("インターネットに接続されていません")},
        {QStringLiteral("NETWORK_CHANGED"), QStringLiteral("読み込み中にネットワークが切り替わりました")},
        {QStringLiteral("NETWORK_ACCESS_DENIED"), QStringLiteral("ネットワークへのアクセスが拒否されました")},
        {QStringLiteral("EMPTY_RESPONSE"), QStringLiteral("サーバーが何も返しませんでした")},
        {QStringLiteral("INVALID_RESPONSE"), QStringLiteral("サーバーの応答が正しくありません")},
        {QStringLiteral("INVALID_HTTP_RESPONSE"), QStringLiteral("サーバーの応答が正しくありません")},
        {QStringLiteral("CONTENT_DECODING_FAILED"), QStringLiteral("受け取ったデータを展開できません")},
        {QStringLiteral("INCOMPLETE_CHUNKED_ENCODING"), QStringLiteral("データが途中で切れました")},
        {QStringLiteral("CONTENT_LENGTH_MISMATCH"), QStringLiteral("データが途中で切れました")},
        {QStringLiteral("RESPONSE_HEADERS_TOO_BIG"), QStringLiteral("サーバーの応答ヘッダーが大きすぎます")},
        {QStringLiteral("TOO_MANY_REDIRECTS"), QStringLiteral("転送が多すぎます")},
        {QStringLiteral("UNSAFE_REDIRECT"), QStringLiteral("安全でない転送には従いません")},
        {QStringLiteral("UNSAFE_PORT"), QStringLiteral("このポートへの接続は許されていません")},
        {QStringLiteral("FILE_NOT_FOUND"), QStringLiteral("ファイルが見つかりません")},
        {QStringLiteral("ACCESS_DENIED"), QStringLiteral("アクセスが拒否されました")},
        {QStringLiteral("ABORTED"), QStringLiteral("読み込みが中断されました")},
        {QStringLiteral("BLOCKED_BY_CLIENT"), QStringLiteral("読み込みが止められました")},
        {QStringLiteral("BLOCKED_BY_RESPONSE"), QStringLiteral("サーバーの指定により表示できません")},
        {QStringLiteral("BLOCKED_BY_ADMINISTRATOR"), QStringLiteral("管理者の設定により表示できません")},
        {QStringLiteral("PROXY_CONNECTION_FAILED"), QStringLiteral("プロキシに接続できません")},
        {QStringLiteral("TUNNEL_CONNECTION_FAILED"), QStringLiteral("プロキシを通して接続できません")},
        {QStringLiteral("SSL_PROTOCOL_ERROR"), QStringLiteral("安全な接続を確立できません")},
        {QStringLiteral("SSL_VERSION_OR_CIPHER_MISMATCH"),
         QStringLiteral("安全な接続を確立できません（共通の暗号方式がありません）")},
        {QStringLiteral("CERT_AUTHORITY_INVALID"), QStringLiteral("サーバーの証明書が信頼できません")},
        {QStringLiteral("CERT_COMMON_NAME_INVALID"),
         QStringLiteral("サーバーの証明書がアドレスと一致しません")},
        {QStringLiteral("CERT_DATE_INVALID"),
         QStringLiteral("サーバーの証明書が期限切れか、まだ有効ではありません")},
        {QStringLiteral("CERT_REVOKED"), QStringLiteral("サーバーの証明書は失効しています")},
        {QStringLiteral("INSUFFICIENT_RESOURCES"), QStringLiteral("資源が足りません")},
        {QStringLiteral("OUT_OF_MEMORY"), QStringLiteral("メモリが足りません")},
        {QStringLiteral("FAILED"), QStringLiteral("読み込みに失敗しました")},
        // The server asked for a user name and password that were not given or not accepted (the
        // engine gives up on the request after asking again: TOO_MANY_RETRIES).
        {QStringLiteral("MISSING_AUTH_CREDENTIALS"), NeedsLogIn},
        {QStringLiteral("INVALID_AUTH_CREDENTIALS"), NeedsLogIn},
        {QStringLiteral("UNEXPECTED_PROXY_AUTH"), NeedsLogIn},
        {QStringLiteral("TOO_MANY_RETRIES"), NeedsLogIn},
    };
    return reasons;
}

// A code outside the table, by the engine's ranges of codes.
QString byGroup(int code) {
    const int n = -code;
    QString group;
    if (n >= 100 && n < 200)
        group = QStringLiteral("接続できませんでした");
    else if (n >= 200 && n < 300)
        group = QStringLiteral("サーバーの証明書に問題があります");
    else if (n >= 300 && n < 400)
        group = QStringLiteral("サーバーとのやり取りに失敗しました");
    else if (n >= 800 && n < 900)
        group = QStringLiteral("サーバーが見つかりません");
    else
        group = QStringLiteral("読み込めませんでした");
    return QStringLiteral("%1（エラー番号 %2）").arg(group).arg(code);
}

} // namespace

QString reason(int code, const QString& engineText) {
    static const QRegularExpression name(QStringLiteral("ERR_([A-Z0-9_]+)"));
    const QString key = name.match(engineText).captured(1);
    // The codes of the log-in failures, for an engine that gives no text with them.
    if (key.isEmpty() && (code == -311 || code == -338 || code == -341 || code == -375))
        return NeedsLogIn;
    const auto found = table().constFind(key);
    if (found != table().cend())
        return found.value();
    if (key.startsWith(QLatin1String("CERT_")))
        return QStringLiteral("サーバーの証明書に問題があります");
    if (key.startsWith(QLatin1String("SSL_")))
        return QStringLiteral("安全な接続を確立できません");
    return byGroup(code);
}

} // namespace EngineErrorText
