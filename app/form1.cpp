#include "app/form1.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include "app/click_area.h"
#include "app/connect_error.h"
#include "app/exception_box.h"
#include "app/front_panel.h"
#include "app/lamp_shape.h"
#include "app/lcd_image.h"
#include "app/log_scroll_bar.h"
#include "app/window_host.h"
#include "firmware/firmware_loop.h"
#include "firmware/instrument_state.h"
#include "firmware/lcd/lcd.h"
#include "firmware/link/link.h"

TForm1* Form1 = nullptr;

namespace {

constexpr int CLIENT_WIDTH = 621;
constexpr int CLIENT_HEIGHT = 404;

QLabel* make_label(QWidget* parent, const char* text, int left, int top)
{
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->move(left, top);
    label->adjustSize();
    return label;
}

QSlider* make_slider(QWidget* parent, int left, int top, int minimum, int maximum)
{
    auto* slider = new QSlider(Qt::Horizontal, parent);
    slider->setGeometry(left, top, 193, 45);
    slider->setRange(minimum, maximum);
    slider->setValue(0);
    slider->setTickInterval(1);
    slider->setTickPosition(QSlider::NoTicks);
    return slider;
}

QPushButton* make_button(QWidget* parent, const char* caption, int left, int top, int width, int height)
{
    auto* button = new QPushButton(QString::fromLatin1(caption), parent);
    button->setGeometry(left, top, width, height);
    button->setAutoDefault(false);
    return button;
}

void show_position(QLabel* label, int position)
{
    label->setText(QString::number(position));
    label->adjustSize();
}

}  // namespace

TForm1::TForm1(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint)
{
    Form1 = this;
    setWindowTitle(QStringLiteral("Aldane QR-7"));
    // An 8-point sans of the usual metrics, so the captions fit their
    // controls; the desktop's own sans when none of these is installed.
    QFont face = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    face.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans"),
                      QStringLiteral("Helvetica"), face.family()});
    face.setPointSize(8);
    setFont(face);
    setFixedSize(CLIENT_WIDTH, CLIENT_HEIGHT);

    build_controls();
    name_controls();
    set_tab_order();
    apply_unlit_colour();

    create_com_port();
    host_ = std::make_unique<WindowHost>(*this);
    set_host(host_.get());
    wire_events();
    Timer1->start();

    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - QPoint(CLIENT_WIDTH / 2, CLIENT_HEIGHT / 2));
}

TForm1::~TForm1()
{
    Timer1->stop();
    // Closes an open port and ends its event thread first.
    ComPort1.reset();
    set_host(nullptr);
    if (Form1 == this)
        Form1 = nullptr;
}

