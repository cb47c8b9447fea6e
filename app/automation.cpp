#include "app/automation.h"

#include <QFile>
#include <QPixmap>
#include <QPushButton>
#include <QSlider>
#include <QStringList>
#include <QTimer>

#include <cstdio>

#include "app/form1.h"

namespace {

int exit_status = 0;

void fail(const QString& line)
{
    std::fprintf(stderr, "tarnby: %s\n", line.toLocal8Bit().constData());
    exit_status = 1;
}

// Saves through a file opened here, so a failure can say why.
bool save_png(const QPixmap& picture, const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        fail(QStringLiteral("TARNBY_SCREENSHOT: cannot write %1: %2").arg(path, file.errorString()));
        return false;
    }
    if (!picture.save(&file, "PNG") || !file.flush()) {
        fail(QStringLiteral("TARNBY_SCREENSHOT: cannot write %1: %2").arg(path, file.errorString()));
        file.close();
        file.remove();  // no half a picture left behind under the asked-for name
        return false;
    }
    return true;
}

} // namespace

int automation_exit_status()
{
    return exit_status;
}

void install_automation(TForm1& form)
{
    if (qEnvironmentVariableIntValue("TARNBY_AUTO_CONNECT") == 1)
        QTimer::singleShot(50, &form, [&form] { form.Button3->click(); });

    const QString sliders = qEnvironmentVariable("TARNBY_AUTO_ON");
    if (!sliders.isEmpty()) {
        QSlider* const order[] = {form.TrackBar1, form.TrackBar2, form.TrackBar3,
                                  form.TrackBar4, form.TrackBar5, form.TrackBar6};
        const QStringList values = sliders.split(QLatin1Char(','));
        if (values.size() > 6)
            fail(QStringLiteral("TARNBY_AUTO_ON: six values at most (heading, pitch, bank, slip, turn, G), not %1")
                     .arg(values.size()));
        for (int i = 0; i < values.size() && i < 6; ++i) {
            bool ok = false;
            const int value = values[i].trimmed().toInt(&ok);
            if (ok)
                order[i]->setValue(value);
            else
                fail(QStringLiteral("TARNBY_AUTO_ON: '%1' is not a whole number").arg(values[i]));
        }
        // Queued: ON runs the instrument inside the message loop.
        QTimer::singleShot(100, &form, [&form] { form.Button1->click(); });
    }

    const QString file = qEnvironmentVariable("TARNBY_SCREENSHOT");
    if (!file.isEmpty()) {
        int delay = 1500;
        const QString delay_text = qEnvironmentVariable("TARNBY_SCREENSHOT_DELAY");
        if (!delay_text.isEmpty()) {
            bool ok = false;
            delay = delay_text.trimmed().toInt(&ok);
            if (!ok || delay < 0) {
                fail(QStringLiteral("TARNBY_SCREENSHOT_DELAY: '%1' is not a number of milliseconds").arg(delay_text));
                delay = 1500;
            }
        }
        QTimer::singleShot(delay, &form, [&form, file] {
            save_png(form.grab(), file);
            form.close();
        });
    }
}
