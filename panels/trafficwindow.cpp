#include "panels/trafficwindow.h"

#include "logs/trafficmodel.h"
#include "panels/batchedrows.h"
#include "panels/celltextcache.h"
#include "panels/prompt.h"
#include "panels/savefile.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIntValidator>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace plv {

using namespace logs;

TrafficWindow::TrafficWindow(TrafficLog &log, QWidget *parent)
    : QWidget(parent, Qt::Window), m_log(log), m_textDelay(new QTimer(this))
{
    setObjectName(QStringLiteral("frm_TRAFFIC"));
    setWindowTitle(tr("Traffic Log"));

    txt_COMMAND = new QLineEdit(this);
    txt_COMMAND->setObjectName(QStringLiteral("txt_COMMAND"));
    txt_COMMAND->setPlaceholderText(tr("any"));
    txt_COMMAND->setValidator(new QIntValidator(0, 9999, txt_COMMAND));
    txt_COMMAND->setMaximumWidth(60);
    txt_COMMAND->setToolTip(tr("Only rows of this command number (22 is the status request)"));
    auto *commandLabel = new QLabel(tr("&Command"), this);
    commandLabel->setBuddy(txt_COMMAND);

    btn_DIRECTIONS = new QToolButton(this);
    btn_DIRECTIONS->setObjectName(QStringLiteral("btn_DIRECTIONS"));
    btn_DIRECTIONS->setText(tr("&Directions"));
    btn_DIRECTIONS->setPopupMode(QToolButton::InstantPopup);
    auto *directions = new QMenu(btn_DIRECTIONS);
    for (int d = 0; d < DirectionCount; ++d) {
        QAction *a = directions->addAction(directionName(Direction(d)));
        a->setCheckable(true);
        a->setChecked(true);
        a->setData(d);
        connect(a, &QAction::toggled, this, &TrafficWindow::applyDirections);
    }
    btn_DIRECTIONS->setMenu(directions);

    txt_FILTER = new QLineEdit(this);
    txt_FILTER->setObjectName(QStringLiteral("txt_FILTER"));
    txt_FILTER->setPlaceholderText(tr("text in the frame, meaning or link"));
    txt_FILTER->setClearButtonEnabled(true);
    auto *filterLabel = new QLabel(tr("&Find"), this);
    filterLabel->setBuddy(txt_FILTER);

    btn_PAUSE = new QPushButton(tr("&Pause"), this);
    btn_PAUSE->setObjectName(QStringLiteral("btn_PAUSE"));
    btn_PAUSE->setCheckable(true);
    btn_PAUSE->setToolTip(tr("Stop new rows from appearing; the log keeps collecting them"));
    btn_COPY = new QPushButton(tr("C&opy"), this);
    btn_COPY->setObjectName(QStringLiteral("btn_COPY"));
    btn_COPY->setToolTip(tr("Copy the selected rows as tab-separated text (Ctrl+C)"));
    btn_SAVE = new QPushButton(tr("&Save…"), this);
    btn_SAVE->setObjectName(QStringLiteral("btn_SAVE"));
    btn_SAVE->setToolTip(tr("Save the rows shown (as filtered) as text or CSV"));

    tbl_TRAFFIC = new QTableView(this);
    tbl_TRAFFIC->setObjectName(QStringLiteral("tbl_TRAFFIC"));
    tbl_TRAFFIC->setSelectionBehavior(QAbstractItemView::SelectRows);
    tbl_TRAFFIC->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tbl_TRAFFIC->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tbl_TRAFFIC->setWordWrap(false);
    tbl_TRAFFIC->setAlternatingRowColors(true);
    tbl_TRAFFIC->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    tbl_TRAFFIC->setItemDelegate(new CellTextCache(TrafficLogModel::SeqRole, TrafficLogModel::TimeColumn, tbl_TRAFFIC));
    // Fixed heights and widths: nothing measures 100,000 rows.
    QHeaderView *rows = tbl_TRAFFIC->verticalHeader();
    rows->setVisible(false);
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(fontMetrics().height() + 4);
    QHeaderView *columns = tbl_TRAFFIC->horizontalHeader();
    connect(columns, &QHeaderView::sectionResized, this, [this](int column) {
        if (column != TrafficLogModel::MeaningColumn)
            fitMeaning();
    });
    // Widths for the usual texts; a longer one is cut at the edge and whole in its tooltip.
    for (const char *typical : {"2026-12-31 23:59:59.999", "timeout", "Ethernet 127.0.0.1:38693",
                                "<STX>20,1562,25,3000,<ETX>", "Checksum"})
        m_widths << fontMetrics().horizontalAdvance(QLatin1String(typical)) + 14;

    lbl_ROWS = new QLabel(this);
    lbl_ROWS->setObjectName(QStringLiteral("lbl_ROWS"));
    // Its text changes with every batch of rows; its size must not lay the window out again.
    lbl_ROWS->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);

    auto *bar = new QHBoxLayout;
    bar->addWidget(commandLabel);
    bar->addWidget(txt_COMMAND);
    bar->addWidget(btn_DIRECTIONS);
    bar->addWidget(filterLabel);
    bar->addWidget(txt_FILTER, 1);
    bar->addWidget(btn_PAUSE);
    bar->addWidget(btn_COPY);
    bar->addWidget(btn_SAVE);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(tbl_TRAFFIC, 1);
    layout->addWidget(lbl_ROWS);

    connect(txt_COMMAND, &QLineEdit::textChanged, this, [this](const QString &t) {
        bool ok = false;
        const int n = t.toInt(&ok);
        if (m_filter)
            m_filter->setCommand(ok ? n : -1);
    });
    // Typing a word filters once the typing pauses, not at every key over 100,000 rows.
    m_textDelay->setSingleShot(true);
    m_textDelay->setInterval(250);
    connect(txt_FILTER, &QLineEdit::textChanged, m_textDelay, qOverload<>(&QTimer::start));
    connect(m_textDelay, &QTimer::timeout, this, [this] {
        if (m_filter)
            m_filter->setText(txt_FILTER->text());
    });
    connect(btn_PAUSE, &QPushButton::toggled, this, [this](bool on) {
        if (m_model)
            m_model->setPaused(on);
    });
    connect(btn_COPY, &QPushButton::clicked, this, &TrafficWindow::copySelection);
    connect(btn_SAVE, &QPushButton::clicked, this, &TrafficWindow::chooseAndSave);
    auto *copy = new QAction(this);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(copy, &QAction::triggered, this, &TrafficWindow::copySelection);
    tbl_TRAFFIC->addAction(copy);

    // New rows keep the newest in sight unless the operator has scrolled up to read.
    connect(tbl_TRAFFIC->verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (!m_scrollQueued)
            m_follow = value >= tbl_TRAFFIC->verticalScrollBar()->maximum() - 1;
    });
    resize(sizeHint());
}

