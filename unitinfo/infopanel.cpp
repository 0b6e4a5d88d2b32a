#include "unitinfo/infopanel.h"

#include "console/widgets.h"
#include "link/session.h"
#include "unitinfo/identity.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

namespace plv {

InfoPanel::InfoPanel(Session &session, QWidget *parent) : QObject(parent), m_session(session)
{
    fra_SYSINFO = new QGroupBox(tr("SYSTEM INFORMATION"), parent);
    fra_SYSINFO->setObjectName(QStringLiteral("fra_SYSINFO"));
    auto *grid = new QGridLayout(fra_SYSINFO);
    int row = 0;
    auto add = [&](QPushButton *&btn, const char *name, const QString &caption, QLineEdit *&box,
                   const char *boxName, const QString &initial, void (InfoPanel::*handler)()) {
        btn = new QPushButton(caption, parent);
        btn->setObjectName(QLatin1String(name));
        box = makeValueBox(QLatin1String(boxName), initial, parent);
        grid->addWidget(btn, row, 0);
        grid->addWidget(box, row, 1);
        ++row;
        connect(btn, &QPushButton::clicked, this, [this, handler] { m_session.operate([this, handler] { (this->*handler)(); }); });
    };
    add(btn_MODNUM, "btn_MODNUM", tr("Model Number"), txt_MODNUM, "txt_MODNUM", tr("Rev. ??"), &InfoPanel::btn_MODNUM_Click);
    add(btn_WEBREV, "btn_WEBREV", tr("Web Server Rev"), txt_WEBREV, "txt_WEBREV", tr("Rev. ??"), &InfoPanel::btn_WEBREV_Click);
    add(btn_SWREV, "btn_SWREV", tr("Software Rev."), txt_SWREV, "txt_SWREV", tr("Rev. ??"), &InfoPanel::btn_SWREV_Click);
    add(btn_HWREV, "btn_HWREV", tr("Hardware Rev."), txt_HWREV, "txt_HWREV", tr("Rev. ??"), &InfoPanel::btn_HWREV_Click);
    add(totalHours, "totalHours", tr("Total Hours On."), txt_totalHours, "txt_totalHours", tr("Hours ??"),
        &InfoPanel::totalHours_Click);
}

void InfoPanel::query(const char *command, QLineEdit *box, const std::function<QByteArray(const QByteArray &)> &value)
{
    m_session.pause();
    m_session.outputOutputString(command);
    const QByteArray reply = m_session.WaitForReply();
    if (!reply.isEmpty()) {
        box->setText(QString::fromLatin1(value(reply)));
        setBoxColor(box, Qt::white);
        m_session.CommStatusFlag = true;
    } else {
        box->setText(tr("Unknown"));
        setBoxColor(box, QColor(255, 0, 0));
        m_session.countError();
        m_session.showCommErrors();
    }
    m_session.rearm();
}

void InfoPanel::btn_MODNUM_Click() { query("26,", txt_MODNUM, modelNumberValue); }
void InfoPanel::btn_WEBREV_Click() { query("25,", txt_WEBREV, [](const QByteArray &r) { return revisionValue(r, 11); }); }
void InfoPanel::btn_SWREV_Click() { query("23,", txt_SWREV, [](const QByteArray &r) { return revisionValue(r, 11); }); }
void InfoPanel::btn_HWREV_Click() { query("24,", txt_HWREV, [](const QByteArray &r) { return revisionValue(r, 3); }); }

void InfoPanel::totalHours_Click()
{
    m_session.pause();
    m_session.outputOutputString("21,");
    const QByteArray reply = m_session.WaitForReply();
    if (!reply.isEmpty()) {
        // Without a comma after the echo the box stays as it was and nothing is counted.
        if (const auto hours = totalHoursValue(reply)) {
            txt_totalHours->setText(QString::fromLatin1(*hours));
            setBoxColor(txt_totalHours, Qt::white);
            m_session.CommStatusFlag = true;
        }
    } else {
        txt_totalHours->setText(tr("Unknown"));
        setBoxColor(txt_totalHours, QColor(255, 0, 0));
        m_session.countError();
        m_session.showCommErrors();
    }
    m_session.rearm();
}

void InfoPanel::PollTotalHours()
{
    m_session.pause();
    m_session.outputOutputString("21,");
    const QByteArray reply = m_session.WaitForReply();
    if (!reply.isEmpty()) {
        if (totalHoursValue(reply))
            m_session.CommStatusFlag = true;
    } else {
        m_session.countError();
        m_session.showCommErrors();
    }
    m_session.rearm();
}

void InfoPanel::mnu_Reset_total_hrs_Click()
{
    m_session.pause();
    m_session.outputOutputString("30,");
    m_session.WaitForReply();   // acknowledged with "$"; nothing on screen depends on it
    m_session.rearm();
}

} // namespace plv
