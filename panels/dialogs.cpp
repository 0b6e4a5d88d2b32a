#include "panels/dialogs.h"

#include "panels/prompt.h"
#include "widgets/widgets.h"
#include "protocol/entries.h"
#include "link/session.h"
#include "protocol/ratings.h"
#include "unit/unit.h"
#include "protocol/identity.h"

#include <QComboBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

namespace plv {

ExtrasWindow::ExtrasWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frm_EXTRAS"));
    setWindowTitle(tr("EXTRAS!"));
    auto *form = new QFormLayout(this);
    auto add = [&](const char *name, const QString &label) {
        auto *box = new QLineEdit(this);
        box->setObjectName(QLatin1String(name));
        box->setReadOnly(true);
        auto *l = new QLabel(label, this);
        l->setBuddy(box);
        form->addRow(l, box);
        return box;
    };
    txt_MSCOMMBUFF = add("txt_MSCOMMBUFF", tr("MSComm &Buffer"));
    txt_LASTERROR = add("txt_LASTERROR", tr("&Last Error"));
    txt_COMMERRORS = add("txt_COMMERRORS", tr("&Comm Errors"));
    txt_COMMERRORS->clear();
    txt_LASTMISSED = add("txt_LASTMISSED", tr("Last &Missed Reply"));
    txt_LASTMISSED->setToolTip(tr("When a command last went without a reply (local time)"));
    resize(340, 150);
}