// The models exist only while the window shows: a hidden window costs the log nothing.
// They are made again from the filters as set, and a pause ends with the window.
void TrafficWindow::attach()
{
    if (m_model)
        return;
    m_model = new TrafficLogModel(&m_log, this);
    m_filter = new TrafficFilterModel(m_model, this);
    bool ok = false;
    const int command = txt_COMMAND->text().toInt(&ok);
    m_filter->setCommand(ok ? command : -1);
    m_filter->setText(txt_FILTER->text());
    applyDirections();
    m_longestMeaning.clear();
    if (m_filter->rowCount() > 0)
        noteMeanings(0, m_filter->rowCount() - 1);
    connect(m_filter, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) { noteMeanings(first, last); });
    connect(m_filter, &QAbstractItemModel::modelReset, this, [this] {
        m_longestMeaning.clear();
        if (m_filter->rowCount() > 0)
            noteMeanings(0, m_filter->rowCount() - 1);
    });
    m_view = new BatchedRows(m_filter, 1000, this);
    tbl_TRAFFIC->setModel(m_view);
    for (int c = 0; c < m_widths.size(); ++c)
        tbl_TRAFFIC->horizontalHeader()->resizeSection(c, m_widths[c]);
    btn_PAUSE->setChecked(false);
    // The rows and their counts reach the table once a second. While they come faster than
    // the table shows them (automatic mode) every batch repaints it whole, so then every
    // two seconds: nobody reads rows that scroll by, and Pause or a filter holds them.
    connect(m_view, &BatchedRows::flushed, this, [this] {
        const int shown = tbl_TRAFFIC->viewport()->height() / std::max(1, tbl_TRAFFIC->verticalHeader()->defaultSectionSize());
        m_view->setInterval(m_view->lastBatch() > shown ? 2000 : 1000);
    });
    connect(m_view, &BatchedRows::flushed, this, &TrafficWindow::fitMeaning);
    connect(m_view, &BatchedRows::flushed, this, &TrafficWindow::followTail);
    connect(m_view, &BatchedRows::flushed, this, &TrafficWindow::showCounts);
    connect(m_model, &TrafficLogModel::pausedChanged, btn_PAUSE, &QPushButton::setChecked);
    connect(m_model, &TrafficLogModel::pausedChanged, this, &TrafficWindow::showCounts);
    m_follow = true;
    fitMeaning();
    showCounts();
}

void TrafficWindow::detach()
{
    if (!m_model)
        return;
    m_widths.clear();
    for (int c = 0; c < TrafficLogModel::MeaningColumn; ++c)
        m_widths << tbl_TRAFFIC->horizontalHeader()->sectionSize(c);
    tbl_TRAFFIC->setModel(nullptr);
    delete std::exchange(m_view, nullptr);
    delete std::exchange(m_filter, nullptr);
    delete std::exchange(m_model, nullptr);
}

void TrafficWindow::showEvent(QShowEvent *event)
{
    attach();
    QWidget::showEvent(event);
    followTail();
}

