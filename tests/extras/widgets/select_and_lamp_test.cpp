// The selection lists, the port setup dialog and the status lamp.
#include "tarnby/cport/extras/widgets/com_led.h"
#include "tarnby/cport/extras/widgets/com_setup_dialog.h"
#include "extras_support.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QImage>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>

using namespace tarnby;

namespace {

// Picks an item as a user does: the list's activation, not the program's setter.
void Pick(TComComboBox& combo, const QString& text)
{
    int index = combo.findText(text);
    ASSERT_GE(index, 0) << text.toStdString();
    combo.setCurrentIndex(index);
    emit combo.activated(index);
}

// Runs the port's setup dialog and answers it with a click. The port's own
// ShowSetupDialog finds the dialog because this program links the widgets
// library: nothing registers it by hand.
bool RunSetup(TCustomComPort& port, QDialogButtonBox::StandardButton button,
              const std::function<void(TComSetupDialog&)>& edit = {})
{
    QTimer::singleShot(0, [&] {
        auto* dialog = dynamic_cast<TComSetupDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->windowTitle(), "Setup");
        if (edit)
            edit(*dialog);
        if (const char* keep = std::getenv("TARNBY_KEEP_PICTURES"))
            dialog->grab().save(QString::fromLocal8Bit(keep) + "/terminal_port_setup.png");
        dialog->Buttons()->button(button)->click();
    });
    return port.ShowSetupDialog();
}

TEST(SetupDialog, ShowsThePortAndWritesWhatWasPicked)
{
    TComPort port(nullptr);
    port.SetPort("/dev/not-a-listed-port");
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(31250);
    port.FlowControl()->SetControlRTS(rtsToggle); // no preset has this
    port.SetDataBits(dbSeven);

    bool shown = false;
    EXPECT_TRUE(RunSetup(port, QDialogButtonBox::Ok, [&](TComSetupDialog& d) {
        shown = true;
        EXPECT_EQ(d.Combo(cpPort)->Text(), "/dev/not-a-listed-port"); // added to the list, selected
        EXPECT_EQ(d.Combo(cpBaudRate)->Text(), "Custom");
        EXPECT_EQ(d.Combo(cpFlowControl)->Text(), "Custom");
        EXPECT_EQ(d.Combo(cpDataBits)->Text(), "7");
        Pick(*d.Combo(cpBaudRate), "19200");
        Pick(*d.Combo(cpParity), "Even");
    }));
    ASSERT_TRUE(shown);
    EXPECT_EQ(port.BaudRate(), br19200);
    EXPECT_EQ(port.Parity()->Bits(), prEven);
    EXPECT_EQ(port.DataBits(), dbSeven);
    EXPECT_EQ(port.FlowControl()->ControlRTS(), rtsToggle); // "Custom" changes no field
    EXPECT_EQ(port.Port(), "/dev/not-a-listed-port");
}

TEST(SetupDialog, CancelLeavesThePortAsItWas)
{
    TComPort port(nullptr);
    port.SetPort("/dev/pts/not-listed");
    port.FlowControl()->SetFlowControl(fcHardware);
    EXPECT_FALSE(RunSetup(port, QDialogButtonBox::Cancel, [](TComSetupDialog& d) {
        Pick(*d.Combo(cpBaudRate), "300");
        Pick(*d.Combo(cpFlowControl), "None");
    }));
    EXPECT_EQ(port.Port(), "/dev/pts/not-listed");
    EXPECT_EQ(port.BaudRate(), br9600);
    EXPECT_EQ(port.FlowControl()->FlowControl(), fcHardware);
}

class CountingPort : public TComPort {
public:
    using TComPort::TComPort;
    void SetupComPort() override
    {
        ++setups;
        TComPort::SetupComPort();
    }
    int setups = 0;
};

TEST(SetupDialog, AnOpenPortTakesEveryChangeOnce)
{
    FarEnd far;
    CountingPort port(nullptr);
    port.SetEvents({});
    port.SetPort(far.Path());
    port.Open();
    const int before = port.setups;
    EXPECT_TRUE(RunSetup(port, QDialogButtonBox::Ok, [&](TComSetupDialog& d) {
        EXPECT_EQ(d.Combo(cpPort)->Text(), far.Path()); // a pseudo-terminal: listed by the dialog
        Pick(*d.Combo(cpBaudRate), "57600");
        Pick(*d.Combo(cpDataBits), "7");
        Pick(*d.Combo(cpStopBits), "2");
        Pick(*d.Combo(cpParity), "Odd");
        Pick(*d.Combo(cpFlowControl), "Software");
    }));
    EXPECT_EQ(port.setups, before + 1);
    EXPECT_EQ(port.Port(), far.Path());
    EXPECT_EQ(port.StopBits(), sbTwoStopBits);
    EXPECT_EQ(port.FlowControl()->FlowControl(), fcSoftware);
    port.Close();
}

TEST(SelectionLists, ComboBoxFollowsAndForgetsItsPort)
{
    auto port = std::make_unique<TComPort>(nullptr);
    port->SetStopBits(sbOne5StopBits);
    TComComboBox combo;
    combo.SetComProperty(cpStopBits);
    EXPECT_EQ(combo.count(), 3);
    EXPECT_EQ(combo.Text(), "1"); // no port: the first item
    combo.SetComPort(port.get());
    EXPECT_EQ(combo.Text(), "1.5");
    combo.SetText("2");
    EXPECT_EQ(combo.Text(), "2");
    combo.SetText("three"); // unknown: nothing changes
    EXPECT_EQ(combo.Text(), "2");
    combo.SetAutoApply(true);
    Pick(combo, "2");
    EXPECT_EQ(port->StopBits(), sbTwoStopBits);
    port.reset();
    EXPECT_EQ(combo.ComPort(), nullptr);
    EXPECT_EQ(combo.currentIndex(), 0);
    Pick(combo, "1.5"); // no port: nothing to write to
}

