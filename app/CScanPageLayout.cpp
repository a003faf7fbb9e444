#include "app/CScanPageLayout.h"

#include "app/CCheckHeaderView.h"
#include "app/CFilterBar.h"
#include "app/CMiddleElideDelegate.h"
#include "app/CPreviewPane.h"
#include "app/Orvik.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMovie>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QTableView>
#include <QTreeView>
#include <QVBoxLayout>

QPushButton* CScanPageLayout::commonButton(const QString& text, QWidget* parent, int w, int h)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QStringLiteral("commonBtn"));
    button->setFixedSize(w, h);
    return button;
}

QLabel* CScanPageLayout::rowLabel(const QString& text, QWidget* parent, int minimumWidth)
{
    auto* label = new QLabel(text, parent);
    label->setFixedHeight(25);
    label->setMinimumWidth(minimumWidth);
    return label;
}

void CScanPageLayout::arrange(Orvik& page)
{
    // Counters and progress on the first line; below it what the progress
    // means (share, amount, time left); below that, on a line of its own
    // so that it wraps instead of pushing the stop button out of the
    // window, the note about the volume.
    page.m_countersRow->addWidget(page.m_foundCaption);
    page.m_countersRow->addWidget(page.m_foundCount);
    page.m_countersRow->addWidget(page.m_tickedCaption);
    page.m_countersRow->addWidget(page.m_tickedCount);
    // Only while a filter hides rows.
    page.m_countersRow->addWidget(page.m_hiddenCaption);
    page.m_countersRow->addWidget(page.m_hiddenCount);
    page.m_hiddenCaption->hide();
    page.m_hiddenCount->hide();
    page.m_noticeLabel->setStyleSheet(QStringLiteral("color: #b26a00;"));
    page.m_noticeLabel->setWordWrap(true);
    page.m_noticeLabel->hide();
    page.m_progressRow->setSpacing(5);
    page.m_busyMovie->setScaledSize(QSize(20, 20));
    page.m_busyLabel->setFixedSize(20, 20);
    page.m_busyLabel->setMovie(page.m_busyMovie);
    page.m_busyMovie->start();
    // Up to 500 wide; narrower when the counters need the room (the count
    // of rows a filter hides, longer words in English).
    page.m_progressBar->setFixedHeight(15);
    page.m_progressBar->setMinimumWidth(240);
    page.m_progressBar->setMaximumWidth(500);
    page.m_progressBar->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    page.m_progressBar->setTextVisible(false);
    page.m_progressBar->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Sized by its text (and the style sheet's font), never clipped.
    page.m_stopButton->setObjectName(QStringLiteral("commonBtn"));
    // Never narrower than 50 x 25; wider only for a longer word.
    page.m_stopButton->setFixedHeight(25);
    page.m_stopButton->setMinimumWidth(50);
    page.m_stopButton->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    page.m_doneMark->setAlignment(Qt::AlignCenter);
    page.m_doneMark->hide();
    page.m_progressRow->addWidget(page.m_busyLabel);
    page.m_progressRow->addWidget(page.m_progressBar, 1);
    page.m_progressRow->addWidget(page.m_stopButton);
    page.m_progressRow->addWidget(page.m_doneMark);
    page.m_progressRow->addStretch();
    page.m_topRow->addLayout(page.m_countersRow);
    page.m_topRow->addSpacing(20);
    page.m_topRow->addLayout(page.m_progressRow, 1);
    page.m_detailsLabel->setStyleSheet(QStringLiteral("color: #555555;"));
    page.m_readPlanLabel->setStyleSheet(QStringLiteral("color: #555555;"));
    page.m_readPlanLabel->hide();
    page.m_detailsRow->addWidget(page.m_readPlanLabel);
    page.m_detailsRow->addStretch();
    page.m_detailsRow->addWidget(page.m_detailsLabel);

    // The two panes.
    page.m_treeView->setModel(&page.m_treeModel);
    page.m_treeView->setFixedWidth(200);
    page.m_treeView->expandAll();
    page.m_tableView->setHorizontalHeader(new CCheckHeaderView(page.m_tableView));
    page.m_tableView->setModel(&page.m_tableModel);
    page.m_tableView->setSortingEnabled(true);
    // No arrow until the user picks a column (enabling sorting points it
    // at the check box column).
    page.m_tableView->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    page.m_tableView->setSelectionBehavior(QAbstractItemView::SelectRows);
    page.m_tableView->verticalHeader()->hide();
    page.m_tableView->verticalHeader()->setDefaultSectionSize(24);
    page.m_tableView->setShowGrid(false);
    page.m_tableView->setAlternatingRowColors(true);
    const int widths[] = {40, 200, 90, 130, 170};
    for (int column = 0; column < 5; ++column)
        page.m_tableView->setColumnWidth(column, widths[column]);
    page.m_tableView->horizontalHeader()->setStretchLastSection(true);
    // A long type name must not hide that the document is damaged.
    page.m_tableView->setItemDelegateForColumn(CFileInfoTableModel::TypeColumn,
                                               new CMiddleElideDelegate(page.m_tableView));
    // Beside the preview the columns may not fit: the table then scrolls
    // sideways rather than cutting the last ones off.
    page.m_tableView->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    page.m_tableView->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    // Tab leaves the table for the buttons instead of walking its cells.
    page.m_tableView->setTabKeyNavigation(false);

    // The tree shows the files by type, or in the folders they were deleted
    // from; the same files and ticks either way.
    auto* viewGroup = new QButtonGroup(&page);
    viewGroup->addButton(page.m_byTypeButton);
    viewGroup->addButton(page.m_byFolderButton);
    page.m_byTypeButton->setChecked(true);
    page.m_byTypeButton->setToolTip(Orvik::tr("按文档类型列出找到的文档"));
    page.m_byFolderButton->setToolTip(Orvik::tr("按已删除文件原来所在的文件夹列出；只凭内容找到的文档单独列在一处"));
    auto* switchRow = new QHBoxLayout;
    switchRow->setContentsMargins(2, 0, 0, 0);
    switchRow->setSpacing(10);
    switchRow->addWidget(page.m_byTypeButton);
    switchRow->addWidget(page.m_byFolderButton);
    switchRow->addStretch();
    auto* treeColumn = new QVBoxLayout;
    treeColumn->addLayout(switchRow);
    treeColumn->addWidget(page.m_treeView);

    // The filter bar over the table.
    auto* tableColumn = new QVBoxLayout;
    tableColumn->addWidget(page.m_filterBar);
    tableColumn->addWidget(page.m_tableView);
    // Says so when a scan ends with nothing found, over the empty table.
    page.m_emptyLabel = new QLabel(page.m_tableView->viewport());
    page.m_emptyLabel->setAlignment(Qt::AlignCenter);
    page.m_emptyLabel->setWordWrap(true);
    page.m_emptyLabel->setStyleSheet(QStringLiteral("color: #555555; font-size: 14px;"));
    page.m_emptyLabel->hide();

    page.m_panesRow->setSpacing(0);
    page.m_panesRow->addLayout(treeColumn, 1);
    // The preview beside the table, in a splitter the user can drag or
    // close; it appears with the first row chosen.
    auto* tableBox = new QWidget(&page);
    tableColumn->setContentsMargins(0, 0, 0, 0);
    tableBox->setLayout(tableColumn);
    page.m_previewPane = new CPreviewPane(&page);
    page.m_previewSplitter = new QSplitter(Qt::Horizontal, &page);
    page.m_previewSplitter->setChildrenCollapsible(false);
    page.m_previewSplitter->addWidget(tableBox);
    page.m_previewSplitter->addWidget(page.m_previewPane);
    page.m_previewSplitter->setStretchFactor(0, 3);
    page.m_previewSplitter->setStretchFactor(1, 2);
    page.m_previewPane->hide();
    page.m_panesRow->addWidget(page.m_previewSplitter, 4);

    page.m_recoverButton->setEnabled(false);
    page.m_keepFoldersBox->setToolTip(Orvik::tr("在输出文件夹中重建每个已删除文件原来的文件夹；"
                                                "只凭内容找到的文档和上级文件夹已丢失的文件放在 lost 文件夹中"));
    page.m_bottomRow->addWidget(page.m_backButton);
    page.m_bottomRow->addStretch();
    page.m_bottomRow->addWidget(page.m_keepFoldersBox);
    page.m_bottomRow->addSpacing(10);
    page.m_bottomRow->addWidget(page.m_recoverButton);

    page.m_mainLayout->addLayout(page.m_topRow);
    page.m_mainLayout->addLayout(page.m_detailsRow);
    // A disk that fails reads is best imaged before anything else reads it:
    // the scan stops, and the imaging page copies it.
    page.m_imageFirstButton->setObjectName(QStringLiteral("commonBtn"));
    page.m_imageFirstButton->setFixedHeight(30);
    QPushButton* imageFirst = page.m_imageFirstButton;
    imageFirst->setMinimumWidth(imageFirst->fontMetrics().horizontalAdvance(imageFirst->text()) + 24);
    page.m_imageFirstButton->hide();
    auto* noticeRow = new QHBoxLayout;
    noticeRow->addWidget(page.m_noticeLabel, 1);
    noticeRow->addWidget(page.m_imageFirstButton);
    page.m_mainLayout->addLayout(noticeRow);
    page.m_mainLayout->addLayout(page.m_panesRow, 1);
    page.m_mainLayout->addLayout(page.m_bottomRow);

    // The keyboard goes the way the eye does: the types, the filter, the
    // table, then the buttons under it.
    // The view switch sits over the tree and comes before it.
    QWidget::setTabOrder(page.m_byTypeButton, page.m_byFolderButton);
    QWidget::setTabOrder(page.m_byFolderButton, page.m_treeView);
    QWidget::setTabOrder(page.m_treeView, page.m_filterBar->textEdit());
    QWidget::setTabOrder(page.m_filterBar->textEdit(), page.m_filterBar->filterButton());
    QWidget::setTabOrder(page.m_filterBar->filterButton(), page.m_tableView);
    QWidget::setTabOrder(page.m_tableView, page.m_backButton);
    QWidget::setTabOrder(page.m_backButton, page.m_keepFoldersBox);
    QWidget::setTabOrder(page.m_keepFoldersBox, page.m_recoverButton);
}
