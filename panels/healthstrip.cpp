#include "panels/healthstrip.h"

#include <QGridLayout>
#include <QLabel>

namespace plv {
namespace {

QLabel *label(const char *name, QWidget *parent, bool longText = false)
{
    auto *l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    l->setMargin(3);
    // A long text (a link's address, a rating warning) wraps inside the header; it never
    // widens the window.
    if (longText) {
        l->setWordWrap(true);
        l->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }
    return l;
}

void paint(QLabel *l, const QColor &back, const QColor &text)
{
    l->setAutoFillBackground(back.isValid());
    QPalette p = l->palette();
    p.setColor(QPalette::Window, back.isValid() ? back : l->parentWidget()->palette().color(QPalette::Window));
    p.setColor(QPalette::WindowText, text);
    l->setPalette(p);
}

const QColor kRed(255, 0, 0);

} // namespace

HealthStrip::HealthStrip(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("fra_HEALTH"));
    lbl_LINKHEALTH = label("lbl_LINKHEALTH", this, true);
    lbl_HVCOMMAND = label("lbl_HVCOMMAND", this);
    lbl_HVBANNER = label("lbl_HVBANNER", this);
    lbl_ALARMS = label("lbl_ALARMS", this);
    lbl_RATING = label("lbl_RATING", this, true);
    lbl_UPDATEMODE = label("lbl_UPDATEMODE", this);
    lbl_LASTREPLY = label("lbl_LASTREPLY", this);
    lbl_EMERGENCY = label("lbl_EMERGENCY", this);
    lbl_REC = label("lbl_REC", this);
    lbl_REC->setText(tr("REC"));
    lbl_HVBANNER->setText(tr("HIGH VOLTAGE ON"));
    lbl_EMERGENCY->setText(tr("F12: Emergency HV Off"));
    QFont bold = font();
    bold.setBold(true);
    for (QLabel *l : {lbl_LINKHEALTH, lbl_HVCOMMAND, lbl_HVBANNER, lbl_ALARMS, lbl_UPDATEMODE, lbl_EMERGENCY, lbl_REC})
        l->setFont(bold);
    QFont big = bold;
    big.setPointSizeF(big.pointSizeF() * 1.3);
    lbl_HVBANNER->setFont(big);
    paint(lbl_HVBANNER, kRed, Qt::white);
    paint(lbl_HVCOMMAND, QColor(255, 255, 0), Qt::black);
    lbl_HVBANNER->hide();
    lbl_HVCOMMAND->hide();
    lbl_ALARMS->hide();
    lbl_LINKHEALTH->hide();   // shown once a link has been chosen
    paint(lbl_REC, QColor(64, 64, 64), Qt::white);   // not an alarm: no alarm colour
    lbl_REC->hide();

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->addWidget(lbl_LINKHEALTH, 0, 0);
    grid->addWidget(lbl_HVCOMMAND, 0, 1);
    grid->addWidget(lbl_HVBANNER, 0, 2);
    grid->addWidget(lbl_ALARMS, 0, 3);
    grid->addWidget(lbl_RATING, 1, 0);
    grid->addWidget(lbl_UPDATEMODE, 1, 1);
    grid->addWidget(lbl_LASTREPLY, 1, 2);
    grid->addWidget(lbl_EMERGENCY, 1, 3);
    grid->addWidget(lbl_REC, 0, 4, 2, 1);
    grid->setColumnStretch(0, 1);
}

void HealthStrip::showLink(const QString &text, bool alarm)
{
    lbl_LINKHEALTH->setText(text);
    lbl_LINKHEALTH->setVisible(!text.isEmpty());
    paint(lbl_LINKHEALTH, alarm ? kRed : QColor(), alarm ? QColor(Qt::white) : palette().color(QPalette::WindowText));
}

void HealthStrip::showHvCommand(const QString &text)
{
    lbl_HVCOMMAND->setText(text);
    lbl_HVCOMMAND->setVisible(!text.isEmpty());
}

void HealthStrip::showHvOn(bool on) { lbl_HVBANNER->setVisible(on); }

void HealthStrip::showHvAsRead(const QString &text)
{
    lbl_HVBANNER->setText(text.isEmpty() ? tr("HIGH VOLTAGE ON") : tr("HIGH VOLTAGE ON \u2014 %1").arg(text));
}

void HealthStrip::showRating(const QString &text)
{
    m_rating = text;
    showRatingLabel();
}

void HealthStrip::showRatingMismatch(const QString &text)
{
    m_mismatch = text;
    showRatingLabel();
}

void HealthStrip::showRatingLabel()
{
    const bool wrong = !m_mismatch.isEmpty();
    lbl_RATING->setText(wrong ? tr("%1 \u2014 RATING MISMATCH: %2").arg(m_rating, m_mismatch) : m_rating);
    paint(lbl_RATING, wrong ? kRed : QColor(), wrong ? QColor(Qt::white) : palette().color(QPalette::WindowText));
}

void HealthStrip::showMode(const QString &text)
{
    m_mode = text;
    showModeLabel();
}

void HealthStrip::showAge(const QString &text)
{
    m_age = text;
    showModeLabel();
}

void HealthStrip::showModeLabel()
{
    lbl_UPDATEMODE->setText(m_age.isEmpty() ? m_mode : m_mode + QStringLiteral(" \u2014 ") + m_age);
}

void HealthStrip::showLastReply(const QString &text) { lbl_LASTREPLY->setText(text); }

void HealthStrip::showAlarms(const QString &text, bool unacknowledged)
{
    lbl_ALARMS->setText(text);
    lbl_ALARMS->setVisible(!text.isEmpty());
    paint(lbl_ALARMS, unacknowledged ? kRed : QColor(), unacknowledged ? QColor(Qt::white) : palette().color(QPalette::WindowText));
}

void HealthStrip::showRecording(const QString &path)
{
    lbl_REC->setToolTip(path.isEmpty() ? QString() : tr("Recording readbacks to %1").arg(path));
    lbl_REC->setVisible(!path.isEmpty());
}

} // namespace plv
