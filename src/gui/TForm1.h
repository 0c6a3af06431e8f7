#pragma once

#include "ResultFilter.h"

#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <QUrl>

#include <memory>

class AppSettings;
class EditActions;
class InputBoxImport;
class ResultListContextMenu;
class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListView;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QStringListModel;
class ResultListDelegate;
class TForm3;
class Tkoukoku;
class TWebBrowser;
class tlinksys;

// The main window: the input box, the two result lists with their command panels, the hidden
// harvesting browser and the advertisement banner.
//
// An analysis runs asynchronously: while it runs "解析開始" reads "中止" and cancels it, the label
// counts the pages, and the window stays usable. Closing the window ends a running analysis.
class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    // Settings that tests change; the program uses the defaults.
    struct Options {
        QUrl adListUrl;               // the banner's advertisement list; empty: the built-in address
        int pageTimeoutMs = 30000;    // a page not complete after this long is harvested as it stands
        int collectTimeoutMs = 10000; // bound for collecting one page's addresses
        QString settingsFile;         // the INI file the window remembers its state in; empty: none
        int parallel = 0;             // pages loaded at a time; 0: the harvester's default
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
    static inline const QString InputHint =
        QStringLiteral("解析したいページのURL　もしくはURLのリストを入力");
    // At most this many failed pages are named one by one in the report at the end of an analysis.
    static constexpr int FailuresNamed = 20;

    // Controls, with the names of the window layout.
    QScrollArea* ScrollBox1 = nullptr;
    Tkoukoku* Tkoukoku1 = nullptr;
    QGroupBox* GroupBox3 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QWidget* Panel1 = nullptr;
    QPushButton* Button5 = nullptr;
    QLabel* Label1 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QListView* ListBox1 = nullptr;
    QWidget* Panel2 = nullptr;
    QPushButton* Button2 = nullptr;
    QLineEdit* foruda1 = nullptr;
    QPushButton* forudaButton1 = nullptr; // "…": chooses foruda1's folder
    QPushButton* Button7 = nullptr;
    QLineEdit* kensaku1 = nullptr;
    QPushButton* Button8 = nullptr;
    QPushButton* Button10 = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QListView* ListBox2 = nullptr;
    QWidget* Panel3 = nullptr;
    QPushButton* Button6 = nullptr;
    QLineEdit* foruda = nullptr;
    QPushButton* forudaButton = nullptr; // "…": chooses foruda's folder
    QPushButton* Button4 = nullptr;
    QLineEdit* kensaku2 = nullptr;
    QPushButton* Button9 = nullptr;
    QPushButton* Button11 = nullptr;
    QPushButton* Button3 = nullptr;
    TWebBrowser* WB1 = nullptr;
    QMenuBar* MainMenu1 = nullptr;
    QMenu* File1 = nullptr;
    QAction* OpenAddresses1 = nullptr; // "アドレスを読み込む…": addresses of a file into the input box
    QAction* SaveResults1 = nullptr; // "結果を保存…": both lists, or the selected entries, to a file
    QMenu* Recent1 = nullptr;        // "最近の入力": the last analysed inputs
    QAction* Close1 = nullptr;
    QMenu* Settings1 = nullptr; // "設定"
    QAction* NoScripts1 = nullptr; // "スクリプトを実行しない": pages are harvested without their scripts
    InputBoxImport* MemoImport = nullptr;       // imports and drops into Memo1
    ResultListContextMenu* ListMenu1 = nullptr; // right-click menu of ListBox1
    ResultListContextMenu* ListMenu2 = nullptr; // right-click menu of ListBox2
    EditActions* ActionList1 = nullptr;
    QAction* Action1 = nullptr;

    // Commands.
    void Button5Click();
    void Button3Click();
    void Button8Click();
    void Button9Click();
    void Button10Click();
    void Button11Click();
    void Button2Click();
    void Button6Click();
    void Button7Click();
    void Button4Click();
    void Close1Click();

Q_SIGNALS:
    // An analysis has ended (cancelled or not) and the lists show its records.
    void analysisFinished(bool cancelled);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct ResultList {
        QGroupBox* box = nullptr;
        // The filter text the list shows, while one is applied (entries that arrive during an
        // analysis are matched against it).
        QString filterText;
        bool filtered = false;
        QListView* view = nullptr;
        QStringListModel* model = nullptr;
        ResultListDelegate* delegate = nullptr;
        QString caption;
        ResultFilter::Side side = ResultFilter::Side::LinkedPages;
        QList<qsizetype> records;
    };

    void buildWindow();
    void buildMenus();
    void restoreSettings();
    void storeSettings();
    void keepOnScreen();
    void rebuildRecentMenu();
    void saveResults();
    void saveFailureList(const QString& content);
    void buildInputBand();
    QGroupBox* buildResultBand(ResultList& list, const char* boxName, const char* listName,
                               const char* panelName);
    QPushButton* addFolderChooser(QLineEdit* box, const char* buttonName);
    void chooseFolder(QLineEdit* box);
    void setTabOrder();
    void FormCreate();
    void FormClose();
    void ResetResults();
    void createHarvester();
    void destroyHarvester();

    void showEntries(ResultList& list, ResultFilter::Entries entries);
    void appendEntries(ResultList& list, qsizetype from);
    void showNewRecords();
    void showProgress();
    void clearList(ResultList& list);
    void updateTitle(ResultList& list);
    void filter(ResultList& list, const QString& filterText);
    void unfilter(ResultList& list);
    void viewAsText(const ResultList& list);
    void download(const ResultList& list, const QLineEdit* folderBox);

    void onPageStarted(int index, int total, const QString& address);
    void onPageFinished(const QString& address, bool ok, const QString& reason);
    void onFinished(bool cancelled);
    void reportFailures();

    Options m_options;
    QPointer<tlinksys> m_harvester;
    bool m_analysing = false;
    bool m_resultsShown = false;
    struct Failure {
        QString address;
        QString reason;
    };
    QList<Failure> m_failures;
    std::unique_ptr<AppSettings> m_settings;
    // During an analysis: the pages it has, those done, and the addresses of those started.
    int m_pagesTotal = 0;
    int m_pagesDone = 0;
    QStringList m_pageAddresses;
    // The records already in the lists.
    qsizetype m_recordsShown = 0;
    ResultList m_pages;
    ResultList m_files;
    QList<QPointer<TForm3>> m_textViews;
};
