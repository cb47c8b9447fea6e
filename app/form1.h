// The host window: the instrument's front face with the simulated display,
// the panel controls, the sliders that stand for the sensor readings, the
// alert lamp, ON and OFF, the serial connection and the communication log.
// It builds its controls and wires their events; each handler calls one
// entry point of the firmware (or writes one slider variable).
#pragma once

#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>

#include "cport/cport.h"

using namespace tarnby;

class ClickArea;
class LampShape;
class LcdImage;
class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QSlider;
class QStatusBar;
class QTimer;
class WindowHost;

class TForm1 : public QWidget {
    Q_OBJECT
public:
    // Newest lines Memo1 keeps; older ones are dropped from the top, so
    // hours of connected running (four lines a pass) stay within memory.
    static constexpr int MEMO_LINE_LIMIT = 50000;
    // Bytes ComPort1RxChar reads per received-character event.
    static constexpr int RX_BUFFER_SIZE = 10000;
    // ComPort1's port unless TARNBY_PORT names another ("COMn" or a device
    // path such as a USB adapter or an emulator's pseudo-terminal).
    static constexpr const char* DEFAULT_PORT = "COM3";
    static std::string port_name_from_environment();

    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // ---- controls, under the names of the window description -------------
    QLabel* Image2;  // front-panel picture
    LampShape* Shape1;
    ClickArea* Image3;
    ClickArea* Image5;
    ClickArea* Image6;
    QFrame* Panel1;
    LcdImage* Image1;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLabel* Label6;
    QLabel* Label7;
    QLabel* Label8;
    QLabel* Label9;
    QLabel* Label10;
    QLabel* Label11;
    QLabel* Label12;
    QSlider* TrackBar1;
    QSlider* TrackBar2;
    QSlider* TrackBar3;
    QSlider* TrackBar4;
    QSlider* TrackBar5;
    QSlider* TrackBar6;
    QCheckBox* CheckBox3;
    QPushButton* Button1;
    QPushButton* Button2;
    QPushButton* Button3;
    QPushButton* Button4;
    QPushButton* Button5;
    QPushButton* Button6;
    QGroupBox* GroupBox1;
    QPlainTextEdit* Memo1;
    QStatusBar* StatusBar1;
    QTimer* Timer1;
    std::unique_ptr<TComPort> ComPort1;

    // ---- event handlers ----------------------------------------------------
    void Button1Click();  // ON: runs the firmware loop until OFF
    void Button2Click();  // OFF
    void Button3Click();  // Connect
    void Button4Click();  // Disconnect
    void Image3Click();
    void Image5Click();
    void Image6Click();
    void Button5Click();
    void Button6Click();
    void TrackBar1Change(int position);
    void TrackBar2Change(int position);
    void TrackBar3Change(int position);
    void TrackBar4Change(int position);
    void TrackBar5Change(int position);
    void TrackBar6Change(int position);
    void Timer1Timer();
    void ComPort1RxChar(int32_t count);

    // ---- what the firmware's host asks of the window -----------------------
    bool firmware_running() const { return loop_depth_ > 0; }
    // The window was asked to close while the instrument runs.
    bool close_pending() const { return close_when_loop_ends_; }
    // Unlit display pixels and Panel1: the palette's light grey.
    QColor lcd_unlit_colour() const;
    bool port_connected() const;
    void port_write(uint8_t byte);

    // The palette role standing in for the desktop's scroll-bar colour, and
    // the grey used instead when the desktop's scheme makes it too dark for
    // black pixels to be read on it.
    static QColor unlit_colour_from(const QPalette& palette);

protected:
    // Closing while the instrument runs is treated like OFF: the loop ends
    // at the end of its pass, and the window closes then.
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void build_controls();
    void name_controls();
    void wire_events();
    void set_tab_order();
    void create_com_port();
    void apply_unlit_colour();

    std::unique_ptr<WindowHost> host_;
    int loop_depth_ = 0;
    bool close_when_loop_ends_ = false;
};

// The one window; firmware routines reach its controls through the host seam.
extern TForm1* Form1;
