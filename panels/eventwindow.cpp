#include "panels/eventwindow.h"

#include "logs/eventlog.h"

#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace plv {

using namespace logs;

EventWindow::EventWindow(EventLog &log, QWidget *parent)
    : QWidget(parent, Qt::Window), m_log(log), m_model(new EventLogModel(&log, this)),
      m_filter(new EventFilterModel(m_model, this))
{
    setObjectName(QStringLiteral("frm_EVENTS"));
    setWindowTitle(tr("Event Log"));

    txt_FILTER = new QLineEdit(this);
    txt_FILTER->setObjectName(QStringLiteral("txt_FILTER"));
    txt_FILTER->setPlaceholderText(tr("a word in the event"));
    txt_FILTER->setClearButtonEnabled(true);
    auto *filterLabel = new QLabel(tr("&Find"), this);
    filterLabel->setBuddy(txt_FILTER);
    cmb_CATEGORY = new QComboBox(this);
    cmb_CATEGORY->setObjectName(QStringLiteral("cmb_CATEGORY"));
    cmb_CATEGORY->addItem(tr("all categories"), -1);
    for (auto c : {EventCategory::Operator, EventCategory::Unit, EventCategory::Link, EventCategory::Console})
        cmb_CATEGORY->addItem(categoryName(c), int(c));
    auto *categoryLabel = new QLabel(tr("&Category"), this);
    categoryLabel->setBuddy(cmb_CATEGORY);

    lbl_FILE = new QLabel(this);
    lbl_FILE->setObjectName(QStringLiteral("lbl_FILE"));
    lbl_FILE->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lbl_FILE->setWordWrap(true);
    showFile(QDateTime::currentMSecsSinceEpoch());
    lbl_WRITEFAILED = new QLabel(this);
    lbl_WRITEFAILED->setObjectName(QStringLiteral("lbl_WRITEFAILED"));
    lbl_WRITEFAILED->setWordWrap(true);
    lbl_WRITEFAILED->setStyleSheet(QStringLiteral("QLabel { background: #c00000; color: white; padding: 4px; }"));
    lbl_WRITEFAILED->hide();

    tbl_EVENTS = new QTableView(this);
    tbl_EVENTS->setObjectName(QStringLiteral("tbl_EVENTS"));
    tbl_EVENTS->setModel(m_filter);
    tbl_EVENTS->setSelectionBehavior(QAbstractItemView::SelectRows);
    tbl_EVENTS->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tbl_EVENTS->setWordWrap(false);
    tbl_EVENTS->setAlternatingRowColors(true);
    tbl_EVENTS->verticalHeader()->setVisible(false);
    tbl_EVENTS->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    tbl_EVENTS->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    tbl_EVENTS->horizontalHeader()->setStretchLastSection(true);
    tbl_EVENTS->horizontalHeader()->resizeSection(
        EventLogModel::TimeColumn, fontMetrics().horizontalAdvance(QStringLiteral("2026-12-31T23:59:59.999+10:30")) + 14);
    tbl_EVENTS->horizontalHeader()->resizeSection(EventLogModel::CategoryColumn,
                                                  fontMetrics().horizontalAdvance(QStringLiteral("operator")) + 14);

    auto *bar = new QHBoxLayout;
    bar->addWidget(filterLabel);
    bar->addWidget(txt_FILTER, 1);
    bar->addWidget(categoryLabel);
    bar->addWidget(cmb_CATEGORY);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lbl_WRITEFAILED);
    layout->addLayout(bar);
    layout->addWidget(tbl_EVENTS, 1);
    layout->addWidget(lbl_FILE);

    connect(txt_FILTER, &QLineEdit::textChanged, m_filter, &EventFilterModel::setText);
    connect(cmb_CATEGORY, &QComboBox::currentIndexChanged, this, [this] {
        const int c = cmb_CATEGORY->currentData().toInt();
        m_filter->setCategory(c < 0 ? std::nullopt : std::optional(EventCategory(c)));
    });
    connect(&log, &EventLog::writeFailed, this, &EventWindow::showFailure);
    connect(&log, &EventLog::writeRecovered, lbl_WRITEFAILED, &QWidget::hide);
    // Past midnight the events go to the next day's file.
    connect(&log, &EventLog::eventAdded, this, [this](const Event &e) { showFile(e.time.toMSecsSinceEpoch()); });
    if (log.isWriteFailing())
        showFailure(log.filePath(QDate::currentDate()), log.lastWriteError());
    // The newest event stays in sight unless the operator scrolled up to read.
    connect(m_filter, &QAbstractItemModel::rowsInserted, this, [this] {
        QScrollBar *v = tbl_EVENTS->verticalScrollBar();
        if (v->value() >= v->maximum() - 1)
            QTimer::singleShot(0, tbl_EVENTS, &QTableView::scrollToBottom);
    });
    resize(sizeHint());
    tbl_EVENTS->scrollToBottom();
}

void EventWindow::showFile(qint64 msSinceEpoch)
{
    const QString path = QDir::toNativeSeparators(m_log.filePath(localDate(msSinceEpoch)));
    if (lbl_FILE->toolTip() != path) {
        lbl_FILE->setText(tr("Written to %1 (a new file each day).").arg(path));
        lbl_FILE->setToolTip(path);
    }
}

void EventWindow::showFailure(const QString &path, const QString &reason)
{
    lbl_WRITEFAILED->setText(tr("Events cannot be written to %1: %2. The console keeps working and "
                                "keeps them in this window only.")
                                 .arg(path, reason));
    lbl_WRITEFAILED->show();
}

} // namespace plv
