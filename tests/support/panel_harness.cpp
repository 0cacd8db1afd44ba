#include "support/panel_harness.h"

#include <QApplication>
#include <QImage>
#include <QRegion>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

namespace tavrion::test {

PanelHarness::PanelHarness(const Settings& settings, ReplyWait wait) : folder(settings)
{
    Platform p;
    p.reply_wait = wait;
    p.program_dir = folder.path();
    p.clock = &clock;
    p.serial = &serial;
    p.socket = &tcp;
    p.boxes = &boxes;
    window_ = std::make_unique<FrmMain>(p);
}

PanelHarness::~PanelHarness()
{
    if (window_) window_->close();
    window_.reset();
    QCoreApplication::processEvents();
}

bool PanelHarness::load() { return window_->Form_Load(); }

void PanelHarness::click(QWidget* control)
{
    QTest::mouseClick(control, Qt::LeftButton, Qt::NoModifier, control->rect().center());
}

bool PanelHarness::wait_until(const std::function<bool()>& done, int ms)
{
    QDeadlineTimer deadline(ms);
    // Repeating, so that a pass nested in ours (a handler processing events) cannot take our only
    // wake-up and leave this loop asleep.
    QTimer wake;
    wake.start(int(std::min(10, std::max(1, ms))));
    while (!done()) {
        if (deadline.hasExpired()) return done();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void PanelHarness::pump(int ms)
{
    QElapsedTimer t;
    t.start();
    wait_until([&] { return t.elapsed() >= ms; }, ms + 1000);
}

void PanelHarness::ready(QWidget* frame)
{
    QVERIFY(load());
    serial.feed("PWR001\r");
    QVERIFY(wait_until([&] { return frame->isEnabled(); }, 2000));
    serial.clear();
}

void PanelHarness::arrive(const QByteArray& reply)
{
    serial.feed(reply + '\r');
    pump(30);
}

void PanelHarness::connect_tcp()
{
    click(window_->opt_interface(1));
    window_->txt_ip->setText(QStringLiteral("127.0.0.1"));
    click(window_->cmd_conn_eth);
    wait_until([this] { return window_->session().eth_connected(); }, 2000);
}

QRect PanelHarness::slider_part(QScrollBar* s, QStyle::SubControl part)
{
    QStyleOptionSlider opt;
    opt.initFrom(s);
    opt.subControls = QStyle::SC_All;
    opt.orientation = s->orientation();
    opt.minimum = s->minimum();
    opt.maximum = s->maximum();
    opt.sliderPosition = s->sliderPosition();
    opt.sliderValue = s->value();
    opt.singleStep = s->singleStep();
    opt.pageStep = s->pageStep();
    opt.upsideDown = s->invertedAppearance();
    return s->style()->subControlRect(QStyle::CC_ScrollBar, &opt, part, s);
}

double PanelHarness::face_share(QWidget* control, const QColor& colour, int border)
{
    QWidget* window = control->window();
    const QPoint at = control->mapTo(window, QPoint(0, 0));
    QRegion face(QRect(at, control->size()).adjusted(border, border, -border, -border));
    for (QWidget* child : control->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (child->isVisible()) face -= child->geometry().translated(at);
    const QImage shot = window->grab().toImage();
    const qreal scale = shot.devicePixelRatio();
    int near = 0, all = 0;
    for (const QRect& r : face)
        for (int y = int(r.top() * scale); y < int((r.bottom() + 1) * scale); ++y)
            for (int x = int(r.left() * scale); x < int((r.right() + 1) * scale); ++x) {
                const QColor c = shot.pixelColor(x, y);
                ++all;
                if (qAbs(c.red() - colour.red()) <= 8 && qAbs(c.green() - colour.green()) <= 8
                    && qAbs(c.blue() - colour.blue()) <= 8)
                    ++near;
            }
    return all ? double(near) / all : 0.0;
}

} // namespace tavrion::test
