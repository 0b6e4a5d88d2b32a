// The View menu against the simulated unit: the traffic log decodes what went over the
// link, the event log and its file keep an HV change and never a secret, a file that
// cannot be written is said once, one CSV row per cycle against known readbacks, what is
// remembered after a restart, and the windows' fit and the emergency key.
#include "testsupport.h"

#include "console/linkchoice.h"
#include "console/logbook.h"
#include "console/remembered.h"
#include "logs/trafficmodel.h"
#include "panels/controlspanel.h"
#include "panels/eventwindow.h"
#include "panels/healthstrip.h"
#include "panels/ratingmenu.h"
#include "panels/statuspanel.h"
#include "panels/trafficwindow.h"
#include "panels/trendswindow.h"
#include "unit/updatecycle.h"
#include "widgets/widgets.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QComboBox>
#include <QDateTimeAxis>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace plv;
using namespace plv::test;

namespace {

// Answers the file dialog with 'path'.
std::function<int(QDialog &)> fileAnswer(const QString &path)
{
    return [path](QDialog &d) {
        auto &f = static_cast<QFileDialog &>(d);
        f.selectFile(path);
        d.accept();   // QFileDialog's own is protected; the call still reaches it
        return d.result();
    };
}

QStringList fileLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split(QRegularExpression(QStringLiteral("\r?\n")), Qt::SkipEmptyParts);
}

QString cell(const QAbstractItemModel &m, int row, int column) { return m.index(row, column).data().toString(); }

// Records the text a prompt starts with and the choices it offers, then answers with
// 'answer' (accepting every dialog) or, without one, cancels.
class PeekingPrompter : public Prompter {
public:
    QString initial;
    std::optional<QString> answer;
    std::optional<QStringList> offered;
    void message(QWidget *, const QString &, const QString &, Icon) override {}
    bool input(QWidget *, const QString &, const QString &, QString &text) override
    {
        initial = text;
        text = answer.value_or(QString());
        return answer.has_value();
    }
    bool inputWithChoices(QWidget *w, const QString &p, const QString &t, const QStringList &choices, QString &text) override
    {
        offered = choices;
        return input(w, p, t, text);
    }
    int exec(QDialog &d) override
    {
        answer ? d.accept() : d.reject();
        return d.result();
    }
    int choose(QWidget *, const QString &, const QStringList &, int defaultIndex, int) override { return defaultIndex; }
};

} // namespace

class TstViews : public QObject {
    Q_OBJECT
    QTemporaryDir m_xdg;

private slots:
    void initTestCase()
    {
        // Before the first QSettings: it reads the folder once per process.
        QVERIFY(m_xdg.isValid());
        qputenv("XDG_CONFIG_HOME", m_xdg.filePath(QStringLiteral("config")).toLocal8Bit());
    }
    // Each test's event files on their own: a day's file is shared by every console.
    void init()
    {
        qputenv("XDG_STATE_HOME",
                m_xdg.filePath(QStringLiteral("state-") + QLatin1String(QTest::currentTestFunction())).toLocal8Bit());
    }

