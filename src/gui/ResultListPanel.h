#pragma once

#include "DownloadCommand.h"
#include "ImageNarrowing.h"
#include "PictureCellDelegate.h"
#include "ResultFilter.h"

#include <QGroupBox>
#include <QPalette>
#include <QPointer>

class FolderBox;
class NameMaskBar;
class QCheckBox;
class QComboBox;
class QItemSelectionModel;
class QLineEdit;
class QListView;
class QPushButton;
class QSpinBox;
class QTimer;
class QToolButton;
class PictureControls;
class PicturePreview;
class PictureStore;
class ResultListDelegate;
class ResultListModel;
class SavedMarks;
class tlinksys;

// One result band of the main window ("リンクしてるページ" or "データファイル"): the list of one side's
// records, and at its right the command panel with the text view and download buttons, the folder
// box, the filter box and its two buttons.
//
// The panel owns the list's model and selection; the list view shows them, and so would any further
// view of the same entries (the commands read the model and the selection, never the view). The
// filter works on the whole record list of the harvester; records the harvester adds during an
// analysis are appended, matched against the filter in force.
class ResultListPanel : public QGroupBox {
    Q_OBJECT
public:
    // The object names of the band's controls, as the window layout names them, and its defaults.
    struct Setup {
        QString caption;
        ResultFilter::Side side = ResultFilter::Side::LinkedPages;
        const char* boxName = "";
        const char* listName = "";
        const char* panelName = "";
        const char* textName = "";
        const char* folderName = "";
        const char* folderButtonName = "";
        const char* nameMaskName = ""; // the 保存名 box
        const char* downloadName = "";
        const char* filterName = "";
        const char* filterButtonName = "";
        const char* unfilterButtonName = "";
        QString folder;             // the folder box's default
        QString filterText;         // the filter box's default
        int filterTop = 81;         // where the filter box stands in the command panel
        int filterButtonsTop = 100; // where "検索" and "C" stand
        // The band offers the picture view and the narrowing by size and kind below its list.
        bool pictures = false;
    };

    explicit ResultListPanel(const Setup& setup, QWidget* parent = nullptr);

    QListView* list = nullptr;             // the entries
    QWidget* commands = nullptr;           // the command panel at the right
    QPushButton* textButton = nullptr;     // "テキスト表示": the entries as text
    FolderBox* folderBox = nullptr;        // the folder the selected entries are downloaded into
    QPushButton* folderButton = nullptr;   // "…": chooses the folder
    NameMaskBar* nameMaskBar = nullptr;    // 保存名: the mask that names the downloads, with its preview
    QPushButton* downloadButton = nullptr; // "ダウンロード" of the selected entries
    QLineEdit* filterBox = nullptr;        // the filter text
    QPushButton* filterButton = nullptr;   // "検索": shows the entries that match the filter text
    QPushButton* unfilterButton = nullptr; // "C": shows every entry again
    QCheckBox* unsavedOnlyBox = nullptr; // "未保存のみ": leaves out what the download history has saved

    // With pictures: the picture view of the same entries and selection, and below the views the
    // switch between them and the narrowing by size and kind.
    QListView* grid = nullptr;
    PictureControls* controls = nullptr; // the bar below the views
    QCheckBox* picturesBox = nullptr;    // "画像表示": the picture view instead of the list
    QSpinBox* minWidthBox = nullptr;     // "幅": the least width in pixels (0: any, also when emptied)
    QSpinBox* minHeightBox = nullptr;    // "高さ": the least height in pixels (0: any, also when emptied)
    QToolButton* typesButton = nullptr;  // "種類": the types kept
    QCheckBox* largestBox = nullptr;     // "最大のみ": the largest candidate of each image set only
    QComboBox* orderBox = nullptr;       // "並び": page order, pixel area or bytes

    ResultListModel* model() const;
    // The view that shows the entries now (the list, or the picture view).
    QListView* currentView() const;
    QItemSelectionModel* selectionModel() const;