void TForm1::build_controls()
{
    Image2 = new QLabel(this);
    Image2->setGeometry(0, 0, 336, 323);
    Image2->setScaledContents(true);
    const QImage picture = load_front_panel();
    if (!picture.isNull())
        Image2->setPixmap(QPixmap::fromImage(picture));

    Shape1 = new LampShape(this);
    Shape1->setGeometry(154, 17, 29, 29);

    // The panel frames the display's picture with one pixel all round.
    Panel1 = new QFrame(this);
    Panel1->setGeometry(39, 92, LCD_SURFACE_WIDTH + 2, LCD_SURFACE_HEIGHT + 2);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setLineWidth(1);
    Panel1->setAutoFillBackground(true);
    Image1 = new LcdImage(Panel1);
    Image1->setGeometry(1, 1, LCD_SURFACE_WIDTH, LCD_SURFACE_HEIGHT);

    Image3 = new ClickArea(this);
    Image3->setGeometry(74, 243, 47, 47);
    Image5 = new ClickArea(this);
    Image5->setGeometry(145, 255, 46, 43);
    Image6 = new ClickArea(this);
    Image6->setGeometry(217, 243, 42, 42);

    Label2 = make_label(this, "Heading:", 344, 16);
    Label3 = make_label(this, "0", 392, 16);
    Label1 = make_label(this, "Pitch:", 344, 48);
    Label4 = make_label(this, "0", 384, 48);
    Label5 = make_label(this, "Roll:", 344, 80);
    Label6 = make_label(this, "0", 384, 80);
    Label7 = make_label(this, "Slip:", 344, 112);
    Label8 = make_label(this, "0", 384, 112);
    Label9 = make_label(this, "Turn:", 344, 144);
    Label10 = make_label(this, "0", 384, 144);
    Label11 = make_label(this, "G-Force:", 344, 176);
    Label12 = make_label(this, "0", 392, 176);

    TrackBar1 = make_slider(this, 424, 8, 0, 359);
    TrackBar2 = make_slider(this, 424, 40, -90, 90);
    TrackBar3 = make_slider(this, 424, 72, -180, 180);
    TrackBar4 = make_slider(this, 424, 104, -50, 50);
    TrackBar5 = make_slider(this, 424, 136, -180, 180);
    TrackBar6 = make_slider(this, 424, 168, 0, 65535);

    CheckBox3 = new QCheckBox(QStringLiteral("Key Fast"), this);
    CheckBox3->setGeometry(344, 216, 97, 17);

    Button3 = make_button(this, "&Connect", 432, 208, 75, 25);
    Button4 = make_button(this, "&Disconnect", 528, 208, 75, 25);
    Button5 = make_button(this, "ClockWise", 88, 292, 59, 25);
    Button6 = make_button(this, "AntiClockwise", 188, 292, 75, 25);
    Button1 = make_button(this, "ON", 24, 328, 129, 49);
    Button2 = make_button(this, "OFF", 176, 328, 137, 49);

    GroupBox1 = new QGroupBox(QStringLiteral(" Communication Window "), this);
    GroupBox1->setGeometry(344, 248, 273, 137);
    Memo1 = new QPlainTextEdit(GroupBox1);
    Memo1->setVerticalScrollBar(new LogScrollBar);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setMaximumBlockCount(MEMO_LINE_LIMIT);
    auto* group_layout = new QVBoxLayout(GroupBox1);
    group_layout->setContentsMargins(2, 2, 2, 2);
    group_layout->addWidget(Memo1);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setSizeGripEnabled(false);
    StatusBar1->setGeometry(0, CLIENT_HEIGHT - 19, CLIENT_WIDTH, 19);

    Timer1 = new QTimer(this);
    Timer1->setInterval(100);
}

void TForm1::name_controls()
{
    const std::pair<QObject*, const char*> names[] = {
        {Image1, "Image1"},       {Image2, "Image2"},       {Image3, "Image3"},       {Image5, "Image5"},
        {Image6, "Image6"},       {Shape1, "Shape1"},       {Panel1, "Panel1"},       {Label1, "Label1"},
        {Label2, "Label2"},       {Label3, "Label3"},       {Label4, "Label4"},       {Label5, "Label5"},
        {Label6, "Label6"},       {Label7, "Label7"},       {Label8, "Label8"},       {Label9, "Label9"},
        {Label10, "Label10"},     {Label11, "Label11"},     {Label12, "Label12"},     {TrackBar1, "TrackBar1"},
        {TrackBar2, "TrackBar2"}, {TrackBar3, "TrackBar3"}, {TrackBar4, "TrackBar4"}, {TrackBar5, "TrackBar5"},
        {TrackBar6, "TrackBar6"}, {CheckBox3, "CheckBox3"}, {Button1, "Button1"},     {Button2, "Button2"},
        {Button3, "Button3"},     {Button4, "Button4"},     {Button5, "Button5"},     {Button6, "Button6"},
        {GroupBox1, "GroupBox1"}, {Memo1, "Memo1"},         {StatusBar1, "StatusBar1"}, {Timer1, "Timer1"},
    };
    for (const auto& [control, name] : names)
        control->setObjectName(QString::fromLatin1(name));
}

std::string TForm1::port_name_from_environment()
{
    const QByteArray chosen = qgetenv("TARNBY_PORT");
    return chosen.isEmpty() ? std::string(DEFAULT_PORT) : chosen.toStdString();
}

