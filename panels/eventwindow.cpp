#include "panels/eventwindow.h"

#include "logs/eventlog.h"

#include <QDate>
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace plv {

using namespace logs;

EventWindow::EventWindow(EventLog &log, QWidget *parent)
    : QWidget(parent, Qt::Window), m_log(log), m_model(new EventLogModel(&log, this))
{
    setObjectName(QStringLiteral("frm_EVENTS"));
    setWindowTitle(tr("Event Log"));

    lbl_FILE = new QLabel(tr("Written to %1, one file per day.")
                              .arg(QStringLiteral("%1/events-YYYY-MM-DD.log").arg(log.folder())),
                          this);
    lbl_FILE->setObjectName(QStringLiteral("lbl_FILE"));
    lbl_FILE->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lbl_FILE->setWordWrap(true);
    lbl_WRITEFAILED = new QLabel(this);
    lbl_WRITEFAILED->setObjectName(QStringLiteral("lbl_WRITEFAILED"));
    lbl_WRITEFAILED->setWordWrap(true);
    lbl_WRITEFAILED->setStyleSheet(QStringLiteral("QLabel { background: #c00000; color: white; padding: 4px; }"));
    lbl_WRITEFAILED->hide();

    tbl_EVENTS = new QTableView(this);
    tbl_EVENTS->setObjectName(QStringLiteral("tbl_EVENTS"));
    tbl_EVENTS->setModel(m_model);
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

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lbl_WRITEFAILED);
    layout->addWidget(tbl_EVENTS, 1);
    layout->addWidget(lbl_FILE);

    connect(&log, &EventLog::writeFailed, this, &EventWindow::showFailure);
    connect(&log, &EventLog::writeRecovered, lbl_WRITEFAILED, &QWidget::hide);
    if (log.isWriteFailing())
        showFailure(log.filePath(QDate::currentDate()), log.lastWriteError());
    // The newest event stays in sight unless the operator scrolled up to read.
    connect(m_model, &QAbstractItemModel::rowsInserted, this, [this] {
        QScrollBar *v = tbl_EVENTS->verticalScrollBar();
        if (v->value() >= v->maximum() - 1)
            QTimer::singleShot(0, tbl_EVENTS, &QTableView::scrollToBottom);
    });
    resize(sizeHint());
    tbl_EVENTS->scrollToBottom();
}

void EventWindow::showFailure(const QString &path, const QString &reason)
{
    lbl_WRITEFAILED->setText(tr("Events cannot be written to %1: %2. The console keeps working and "
                                "keeps them in this window only.")
                                 .arg(path, reason));
    lbl_WRITEFAILED->show();
}

} // namespace plv
