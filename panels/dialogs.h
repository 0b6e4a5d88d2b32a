#pragma once
// The console's small windows and dialogs. Each is named as the console names it
// (objectName), and is run modally through the prompt seam so tests can answer it.
#include "unit/unit.h"

#include <QDialog>
#include <QPixmap>
#include <QWidget>
#include <functional>
#include <optional>

class QComboBox;
class QDateTime;
class QLabel;
class QLineEdit;
class QPushButton;

namespace plv {

struct BuildData;
class Unit;

// The console's logo, drawn at 96 x 96.
QPixmap consoleLogo();

// "EXTRAS!": the communication diagnostics window.
class ExtrasWindow : public QWidget {
    Q_OBJECT
public:
    explicit ExtrasWindow(QWidget *parent = nullptr);
    void showMissedReply(const QDateTime &when);
    QLineEdit *txt_MSCOMMBUFF, *txt_LASTERROR, *txt_COMMERRORS, *txt_LASTMISSED;
};

// "Remote Host": the unit's address and TCP port. Loaded once and afterwards only
// hidden, so its texts last as long as the console runs.
class RemoteHostDialog : public QDialog {
    Q_OBJECT
public:
    explicit RemoteHostDialog(QWidget *parent);
    QLineEdit *txtHost, *txtPortNumber;
    QPushButton *OKButton, *CancelButton;
    QString acceptedHost() const { return m_host; }
    QString acceptedPort() const { return m_port; }
    // OK with a port that is not a number from 1 to 65535.
    bool portRefused() const { return m_portRefused; }
    void prepare() { m_portRefused = false; }

    void accept() override;
    void reject() override;

private:
    QString m_host, m_port;
    bool m_portRefused = false;
};

// "GUI Baud Rate": the line speed of the host's own serial port.
class GuiBaudRateDialog : public QDialog {
    Q_OBJECT
public:
    explicit GuiBaudRateDialog(QWidget *parent);
    QComboBox *Bitslist;
    QPushButton *okButton;
    QString settings() const;   // "115200,n,8,1"
};

// The About box; a double-click on the version opens the special-mode password entry.
class RevScreen : public QDialog {
    Q_OBJECT
public:
    // 'enterSpecialMode' runs after the right password.
    RevScreen(const BuildData &build, std::function<void()> enterSpecialMode, QWidget *parent);
    QLabel *Picture1, *Label1, *Label2, *Label3, *Label4;
    QPushButton *OK;
    void Label3_DblClick();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::function<void()> m_enterSpecialMode;
};

// "Configure": programs the unit's model number, hardware revision and filament limit
// once unlocked with the service key.
// Each write is followed by what became of it: the model number and hardware revision
// read back by their queries, the filament limit by the unit's answer.
class ConfigDialog : public QDialog {
    Q_OBJECT
public:
    ConfigDialog(Unit &unit, QWidget *parent);
    QPushButton *Command2, *Command1, *model, *hardware, *filaLimit;
    QLabel *lbl_RESULT;   // the last write's outcome
    void Command2_Click();
    void model_Click();
    void hardware_Click();
    void filaLimit_Click();

signals:
    // A read-back after a write: nullopt when the unit did not answer.
    void identityRead(plv::Identity item, const std::optional<QByteArray> &value);

private:
    void programText(char (Unit::*program)(const QByteArray &), Identity item, const QString &prompt,
                     const QString &what);
    // Shown in the dialog; a value the unit did not take is also said in a message.
    void report(const QString &text, bool taken);
    Unit &m_unit;
};

// "RS-232 Baud Rate Setting": tells the unit to change its own serial rate ("07,").
class UnitBaudRateDialog : public QDialog {
    Q_OBJECT
public:
    UnitBaudRateDialog(Unit &unit, QWidget *parent);
    QLineEdit *Text1;
    QComboBox *Bitslist;
    QPushButton *save, *cancel;
    QLabel *lbl_WARNING;   // shown on a serial link: it drops when the unit changes rate
    void save_Click();

private:
    Unit &m_unit;
};

} // namespace plv
