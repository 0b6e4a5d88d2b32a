#pragma once
// "SYSTEM INFORMATION": model number, revisions and total hours, and the hours reset.
#include <QByteArray>
#include <QObject>
#include <functional>
#include <optional>

class QGroupBox;
class QLineEdit;
class QPushButton;
class QWidget;

namespace plv {

class Session;
class Unit;
enum class Identity;

class InfoPanel : public QObject {
    Q_OBJECT
public:
    InfoPanel(Unit &unit, QWidget *parent);

    void btn_MODNUM_Click();
    void btn_WEBREV_Click();
    void btn_SWREV_Click();
    void btn_HWREV_Click();
    void totalHours_Click();
    void PollTotalHours();
    void mnu_Reset_total_hrs_Click();
    // "model PLV70-X0600  ·  70 kV / 600 W  ·  PLV Interface 8.0": the unit as shown, for
    // a picture or file that must say which unit it came from.
    QString unitLine(const struct Rating *rating, const struct BuildData &build) const;

    QGroupBox *fra_SYSINFO;
    QPushButton *btn_MODNUM, *btn_WEBREV, *btn_SWREV, *btn_HWREV, *totalHours;
    QLineEdit *txt_MODNUM, *txt_WEBREV, *txt_SWREV, *txt_HWREV, *txt_totalHours;

    // A query's answer in its box: "Unknown" on red when none came.
    void showIdentity(Identity item, const std::optional<QByteArray> &value);

private:
    Unit &m_unit;
    Session &m_session;
};

} // namespace plv
