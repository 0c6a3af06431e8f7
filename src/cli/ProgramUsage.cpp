#include "ProgramUsage.h"

#include "CommandHelp.h"
#include "CommandLanguage.h"

#include <QString>

namespace ProgramUsage {

void print(FILE* stream) {
    // The commands' options come from their own tables, so that both languages list them all.
    const QString indent(38, u' ');
    QString text;
    if (CommandLanguage::isJapanese())
        text =
            QStringLiteral(
                "使い方:\n"
                "  nepirika [アドレス...]              ウィンドウを開きます。アドレスは入力欄に入ります\n"
                "  nepirika harvest ") +
            CommandHelp::synopsis(CommandHelp::harvestOptions(), 19) + QStringLiteral(" [アドレス...]\n") +
            indent +
            QStringLiteral("ウィンドウを開かずにページを解析します\n"
                           "  nepirika download ") +
            CommandHelp::synopsis(CommandHelp::downloadOptions(), 20, 86) +
            QStringLiteral(" [アドレス...]\n") + indent +
            QStringLiteral("ウィンドウを開かずにダウンロードします\n"
                           "  nepirika history [--json] [--forget] [文字列]\n") +
            indent +
            QStringLiteral(
                "保存の履歴を新しい順に表示します（--forget で削除）\n"
                "  nepirika コマンド --help            harvest、download、history のオプションを表示します\n"
                "  nepirika --help                     この説明を表示します\n"
                "  nepirika --version                  版を表示します\n");
    else
        text =
            QStringLiteral(
                "Usage:\n"
                "  nepirika [ADDRESS...]               open the window; the addresses go into its input box\n"
                "  nepirika harvest ") +
            CommandHelp::synopsis(CommandHelp::harvestOptions(), 19) + QStringLiteral(" [ADDRESS...]\n") +
            indent +
            QStringLiteral("harvest the pages without a window\n"
                           "  nepirika download ") +
            CommandHelp::synopsis(CommandHelp::downloadOptions(), 20, 86) +
            QStringLiteral(" [ADDRESS...]\n") + indent +
            QStringLiteral("download the addresses without a window\n"
                           "  nepirika history [--json] [--forget] [TEXT]\n") +
            indent +
            QStringLiteral(
                "the files saved, newest first (--forget removes entries)\n"
                "  nepirika COMMAND --help             the options of harvest, download or history\n"
                "  nepirika --help                     show this text\n"
                "  nepirika --version                  show the version\n");
    std::fputs(text.toUtf8().constData(), stream);
}

} // namespace ProgramUsage
