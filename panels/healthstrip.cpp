#include "panels/healthstrip.h"

#include <QGridLayout>
#include <QLabel>

namespace plv {
namespace {

QLabel *label(const char *name, QWidget *parent)
{
    auto *l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    l->setMargin(3);
    return l;
}

void paint(QLabel *l, const QColor &back, const QColor &text)
{
    l->setAutoFillBackground(back.isValid());
    QPalette p = l->palette();
    if (back.isValid())
        p.setColor(QPalette::Window, back);
    p.setColor(QPalette::WindowText, text);
    l->setPalette(p);
}

} // namespace

HealthStrip::HealthStrip(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("fra_HEALTH"));
    lbl_LINKHEALTH = label("lbl_LINKHEALTH", this);
    lbl_HVCOMMAND = label("lbl_HVCOMMAND", this);
    lbl_HVBANNER = label("lbl_HVBANNER", this);
    lbl_RATING = label("lbl_RATING", this);
    lbl_UPDATEMODE = label("lbl_UPDATEMODE", this);
    lbl_LASTREPLY = label("lbl_LASTREPLY", this);
    lbl_REC = label("lbl_REC", this);
    lbl_REC->setText(tr("REC"));
    lbl_HVBANNER->setText(tr("HIGH VOLTAGE ON"));
    QFont bold = font();
    bold.setBold(true);
    for (QLabel *l : {lbl_LINKHEALTH, lbl_HVCOMMAND, lbl_HVBANNER, lbl_UPDATEMODE, lbl_REC})
        l->setFont(bold);
    QFont big = bold;
    big.setPointSizeF(big.pointSizeF() * 1.3);
    lbl_HVBANNER->setFont(big);
    paint(lbl_HVBANNER, QColor(255, 0, 0), Qt::white);
    paint(lbl_HVCOMMAND, QColor(255, 255, 0), Qt::black);
    lbl_HVBANNER->hide();
    lbl_HVCOMMAND->hide();
    lbl_LINKHEALTH->hide();   // shown once a link has been chosen
    paint(lbl_REC, QColor(200, 0, 0), Qt::white);
    lbl_REC->hide();

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->addWidget(lbl_LINKHEALTH, 0, 0);
    grid->addWidget(lbl_HVCOMMAND, 0, 1);
    grid->addWidget(lbl_HVBANNER, 0, 2);
    grid->addWidget(lbl_RATING, 1, 0);
    grid->addWidget(lbl_UPDATEMODE, 1, 1);
    grid->addWidget(lbl_LASTREPLY, 1, 2);
    grid->addWidget(lbl_REC, 1, 3);
    grid->setColumnStretch(0, 2);
}

void HealthStrip::showLink(const QString &text, bool alarm)
{
    lbl_LINKHEALTH->setText(text);
    lbl_LINKHEALTH->setVisible(!text.isEmpty());
    paint(lbl_LINKHEALTH, alarm ? QColor(255, 0, 0) : QColor(), alarm ? QColor(Qt::white) : palette().color(QPalette::WindowText));
}

void HealthStrip::showHvCommand(const QString &text)
{
    lbl_HVCOMMAND->setText(text);
    lbl_HVCOMMAND->setVisible(!text.isEmpty());
}

void HealthStrip::showHvOn(bool on) { lbl_HVBANNER->setVisible(on); }
void HealthStrip::showRating(const QString &text) { lbl_RATING->setText(text); }
void HealthStrip::showMode(const QString &text) { lbl_UPDATEMODE->setText(text); }
void HealthStrip::showLastReply(const QString &text) { lbl_LASTREPLY->setText(text); }

void HealthStrip::showRecording(const QString &path)
{
    lbl_REC->setToolTip(path.isEmpty() ? QString() : tr("Recording readbacks to %1").arg(path));
    lbl_REC->setVisible(!path.isEmpty());
}

} // namespace plv
