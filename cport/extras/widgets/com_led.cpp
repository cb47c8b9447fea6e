#include "tarnby/cport/extras/widgets/com_led.h"

#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTimer>

namespace tarnby {

// ---- the pictures ----------------------------------------------------------
//
// Drawn here rather than shipped as bitmaps: a round lamp in a dark bezel,
// lit (a bright centre fading to the lamp's colour) or dark (the colour
// dimmed to a third), and a small light bulb, glowing or grey.

namespace {

constexpr int kPicture = 19; // pixels, square

struct LampColour {
    const char* name;
    QRgb colour;
};
// In the order of TLedKind.
const LampColour kLamps[] = {
    {"RED", qRgb(235, 40, 30)},     {"GREEN", qRgb(40, 210, 60)},    {"BLUE", qRgb(50, 110, 250)},
    {"YELLOW", qRgb(250, 215, 40)}, {"PURPLE", qRgb(190, 60, 220)},
};

QPixmap Blank()
{
    QPixmap picture(kPicture, kPicture);
    picture.fill(Qt::transparent);
    return picture;
}

QPixmap RoundLamp(QColor colour, bool lit)
{
    QPixmap picture = Blank();
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF bezel(0.5, 0.5, kPicture - 1, kPicture - 1);
    p.setPen(QPen(QColor(40, 40, 40), 1));
    p.setBrush(QColor(90, 90, 90));
    p.drawEllipse(bezel);
    const QRectF glass = bezel.adjusted(2, 2, -2, -2);
    QRadialGradient light(glass.center() - QPointF(2, 2), glass.width() * 0.7);
    if (lit) {
        light.setColorAt(0, Qt::white);
        light.setColorAt(0.35, colour.lighter(130));
        light.setColorAt(1, colour);
    } else {
        QColor dim = QColor(colour.red() / 3, colour.green() / 3, colour.blue() / 3);
        light.setColorAt(0, dim.lighter(160));
        light.setColorAt(1, dim);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(light);
    p.drawEllipse(glass);
    return picture;
}

QPixmap Bulb(bool lit)
{
    QPixmap picture = Blank();
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    // Glass: a round top narrowing into a neck.
    QPainterPath glass;
    glass.moveTo(7, 13);
    glass.cubicTo(7, 10, 3, 9, 3, 6);
    glass.arcTo(QRectF(3, 1, 13, 11), 180, -180);
    glass.cubicTo(16, 9, 12, 10, 12, 13);
    glass.closeSubpath();
    QRadialGradient light(QPointF(8, 5), 8);
    if (lit) {
        light.setColorAt(0, Qt::white);
        light.setColorAt(0.5, QColor(255, 240, 120));
        light.setColorAt(1, QColor(250, 200, 40));
    } else {
        light.setColorAt(0, QColor(235, 235, 235));
        light.setColorAt(1, QColor(160, 160, 160));
    }
    p.setPen(QPen(QColor(70, 70, 70), 1));
    p.setBrush(light);
    p.drawPath(glass);
    // Screw base: three threads.
    p.setBrush(QColor(150, 150, 150));
    for (int i = 0; i < 3; ++i)
        p.drawRect(QRectF(6.5, 13.5 + i * 1.7, 6, 1.4));
    return picture;
}

} // namespace

QPixmap LedPicture(const QString& name)
{
    for (const LampColour& lamp : kLamps) {
        const QString base = QStringLiteral("LED") + QLatin1String(lamp.name);
        if (name == base + QStringLiteral("ON"))
            return RoundLamp(QColor(lamp.colour), true);
        if (name == base + QStringLiteral("OFF"))
            return RoundLamp(QColor(lamp.colour), false);
    }
    if (name == QStringLiteral("LEDBULBON"))
        return Bulb(true);
    if (name == QStringLiteral("LEDBULBOFF"))
        return Bulb(false);
    return {};
}

// ---- TComLed ---------------------------------------------------------------

TComLed::TComLed(QWidget* parent) : QWidget(parent), ring_timer_(new QTimer(this))
{
    resize(25, 25);
    link_.OnConn = [this](TObject*, bool on) { SignalEntry(on); };
    ring_timer_->setInterval(1000);
    connect(ring_timer_, &QTimer::timeout, this, [this] {
        ring_timer_->stop();
        ChangeState(lsOff);
    });
}

TComLed::~TComLed()
{
    ring_timer_->stop();
    port_.Follow(nullptr);
}

void TComLed::SetComPort(TCustomComPort* port)
{
    if (port == port_.Port())
        return;
    port_.Follow(port);
    if (port != nullptr) {
        if (port->Connected())
            ChangeState(IsStateOn() ? lsOn : lsOff);
    } else {
        ChangeState(lsOff);
    }
}

void TComLed::SetLedSignal(TComLedSignal value)
{
    if (value == signal_)
        return;
    signal_ = value;
    link_.OnConn = nullptr;
    link_.OnCTSChange = nullptr;
    link_.OnDSRChange = nullptr;
    link_.OnRLSDChange = nullptr;
    link_.OnRing = nullptr;
    link_.OnTx = nullptr;
    link_.OnRx = nullptr;
    auto entry = [this](TObject*, bool on) { SignalEntry(on); };
    switch (value) {
    case lsConn: link_.OnConn = entry; break;
    case lsCTS: link_.OnCTSChange = entry; break;
    case lsDSR: link_.OnDSRChange = entry; break;
    case lsRLSD: link_.OnRLSDChange = entry; break;
    case lsRing: link_.OnRing = [this](TObject*) { RingEntry(); }; break;
    case lsRx: link_.OnRx = entry; break;
    case lsTx: link_.OnTx = entry; break;
    }
}

void TComLed::SetKind(TLedKind value)
{
    if (value == kind_)
        return;
    kind_ = value;
    LoadPictures();
    update();
}

void TComLed::SetGlyphOn(const QPixmap& picture)
{
    if (kind_ != lkCustom)
        return;
    glyph_on_ = picture;
    update();
}

void TComLed::SetGlyphOff(const QPixmap& picture)
{
    if (kind_ != lkCustom)
        return;
    glyph_off_ = picture;
    update();
}

void TComLed::SetState(TLedState value)
{
    if (port_.Port() != nullptr)
        throw EComPort(errLedState);
    ChangeState(value);
}

int TComLed::RingDuration() const { return ring_timer_->interval(); }

void TComLed::SetRingDuration(int milliseconds) { ring_timer_->setInterval(milliseconds); }

void TComLed::ChangeState(TLedState value)
{
    state_ = value;
    if (OnChange)
        OnChange(this, value);
    update();
}

void TComLed::SignalEntry(bool on)
{
    ChangeState(on ? lsOn : lsOff);
    // Drawn at once, even while the caller keeps this thread busy; only this
    // lamp, so no other event runs inside the port's dispatch.
    if (isVisible())
        repaint();
}

void TComLed::RingEntry()
{
    ring_timer_->start();
    ChangeState(lsOn);
}

bool TComLed::IsStateOn()
{
    switch (signal_) {
    case lsConn: return port_.Port()->Connected();
    case lsCTS: return port_.Port()->Signals().Contains(csCTS);
    case lsDSR: return port_.Port()->Signals().Contains(csDSR);
    case lsRLSD: return port_.Port()->Signals().Contains(csRLSD);
    case lsRing:
    case lsRx:
    case lsTx: return false;
    }
    return false;
}

void TComLed::LoadPictures()
{
    if (kind_ == lkCustom)
        return;
    static const char* const kNames[] = {"RED", "GREEN", "BLUE", "YELLOW", "PURPLE", "BULB"};
    const QString base = QStringLiteral("LED") + QLatin1String(kNames[kind_]);
    glyph_on_ = LedPicture(base + QStringLiteral("ON"));
    glyph_off_ = LedPicture(base + QStringLiteral("OFF"));
}

void TComLed::paintEvent(QPaintEvent*)
{
    if (glyph_on_.isNull() || glyph_off_.isNull())
        LoadPictures();
    const QPixmap& picture = state_ == lsOn && isEnabled() ? glyph_on_ : glyph_off_;
    if (picture.isNull())
        return;
    int x = std::max(0, (width() - picture.width()) / 2);
    int y = std::max(0, (height() - picture.height()) / 2);
    QPainter(this).drawPixmap(x, y, picture);
}

} // namespace tarnby
