#include "cli/CImageCommand.h"

#include "cli/CCliApplication.h"
#include "cli/CInterruptWatch.h"
#include "cli/CProgressPrinter.h"
#include "disk/CVolumeImager.h"

#include <QString>

#include <cstdio>

namespace {

void printErr(const QString& text)
{
    std::fputs(text.toUtf8().constData(), stderr);
    std::fflush(stderr);
}

} // namespace

QString CImageCommand::usage()
{
    return QStringLiteral(
        "  image SOURCE OUT.img [--map OUT.map] [--retry-time SECONDS]\n"
        "      Copies SOURCE (a failing disk, say) into the image file OUT.img before it\n"
        "      gets worse, good parts first: where reads fail it skips ahead, and reads the\n"
        "      skipped stretches again at the end, sector by sector, for at most SECONDS\n"
        "      (60 by default). Keeps a map in GNU ddrescue's mapfile format (OUT.map beside\n"
        "      the image unless --map names it): run the same command again to go on where it\n"
        "      stopped, or go on with ddrescue. Sectors that could not be read are zeros in\n"
        "      the image; scanning the image finds the map beside it (or takes --map) and\n"
        "      treats them as unreadable. SOURCE is only read.\n");
}

int CImageCommand::run(const QStringList& arguments)
{
    QStringList positional;
    QString map;
    int64_t budgetMs = 60 * 1000;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == QLatin1String("--map") || a == QLatin1String("--retry-time")) {
            if (i + 1 >= arguments.size()) {
                printErr(QStringLiteral("tamsel-cli: %1 needs a value\n\n").arg(a) + CCliApplication::usage());
                return CCliApplication::ExitUsage;
            }
            const QString value = arguments[++i];
            if (a == QLatin1String("--map")) {
                map = value;
                continue;
            }
            bool ok = false;
            const double seconds = value.toDouble(&ok);
            if (!ok || seconds < 0 || seconds > 7 * 24 * 3600) {
                printErr(QStringLiteral("tamsel-cli: --retry-time takes seconds from 0 to 604800, not '%1'\n\n").arg(value)
                         + CCliApplication::usage());
                return CCliApplication::ExitUsage;
            }
            budgetMs = static_cast<int64_t>(seconds * 1000.0);
        } else if (a.startsWith(QLatin1String("--"))) {
            printErr(QStringLiteral("tamsel-cli: unknown option '%1' for image\n\n").arg(a) + CCliApplication::usage());
            return CCliApplication::ExitUsage;
        } else {
            positional << a;
        }
    }
    if (positional.size() != 2) {
        printErr(QStringLiteral("tamsel-cli: image needs a SOURCE and an OUT.img\n\n") + CCliApplication::usage());
        return CCliApplication::ExitUsage;
    }

    CVolumeImager imager(positional[0], positional[1], map);
    imager.setLastPassBudget(budgetMs);
    CProgressPrinter progress;
    bool started = false;
    CInterruptWatch interrupt([]() {
        printErr(QStringLiteral("\ntamsel-cli: stopping the copy here (the map says where), press Ctrl-C again to "
                                "abort.\n"));
    });
    QString error;
    const bool ok = imager.run(
        [&](const CVolumeImager::Progress& p) {
            if (!started) {
                progress.start(p.total);
                started = true;
            }
            progress.update(p.total > 0 ? p.done * 1000 / p.total : 0, p.unreadable);
        },
        []() { return !CInterruptWatch::interrupted(); }, &error);
    progress.finish();
    if (!ok) {
        printErr(QStringLiteral("tamsel-cli: %1\n").arg(error));
        return CCliApplication::ExitFailure;
    }
    const CDdrescueMap& m = imager.map();
    const int64_t unread = m.unread().totalBytes();
    QString text = QStringLiteral("%1 copied into %2 (%3 bytes%4); map: %5.\n")
                       .arg(positional[0], positional[1])
                       .arg(imager.sourceLength())
                       .arg(imager.resumed() ? QStringLiteral(", going on from the map") : QString())
                       .arg(map.isEmpty() ? CVolumeImager::mapBeside(positional[1]) : map);
    if (unread > 0)
        text += QStringLiteral("Warning: %1 byte(s) could not be read (%2 in bad sectors, %3 not narrowed down in the "
                               "time given, %4 not tried): they are zeros in the image. Run the same command again "
                               "to retry them.\n")
                    .arg(unread)
                    .arg(m.bytesWith(CDdrescueMap::BadSector))
                    .arg(m.bytesWith(CDdrescueMap::NonTrimmed) + m.bytesWith(CDdrescueMap::NonScraped))
                    .arg(m.bytesWith(CDdrescueMap::NonTried));
    printErr(text);
    if (CInterruptWatch::interrupted())
        return CCliApplication::ExitInterrupted;
    return CCliApplication::ExitOk;
}