TEST(SelectionLists, APlainPortListLeavesAnUnlistedNameUnselected)
{
    TComPort port(nullptr);
    port.SetPort("/dev/not-a-listed-port");
    TComComboBox combo;
    combo.SetComProperty(cpPort);
    const int listed = combo.count();
    combo.SetComPort(&port);
    EXPECT_EQ(combo.currentIndex(), -1);
    EXPECT_EQ(combo.count(), listed);
}

TEST(SelectionLists, RadioGroupAppliesOnlyRealChanges)
{
    TComPort port(nullptr);
    TComRadioGroup group;
    group.SetComProperty(cpParity);
    group.SetComPort(&port);
    group.SetAutoApply(true);
    EXPECT_EQ(group.ItemIndex(), prNone);
    auto buttons = group.findChildren<QRadioButton*>();
    ASSERT_EQ(buttons.size(), 5);
    // The selected button again: nothing reported, nothing written.
    port.Parity()->SetBits(prMark); // the port moved on without the group knowing
    buttons[prNone]->click();
    EXPECT_EQ(port.Parity()->Bits(), prMark);
    buttons[prEven]->click();
    EXPECT_EQ(port.Parity()->Bits(), prEven);
}

// ---- the lamp ----------------------------------------------------------------

TEST(Lamp, PicturesForEveryKindAndTheStateDrawn)
{
    for (const char* kind : {"RED", "GREEN", "BLUE", "YELLOW", "PURPLE", "BULB"}) {
        QImage on = LedPicture(QStringLiteral("LED%1ON").arg(kind)).toImage();
        QImage off = LedPicture(QStringLiteral("LED%1OFF").arg(kind)).toImage();
        ASSERT_FALSE(on.isNull()) << kind;
        ASSERT_FALSE(off.isNull()) << kind;
        EXPECT_NE(on, off) << kind;
    }
    EXPECT_TRUE(LedPicture("LEDPINKON").isNull());

    TComLed lamp;
    lamp.SetKind(lkGreenLight);
    auto centre = [&lamp] { return lamp.grab().toImage().pixelColor(12, 12); };
    QColor dark = centre();
    std::vector<TLedState> changes;
    lamp.OnChange = [&changes](TComLed*, TLedState s) { changes.push_back(s); };
    lamp.SetState(lsOn);
    EXPECT_GT(centre().lightness(), dark.lightness());
    lamp.setEnabled(false);
    EXPECT_EQ(centre(), dark); // a disabled lamp shows the off picture
    EXPECT_EQ(changes, std::vector<TLedState>{lsOn});

    // A custom lamp takes the program's pictures; others ignore them.
    QPixmap square(10, 10);
    square.fill(Qt::magenta);
    lamp.SetGlyphOn(square);
    EXPECT_NE(lamp.GlyphOn().toImage().pixelColor(5, 5), QColor(Qt::magenta));
    lamp.SetKind(lkCustom);
    lamp.SetGlyphOn(square);
    lamp.SetGlyphOff(square);
    lamp.setEnabled(true);
    EXPECT_EQ(centre(), QColor(Qt::magenta));
}

TEST(Lamp, FollowsThePortsConnectionActivityAndRing)
{
    FarEnd far;
    TComPort port(nullptr);
    port.SetPort(far.Path());
    TComLed conn, rx, ring;
    rx.SetLedSignal(lsRx);
    ring.SetLedSignal(lsRing);
    ring.SetRingDuration(50);
    std::vector<TLedState> rx_changes;
    rx.OnChange = [&rx_changes](TComLed*, TLedState s) { rx_changes.push_back(s); };
    conn.SetComPort(&port); // a closed port leaves the lamp as it is
    EXPECT_EQ(conn.State(), lsOff);
    rx.SetComPort(&port);
    ring.SetComPort(&port);

    EXPECT_THROW(conn.SetState(lsOn), EComPort);
    try {
        conn.SetState(lsOn);
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), 19);
        EXPECT_STREQ(e.what(), "Cannot change led state if ComPort is selected");
    }

    std::string got;
    port.OnRxChar = [&](TObject*, int32_t count) {
        std::string chunk;
        port.ReadStr(chunk, count);
        got += chunk;
    };
    port.Open();
    EXPECT_EQ(conn.State(), lsOn);
    far.Send("data");
    ASSERT_TRUE(PumpUntil([&] { return got == "data" && rx.State() == lsOff; }));
    ASSERT_GE(rx_changes.size(), 2u);
    EXPECT_EQ(rx_changes.front(), lsOn); // lit while bytes waited, dark once read

    port.NotifyLink(leRing);
    EXPECT_EQ(ring.State(), lsOn);
    ASSERT_TRUE(PumpUntil([&] { return ring.State() == lsOff; }));

    port.Close();
    EXPECT_EQ(conn.State(), lsOff);
    conn.SetComPort(nullptr);
    conn.SetState(lsOn); // a plain lamp again
    EXPECT_EQ(conn.State(), lsOn);
}

TEST(Lamp, LetsGoOfADestroyedPort)
{
    auto port = std::make_unique<TComPort>(nullptr);
    TComLed lamp;
    lamp.SetComPort(port.get());
    port.reset();
    EXPECT_EQ(lamp.ComPort(), nullptr);
    lamp.SetState(lsOn);
    EXPECT_EQ(lamp.State(), lsOn);
}

} // namespace
