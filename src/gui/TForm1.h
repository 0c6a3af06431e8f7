#pragma once

#include "ProgressLabel.h"
#include "RecentInputsMenu.h"
#include "ResultListPanel.h"

#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <QUrl>

#include <memory>

class AnalysisController;
class AppSettings;
class EditActions;
class HelpMenu;
class InputBoxImport;
class LoginActions;
class ResultListContextMenu;
class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListView;
class QMenu;
class QMenuBar;
class QMessageBox;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QSplitter;
class QVBoxLayout;
class TForm3;
class Tkoukoku;
class PictureStore;
class TWebBrowser;
class WindowHistory;
class tlinksys;

// The main window: the input box, the two result bands (ResultListPanel), the hidden harvesting
// browser and the advertisement banner, laid out and connected; the analysis itself is
// AnalysisController's.
//
// An analysis runs asynchronously: while it runs "解析開始" reads "中止" and cancels it, the label
// counts the pages, and the window stays usable. Closing the window ends a running analysis; during a
// download it first asks whether to stop the transfers and quit.
class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    // Settings that tests change; the program uses the defaults.
    struct Options {
        QUrl adListUrl;                  // the banner's advertisement list; empty: the built-in address
        int pageTimeoutMs = 30000;       // a page not complete after this long is harvested as it stands
        int collectTimeoutMs = 10000;    // bound for collecting one page's addresses
        QString settingsFile;            // the INI file the window remembers its state in; empty: none
        int parallel = 0;                // pages loaded at a time; 0: the harvester's default
        bool offerKeptDownloads = false; // offer the downloads an earlier run left unfinished
        QString historyFile;             // the download history; empty: HistoryLocation::defaultFile()
        QString browserFolder;           // the hidden pages' browser profile (log-ins); empty: off the record
    };

    explicit TForm1(QWidget* parent = nullptr);
    explicit TForm1(const Options& options, QWidget* parent = nullptr);
    ~TForm1() override;

    // Puts addresses into the input box, one a line (the program's command-line arguments).
    void setAddresses(const QStringList& addresses);

    // The harvester of the current (or last) analysis.
    tlinksys* harvester() const;
    bool isAnalysing() const;
    // The text view windows opened by the view commands and not closed yet.
    QList<TForm3*> textViews() const;
    // What the window remembers between runs (in memory only when Options::settingsFile is empty).
    AppSettings* settings() const;

    // The captions of the two result lists.
    static inline const QString LinkedPagesCaption = QStringLiteral("リンクしてるページ");
    static inline const QString DataFilesCaption = QStringLiteral("データファイル");
    static inline const QString DoneCaption = QStringLiteral("完　了");
    static inline const QString WorkingCaption = QStringLiteral("作業中");
    static inline const QString StartCaption = QStringLiteral("解析開始");
    static inline const QString CancelCaption = QStringLiteral("中止");
    static inline const QString DownloadAllCaption = QStringLiteral("すべてダウンロード");
    static inline const QString InputHint =
        QStringLiteral("解析したいページのURL　もしくはURLのリストを入力");

    // Controls, with the names of the window layout.
    QScrollArea* ScrollBox1 = nullptr; // the band at the top that holds the banner
    Tkoukoku* Tkoukoku1 = nullptr;     // the advertisement banner
    QGroupBox* GroupBox3 = nullptr;    // the input band
    QPlainTextEdit* Memo1 = nullptr;   // the input box: page addresses, one a line
    QWidget* Panel1 = nullptr;         // the input band's command panel
    QPushButton* Button5 = nullptr;    // "解析開始": starts an analysis ("中止" while one runs)
    ProgressLabel* Label1 = nullptr;   // progress: "作業中 k/n" and the page, then "完　了" or "中止"
    ResultListPanel* GroupBox1 = nullptr; // "リンクしてるページ": the linked pages band
    QListView* ListBox1 = nullptr;        // the linked pages
    QWidget* Panel2 = nullptr;            // the linked pages' command panel
    QPushButton* Button2 = nullptr;       // "テキスト表示" of the linked pages
    QLineEdit* foruda1 = nullptr;         // the folder the linked pages are downloaded into
    QPushButton* forudaButton1 = nullptr; // "…": chooses foruda1's folder
    QPushButton* Button7 = nullptr;       // "ダウンロード" of the selected linked pages
    QLineEdit* kensaku1 = nullptr;        // the linked pages' filter text
    QPushButton* Button8 = nullptr;       // "検索": filters the linked pages
    QPushButton* Button10 = nullptr;      // "C": shows every linked page again
    QSplitter* Bands1 = nullptr;          // divides the height between the two result bands
    ResultListPanel* GroupBox2 = nullptr; // "データファイル": the data files band
    QListView* ListBox2 = nullptr;        // the data files: images, embeds, script links
    QWidget* Panel3 = nullptr;            // the data files' command panel
    QPushButton* Button6 = nullptr;       // "テキスト表示" of the data files
    QLineEdit* foruda = nullptr;          // the folder the data files are downloaded into
    QPushButton* forudaButton = nullptr;  // "…": chooses foruda's folder
    QPushButton* Button4 = nullptr;       // "ダウンロード" of the selected data files
    QLineEdit* kensaku2 = nullptr;        // the data files' filter text
    QPushButton* Button9 = nullptr;       // "検索": filters the data files
    QPushButton* Button11 = nullptr;      // "C": shows every data file again
    QPushButton* Button3 = nullptr;       // hidden: fills both lists with the records
    TWebBrowser* WB1 = nullptr;           // the hidden browser: its profile and cookies serve the harvest
    QMenuBar* MainMenu1 = nullptr;        // the menu bar
    QMenu* File1 = nullptr;               // "ファイル"
    QAction* OpenAddresses1 = nullptr; // "アドレスを読み込む…": addresses of a file into the input box
    QAction* SaveResults1 = nullptr; // "結果を保存…": both lists, or the selected entries, to a file
    QAction* OpenResults1 = nullptr; // "結果を開く…": both lists back from a saved CSV or JSON lines file
    RecentInputsMenu* Recent1 = nullptr; // "最近の入力": the last analysed inputs
    QAction* Close1 = nullptr;           // "閉じる": ends the program
    QMenu* Settings1 = nullptr;          // "設定"
    QAction* NoScripts1 = nullptr; // "スクリプトを実行しない": pages are harvested without their scripts
    QAction* Scroll1 = nullptr; // "ページを最後までスクロール": each page is scrolled to its end first
    InputBoxImport* MemoImport = nullptr; // imports and drops into Memo1
    LoginActions* Login = nullptr; // Cookie を読み込む…, ブラウザで開く…, ログイン情報を消去
    ResultListContextMenu* ListMenu1 = nullptr;     // right-click menu of ListBox1
    ResultListContextMenu* ListMenu2 = nullptr;     // right-click menu of ListBox2
    ResultListContextMenu* PicturesMenu2 = nullptr; // right-click menu of the picture view of the data files
    HelpMenu* Help1 = nullptr;                      // "ヘルプ": the guide (F1) and the version
    QMenu* View1 = nullptr;                         // "表示"
    QAction* Pictures1 = nullptr;                   // "画像表示" (Ctrl+G): the data files as pictures
    PictureStore* Pictures = nullptr;               // the facts and thumbnails of the data files
    QAction* FillFiles1 = nullptr; // "データファイルをウィンドウいっぱいに表示" (Ctrl+Shift+G)
    EditActions* ActionList1 = nullptr;    // the edit actions (cut, copy, paste, select all, undo, delete)
    WindowHistory* SavedHistory = nullptr; // the download history: marks, its menu items, its list
    QAction* Action1 = nullptr;            // an action of the list that nothing triggers

    // Commands.
    void Button5Click();  // starts an analysis of the input box's lines, or cancels the one running
    void Button3Click();  // fills both lists with every record of the analysis
    void Button8Click();  // filters the linked pages by kensaku1
    void Button9Click();  // filters the data files by kensaku2
    void Button10Click(); // shows every linked page again
    void Button11Click(); // shows every data file again
    void Button2Click();  // shows the linked pages as text
    void Button6Click();  // shows the data files as text
    void Button7Click();  // downloads the selected linked pages into foruda1
    void Button4Click();  // downloads the selected data files into foruda
    void Close1Click();   // closes the window, ending the program

