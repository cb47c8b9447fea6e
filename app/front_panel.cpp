#include "app/front_panel.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>

#include "app/jpeg_image.h"

QString front_panel_path()
{
    const QString file = QString::fromLatin1(FRONT_PANEL_FILE);
    const QString override_dir = qEnvironmentVariable("TARNBY_ASSETS");
    // An explicit choice is honoured even when the file is missing there:
    // falling back silently would hide the mistake.
    if (!override_dir.isEmpty())
        return QDir(override_dir).filePath(file);

    QStringList candidates;
    if (QCoreApplication::instance()) {
        const QDir program_dir(QCoreApplication::applicationDirPath());
        candidates << program_dir.filePath(QStringLiteral("assets/") + file)
                   << program_dir.filePath(QStringLiteral("../assets/") + file);
    }
    const QString source_tree = QDir(QStringLiteral(TARNBY_ASSET_DIR)).filePath(file);
    candidates << source_tree;
    for (const QString& path : candidates) {
        if (QFileInfo::exists(path))
            return QDir::cleanPath(path);
    }
    return source_tree;
}

QImage load_front_panel()
{
    const QString path = front_panel_path();
    QString why;
    QImage picture = load_jpeg_file(path, &why);
    if (picture.isNull()) {
        const QString line =
            QStringLiteral("tarnby: front-panel picture not shown (%1: %2); showing a plain face\n").arg(path, why);
        std::fputs(line.toLocal8Bit().constData(), stderr);
        std::fflush(stderr);
    }
    return picture;
}
