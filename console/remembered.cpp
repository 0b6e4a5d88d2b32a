#include "console/remembered.h"

#include "console/linkchoice.h"
#include "panels/savefile.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <algorithm>

namespace plv {

namespace {
const QString kHost = QStringLiteral("ethernet/host");
const QString kPort = QStringLiteral("ethernet/port");
const QString kUserEntry = QStringLiteral("serial/commUserEntry");
const QString kOpen = QStringLiteral("windows/open");
const QString kSaveFolder = QStringLiteral("files/lastFolder");
QString geometryKey(const QString &window) { return QStringLiteral("windows/%1/geometry").arg(window); }
QString screenKey(const QString &window) { return QStringLiteral("windows/%1/screen").arg(window); }

// A window manager's frame around a window not yet shown: a title bar and thin borders.
constexpr QMargins kFrameGuess(4, 28, 4, 4);

QMargins frameOf(const QWidget &w)
{
    if (!w.isVisible())
        return kFrameGuess;
    const QRect f = w.frameGeometry(), g = w.geometry();
    return {g.left() - f.left(), g.top() - f.top(), f.right() - g.right(), f.bottom() - g.bottom()};
}

// The window's content at its own size where the screen allows.
void fitToScreen(QWidget &w, const QSize &wanted, QScreen *screen)
{
    if (!screen || (w.windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
        return;
    const QMargins frame = frameOf(w);
    const QRect fitted = fitOnScreen(QRect(w.pos(), wanted).marginsAdded(frame), screen->availableGeometry());
    w.setGeometry(fitted.marginsRemoved(frame));
}
} // namespace

QRect fitOnScreen(QRect frame, const QRect &available)
{
    frame.setSize(frame.size().boundedTo(available.size()));
    if (frame.right() > available.right())
        frame.moveRight(available.right());
    if (frame.bottom() > available.bottom())
        frame.moveBottom(available.bottom());
    if (frame.left() < available.left())
        frame.moveLeft(available.left());
    if (frame.top() < available.top())
        frame.moveTop(available.top());
    return frame;
}

bool Remembered::restorePlace(QWidget &w, const QString &key)
{
    const QByteArray geometry = m_settings.value(geometryKey(key)).toByteArray();
    const QString screenName = m_settings.value(screenKey(key)).toString();
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screenName.isEmpty()) {
        const QList<QScreen *> screens = QGuiApplication::screens();
        const auto it = std::find_if(screens.begin(), screens.end(), [&](QScreen *s) { return s->name() == screenName; });
        if (it == screens.end())
            return false;   // that screen is gone: the place meant nothing on this one
        screen = *it;
    }
    if (geometry.isEmpty() || !w.restoreGeometry(geometry))
        return false;
    // Remembered on a larger screen: no larger than this one, and wholly on it.
    fitToScreen(w, w.size(), screen);
    return true;
}

void Remembered::storePlace(const QWidget &w, const QString &key)
{
    m_settings.setValue(geometryKey(key), w.saveGeometry());
    m_settings.setValue(screenKey(key), w.screen() ? w.screen()->name() : QString());
}

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

    setLastSaveFolder(m_settings.value(kSaveFolder).toString());
    if (!restorePlace(window, QStringLiteral("main"))) {
        // The first time: as large as the panels want, not the two thirds of the screen a
        // window gets by default.
        fitToScreen(window, window.sizeHint(), window.screen());
    }
    connect(&logbook, &Logbook::viewMade, this, [this](Logbook::View v, QWidget *w) {
        if (!restorePlace(*w, Logbook::viewKey(v)))
            fitToScreen(*w, w->size(), w->screen());
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
    storePlace(m_window, QStringLiteral("main"));
    QStringList open;
    for (int i = 0; i < Logbook::ViewCount; ++i) {
        const auto v = Logbook::View(i);
        if (QWidget *w = m_logbook.windowIfMade(v)) {
            storePlace(*w, Logbook::viewKey(v));
            if (w->isVisible())
                open << Logbook::viewKey(v);
        }
    }
    m_settings.setValue(kOpen, open);
    m_settings.setValue(kSaveFolder, lastSaveFolder());
    m_settings.sync();
}

} // namespace plv