void TrafficWindow::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    // Minimising hides too, and keeps the window's place in the log.
    if (!isMinimized())
        detach();
}

void TrafficWindow::applyDirections()
{
    DirectionMask mask = 0;
    for (QAction *a : btn_DIRECTIONS->menu()->actions())
        if (a->isChecked())
            mask |= directionBit(Direction(a->data().toInt()));
    if (m_filter)
        m_filter->setDirections(mask);
    btn_DIRECTIONS->setText(mask == AllDirections ? tr("&Directions") : tr("&Directions (some)"));
}

void TrafficWindow::followTail()
{
    if (!m_follow)
        return;
    m_scrollQueued = true;   // our own scrolling says nothing of the operator's wish
    tbl_TRAFFIC->scrollToBottom();
    m_scrollQueued = false;
}

void TrafficWindow::showCounts()
{
    if (!m_model)
        return;
    QString text = m_filter->isFiltering()
                       ? tr("%1 of %2 rows shown").arg(m_filter->rowCount()).arg(m_model->rowCount())
                       : tr("%1 rows").arg(m_model->rowCount());
    text += tr(" (the log keeps the last %1)").arg(m_log.capacity());
    if (m_model->isPaused())
        text += tr(" — paused, %1 new rows waiting").arg(m_model->pendingRows());
    lbl_ROWS->setText(text);
}

void TrafficWindow::copySelection()
{
    if (!m_view)
        return;
    const QModelIndexList selected = tbl_TRAFFIC->selectionModel()->selectedIndexes();
    if (!selected.isEmpty())
        QApplication::clipboard()->setText(rowsAsText(*m_view, selected));
}

bool TrafficWindow::saveTo(const QString &path, QString *error)
{
    QFile file(path);
    // What the table shows: the filter's rows, as far as a pause lets them in.
    const std::function<bool(qint64)> shown = [this](qint64 seq) { return !m_filter || m_filter->shows(seq); };
    const bool ok = file.open(QIODevice::WriteOnly | QIODevice::Truncate)
                    && m_log.write(file,
                                   path.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive) ? TrafficLog::Format::Csv
                                                                                             : TrafficLog::Format::Text,
                                   shown)
                    && file.flush();
    if (!ok && error)
        *error = file.errorString();
    return ok;
}

int TrafficWindow::rowsToSave() const { return m_filter ? m_filter->rowCount() : m_log.size(); }

void TrafficWindow::chooseAndSave()
{
    const int rows = rowsToSave();
    const bool filtered = m_filter && (m_filter->isFiltering() || m_model->isPaused());
    const QString caption = filtered ? tr("Save Traffic Log: the %1 rows shown (filtered)").arg(rows)
                                     : tr("Save Traffic Log: all %1 rows").arg(rows);
    const QString path =
        chooseFileToWrite(this, caption,
                          QDateTime::currentDateTime().toString(QStringLiteral("'plv-traffic-'yyyyMMdd-HHmmss'.csv'")),
                          {tr("CSV (*.csv)"), tr("Text (*.txt)")});
    if (path.isEmpty())
        return;
    QString error;
    if (!saveTo(path, &error))
        prompter().message(this, tr("The traffic log could not be saved to %1: %2").arg(path, error), windowTitle(),
                           Prompter::Icon::Warning);
    else
        prompter().message(this, tr("%1 rows saved to %2.").arg(rows).arg(QDir::toNativeSeparators(path)),
                           windowTitle(), Prompter::Icon::Information);
}

void TrafficWindow::noteMeanings(int first, int last)
{
    for (int r = first; r <= last; ++r) {
        const QString meaning = m_log.meaning(m_filter->seqAt(r));
        if (meaning.size() > m_longestMeaning.size())
            m_longestMeaning = meaning;
    }
}

// The meaning column is as wide as its longest text, and at least to the window's edge;
// beyond that the table scrolls sideways rather than cutting the text.
void TrafficWindow::fitMeaning()
{
    if (!m_model)
        return;
    QHeaderView *h = tbl_TRAFFIC->horizontalHeader();
    int others = 0;
    for (int c = 0; c < TrafficLogModel::MeaningColumn; ++c)
        others += h->sectionSize(c);
    const int needed = tbl_TRAFFIC->fontMetrics().horizontalAdvance(m_longestMeaning) + 14;
    // Room kept for the vertical scroll bar before it shows, so its coming never adds a
    // horizontal one (which would hide the newest row).
    const QScrollBar *v = tbl_TRAFFIC->verticalScrollBar();
    const int edge = tbl_TRAFFIC->viewport()->width() - (v->isVisible() ? 0 : v->sizeHint().width());
    const int width = std::max(needed, edge - others);
    if (h->sectionSize(TrafficLogModel::MeaningColumn) != width)
        h->resizeSection(TrafficLogModel::MeaningColumn, width);
}

void TrafficWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    fitMeaning();
}

} // namespace plv