void ExtrasWindow::showMissedReply(const QDateTime &when)
{
    txt_LASTMISSED->setText(when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")));
}

// ---------------------------------------------------------------------------

RemoteHostDialog::RemoteHostDialog(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("RemoteHost"));
    setWindowTitle(tr("Remote Host"));
    auto *form = new QFormLayout(this);
    txtHost = new QLineEdit(this);
    txtHost->setObjectName(QStringLiteral("txtHost"));
    txtPortNumber = new QLineEdit(this);
    txtPortNumber->setObjectName(QStringLiteral("txtPortNumber"));
    auto *hostLabel = new QLabel(tr("&Host IP Addr or Name"), this);
    hostLabel->setBuddy(txtHost);
    auto *portLabel = new QLabel(tr("&Port Number"), this);
    portLabel->setBuddy(txtPortNumber);
    form->addRow(hostLabel, txtHost);
    form->addRow(portLabel, txtPortNumber);
    OKButton = new QPushButton(tr("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setDefault(true);
    CancelButton = new QPushButton(tr("Cancel"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OKButton);
    buttons->addWidget(CancelButton);
    form->addRow(buttons);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    // On loading: the (empty) texts are the accepted values.
    m_host = txtHost->text();
    m_port = txtPortNumber->text();
}

void RemoteHostDialog::accept()
{
    if (!parseTcpPort(txtPortNumber->text()).value) {
        m_portRefused = true;
        txtHost->setText(m_host);
        txtPortNumber->setText(m_port);
        QDialog::reject();
        return;
    }
    m_host = txtHost->text();
    m_port = txtPortNumber->text();
    QDialog::accept();
}

void RemoteHostDialog::reject()
{
    txtHost->setText(m_host);
    txtPortNumber->setText(m_port);
    QDialog::reject();
}

// ---------------------------------------------------------------------------

GuiBaudRateDialog::GuiBaudRateDialog(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frm_gui_baudrate"));
    setWindowTitle(tr("GUI Baud Rate"));
    auto *v = new QVBoxLayout(this);
    auto *heading = new QLabel(tr("GUI Baud-Rate Setting"), this);
    Bitslist = new QComboBox(this);
    Bitslist->setObjectName(QStringLiteral("Bitslist"));
    Bitslist->addItems({QStringLiteral("9600"), QStringLiteral("19200"), QStringLiteral("38400"),
                        QStringLiteral("57600"), QStringLiteral("115200")});
    Bitslist->setCurrentIndex(4);
    heading->setBuddy(Bitslist);
    okButton = new QPushButton(tr("OK"), this);
    okButton->setObjectName(QStringLiteral("OK"));
    okButton->setDefault(true);
    v->addWidget(heading);
    v->addWidget(Bitslist);
    v->addWidget(okButton);
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);
}

QString GuiBaudRateDialog::settings() const
{
    return Bitslist->currentText() + QStringLiteral(",n,8,1");
}

// ---------------------------------------------------------------------------

// Our own mark: a stylised tube with its high-voltage arc, drawn here.
QPixmap consoleLogo()
{
    QPixmap pm(96, 96);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(20, 60, 120));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(4, 4, 88, 88, 14, 14);
    p.setBrush(QColor(255, 192, 128));
    p.drawEllipse(QPointF(48, 48), 18, 18);
    p.setPen(QPen(QColor(255, 255, 0), 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({QPointF(52, 14), QPointF(40, 44), QPointF(56, 52), QPointF(44, 82)}));
    return pm;
}

RevScreen::RevScreen(const BuildData &build, std::function<void()> enterSpecialMode, QWidget *parent)
    : QDialog(parent), m_enterSpecialMode(std::move(enterSpecialMode))
{
    setObjectName(QStringLiteral("RevScreen"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(build.aboutCaption);
    auto *grid = new QGridLayout(this);
    Picture1 = new QLabel(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setPixmap(consoleLogo());
    Label1 = new QLabel(build.aboutTitle, this);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont big = Label1->font();
    big.setPointSizeF(big.pointSizeF() * 1.4);
    big.setBold(true);
    Label1->setFont(big);
    Label3 = new QLabel(build.aboutVersion, this);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->installEventFilter(this);
    Label2 = new QLabel(tr("Operator and service console for the high-voltage power supply."), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setWordWrap(true);
    Label4 = new QLabel(tr("Use only by trained personnel. High voltage and X-radiation can kill."), this);
    Label4->setObjectName(QStringLiteral("Label4"));
    Label4->setWordWrap(true);
    OK = new QPushButton(tr("OK"), this);
    OK->setObjectName(QStringLiteral("OK"));
    OK->setDefault(true);
    grid->addWidget(Picture1, 0, 0, 3, 1);
    grid->addWidget(Label1, 0, 1);
    grid->addWidget(Label3, 1, 1);
    grid->addWidget(Label2, 2, 1);
    grid->addWidget(Label4, 3, 0, 1, 2);
    grid->addWidget(OK, 4, 1, Qt::AlignRight);
    connect(OK, &QPushButton::clicked, this, &QDialog::close);
}

bool RevScreen::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Label3 && event->type() == QEvent::MouseButtonDblClick) {
        Label3_DblClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void RevScreen::Label3_DblClick()
{
    QString entry;
    prompter().inputSecret(this, tr("Enter Mode Password"), tr("Enable Special Function Mode"), entry);
    if (entry == QLatin1String("qbt"))
        m_enterSpecialMode();
    close();   // whatever was entered
}

// ---------------------------------------------------------------------------

ConfigDialog::ConfigDialog(Unit &unit, QWidget *parent) : QDialog(parent), m_unit(unit)
{
    setObjectName(QStringLiteral("frm_config"));
    setWindowTitle(tr("Configure"));
    auto *v = new QVBoxLayout(this);
    auto button = [&](const char *name, const QString &caption, bool enabled) {
        auto *b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        b->setEnabled(enabled);
        b->setAutoDefault(false);
        v->addWidget(b);
        return b;
    };
    Command2 = button("Command2", tr("UnLock"), true);
    model = button("model", tr("Program Model"), false);
    hardware = button("hardware", tr("Program Hardware"), false);
    filaLimit = button("filaLimit", tr("Program Filament Limit"), false);
    lbl_RESULT = new QLabel(this);
    lbl_RESULT->setObjectName(QStringLiteral("lbl_RESULT"));
    lbl_RESULT->setWordWrap(true);
    lbl_RESULT->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lbl_RESULT->setMinimumWidth(fontMetrics().horizontalAdvance(QLatin1Char('x')) * 48);
    lbl_RESULT->hide();
    v->addWidget(lbl_RESULT);
    Command1 = button("Command1", tr("OK"), true);
    Command1->setDefault(true);
    connect(Command2, &QPushButton::clicked, this, &ConfigDialog::Command2_Click);
    connect(Command1, &QPushButton::clicked, this, &QDialog::accept);
    connect(model, &QPushButton::clicked, this, &ConfigDialog::model_Click);
    connect(hardware, &QPushButton::clicked, this, &ConfigDialog::hardware_Click);
    connect(filaLimit, &QPushButton::clicked, this, &ConfigDialog::filaLimit_Click);
}

void ConfigDialog::Command2_Click()
{
    QString entry;
    prompter().inputSecret(this, tr("Enter Key to UnLock:"), windowTitle(), entry);
    if (entry == QLatin1String("7291")) {
        model->setEnabled(true);
        hardware->setEnabled(true);
        filaLimit->setEnabled(true);
    } else {
        reject();   // a wrong key ends the dialog
    }
}

namespace {

// How the unit answered a write, for the technician.
QString answerText(char answer)
{
    if (answer == '$')
        return ConfigDialog::tr("it acknowledged the write");
    if (answer == '\0')
        return ConfigDialog::tr("it did not answer the write");
    return ConfigDialog::tr("it answered the write with error code %1").arg(QLatin1Char(answer));
}

} // namespace

void ConfigDialog::report(const QString &text, bool taken)
{
    lbl_RESULT->setText(text);
    lbl_RESULT->setStyleSheet(taken ? QString() : QStringLiteral("QLabel { color: #c00000; font-weight: bold; }"));
    lbl_RESULT->show();
    if (!taken)
        prompter().message(this, text, windowTitle(), Prompter::Icon::Warning);
}

void ConfigDialog::programText(char (Unit::*program)(const QByteArray &), Identity item, const QString &prompt,
                               const QString &what)
{
    Session &s = m_unit.session();
    s.pause();   // nothing runs behind the entry box
    QString entry;
    const bool ok = prompter().input(this, prompt, windowTitle(), entry);
    const Checked<QByteArray> checked = checkUnitText(entry, what);
    if (ok && checked.value) {
        const char answer = (m_unit.*program)(*checked.value);
        // Only the unit's own query tells what it holds now.
        const std::optional<QByteArray> back = m_unit.readIdentity(item);
        emit identityRead(item, back);
        const QString sent = QString::fromLatin1(*checked.value);
        if (!back)
            report(tr("The %1 \"%2\" was sent (%3), but the unit did not answer the read-back: whether it "
                      "took it is not known.")
                       .arg(what, sent, answerText(answer)),
                   false);
        // The model number reads back as its two parts joined by "-"; either may be what
        // was written.
        else if (*back == *checked.value || back->split('-').contains(*checked.value))
            report(tr("The unit took the %1 \"%2\": it reads back \"%3\".").arg(what, sent, QString::fromLatin1(*back)),
                   true);
        else
            report(tr("The unit did not take the %1 \"%2\": it reads back \"%3\" (%4).")
                       .arg(what, sent, QString::fromLatin1(*back), answerText(answer)),
                   false);
        return;
    }
    if (ok)
        prompter().message(this, checked.error, windowTitle(), Prompter::Icon::Warning);
    s.rearm();
}

void ConfigDialog::model_Click()
{
    programText(&Unit::programModelNumber, Identity::ModelNumber, tr("Enter Model Number: EX. PLV01"),
                tr("model number"));
}

void ConfigDialog::hardware_Click()
{
    programText(&Unit::programHardwareRevision, Identity::HardwareRevision, tr("Enter HardWare Revision: EX. A01"),
                tr("hardware revision"));
}

void ConfigDialog::filaLimit_Click()
{
    Session &s = m_unit.session();
    s.pause();
    QString entry;
    if (prompter().input(this, tr("Enter Filament Limit: EX. 0 - 5.00A"), windowTitle(), entry)) {
        const Checked<int> code = parseFilamentLimit(entry);
        if (code.value) {
            // No query reads the limit back: the unit's answer is all there is to tell.
            const char answer = m_unit.programFilamentLimit(*code.value);
            const QString sent = tr("filament limit %1 A (code %2)").arg(entry.trimmed()).arg(*code.value);
            if (answer == '$')
                report(tr("The unit took the %1.").arg(sent), true);
            else if (answer == '\0')
                report(tr("The unit did not answer the %1: whether it took it is not known.").arg(sent), false);
            else
                report(tr("The unit did not take the %1: error code %2.").arg(sent, QString(QLatin1Char(answer))), false);
            return;
        }
        prompter().message(this, code.error, windowTitle(), Prompter::Icon::Warning);
    }
    s.rearm();
}

// ---------------------------------------------------------------------------

UnitBaudRateDialog::UnitBaudRateDialog(Unit &unit, QWidget *parent) : QDialog(parent), m_unit(unit)
{
    setObjectName(QStringLiteral("frm_baudRate"));
    setWindowTitle(tr("RS-232 Baud Rate Setting"));
    auto *v = new QVBoxLayout(this);
    Text1 = new QLineEdit(tr("Unit Baud-Rate Setting"), this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setReadOnly(true);
    Text1->setFocusPolicy(Qt::NoFocus);
    Bitslist = new QComboBox(this);
    Bitslist->setObjectName(QStringLiteral("Bitslist"));
    Bitslist->setEditable(true);
    Bitslist->setInsertPolicy(QComboBox::NoInsert);
    Bitslist->addItems(unitBaudTexts());
    Bitslist->setCurrentIndex(4);
    save = new QPushButton(tr("&Save"), this);
    save->setObjectName(QStringLiteral("save"));
    save->setDefault(true);
    cancel = new QPushButton(tr("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancel"));
    cancel->setAutoDefault(false);
    lbl_WARNING = new QLabel(this);
    lbl_WARNING->setObjectName(QStringLiteral("lbl_WARNING"));
    lbl_WARNING->setWordWrap(true);
    const Session &s = unit.session();
    // Only a serial link runs at the unit's rate; Ethernet and USB carry on as they are.
    if (!s.CommMode().isEmpty() && s.linkKind() == Session::LinkKind::Serial) {
        lbl_WARNING->setText(tr("The serial link to the unit will drop once it changes its rate. Then choose the "
                                "serial port again with the same rate for this computer."));
        lbl_WARNING->setStyleSheet(QStringLiteral("QLabel { color: #c00000; font-weight: bold; }"));
    } else {
        lbl_WARNING->hide();
    }
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(save);
    buttons->addWidget(cancel);
    v->addWidget(Text1);
    v->addWidget(Bitslist);
    v->addWidget(lbl_WARNING);
    v->addLayout(buttons);
    connect(save, &QPushButton::clicked, this, &UnitBaudRateDialog::save_Click);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void UnitBaudRateDialog::save_Click()
{
    // Typed text that is not a listed rate would go out as code 0: refuse it instead.
    const Checked<int> code = unitBaudCode(Bitslist->currentText());
    if (!code.value) {
        prompter().message(this, code.error, windowTitle(), Prompter::Icon::Warning);
        return;
    }
    // Nothing is re-armed: the next command or link choice starts the timers again.
    m_unit.setUnitBaudRate(*code.value);
    accept();
}

} // namespace plv