    // One request on the serial link: both frames decoded, checksums checked, filterable.
    void statusRequestInTheTrafficLog()
    {
        Rig rig;
        QVERIFY(rig.attachSerial());
        Logbook &book = rig.win->logbook();
        book.showView(Logbook::View::Traffic);
        TrafficWindow &w = book.trafficWindow();
        rig.win->status().btn_REQSTAT_Click();

        const auto &m = w.model();
        QCOMPARE(m.rowCount(), 4);   // 22 and 68, each out and back
        using C = logs::TrafficLogModel;
        QCOMPARE(cell(m, 0, C::DirectionColumn), QStringLiteral("TX"));
        QVERIFY2(cell(m, 0, C::FrameColumn).startsWith("<STX>22,"), qPrintable(cell(m, 0, C::FrameColumn)));
        QCOMPARE(cell(m, 0, C::MeaningColumn), QStringLiteral("status request"));
        QCOMPARE(cell(m, 1, C::DirectionColumn), QStringLiteral("RX"));
        QCOMPARE(cell(m, 1, C::MeaningColumn), QStringLiteral("HV off, interlock closed, no fault, local"));
        QCOMPARE(cell(m, 1, C::LinkColumn), QStringLiteral("serial ") + rig.sim.ptyPath());
        for (int row : {0, 1})
            QCOMPARE(cell(m, row, C::ChecksumColumn), QStringLiteral("ok"));

        w.txt_COMMAND->setText(QStringLiteral("68"));
        QCOMPARE(w.filter().rowCount(), 2);
        QCOMPARE(cell(w.filter(), 1, C::MeaningColumn), QStringLiteral("fault flags: none"));

        // A closed window lets go of its rows; opened again it shows all, filtered as left.
        w.hide();
        rig.win->status().btn_REQSTAT_Click();
        book.showView(Logbook::View::Traffic);
        QCOMPARE(w.model().rowCount(), 8);
        QCOMPARE(w.filter().rowCount(), 4);
    }