// The port's stored settings, applied the way a stored description is
// loaded: every setter first, then Loaded once.
void TForm1::create_com_port()
{
    ComPort1 = std::make_unique<TComPort>(nullptr);
    ComPort1->SetName("ComPort1");
    ComPort1->BeginLoading();
    ComPort1->SetBaudRate(br19200);
    ComPort1->SetPort(port_name_from_environment());
    ComPort1->Parity()->SetBits(prNone);
    ComPort1->SetStopBits(sbOneStopBit);
    ComPort1->SetDataBits(dbEight);
    ComPort1->SetEvents(kAllComEvents);
    TComFlowControl* flow = ComPort1->FlowControl();
    flow->SetOutCTSFlow(false);
    flow->SetOutDSRFlow(false);
    flow->SetControlDTR(dtrDisable);
    flow->SetControlRTS(rtsDisable);
    flow->SetXonXoffOut(false);
    flow->SetXonXoffIn(false);
    ComPort1->OnRxChar = [this](TObject*, int32_t count) { run_guarded([this, count] { ComPort1RxChar(count); }); };
    ComPort1->EndLoading();
}

void TForm1::wire_events()
{
    // Every handler runs guarded: an exception is shown and the program,
    // and a running firmware loop around a nested handler, go on.
    auto on_click = [this](auto* control, void (TForm1::*handler)()) {
        using Control = std::remove_pointer_t<decltype(control)>;
        connect(control, &Control::clicked, this, [this, handler] { run_guarded([this, handler] { (this->*handler)(); }); });
    };
    on_click(Button1, &TForm1::Button1Click);
    on_click(Button2, &TForm1::Button2Click);
    on_click(Button3, &TForm1::Button3Click);
    on_click(Button4, &TForm1::Button4Click);
    on_click(Button5, &TForm1::Button5Click);
    on_click(Button6, &TForm1::Button6Click);
    on_click(Image3, &TForm1::Image3Click);
    on_click(Image5, &TForm1::Image5Click);
    on_click(Image6, &TForm1::Image6Click);

    auto on_change = [this](QSlider* slider, void (TForm1::*handler)(int)) {
        connect(slider, &QSlider::valueChanged, this,
                [this, handler](int position) { run_guarded([this, handler, position] { (this->*handler)(position); }); });
    };
    on_change(TrackBar1, &TForm1::TrackBar1Change);
    on_change(TrackBar2, &TForm1::TrackBar2Change);
    on_change(TrackBar3, &TForm1::TrackBar3Change);
    on_change(TrackBar4, &TForm1::TrackBar4Change);
    on_change(TrackBar5, &TForm1::TrackBar5Change);
    on_change(TrackBar6, &TForm1::TrackBar6Change);

    connect(Timer1, &QTimer::timeout, this, [this] { run_guarded([this] { Timer1Timer(); }); });
}

void TForm1::set_tab_order()
{
    // Panel1 and GroupBox1 take focus through what they hold: Image1 takes
    // none, Memo1 stands in the group box's place.
    const QWidget* order[] = {Button1,   Button2,   CheckBox3, TrackBar1, TrackBar2, TrackBar3, TrackBar4,
                              Button3,   Button4,   Memo1,     Button5,   Button6,   TrackBar5, TrackBar6};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(const_cast<QWidget*>(order[i - 1]), const_cast<QWidget*>(order[i]));
}

QColor TForm1::unlit_colour_from(const QPalette& palette)
{
    const QColor colour = palette.color(QPalette::Active, QPalette::Midlight);
    if (colour.lightness() < 128)
        return QColor(0xc8, 0xc8, 0xc8);
    return QColor(colour.rgb());
}

QColor TForm1::lcd_unlit_colour() const
{
    return unlit_colour_from(palette());
}

void TForm1::apply_unlit_colour()
{
    QPalette panel = Panel1->palette();
    panel.setColor(QPalette::Window, lcd_unlit_colour());
    Panel1->setPalette(panel);
}