    // The harvester whose records the list shows (none: the list stays empty). The list itself
    // changes only by the commands below.
    void setHarvester(tlinksys* harvester);
    // Empty, unfiltered, the caption alone as title.
    void clear();
    // Every record of the side; the filter is lifted.
    void showAll();
    // The records that match the filter box's text.
    void filter();
    // Every record of the side again; the filter box keeps its text.
    void unfilter();
    // The records the harvester has added since the list last looked, appended (filtered as shown).
    void showNewRecords();
    // The title counts the entries from now on ("リンクしてるページ (12)").
    void showCount();

    // Which entries the download history has saved: they are marked in the list and the picture
    // view, and "未保存のみ" leaves them out.
    void setSavedMarks(SavedMarks* marks);

    // With pictures: where the facts and thumbnails come from (none: no picture view).
    void setPictureStore(PictureStore* store);
    bool picturesShown() const;
    void setPicturesShown(bool shown);
    ImageNarrowing::Criteria narrowing() const;
    // Sets the narrowing as restored, not as changed by the user (pictureSettingsChanged is not sent).
    void setNarrowing(const ImageNarrowing::Criteria& criteria);
    // The large view of one entry (opened by a double click or Space in the picture view); none
    // before the first.
    PicturePreview* preview() const;
    void openPreview(int row);

    // The entries as shown, decoded as the list shows them, each followed by a line break.
    QString text() const;
    // The selected entries, in list order, with the page each was found on.
    QList<DownloadRequestItem> selectedItems() const;
    // The band's caption, without the count.
    QString caption() const;
    // Every entry the list shows, in its order, each with its page.
    QList<DownloadRequestItem> shownItems() const;
    bool hasSelection() const;
    // The record positions of the entries shown, or of the selected ones, in list order.
    QList<qsizetype> records(bool selectedOnly) const;
    // True when the list is narrowed by exactly the filter box's text. A text that is not (one
    // restored at start, left after "C", or edited since "検索") is shown dimmed and in italics,
    // its tooltip saying that it is not applied.
    bool filterApplied() const;

Q_SIGNALS:
    void textViewRequested();
    void downloadRequested();
    // The view shown, or the narrowing, changed by the user.
    void pictureSettingsChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildList();
    void buildCommands(const Setup& setup);
    void chooseFolder();
    void showEntries(ResultFilter::Entries entries);
    void updateTitle();
    void markFilter();
    QList<DownloadRequestItem> itemsAt(const QList<int>& rows) const;
    void buildPictures();
    void narrowingChanged();
    // The entries of the side as the text filter gives them (all when none is applied).
    ResultFilter::Entries filtered() const;
    // The entries again, narrowed, keeping the selection and the current entry.
    void renarrow();
    ImageNarrowing::Facts narrowingFacts(qsizetype position) const;
    // Asks for the facts of the images among entries that are not known; returns how many images
    // there are, and sets m_measured to how many of them are known.
    qsizetype askFacts(const ResultFilter::Entries& entries);
    void countSelected();
    static bool hidesUnmeasured(const ImageNarrowing::Criteria& criteria);
    PictureCellDelegate::Cell cellAt(int row) const;
    // The entries the history has not saved (all of them unless "未保存のみ" is on); those not
    // looked up yet are asked about.
    ResultFilter::Entries unsavedOnly(ResultFilter::Entries entries) const;

    QString m_caption;
    ResultFilter::Side m_side;
    ResultListModel* m_model = nullptr;
    QItemSelectionModel* m_selection = nullptr;
    ResultListDelegate* m_delegate = nullptr;
    QPointer<tlinksys> m_harvester;
    // The filter text the list shows, while one is applied (entries that arrive during an
    // analysis are matched against it).
    QString m_filterText;
    bool m_filtered = false;
    // The filter box's own look, for a text that is applied.
    QPalette m_filterPalette;
    bool m_countShown = false;
    // The records of the harvester's list the entries were taken from (the rest are new).
    qsizetype m_recordsSeen = 0;
    QPointer<PictureStore> m_store;
    PictureCellDelegate* m_cells = nullptr;
    // Facts arrive while the narrowing needs them: the entries are narrowed again now and then.
    QTimer* m_renarrow = nullptr;
    // Images among the entries whose facts are known, and those the narrowing still waits for.
    qsizetype m_measured = 0;
    qsizetype m_unmeasured = 0;
    QPointer<PicturePreview> m_preview;
    QPointer<SavedMarks> m_marks;
    bool m_marksChanged = false;
};
