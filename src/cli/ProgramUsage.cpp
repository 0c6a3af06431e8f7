#include "ProgramUsage.h"

#include "CommandLanguage.h"

namespace ProgramUsage {
namespace {

const char usageText[] =
    "Usage:\n"
    "  nepirika [ADDRESS...]               open the window; the addresses go into its input box\n"
    "  nepirika harvest [--json] [--parallel N] [--no-scripts] [ADDRESS...]\n"
    "                                      harvest the pages without a window\n"
    "  nepirika download [--dir DIR] [--jobs N] [--retries N] [ADDRESS...]\n"
    "                                      download the addresses without a window\n"
    "  nepirika COMMAND --help             the options of harvest or download\n"
    "  nepirika --help                     show this text\n"
    "  nepirika --version                  show the version\n";

const char japaneseUsageText[] =
    "使い方:\n"
    "  nepirika [アドレス...]              ウィンドウを開きます。アドレスは入力欄に入ります\n"
    "  nepirika harvest [--json] [アドレス...]\n"
    "                                      ウィンドウを開かずにページを解析します\n"
    "  nepirika download [--dir フォルダ] [アドレス...]\n"
    "                                      ウィンドウを開かずにダウンロードします\n"
    "  nepirika コマンド --help            harvest、download のオプションを表示します\n"
    "  nepirika --help                     この説明を表示します\n"
    "  nepirika --version                  版を表示します\n";

} // namespace

void print(FILE* stream) {
    std::fputs(CommandLanguage::isJapanese() ? japaneseUsageText : usageText, stream);
}

} // namespace ProgramUsage