void TForm1::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        apply_unlit_colour();
    QWidget::changeEvent(event);
}

void TForm1::closeEvent(QCloseEvent* event)
{
    if (loop_depth_ > 0) {
        close_when_loop_ends_ = true;
        firmware_stop();
        event->ignore();
        return;
    }
    event->accept();
}

// ---- handlers ----------------------------------------------------------------

void TForm1::Button1Click()
{
    ++loop_depth_;
    struct LoopExit {
        TForm1* form;
        ~LoopExit()
        {
            // The last lines of the log are in Memo1 when the loop is over.
            form->host_->flush_memo();
            if (--form->loop_depth_ == 0 && form->close_when_loop_ends_) {
                form->close_when_loop_ends_ = false;
                // Queued: the button is still inside its click.
                QMetaObject::invokeMethod(form, &QWidget::close, Qt::QueuedConnection);
            }
        }
    } exit{this};
    firmware_run();
}

void TForm1::Button2Click()
{
    firmware_stop();
}

void TForm1::Button3Click()
{
    if (ComPort1->Connected())
        return;
    try {
        ComPort1->Open();
    } catch (const EComPort& e) {
        // The component's message, then which device and why, for a person.
        show_exception_message(QString::fromStdString(connect_error_text(e, ComPort1->Port())));
    }
}

void TForm1::Button4Click()
{
    if (ComPort1->Connected())
        ComPort1->Close();
}

void TForm1::Image5Click()
{
    store_key_code(KEY_KNOB_PRESS);
}

void TForm1::Button5Click()
{
    store_key_code(KEY_CLOCKWISE);
}

void TForm1::Button6Click()
{
    store_key_code(KEY_ANTICLOCKWISE);
}

void TForm1::Image3Click()
{
    store_key_code(KEY_LEFT);
}

void TForm1::Image6Click()
{
    store_key_code(KEY_RIGHT);
}

void TForm1::TrackBar1Change(int position)
{
    slider_heading = position;
    show_position(Label3, position);
}

void TForm1::TrackBar2Change(int position)
{
    slider_pitch = position;
    show_position(Label4, position);
}

void TForm1::TrackBar3Change(int position)
{
    slider_bank = position;
    show_position(Label6, position);
}

void TForm1::TrackBar4Change(int position)
{
    slider_slip = position;
    show_position(Label8, position);
}

void TForm1::TrackBar5Change(int position)
{
    turn_slider_moved(position);
    show_position(Label10, position);
}

void TForm1::TrackBar6Change(int position)
{
    slider_gforce = position;
    show_position(Label12, position);
}

void TForm1::Timer1Timer()
{
    timer_tick();
}

void TForm1::ComPort1RxChar(int32_t count)
{
    uint8_t buffer[RX_BUFFER_SIZE];
    const int32_t taken = ComPort1->Read(buffer, std::clamp(count, int32_t{0}, int32_t{RX_BUFFER_SIZE}));
    if (taken > 0)
        link_receive(buffer, static_cast<size_t>(taken));
    // More was waiting than one buffer holds: the rest is read as the next
    // event, even if the device has nothing new to signal.
    if (count > RX_BUFFER_SIZE) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                run_guarded([this] {
                    if (!ComPort1->Connected())
                        return;
                    if (const int32_t waiting = ComPort1->InputCount(); waiting > 0)
                        ComPort1RxChar(waiting);
                });
            },
            Qt::QueuedConnection);
    }
}

bool TForm1::port_connected() const
{
    return ComPort1->Connected();
}

// A port that stops taking bytes (a USB adapter pulled out) is closed, so
// the instrument goes back to the sliders and the failure is shown once,
// instead of once per byte, and without ending the firmware loop.
void TForm1::port_write(uint8_t byte)
{
    try {
        ComPort1->Write(&byte, 1);
    } catch (...) {
        try {
            ComPort1->Close();
        } catch (...) {
            // Closing a failed device may fail too; the first error is the one to show.
        }
        show_current_exception();
    }
}
