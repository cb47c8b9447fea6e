#include "app/automation.h"

#include <QPixmap>
#include <QPushButton>
#include <QSlider>
#include <QStringList>
#include <QTimer>

#include <cstdio>

#include "app/form1.h"

void install_automation(TForm1& form)
{
    if (qEnvironmentVariableIntValue("TARNBY_AUTO_CONNECT") == 1)
        QTimer::singleShot(50, &form, [&form] { form.Button3->click(); });

    const QString sliders = qEnvironmentVariable("TARNBY_AUTO_ON");
    if (!sliders.isEmpty()) {
        QSlider* const order[] = {form.TrackBar1, form.TrackBar2, form.TrackBar3,
                                  form.TrackBar4, form.TrackBar5, form.TrackBar6};
        const QStringList values = sliders.split(',');
        for (int i = 0; i < values.size() && i < 6; ++i)
            order[i]->setValue(values[i].trimmed().toInt());
        // Queued: ON runs the instrument inside the message loop.
        QTimer::singleShot(100, &form, [&form] { form.Button1->click(); });
    }

    const QString file = qEnvironmentVariable("TARNBY_SCREENSHOT");
    if (!file.isEmpty()) {
        bool ok = false;
        int delay = qEnvironmentVariableIntValue("TARNBY_SCREENSHOT_DELAY", &ok);
        if (!ok)
            delay = 1500;
        QTimer::singleShot(delay, &form, [&form, file] {
            if (!form.grab().save(file, "PNG"))
                std::fprintf(stderr, "tarnby: cannot write %s\n", file.toLocal8Bit().constData());
            form.close();
        });
    }
}
