#include "CommandHelp.h"

#include "CommandLanguage.h"
#include "LinkFollowing.h"
#include "WorkLimits.h"

#include <algorithm>

namespace CommandHelp {
namespace {

// "--jobs N", "--dir DIR" ("--dir フォルダ" in Japanese).
QString optionWithArgument(const Option& option, bool japanese) {
    if (option.argument.isEmpty())
        return option.name;
    if (japanese && option.argument == u"FILE")
        return option.name + QStringLiteral(" ファイル");
    return option.name + u' ' +
           (japanese && option.argument == u"DIR" ? QStringLiteral("フォルダ") : option.argument);
}

// Columns on a terminal: the wide characters of Chinese, Japanese and Korean writing take two.
int columns(const QString& text) {
    int width = 0;
    for (const char32_t c : text.toUcs4()) {
        const bool wide = (c >= 0x1100 && c <= 0x115f) || (c >= 0x2e80 && c <= 0xa4cf) ||
                          (c >= 0xac00 && c <= 0xd7a3) || (c >= 0xf900 && c <= 0xfaff) ||
                          (c >= 0xfe30 && c <= 0xfe4f) || (c >= 0xff00 && c <= 0xff60) ||
                          (c >= 0xffe0 && c <= 0xffe6) || (c >= 0x20000 && c <= 0x3fffd);
        width += wide ? 2 : 1;
    }
    return width;
}

// The log-in options of harvest and download (CommandCookies).
Option cookiesOption() {
    return {QStringLiteral("--cookies"), QStringLiteral("FILE"),
            QStringLiteral("send the cookies of FILE, a Netscape cookie file (wget --load-cookies,\n"
                           "curl -b, browsers' export add-ons), each only where its domain, path\n"
                           "and secure flag allow, as a browser does; the file is only read; a\n"
                           "bad line is named (FILE:LINE) and left out; may be given more than once"),
            QStringLiteral("ファイル（Netscape 形式の Cookie ファイル。wget --load-cookies、curl -b、\n"
                           "ブラウザの書き出し機能のもの）の Cookie を、ブラウザと同じく\n"
                           "ドメイン・パス・secure の許す所にだけ送る。ファイルは読むだけ。\n"
                           "誤った行は「ファイル:行番号」で示して除く。複数指定できる")};
}

Option windowLoginOption() {
    return {QStringLiteral("--use-window-login"),
            {},
            QStringLiteral("also send the cookies of the window's browser (the log-ins made with\n"
                           "表示 → ブラウザで開く), only reading them: the window's log-in is not\n"
                           "changed, and the window may be running"),
            QStringLiteral("ウィンドウのブラウザの Cookie（表示 → ブラウザで開く でログインした\n"
                           "もの）も送る。読むだけで、ウィンドウのログイン情報は変えない\n"
                           "（ウィンドウを開いたままでもよい）")};
}

} // namespace

QList<Option> harvestOptions() {
    return {
        {QStringLiteral("--json"),
         {},
         QStringLiteral("one JSON object a line, with \"kind\", \"url\", \"source\", \"via\" (how it\n"
                        "was found) and \"charset\" (the encoding of the page it was found on)"),
         QStringLiteral("1 行に 1 つの JSON オブジェクト（\"kind\"、\"url\"、\"source\"、\"via\"、\n"
                        "\"charset\" 見つけたページの文字コード）")},
        {QStringLiteral("--parallel"), QStringLiteral("N"),
         QStringLiteral("load up to N pages at a time (1 to %1; default %2)")
             .arg(WorkLimits::MostPagesAtOnce)
             .arg(WorkLimits::DefaultPagesAtOnce),
         QStringLiteral("同時に N ページまで読み込む（1〜%1、既定 %2）")
             .arg(WorkLimits::MostPagesAtOnce)
             .arg(WorkLimits::DefaultPagesAtOnce)},
        {QStringLiteral("--no-scripts"),
         {},
         QStringLiteral("read each page as the server sent it: run none of its scripts and\n"
                        "fetch nothing but the page itself (no style sheets, scripts, frames)"),
         QStringLiteral("スクリプトを実行せず、ページ本体だけを読み込む")},
        {QStringLiteral("--scroll"),
         {},
         QStringLiteral("scroll each page (laid out in a 1280 x 720 window, as every page\n"
                        "with scripts is) to its end, a screen at a time, before collecting\n"
                        "(at most %1 screens and %2 s a page; a page that is still growing\n"
                        "then is collected as it stands, with a note); takes more memory")
             .arg(WorkLimits::MostScrollScreens)
             .arg(WorkLimits::MostScrollMs / 1000),
         QStringLiteral(
             "各ページ（スクリプトありでは 1280×720 の画面に表示）を\n"
             "1 画面ずつ最後までスクロールしてから集める\n"
             "（1 ページ %1 画面・%2 秒まで。それでも伸びるページはそこで打ち切る。メモリを多く使う）")
             .arg(WorkLimits::MostScrollScreens)
             .arg(WorkLimits::MostScrollMs / 1000)},
        {QStringLiteral("--probe"),
         {},
         QStringLiteral("fetch the start of each image and add to its --json record \"width\"\n"
                        "and \"height\" (pixels), \"bytes\" (the whole file's size) and \"type\"\n"
                        "(the MIME type read from the content); an image whose facts could\n"
                        "not be read says why in \"probe_error\" (the exit status stays)"),
         QStringLiteral(
             "各画像の先頭だけを取得し、--json に \"width\"、\"height\"（ピクセル）、\n"
             "\"bytes\"（ファイル全体の大きさ）、\"type\"（内容から読んだ MIME タイプ）を加える。\n"
             "読めなかった画像は \"probe_error\" に理由を示す（終了コードは変わらない）")},
        {QStringLiteral("--largest"),
         {},
         QStringLiteral("keep only the largest candidate of each srcset or picture set (by\n"
                        "pixel size when probed, else by the w, then the x descriptor)"),
         QStringLiteral("srcset・picture の組ごとに最大の候補だけを出力する（取得したときは\n"
                        "ピクセル数、ほかは w、次に x の記述子で比べる）")},
        {QStringLiteral("--min-width"), QStringLiteral("N"),
         QStringLiteral("keep only images at least N pixels wide (implies --probe)"),
         QStringLiteral("幅が N ピクセル以上の画像だけを出力する（--probe を含む）")},
        {QStringLiteral("--min-height"), QStringLiteral("N"),
         QStringLiteral("keep only images at least N pixels high (implies --probe); images\n"
                        "whose size could not be read are left out and counted on standard error"),
         QStringLiteral("高さが N ピクセル以上の画像だけを出力する（--probe を含む）。\n"
                        "大きさを読めなかった画像は除き、その数を標準エラーに出力する")},
        {QStringLiteral("--follow"), QStringLiteral("N"),
         QStringLiteral("also load the pages that each page links to, up to N links away\n"
                        "(0 to %1; default 0), breadth first, each page once; their records\n"
                        "carry \"depth\"; a thumbnail's link joins its picture's \"set\"")
             .arg(LinkFollowing::MostDepth),
         QStringLiteral("各ページのリンク先のページも N リンク先まで読み込む（0〜%1、既定 0）。\n"
                        "幅優先で各ページ 1 回。そのレコードには \"depth\" が付く")
             .arg(LinkFollowing::MostDepth)},
        {QStringLiteral("--span-hosts"),
         {},
         QStringLiteral("follow links to other hosts too (default: the linking page's host only)"),
         QStringLiteral("ほかのホストへのリンクもたどる（既定ではリンク元と同じホストだけ）")},
        {QStringLiteral("--follow-match"), QStringLiteral("TEXT"),
         QStringLiteral("follow only links whose address contains TEXT, capitals ignored\n"
                        "(may be given more than once: any of them)"),
         QStringLiteral("アドレスに TEXT を含むリンクだけをたどる（大文字小文字を区別しない。\n"
                        "複数指定でいずれか）")},
        {QStringLiteral("--ignore-robots"),
         {},
         QStringLiteral("do not obey robots.txt for followed pages"),
         QStringLiteral("たどったページで robots.txt に従わない")},
        {QStringLiteral("--max-pages"), QStringLiteral("N"),
         QStringLiteral("load at most N pages a run (1 to %1; default %2); reaching it is\n"
                        "said on standard error and exits 1")
             .arg(LinkFollowing::MostMaxPages)
             .arg(LinkFollowing::DefaultMaxPages),
         QStringLiteral("1 回に読み込むページを N までにする（1〜%1、既定 %2）。\n"
                        "達したときは標準エラーに示し、終了コード 1")
             .arg(LinkFollowing::MostMaxPages)
             .arg(LinkFollowing::DefaultMaxPages)},
        {QStringLiteral("--delay"), QStringLiteral("SECONDS"),
         QStringLiteral("wait this long between starting two pages of one host"),
         QStringLiteral("同じホストのページを読み込み始める間隔（秒）")},
        {QStringLiteral("--new-only"),
         {},
         QStringLiteral("leave out the records whose address the download history has saved\n"
                        "(its file still there) and say how many on standard error"),
         QStringLiteral("保存の履歴にあるアドレス（ファイルが残っているもの）を除き、\n"
                        "その数を標準エラーに出力する")},
        cookiesOption(),
        windowLoginOption(),
        {QStringLiteral("--verbose"),
         {},
         QStringLiteral("also pass on the browser engine's own messages on standard error"),
         QStringLiteral("ブラウザエンジン自身のメッセージも標準エラーに出力する")},
    };
}

QList<Option> downloadOptions() {
    return {
        {QStringLiteral("--dir"), QStringLiteral("DIR"),
         QStringLiteral("the folder to save into (default: DL in the current directory)"),
         QStringLiteral("保存するフォルダ（既定: 現在のフォルダの DL）")},
        {QStringLiteral("--name"), QStringLiteral("MASK"),
         QStringLiteral("names each file by a mask: {name} {ext} {title} {alt} {host} {page}\n"
                        "{n} {n:03} {date} {w} {h}, {{ and }} for braces; \"/\" makes folders\n"
                        "inside DIR (\"{host}/{title}/{n:03}.{ext}\")"),
         QStringLiteral("マスクで保存名を付ける: {name} {ext} {title} {alt} {host} {page}\n"
                        "{n} {n:03} {date} {w} {h}、括弧そのものは {{ }}。「/」で DIR の中に\n"
                        "フォルダを作る（\"{host}/{title}/{n:03}.{ext}\"）")},
        {QStringLiteral("--jobs"), QStringLiteral("N"),
         QStringLiteral("transfers at once, 1 to %1 (default %2)")
             .arg(WorkLimits::MostTransfersAtOnce)
             .arg(WorkLimits::DefaultTransfersAtOnce),
         QStringLiteral("同時に転送する数、1〜%1（既定 %2）")
             .arg(WorkLimits::MostTransfersAtOnce)
             .arg(WorkLimits::DefaultTransfersAtOnce)},
        {QStringLiteral("--retries"), QStringLiteral("N"),
         QStringLiteral("tries again after a transient failure, 0 to %1 (default %2; 0: none)")
             .arg(WorkLimits::MostRetries)
             .arg(WorkLimits::DefaultRetries),
         QStringLiteral("一時的な失敗のあとに再試行する回数、0〜%1（既定 %2、0 で再試行なし）")
             .arg(WorkLimits::MostRetries)
             .arg(WorkLimits::DefaultRetries)},
        {QStringLiteral("--new-only"),
         {},
         QStringLiteral("skip what the download history has saved: an address whose file still\n"
                        "exists is not fetched, and a file with the same bytes (SHA-256) as a\n"
                        "saved file that still exists is not kept; each prints\n"
                        "skipped<TAB>ADDRESS<TAB>REASON naming the earlier file (no failure)"),
         QStringLiteral(
             "保存の履歴にあるものを飛ばす: 保存したファイルが残っているアドレスは取得せず、\n"
             "残っている保存済みファイルと内容（SHA-256）が同じファイルは保存しない。\n"
             "それぞれ skipped<タブ>アドレス<タブ>理由（前のファイル）を出力する（失敗ではない）")},
        {QStringLiteral("--continue"),
         {},
         QStringLiteral("continue every unfinished download kept for DIR (interrupted or\n"
                        "killed): each address not saved yet, nothing twice, a file cut off\n"
                        "from its bytes where the server allows"),
         QStringLiteral("--dir のフォルダに残っている、中断されたダウンロードをすべて続ける。\n"
                        "まだ保存していないアドレスだけを取得し、同じファイルを二度保存しない。\n"
                        "途中で切れたファイルはサーバーが許せば続きから取得する")},
        cookiesOption(),
        windowLoginOption(),
        {QStringLiteral("--verbose"),
         {},
         QStringLiteral("also pass on the toolkit's own messages on standard error"),
         QStringLiteral("ツールキット自身のメッセージも標準エラーに出力する")},
    };
}

QList<Option> historyOptions() {
    return {
        {QStringLiteral("--json"),
         {},
         QStringLiteral("one JSON object a line with every column: \"id\", \"time\" (UTC), \"url\",\n"
                        "\"final_url\", \"page\", \"path\", \"bytes\", \"sha256\""),
         QStringLiteral("1 行に 1 つの JSON オブジェクト（すべての列: \"id\"、\"time\"（UTC）、\"url\"、\n"
                        "\"final_url\"、\"page\"、\"path\"、\"bytes\"、\"sha256\"）")},
        {QStringLiteral("--forget"),
         {},
         QStringLiteral("remove the entries that TEXT matches from the history and say how\n"
                        "many (the files stay)"),
         QStringLiteral("文字列に一致する項目を履歴から削除し、その件数を出力する（ファイルは残る）")},
    };
}

QString synopsis(const QList<Option>& options, int indent, int width) {
    const bool japanese = CommandLanguage::isJapanese();
    QString text;
    int column = indent;
    for (const Option& option : options) {
        const QString word = u'[' + optionWithArgument(option, japanese) + u']';
        if (!text.isEmpty()) {
            if (column + 1 + columns(word) > width) {
                text += u'\n' + QString(indent, u' ');
                column = indent;
            } else {
                text += u' ';
                ++column;
            }
        }
        text += word;
        column += columns(word);
    }
    return text;
}

QString optionLines(const QList<Option>& options) {
    const bool japanese = CommandLanguage::isJapanese();
    int nameWidth = 0;
    for (const Option& option : options)
        nameWidth = std::max(nameWidth, columns(optionWithArgument(option, japanese)));
    const int column = 2 + nameWidth + 2;
    QString text;
    for (const Option& option : options) {
        const QString head = QStringLiteral("  ") + optionWithArgument(option, japanese);
        const QStringList lines = (japanese ? option.japanese : option.english).split(u'\n');
        text += head + QString(column - columns(head), u' ') + lines.first() + u'\n';
        for (qsizetype i = 1; i < lines.size(); ++i)
            text += QString(column, u' ') + lines.at(i) + u'\n';
    }
    return text;
}

} // namespace CommandHelp
