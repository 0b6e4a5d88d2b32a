#include "panels/alarmswindow.h"

#include "health/alarms.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace plv {

AlarmsWindow::AlarmsWindow(AlarmList &alarms, QWidget *parent) : QWidget(parent, Qt::Window), m_alarms(alarms)
{
    setObjectName(QStringLiteral("frm_ALARMS"));
    setWindowTitle(tr("Alarms"));
    tbl_ALARMS = new QTableWidget(0, 4, this);
    tbl_ALARMS->setObjectName(QStringLiteral("tbl_ALARMS"));
    tbl_ALARMS->setHorizontalHeaderLabels({tr("First rose"), tr("Condition"), tr("State"), tr("First out")});
    tbl_ALARMS->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tbl_ALARMS->setSelectionBehavior(QAbstractItemView::SelectRows);
    tbl_ALARMS->setSelectionMode(QAbstractItemView::SingleSelection);
    tbl_ALARMS->verticalHeader()->hide();
    tbl_ALARMS->horizontalHeader()->setStretchLastSection(true);
    btn_ACK = new QPushButton(tr("Acknowledge"), this);
    btn_ACK->setObjectName(QStringLiteral("btn_ACK"));
    btn_ACKALL = new QPushButton(tr("Acknowledge All"), this);
    btn_ACKALL->setObjectName(QStringLiteral("btn_ACKALL"));

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btn_ACK);
    buttons->addWidget(btn_ACKALL);
    auto *v = new QVBoxLayout(this);
    v->addWidget(tbl_ALARMS);
    v->addLayout(buttons);
    resize(560, 300);

    connect(btn_ACK, &QPushButton::clicked, this, [this] {
        const int row = tbl_ALARMS->currentRow();
        if (row >= 0 && row < m_alarms.alarms().size())
            m_alarms.acknowledge(m_alarms.alarms().at(row).condition);
    });
    connect(btn_ACKALL, &QPushButton::clicked, &m_alarms, &AlarmList::acknowledgeAll);
    connect(&m_alarms, &AlarmList::changed, this, &AlarmsWindow::refill);
    refill();
}

void AlarmsWindow::refill()
{
    const QList<AlarmList::Alarm> &list = m_alarms.alarms();
    tbl_ALARMS->setRowCount(int(list.size()));
    for (int r = 0; r < list.size(); ++r) {
        const AlarmList::Alarm &a = list[r];
        const AlarmList::State st = a.state();
        const QStringList cells{a.firstRose.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")), alarmName(a.condition),
                                AlarmList::stateText(st), a.firstOut ? tr("FIRST OUT") : QString()};
        for (int c = 0; c < cells.size(); ++c) {
            auto *item = new QTableWidgetItem(cells[c]);
            // Unacknowledged rows stand out; the state column says it in words as well.
            if (st != AlarmList::State::ActiveAcknowledged) {
                QFont f = item->font();
                f.setBold(true);
                item->setFont(f);
            }
            tbl_ALARMS->setItem(r, c, item);
        }
    }
    btn_ACK->setEnabled(!list.isEmpty());
    btn_ACKALL->setEnabled(m_alarms.unacknowledged() > 0);
    tbl_ALARMS->resizeColumnsToContents();
}

} // namespace plv
