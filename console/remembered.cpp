#include "console/remembered.h"

#include "console/linkchoice.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>

namespace plv {

namespace {
const QString kHost = QStringLiteral("ethernet/host");
const QString kPort = QStringLiteral("ethernet/port");
const QString kUserEntry = QStringLiteral("serial/commUserEntry");
const QString kOpen = QStringLiteral("windows/open");
QString geometryKey(const QString &window) { return QStringLiteral("windows/%1/geometry").arg(window); }
} // namespace

Remembered::Remembered(QWidget &window, const QString &build, LinkChoice &links, Logbook &logbook)
    : QObject(&window), m_window(window), m_logbook(logbook),
      m_settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("plv-console"), build)
{
    links.setRemembered(m_settings.value(kHost).toString(), m_settings.value(kPort).toString(),
                        m_settings.value(kUserEntry).toString());
    // Written at once: a console that is killed still remembers the last good address.
    connect(&links, &LinkChoice::ethernetAccepted, this, [this](const QString &host, const QString &port) {
        m_settings.setValue(kHost, host);
        m_settings.setValue(kPort, port);
        m_settings.sync();
    });
    connect(&links, &LinkChoice::userEntryMade, this, [this](const QString &entry) {
        m_settings.setValue(kUserEntry, entry);
        m_settings.sync();
    });

    window.restoreGeometry(m_settings.value(geometryKey(QStringLiteral("main"))).toByteArray());
    connect(&logbook, &Logbook::viewMade, this, [this](Logbook::View v, QWidget *w) {
        w->restoreGeometry(m_settings.value(geometryKey(Logbook::viewKey(v))).toByteArray());
    });
    // The View windows that were open come back with the main window, not before it.
    window.installEventFilter(this);
}

void Remembered::end()
{
    saveWindows();
    m_logbook.hideViews();
}

bool Remembered::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == &m_window && event->type() == QEvent::Show && !m_reopened) {
        m_reopened = true;
        QTimer::singleShot(0, this, [this] {
            const QStringList open = m_settings.value(kOpen).toStringList();
            for (int i = 0; i < Logbook::ViewCount; ++i)
                if (open.contains(Logbook::viewKey(Logbook::View(i))))
                    m_logbook.showView(Logbook::View(i));
            if (!open.isEmpty()) {
                m_window.raise();
                m_window.activateWindow();
            }
        });
    }
    return QObject::eventFilter(watched, event);
}

void Remembered::saveWindows()
{
    m_settings.setValue(geometryKey(QStringLiteral("main")), m_window.saveGeometry());
    QStringList open;
    for (int i = 0; i < Logbook::ViewCount; ++i) {
        const auto v = Logbook::View(i);
        if (QWidget *w = m_logbook.windowIfMade(v)) {
            m_settings.setValue(geometryKey(Logbook::viewKey(v)), w->saveGeometry());
            if (w->isVisible())
                open << Logbook::viewKey(v);
        }
    }
    m_settings.setValue(kOpen, open);
    m_settings.sync();
}

} // namespace plv
