#include "HistoryCommand.h"

#include "CommandHelp.h"
#include "CommandLanguage.h"
#include "CommandOutput.h"
#include "DownloadHistory.h"
#include "HistoryLocation.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

int usageError(const QString& message) {
    CommandOutput::write(stderr,
                         QStringLiteral("nepirika history: %1\n%2").arg(message, HistoryCommand::usage()));
    return ExitUsage;
}

QString jsonLine(const HistoryEntry& e) {
    QJsonObject o;
    o.insert(QStringLiteral("id"), e.id);
    o.insert(QStringLiteral("time"),
             QDateTime::fromMSecsSinceEpoch(e.timeMs, Qt::UTC).toString(Qt::ISODateWithMs));
    o.insert(QStringLiteral("url"), e.url);
    o.insert(QStringLiteral("final_url"), e.finalUrl);
    o.insert(QStringLiteral("page"), e.page);
    o.insert(QStringLiteral("path"), e.path);
    o.insert(QStringLiteral("bytes"), e.bytes);
    o.insert(QStringLiteral("sha256"), QString::fromLatin1(e.sha256.toHex()));
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

QString textLine(const HistoryEntry& e) {
    return QStringLiteral("%1\t%2\t%3\t%4")
        .arg(QDateTime::fromMSecsSinceEpoch(e.timeMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
             CommandOutput::oneLine(e.url), CommandOutput::oneLine(e.path))
        .arg(e.bytes);
}

} // namespace

QString HistoryCommand::setAsideMessage(const QString& damagedFile) {
    if (CommandLanguage::isJapanese())
        return QStringLiteral("保存の履歴が壊れていたため「%1」として退避し、新しい履歴を始めました")
            .arg(damagedFile);
    return QStringLiteral("the download history was damaged: it was set aside as \"%1\" and a new one "
                          "started")
        .arg(damagedFile);
}

QString HistoryCommand::usage() {
    const QList<CommandHelp::Option> options = CommandHelp::historyOptions();
    if (CommandLanguage::isJapanese())
        return QStringLiteral("使い方: nepirika history ") + CommandHelp::synopsis(options, 25) +
               QStringLiteral(
                   " [文字列]\n"
                   "  保存したファイルの履歴を新しい順に 1 行に 1 "
                   "件ずつ出力します（日時<タブ>アドレス<タブ>\n"
                   "  保存先<タブ>バイト数）。文字列を指定すると、一覧の絞り込みと同じ規則でアドレスに、\n"
                   "  または保存先に文字列を含むものだけを出力します。\n") +
               CommandHelp::optionLines(options) +
               QStringLiteral(
                   "  履歴の場所: ~/.local/share/nepirika/history.sqlite3（ポータブル版はプログラムの隣）。\n"
                   "  終了コード: 0 成功、1 履歴を読み書きできない、2 使い方の誤り。\n");
    return QStringLiteral("Usage: nepirika history ") + CommandHelp::synopsis(options, 24) +
           QStringLiteral(
               " [TEXT]\n"
               "  Prints the files saved, newest first, one a line (time<TAB>address<TAB>path<TAB>bytes);\n"
               "  with TEXT only those whose address contains it as the lists' filter finds it, or\n"
               "  whose path contains it.\n") +
           CommandHelp::optionLines(options) +
           QStringLiteral(
               "  The history is ~/.local/share/nepirika/history.sqlite3 (beside the program in a\n"
               "  portable copy).\n"
               "  Exit status: 0 done, 1 the history cannot be read or written, 2 usage error.\n");
}

int HistoryCommand::run(const QStringList& arguments) {
    bool json = false;
    bool forget = false;
    bool options = true;
    QStringList words;
    for (const QString& arg : arguments) {
        if (options && arg == u"--json") {
            json = true;
        } else if (options && arg == u"--forget") {
            forget = true;
        } else if (options && (arg == u"-h" || arg == u"--help")) {
            CommandOutput::write(stdout, usage());
            return ExitOk;
        } else if (options && arg == u"--") {
            options = false;
        } else if (options && arg.startsWith(u'-') && arg.size() > 1) {
            return usageError(QStringLiteral("unknown option %1").arg(arg));
        } else {
            words.append(arg);
        }
    }
    if (words.size() > 1)
        return usageError(QStringLiteral("one TEXT at most (quote a text with spaces)"));
    const QString text = words.value(0);
    if (forget && text.isEmpty())
        return usageError(QStringLiteral("--forget needs a TEXT"));
    if (forget && json)
        return usageError(QStringLiteral("--forget and --json do not go together"));

    DownloadHistory history(HistoryLocation::defaultFile());
    const bool opened = history.open();
    const QString aside = history.takeSetAside();
    if (!aside.isEmpty())
        CommandOutput::write(stderr, QStringLiteral("nepirika history: %1\n").arg(setAsideMessage(aside)));
    if (!opened) {
        CommandOutput::write(stderr, QStringLiteral("nepirika history: %1\n").arg(history.error()));
        return ExitFailed;
    }
    const bool japanese = CommandLanguage::isJapanese();
    if (forget) {
        const qsizetype removed = history.forget(text);
        if (removed < 0) {
            CommandOutput::write(stderr, QStringLiteral("nepirika history: %1\n").arg(history.error()));
            return ExitFailed;
        }
        CommandOutput::write(stdout, japanese ? QStringLiteral("%1 件を履歴から削除しました\n").arg(removed)
                                              : QStringLiteral("forgot %1 entries\n").arg(removed));
        return ExitOk;
    }
    const QList<HistoryEntry> entries = history.list(text);
    QString out;
    for (const HistoryEntry& e : entries) {
        out += (json ? jsonLine(e) : textLine(e)) + u'\n';
        if (out.size() > 1 << 16) {
            CommandOutput::write(stdout, out, false);
            out.clear();
        }
    }
    CommandOutput::write(stdout, out);
    return ExitOk;
}
