#include "app/CommandLine.h"
#include "app/HeadlessRun.h"
#include "app/ProgramFolder.h"
#include "app/frmMain.h"
#include "host/HostFactory.h"
#include "report/charts/NightOutput.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTimer>
#include <cstdio>
#include <exception>
#include <memory>

namespace {

using namespace kestrove;

const char* const usage =
    "usage: kestrove [--folder DIR] [--observatory DIR] [--headless] [--start]\n"
    "                [--passes N] [--until INSTANT]\n"
    "       kestrove --close [--folder DIR] [--observatory DIR]\n"
    "       kestrove --preview [--night YYYY-MM-DD | --from INSTANT --to INSTANT] [--out DIR]\n"
    "                [--folder DIR] [--observatory DIR]\n"
    "       kestrove --report [--night YYYY-MM-DD] [--out DIR] [--folder DIR] [--observatory DIR]\n";

// Parses what the toolkit left; fills in the folders the command line leaves open.
std::optional<CommandLine> readCommandLine()
{
    QString error;
    auto commandLine = parseCommandLine(QCoreApplication::arguments().mid(1), error);
    if (!commandLine) {
        std::fprintf(stderr, "kestrove: %s\n%s", qPrintable(error), usage);
        return std::nullopt;
    }
    const QString executableFolder = QCoreApplication::applicationDirPath();
    const QString programFolder =
        commandLine->folder.isEmpty()
            ? defaultProgramFolder(executableFolder,
                                   QStandardPaths::writableLocation(QStandardPaths::AppDataLocation),
                                   QFileInfo(executableFolder).isWritable())
            : QDir(commandLine->folder).absolutePath();
    commandLine->folder = programFolder;
    commandLine->observatory = commandLine->observatory.isEmpty()
                                   ? QDir(programFolder).filePath(QStringLiteral("observatory"))
                                   : QDir(commandLine->observatory).absolutePath();
    return commandLine;
}

int runWindow(const CommandLine& commandLine)
{
    std::unique_ptr<Host> observatory;
    std::unique_ptr<frmMain> window;
    QStringList notes;
    try {
        observatory = createHost(commandLine.observatory, &notes);
        window = std::make_unique<frmMain>(*observatory, commandLine.folder);
    } catch (const std::exception& error) {
        QMessageBox::critical(nullptr, QStringLiteral("Kestrove"), QString::fromUtf8(error.what()));
        return 1;
    }
    window->core.runLimits = commandLine.limits;
    window->setObservatoryFolder(commandLine.observatory);
    window->show();
    if (!notes.isEmpty())
        QTimer::singleShot(0, window.get(), [&window, notes] { window->showMessage(notes.join(u'\n')); });
    if (commandLine.start)
        QTimer::singleShot(0, window.get(), &frmMain::startClicked);
    const int status = QApplication::exec();
    return status != 0 ? status : window->exitStatus();
}

} // namespace

int main(int argc, char* argv[])
{
    bool headless = false;
    bool night = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        night = night || argument == "--preview" || argument == "--report";
        headless = headless || argument == "--headless" || argument == "--close";
    }

    if (night) {
        // The charts need a QApplication; without a display it draws offscreen.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
            qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        const auto commandLine = readCommandLine();
        if (!commandLine)
            return 2;
        return commandLine->preview ? runPreviewCommand(*commandLine) : runReportCommand(*commandLine);
    }

    QCoreApplication::setApplicationName(QStringLiteral("kestrove"));
    if (headless) {
        QCoreApplication app(argc, argv);
        const auto commandLine = readCommandLine();
        return commandLine ? runHeadless(*commandLine) : 2;
    }
    // The toolkit takes its own options (-platform and the like) out of the arguments first.
    QApplication app(argc, argv);
    const auto commandLine = readCommandLine();
    return commandLine ? runWindow(*commandLine) : 2;
}