    // Save writes the rows the table shows, says how many in its caption and afterwards,
    // and opens where the last file went.
    void saveWritesWhatTheTableShows_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("paused");
        QTest::addColumn<int>("rows");
        QTest::newRow("no filter: every row") << "" << false << 5;
        QTest::newRow("command 68: its rows only") << "68" << false << 1;
        QTest::newRow("paused: the rows before the pause") << "" << true << 3;
        QTest::newRow("paused and filtered") << "22" << true << 2;
    }
    void saveWritesWhatTheTableShows()
    {
        QFETCH(QString, command);
        QFETCH(bool, paused);
        QFETCH(int, rows);
        Rig rig;
        Logbook &book = rig.win->logbook();
        book.showView(Logbook::View::Traffic);
        TrafficWindow &w = book.trafficWindow();
        auto feed = [&](const QByteArray &payload) {
            book.traffic().record(logs::Direction::Tx, QStringLiteral("USB"), "\x02" + payload + "\x03");
        };
        feed("22,");
        feed("68,");
        feed("22,");
        w.txt_COMMAND->setText(command);
        w.btn_PAUSE->setChecked(paused);
        feed("22,");
        feed("19,");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("traffic.csv"));
        QString caption, opensIn;
        rig.prompt.dialogs.enqueue([&](QDialog &d) {
            caption = d.windowTitle();
            return fileAnswer(path)(d);
        });
        w.btn_SAVE->click();
        QVERIFY2(caption.contains(QStringLiteral(" %1 rows").arg(rows)), qPrintable(caption));
        QCOMPARE(fileLines(path).size(), 1 + rows);
        QCOMPARE(rig.prompt.messages.size(), 1);
        QVERIFY2(rig.prompt.messages[0].text.startsWith(QStringLiteral("%1 rows saved").arg(rows)),
                 qPrintable(rig.prompt.messages[0].text));
        rig.prompt.dialogs.enqueue([&](QDialog &d) {
            opensIn = static_cast<QFileDialog &>(d).directory().absolutePath();
            d.reject();
            return d.result();
        });
        w.btn_SAVE->click();
        QCOMPARE(opensIn, QDir(dir.path()).absolutePath());
    }

    // Rows reach the table once a second; after a batch larger than the table shows, every
    // two seconds; after a small one, once a second again.
    void theTableSlowsDownOnlyWhileRowsOutrunIt()
    {
        Rig rig;
        Logbook &book = rig.win->logbook();
        book.showView(Logbook::View::Traffic);
        TrafficWindow &w = book.trafficWindow();
        auto *batch = w.findChild<QTimer *>(QStringLiteral("tmr_TRAFFICROWS"));
        QVERIFY(batch);
        QCOMPARE(batch->interval(), 1000);
        auto feed = [&](int rows) {
            for (int i = 0; i < rows; ++i)
                book.traffic().record(logs::Direction::Tx, QStringLiteral("USB"), QByteArray("\x02" "22,\x03"));
        };
        const int shown = w.tbl_TRAFFIC->viewport()->height() / w.tbl_TRAFFIC->verticalHeader()->defaultSectionSize();
        feed(shown + 1);
        QTRY_COMPARE_WITH_TIMEOUT(w.tbl_TRAFFIC->model()->rowCount(), shown + 1, 5000);
        QCOMPARE(batch->interval(), 2000);
        feed(shown);
        QTRY_COMPARE_WITH_TIMEOUT(w.tbl_TRAFFIC->model()->rowCount(), 2 * shown + 1, 5000);
        QCOMPARE(batch->interval(), 1000);
    }

    // HV ON from the switch: the request, the unit's answer and its new state, in memory
    // and in the day's file; the mode password and the configuration key never.
    void hvChangeInTheEventLogAndItsFile()
    {
        Rig rig;
        QVERIFY(rig.attachTcp());
        rig.win->status().btn_REQSTAT_Click();
        rig.prompt.choices.enqueue(0);   // "Switch HV ON"
        emit rig.win->controls().btn_HVONOFF->operated();
        rig.win->status().btn_REQSTAT_Click();

        rig.trigger("mnu_ABOUT");
        rig.prompt.inputs.enqueue(QStringLiteral("qbt"));
        rig.win->aboutBox()->Label3_DblClick();
        rig.prompt.dialogs.enqueue([&rig](QDialog &d) {
            auto &c = static_cast<ConfigDialog &>(d);
            rig.prompt.inputs.enqueue(QStringLiteral("7291"));
            c.Command2->click();
            rig.prompt.inputs.enqueue(QStringLiteral("PLV99"));
            c.model->click();
            c.Command1->click();
            return c.result();
        });
        rig.trigger("mnu_Config");

        logs::EventLog &events = rig.win->logbook().events();
        QVERIFY(events.waitForWritten(5000));
        const QStringList lines = fileLines(events.filePath(QDate::currentDate()));
        const QString file = lines.join(QLatin1Char('\n'));
        for (const char *expected :
             {"unit status: HV off, interlock closed, no fault, local", "operator HV ON requested",
              "operator HV ON: accepted", "unit HV on", "operator special function mode entered",
              "operator configuration write: program model number PLV99"}) {
            QVERIFY2(lines.filter(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}"
                                                                    "[+-]\\d\\d:\\d\\d ")
                                                     + QRegularExpression::escape(QLatin1String(expected)) + '$'))
                             .size() == 1,
                     qPrintable(expected + QStringLiteral(" in\n") + file));
        }
        QVERIFY(!file.contains(QLatin1String("qbt")));
        QVERIFY(!file.contains(QLatin1String("7291")));
        QCOMPARE(events.at(events.count() - 1).text, QStringLiteral("configuration write: program model number PLV99"));

        // A console started again that day still shows the change.
        rig.win.reset();
        Rig again;
        QVERIFY(again.win->logbook().events().waitForWritten(5000));   // its "started" is in the file
        const logs::EventLog &shown = again.win->logbook().events();
        // The window names the day's own file, not a pattern.
        QVERIFY(again.win->logbook().eventWindow().lbl_FILE->text().contains(
            QDir::toNativeSeparators(shown.filePath(QDate::currentDate()))));
        bool hvOn = false;
        for (int i = 0; i < shown.count(); ++i)
            hvOn = hvOn || (shown.at(i).category == logs::EventCategory::Unit && shown.at(i).text == QLatin1String("HV on"));
        QVERIFY(hvOn);
        QVERIFY(shown.at(shown.count() - 1).text.startsWith(QLatin1String("started: ")));
        int starts = 0;   // this run's own lines, in the file too, are not read back twice
        for (int i = 0; i < shown.count(); ++i)
            starts += shown.at(i).text.startsWith(QLatin1String("started: "));
        QCOMPARE(starts, 2);
    }

    // No event file can be made: the window says so once and the console carries on.
    void anUnwritableEventFileIsSaidOnce()
    {
        QFile blocker(m_xdg.filePath(QStringLiteral("not-a-folder")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const QByteArray state = qgetenv("XDG_STATE_HOME");
        qputenv("XDG_STATE_HOME", blocker.fileName().toLocal8Bit());
        Rig rig;
        qputenv("XDG_STATE_HOME", state);
        Logbook &book = rig.win->logbook();
        // The first line's failure arrives from the writer's thread, so this hears it.
        QSignalSpy failed(&book.events(), &logs::EventLog::writeFailed);
        QVERIFY(rig.attachTcp());
        book.showView(Logbook::View::Events);
        rig.win->status().btn_REQSTAT_Click();
        rig.prompt.choices.enqueue(0);   // "Switch HV ON"
        emit rig.win->controls().btn_HVONOFF->operated();
        QVERIFY(book.events().waitForWritten(5000));
        QLabel *said = book.eventWindow().lbl_WRITEFAILED;
        QTRY_VERIFY(said->isVisible());
        QVERIFY2(said->text().contains(QLatin1String("cannot be written")), qPrintable(said->text()));
        QCOMPARE(failed.count(), 1);
        QVERIFY(rig.win->status().led_HVSTAT->value());
    }

    // Known readbacks, a query that fails: the header and the cycle's row.
    void oneCsvRowPerCycle()
    {
        Rig rig;
        rig.sim.overrideReply("19", QByteArray("2048,3000,1800,"));
        rig.sim.overrideReply("20", std::nullopt);   // no reply: its three columns stay empty
        const int counts[4] = {1000, 2000, 1500, 800};
        for (int ch = 0; ch < 4; ++ch)
            rig.sim.setSetpoint(ch, counts[ch]);
        QVERIFY(rig.attachTcp());
        const QString path = m_xdg.filePath(QStringLiteral("run.csv"));
        rig.prompt.dialogs.enqueue(fileAnswer(path));
        rig.trigger("mnu_RECORD");
        QAction *record = find<QAction>(rig.win.get(), "mnu_RECORD");
        QVERIFY(record->isChecked());
        QLabel *rec = rig.win->healthStrip().lbl_REC;
        QVERIFY(!rec->isHidden());
        QCOMPARE(rec->text(), QStringLiteral("REC"));
        QVERIFY(rec->toolTip().contains(QDir::toNativeSeparators(path)));

        Logbook &book = rig.win->logbook();
        QSignalSpy samples(&book, &Logbook::sampleTaken);
        rig.win->cycle().mnu_AUTOUPDATE_Click();
        QVERIFY(samples.wait(15000));
        rig.win->cycle().mnu_MANUAL_Click();
        rig.trigger("mnu_RECORD");
        QVERIFY(!record->isChecked());
        QVERIFY(rec->isHidden());
        QVERIFY(book.recorder().waitForWritten(5000));

        const QStringList lines = fileLines(path);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], logs::sampleCsvHeader());
        const QStringList f = lines[1].split(QLatin1Char(','));
        QCOMPARE(f.size(), logs::SampleCsvColumns);
        const QDateTime iso = QDateTime::fromString(f[0], Qt::ISODateWithMs);
        QVERIFY2(iso.isValid(), qPrintable(f[0]));
        // The same instant as a spreadsheet reads a date-time: local, no zone.
        QCOMPARE(QDateTime::fromString(f[1], QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")), iso.toLocalTime());
        const double vpc = 17.094, mapc = 600.0 / 70.0 / 4095.0;
        const double expected[] = {2048 * vpc / 1000, 3000 * mapc, 1800 * 0.001221};
        // Six significant digits.
        for (int i = 0; i < 3; ++i)
            QVERIFY2(qAbs(f[2 + i].toDouble() / expected[i] - 1) < 1e-5 && f[2 + i].size() <= 8, qPrintable(lines[1]));
        for (int i = 5; i <= 7; ++i)
            QCOMPARE(f[i], QString());
        const double setpoints[] = {1000 * vpc / 1000, 2000 * mapc, 1500 * 0.001221, 800 * 0.0006105};
        for (int i = 0; i < 4; ++i)
            QVERIFY2(qAbs(f[8 + i].toDouble() / setpoints[i] - 1) < 1e-5 && f[8 + i].size() <= 8, qPrintable(lines[1]));
        QCOMPARE(f[12], QStringLiteral("70 kV / 600 W"));
        QCOMPARE(f.mid(13), (QStringList{"0", "1", "0", "0", "0", "0", "0", "0", "0", "0"}));
    }

    // Values of one run fill the next run's prompts and windows, and nothing more.
    void rememberedValuesFillThePromptsAfterARestart()
    {
        QString entry;
        quint16 oldPort = 0;
        {
            Rig rig;
            QVERIFY(rig.sim.openPty());
            entry = rig.sim.ptyPath();
            rig.prompt.inputs.enqueue(entry);
            rig.prompt.dialogs.enqueue([](QDialog &d) {
                static_cast<GuiBaudRateDialog &>(d).Bitslist->setCurrentIndex(0);   // 9600
                d.accept();
                return int(QDialog::Accepted);
            });
            rig.trigger("mnu_userComm");
            QCOMPARE(rig.s().serial().settings(), QStringLiteral("9600,n,8,1"));
            oldPort = rig.sim.tcpPort();
            rig.prompt.dialogs.enqueue([&rig](QDialog &d) {
                auto &h = static_cast<RemoteHostDialog &>(d);
                h.txtHost->setText(QStringLiteral("127.0.0.1"));
                h.txtPortNumber->setText(QString::number(rig.sim.tcpPort()));
                h.OKButton->click();
                return h.result();
            });
            rig.trigger("mnu_ethernet");
            rig.win->cycle().mnu_MANUAL_Click();
            rig.win->rating().SelectRating(*plvBuild().find(40, 600));
            rig.win->show();
            rig.win->logbook().showView(Logbook::View::Traffic);
            rig.win->logbook().trafficWindow().resize(700, 300);
            rig.win->mnu_EXIT_Click();
        }
        Rig rig;
        QVERIFY(rig.s().CommMode().isEmpty());
        QCOMPARE(rig.sim.tcpClientCount(), 0);
        QCOMPARE(rig.s().serial().settings(), QStringLiteral("115200,n,8,1"));
        QCOMPARE(rig.win->rating().selected(), &plvBuild().defaultRating());
        rig.win->show();
        QTRY_VERIFY(rig.win->logbook().windowIfMade(Logbook::View::Traffic)
                    && rig.win->logbook().windowIfMade(Logbook::View::Traffic)->isVisible());
        QCOMPARE(rig.win->logbook().trafficWindow().size(), QSize(700, 300));

        QString host, port;
        rig.prompt.dialogs.enqueue([&](QDialog &d) {
            auto &h = static_cast<RemoteHostDialog &>(d);
            host = h.txtHost->text();
            port = h.txtPortNumber->text();
            h.CancelButton->click();
            return h.result();
        });
        rig.trigger("mnu_ethernet");
        QCOMPARE(host, QStringLiteral("127.0.0.1"));
        QCOMPARE(port, QString::number(oldPort));
        QVERIFY2(rig.s().tcp().host().isEmpty(), "Cancel accepted a remembered address");

        PeekingPrompter peek;
        setPrompter(&peek);
        rig.trigger("mnu_userComm");
        setPrompter(&rig.prompt);
        QCOMPARE(peek.initial, entry);
        QVERIFY(!rig.s().serial().isOpen());
    }

    void aPlaceFitsItsScreen_data()
    {
        QTest::addColumn<QRect>("frame");
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QRect>("fitted");
        const QRect small(0, 0, 1024, 740);   // 1024 x 768 less a panel
        QTest::newRow("fits: as it was") << QRect(100, 100, 800, 600) << QRect(0, 0, 1280, 1024)
                                         << QRect(100, 100, 800, 600);
        QTest::newRow("800 x 900 on 1024 x 768: shorter, moved up") << QRect(100, 100, 800, 900) << small
                                                                     << QRect(100, 0, 800, 740);
        QTest::newRow("past the right edge: moved in") << QRect(900, 100, 400, 300) << small << QRect(624, 100, 400, 300);
        QTest::newRow("above and left of it: moved in") << QRect(-500, -20, 400, 300) << small << QRect(0, 0, 400, 300);
        QTest::newRow("larger than a second screen: its size, on it")
            << QRect(1300, 50, 2000, 1200) << QRect(1280, 0, 1024, 740) << QRect(1280, 0, 1024, 740);
    }
    void aPlaceFitsItsScreen()
    {
        QFETCH(QRect, frame);
        QFETCH(QRect, available);
        QFETCH(QRect, fitted);
        QCOMPARE(fitOnScreen(frame, available), fitted);
    }

    // A place remembered on a larger screen is fitted to this one; one remembered on a
    // screen that is gone is not used; with none, the window takes its content's size.
    void aRememberedPlaceOpensOnScreen_data()
    {
        QTest::addColumn<QString>("screen");   // "-": nothing remembered
        QTest::addColumn<bool>("restored");
        QTest::newRow("too large for this screen") << "this" << true;
        QTest::newRow("on a screen that is gone") << "gone" << false;
        QTest::newRow("nothing remembered") << "-" << false;
    }
    void aRememberedPlaceOpensOnScreen()
    {
        QFETCH(QString, screen);
        QFETCH(bool, restored);
        const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        {
            QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("plv-console"),
                               plvBuild().id);
            settings.remove(QStringLiteral("windows"));
            if (screen != QLatin1String("-")) {
                QWidget big;
                big.setGeometry(available.left() + 50, available.top() + 50, available.width() + 600,
                                available.height() + 400);
                settings.setValue(QStringLiteral("windows/main/geometry"), big.saveGeometry());
                settings.setValue(QStringLiteral("windows/main/screen"),
                                  screen == QLatin1String("gone") ? QStringLiteral("no such screen")
                                                                  : QGuiApplication::primaryScreen()->name());
            }
        }
        Rig rig;
        const QRect g = rig.win->geometry();
        QVERIFY2(available.contains(g), qPrintable(QStringLiteral("%1,%2 %3x%4").arg(g.x()).arg(g.y()).arg(g.width()).arg(g.height())));
        // Frames are reckoned 8 px wider and 32 px taller than the window before it shows.
        const QSize room = available.size() - QSize(8, 32);
        QCOMPARE(g.size(), restored ? room : rig.win->sizeHint().boundedTo(room));
    }

    // COMM USER offers the serial ports present; a choice from the list opens its device.
    void commUserTakesAChoiceFromItsList()
    {
        Rig rig;
        QVERIFY(rig.sim.openPty());
        PeekingPrompter choosing;
        choosing.answer = rig.sim.ptyPath() + QStringLiteral("  —  simulated unit");
        setPrompter(&choosing);
        rig.trigger("mnu_userComm");
        setPrompter(&rig.prompt);
        QCOMPARE(choosing.offered, std::optional(serialPortChoices()));
        QVERIFY(rig.s().serial().isOpen());
        QVERIFY(rig.sim.ptyPath().endsWith(rig.s().serial().portName()));
    }

    // Manual mode mid-cycle, then automatic again: the cycle goes on where it stopped, and
    // its end is no sample (its first queries were never made); the next whole one is.
    void aCycleResumedMidWayIsNoSample()
    {
        Rig rig;
        QVERIFY(rig.attachTcp());
        UpdateCycle &cycle = rig.win->cycle();
        std::vector<logs::Sample> samples;
        connect(&rig.win->logbook(), &Logbook::sampleTaken, this,
                [&samples](const logs::Sample &s) { samples.push_back(s); });
        QSignalSpy completed(&cycle, &UpdateCycle::cycleCompleted);
        cycle.mnu_AUTOUPDATE_Click();
        QTRY_VERIFY_WITH_TIMEOUT(cycle.ctr_AutoUpdate == 7, 15000);   // past the status step
        cycle.mnu_MANUAL_Click();
        cycle.mnu_AUTOUPDATE_Click();
        QVERIFY(completed.wait(15000));
        QCOMPARE(samples.size(), size_t(0));
        QVERIFY(completed.wait(15000));
        QCOMPARE(samples.size(), size_t(1));
        const logs::Sample &s = samples.front();
        QVERIFY(s.kV && s.kVSetpoint && s.filamentPreheatA && s.hvOn && s.supplyMinus15V);
    }

    // Whatever the window, a plot draws about two points per pixel at most, and a reading
    // that did not come breaks the line: from full-rate points within the hour, from the
    // 10 s buckets beyond it.
    void trendsThinAndBreakAtGaps_data()
    {
        QTest::addColumn<int>("minutes");
        QTest::addColumn<int>("pieces");
        QTest::addColumn<bool>("absent");   // no samples at all (manual mode), not samples without values
        QTest::newRow("10 minutes: no gap in sight") << 10 << 1 << false;
        QTest::newRow("an hour at full rate: the recent gap") << 60 << 2 << false;
        QTest::newRow("a day of buckets: both gaps") << 24 * 60 << 3 << false;
        QTest::newRow("an hour at full rate: manual mode") << 60 << 2 << true;
        QTest::newRow("a day of buckets: both manual stretches") << 24 * 60 << 3 << true;
    }
    void trendsThinAndBreakAtGaps()
    {
        QFETCH(int, minutes);
        QFETCH(int, pieces);
        QFETCH(bool, absent);
        using logs::TrendSeries;
        constexpr qint64 minute = 60 * 1000, end = 1'800'000'000'000;
        logs::TrendStore store;
        for (qint64 t = end - 24 * 60 * minute; t <= end; t += 800) {
            const bool missing = (t > end - 300 * minute && t < end - 295 * minute)
                                 || (t > end - 30 * minute && t < end - 25 * minute);
            if (missing && absent)
                continue;
            logs::TrendStore::Values v;
            if (!missing)
                v[size_t(TrendSeries::Kv)] = 35.0 + double(t / 800 % 3);
            store.add(t, v);
        }
        TrendsWindow w(store);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.setSpanMinutes(minutes);
        QCOMPARE(w.piecesShown(TrendSeries::Kv), pieces);
        QVERIFY2(w.pointsShown(TrendSeries::Kv) <= 2 * (w.width() + 2), qPrintable(QString::number(w.pointsShown(TrendSeries::Kv))));
        QVERIFY(w.pointsShown(TrendSeries::Kv) >= w.width() / 2);
    }

    // The time axis runs from a tick to a tick of local time, one tick per round step.
    void trendTicksAtRoundTimes_data()
    {
        QTest::addColumn<int>("minutes");
        QTest::addColumn<qint64>("tick");
        QTest::newRow("a minute: every 10 s") << 1 << qint64(10'000);
        QTest::newRow("10 minutes: every minute") << 10 << qint64(60'000);
        QTest::newRow("an hour: every 10 minutes") << 60 << qint64(600'000);
        QTest::newRow("a day: every hour") << 24 * 60 << qint64(3'600'000);
        QTest::newRow("a week: every day") << 7 * 24 * 60 << qint64(86'400'000);
    }
    void trendTicksAtRoundTimes()
    {
        QFETCH(int, minutes);
        QFETCH(qint64, tick);
        logs::TrendStore store;
        logs::TrendStore::Values v;
        v[size_t(logs::TrendSeries::Kv)] = 35.0;
        const qint64 latest = 1'800'000'123'456;   // 2027-01-15, at no round time
        store.add(latest - 1000, v);
        store.add(latest, v);
        TrendsWindow w(store);
        w.setExportDescription([] { return QStringLiteral("model PLV70-X0600"); });
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.setSpanMinutes(minutes);
        const QDateTime from = w.timeAxis().min(), to = w.timeAxis().max();
        const auto local = [](const QDateTime &t) { return t.toMSecsSinceEpoch() + qint64(t.offsetFromUtc()) * 1000; };
        QCOMPARE(local(from) % tick, 0);
        QCOMPARE(to.toMSecsSinceEpoch() - from.toMSecsSinceEpoch(), qint64(minutes) * 60'000);
        QVERIFY(to.toMSecsSinceEpoch() > latest && to.toMSecsSinceEpoch() - latest <= tick);
        QCOMPARE(w.timeAxis().tickCount(), int(qint64(minutes) * 60'000 / tick) + 1);
        // The exported picture's title: the range shown and what the console adds.
        QVERIFY2(w.exportTitle().startsWith(from.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))), qPrintable(w.exportTitle()));
        QVERIFY(w.exportTitle().contains(to.toString(QStringLiteral("HH:mm:ss"))));
        QVERIFY(w.exportTitle().endsWith(QLatin1String("model PLV70-X0600")));
    }

    // A sample that moves the plot less than a pixel is not drawn at once, but within a
    // pixel's time, even when no further sample comes.
    void aHeldBackSampleIsDrawnWithinAPixelsTime()
    {
        logs::TrendStore store;
        logs::TrendStore::Values v;
        v[size_t(logs::TrendSeries::Kv)] = 35.0;
        const qint64 t0 = 1'800'000'000'000;
        store.add(t0, v);
        TrendsWindow w(store);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.pointsShown(logs::TrendSeries::Kv), 1);
        store.add(t0 + 100, v);
        w.refresh();
        QCOMPARE(w.pointsShown(logs::TrendSeries::Kv), 1);
        auto *catchUp = w.findChild<QTimer *>(QStringLiteral("tmr_TRENDSCATCHUP"));
        QVERIFY(catchUp && catchUp->isActive());
        QVERIFY(catchUp->interval() <= 10 * 60 * 1000 / 100);   // one pixel of the 10 minute window at most
        QTRY_COMPARE_WITH_TIMEOUT(w.pointsShown(logs::TrendSeries::Kv), 2, 10000);
    }

    // Each window fits 960 x 540, and F12 from it switches HV off.
    void windowsFitAndLetTheEmergencyKeyThrough_data()
    {
        QTest::addColumn<int>("view");
        QTest::newRow("traffic") << int(Logbook::View::Traffic);
        QTest::newRow("events") << int(Logbook::View::Events);
        QTest::newRow("trends") << int(Logbook::View::Trends);
    }
    void windowsFitAndLetTheEmergencyKeyThrough()
    {
        QFETCH(int, view);
        Rig rig;
        QVERIFY(rig.attachTcp());
        rig.win->show();
        Logbook &book = rig.win->logbook();
        book.showView(Logbook::View(view));
        QWidget &w = book.window(Logbook::View(view));
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QVERIFY2(w.frameGeometry().width() <= 960 && w.frameGeometry().height() <= 540,
                 qPrintable(QStringLiteral("%1x%2").arg(w.frameGeometry().width()).arg(w.frameGeometry().height())));
        QVERIFY(w.minimumSizeHint().width() <= 960 && w.minimumSizeHint().height() <= 540);

        rig.sim.clearTrace();
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &w, Qt::Key_F12);
        QVERIFY(rig.waitForCommands(1));
        QCOMPARE(rig.wire().value(0), QByteArray("98,0,"));
    }
};

QTEST_MAIN(TstViews)
#include "tst_views.moc"