Q_SIGNALS:
    // An analysis has ended (cancelled or not) and the lists show its records.
    void analysisFinished(bool cancelled);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildWindow();
    void buildMenus();
    void restoreSettings();
    void storeSettings();
    void keepOnScreen();
    // The data files band alone fills the window (the banner, the input and the linked pages hidden).
    void fillWithFiles(bool on);
    void saveResults();
    void openResults();
    void buildInputBand(QWidget* client);
    void buildResultBands(QWidget* client, QVBoxLayout* bands);
    void setTabOrder();
    void FormCreate();
    void FormClose();
    void ResetResults();

    void viewAsText(const ResultListPanel* panel);
    void download(const ResultListPanel* panel);
    // The settings key of a band's 保存名: "pages" or "files".
    QString bandName(const ResultListPanel* panel) const;

    // Closing while downloads run: asks whether to stop them and quit.
    void askToStopDownloads();

    void showNewRecords();
    void showProgress(int current, int total, int done, const QString& address);
    void onFinished(bool cancelled);

    Options m_options;
    AnalysisController* m_analysis = nullptr;
    std::unique_ptr<AppSettings> m_settings;
    QList<QPointer<TForm3>> m_textViews;
    // Input lines of the running (or last) analysis left out as repeats of an earlier line.
    qsizetype m_repeatsSkipped = 0;
    // The question asked on closing during a download, while it is open; and the answer to quit.
    QPointer<QMessageBox> m_closeQuestion;
    bool m_stopDownloadsOnClose = false;
};
