#include "panels/statusbarpanels.h"

#include "link/session.h"
#include "protocol/framing.h"

#include <QDateTime>
#include <QEvent>
#include <QHash>
#include <QLabel>
#include <QLayout>
#include <QLocale>
#include <QStatusBar>
#include <QTimer>

namespace plv {

StatusBarPanels::StatusBarPanels(QStatusBar *bar, Session &session) : QObject(bar), m_bar(bar), m_session(session)
{
    connect(&session, &Session::txFrame, this,
            [this](const QByteArray &f) { show(3, QStringLiteral("TX: ") + renderFrame(f)); });
    connect(&session, &Session::rxText, this, [this](const QByteArray &t, bool prefixed) {
        show(2, (prefixed ? QStringLiteral("RX: ") : QString()) + renderFrame(t));
    });
    // A panel whose text changes asks for a layout, and QStatusBar answers every layout
    // request by repainting itself whole: each frame sent or received would repaint all
    // six panels. When the layout leaves every panel where it was, the changed panel's
    // own repaint is all that is needed, so the request stops here.
    class OnlyChangedPanels : public QObject {
    public:
        explicit OnlyChangedPanels(QStatusBar *bar) : QObject(bar), m_bar(bar) {}
        bool eventFilter(QObject *o, QEvent *e) override
        {
            if (o != m_bar || e->type() != QEvent::LayoutRequest)
                return false;
            if (QLayout *l = m_bar->layout())
                l->activate();   // a no-op when Qt has already laid out for this request
            QList<int> shape{m_bar->width(), m_bar->height(), m_bar->fontMetrics().height()};
            for (const QWidget *w : m_bar->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
                const QRect g = w->isVisible() ? w->geometry() : QRect();
                shape << g.x() << g.y() << g.width() << g.height() << w->minimumSizeHint().height();
            }
            if (shape == m_shape)
                return true;
            m_shape = shape;
            return false;
        }

    private:
        QStatusBar *m_bar;
        QList<int> m_shape;
    };
    bar->installEventFilter(new OnlyChangedPanels(bar));

    // That layout measures the changed panel's text (QLabel measures it three times, the
    // costliest part of the layout). The TX and RX texts repeat with the update cycle, so
    // each is measured once. The cache holds while the font, style, frame and margins do.
    class Panel : public QLabel {
    public:
        Panel(const QString &text, QWidget *parent) : QLabel(text, parent) {}
        QSize sizeHint() const override { return hints().first; }
        QSize minimumSizeHint() const override { return hints().second; }

    protected:
        void changeEvent(QEvent *e) override
        {
            m_hints.clear();
            QLabel::changeEvent(e);
        }

    private:
        std::pair<QSize, QSize> hints() const
        {
            const QMargins m = contentsMargins();
            const QList<int> shape{frameWidth(), margin(), indent(), int(alignment()), int(wordWrap()),
                                   int(textFormat()), m.left(), m.top(), m.right(), m.bottom()};
            if (shape != m_shape || m_hints.size() > 64) {
                m_hints.clear();
                m_shape = shape;
            }
            auto it = m_hints.constFind(text());
            if (it == m_hints.cend())
                it = m_hints.insert(text(), {QLabel::sizeHint(), QLabel::minimumSizeHint()});
            return *it;
        }
        mutable QHash<QString, std::pair<QSize, QSize>> m_hints;
        mutable QList<int> m_shape;
    };

    const char *texts[6] = {"SET PORT!", "Comm Ch.", "RX", "TX", "", ""};
    const QString tips[6] = {tr("Comm Port Settings"), tr("Selected Comm Port"), tr("Data Received"),
                             tr("Data Transmitted"), tr("Today's Date"), tr("The Time Right Now!!")};
    const int stretch[6] = {2, 2, 3, 3, 0, 0};
    for (int i = 0; i < 6; ++i) {
        m_panels[i] = new Panel(QLatin1String(texts[i]), bar);
        m_panels[i]->setObjectName(QStringLiteral("panel%1").arg(i + 1));
        m_panels[i]->setToolTip(tips[i]);
        m_panels[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        m_panels[i]->setMinimumWidth(60);
        bar->addPermanentWidget(m_panels[i], stretch[i]);
    }

    // The RX and TX panels change with every exchange, and a reply wait handles pending
    // repaints before it reads the reply: painted at once, they would stretch every
    // exchange. show() holds their repaints until no reply is awaited; this timer
    // ends a hold after 20 ms, so a slow unit's TX still shows while its reply is awaited.
    auto *linkPanels = new QTimer(bar);
    linkPanels->setObjectName(QStringLiteral("linkPanelsRepaint"));
    linkPanels->setSingleShot(true);
    linkPanels->setInterval(20);
    connect(linkPanels, &QTimer::timeout, this, [this] {
        m_panels[2]->setUpdatesEnabled(true);
        m_panels[3]->setUpdatesEnabled(true);
    });

    auto *clock = new QTimer(this);
    clock->setObjectName(QStringLiteral("statusClock"));
    auto tick = [this, clock] {
        const QDateTime now = QDateTime::currentDateTime();
        show(4, QLocale().toString(now.date(), QLocale::ShortFormat));
        show(5, now.time().toString(QStringLiteral("HH:mm")));
        // Wake once a minute, on the minute: the panel shows hours and minutes.
        clock->start(int(60000 - now.time().second() * 1000 - now.time().msec()) + 5);
    };
    clock->setSingleShot(true);
    connect(clock, &QTimer::timeout, this, tick);
    tick();
}

void StatusBarPanels::show(int index, const QString &text)
{
QLabel *panel = m_panels[index];
    if (panel->text() == text)
        return;   // nothing to lay out or repaint
    if (index == 2 || index == 3) {
        // Held repaint of the RX and TX panels (see the constructor).
        auto *hold = m_bar->findChild<QTimer *>(QStringLiteral("linkPanelsRepaint"),
                                                      Qt::FindDirectChildrenOnly);
        if (hold) {
            panel->setUpdatesEnabled(false);
            if (!hold->isActive())
                hold->start();
            // RX is written as a reply wait ends (or for a frame outside any). This runs from
            // the event loop: if another wait has begun (the second command of a step), the
            // hold stays for that one's RX or the timer; after the exchange it ends the hold.
            // Nothing is posted for TX, which is written just before the command goes out.
            if (index == 2)
                QMetaObject::invokeMethod(hold, [this, hold] {
                    if (!hold->isActive() || m_session.waiting())
                        return;
                    hold->stop();
                    m_panels[2]->setUpdatesEnabled(true);
                    m_panels[3]->setUpdatesEnabled(true);
                }, Qt::QueuedConnection);
        }
    }
    panel->setText(text);
}

} // namespace plv
