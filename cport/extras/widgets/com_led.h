// A status lamp that follows one state of a port through a link: open or
// closed, a modem line (CTS, DSR, carrier), a ring, or receive or transmit
// activity. Without a port it is a plain two-state lamp the program switches.
#pragma once

#include "tarnby/cport/cport.h"
#include "tarnby/cport/extras/free_watch.h"

#include <QPixmap>
#include <QWidget>

#include <functional>

class QTimer;

namespace tarnby {

enum TLedState : uint8_t { lsOff, lsOn };
enum TLedKind : uint8_t { lkRedLight, lkGreenLight, lkBlueLight, lkYellowLight, lkPurpleLight, lkBulb, lkCustom };
enum TComLedSignal : uint8_t { lsConn, lsCTS, lsDSR, lsRLSD, lsRing, lsRx, lsTx };

class TComLed;
using TLedStateEvent = std::function<void(TComLed* sender, TLedState state)>;

// The lamp pictures, by their resource names ("LEDREDON", "LEDBULBOFF", ...);
// a null picture for any other name.
TARNBY_CPORT_EXPORT QPixmap LedPicture(const QString& name);

class TARNBY_CPORT_EXPORT TComLed : public QWidget {
public:
    explicit TComLed(QWidget* parent = nullptr);
    ~TComLed() override;

    TCustomComPort* ComPort() const { return port_.Port(); }
    void SetComPort(TCustomComPort* port);
    TComLedSignal LedSignal() const { return signal_; }
    void SetLedSignal(TComLedSignal value);
    TLedKind Kind() const { return kind_; }
    void SetKind(TLedKind value);
    // Taken only for lkCustom.
    const QPixmap& GlyphOn() const { return glyph_on_; }
    void SetGlyphOn(const QPixmap& picture);
    const QPixmap& GlyphOff() const { return glyph_off_; }
    void SetGlyphOff(const QPixmap& picture);
    TLedState State() const { return state_; }
    // Raises EComPort code 19 while a port is set: the port drives the lamp then.
    void SetState(TLedState value);
    int RingDuration() const;
    void SetRingDuration(int milliseconds);

    TLedStateEvent OnChange;

    QSize sizeHint() const override { return {25, 25}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void ChangeState(TLedState value);
    void SignalEntry(bool on);
    void RingEntry();
    bool IsStateOn();
    void LoadPictures();

    TComLedSignal signal_ = lsConn;
    TLedKind kind_ = lkRedLight;
    QPixmap glyph_on_, glyph_off_;
    TLedState state_ = lsOff;
    QTimer* ring_timer_;
    TComLink link_;
    TPortFollower port_{link_};
};

} // namespace tarnby
