#include "Version.h"
#include "app/CommandLine.h"
#include "app/HeadlessRun.h"
#include "app/NightCommands.h"
#include "app/ProgramFolder.h"
#include "app/frmMain.h"
#include "host/HostFactory.h"
#include "web/WebService.h"

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

void print(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
}

// The command line is read before any application object exists: which one to make depends on it,
// and one that needs a display must not be made without one.
std::optional<CommandLine> parseArguments(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QString error;
    auto commandLine = parseCommandLine(arguments, error);
    if (!commandLine) {
        const QString help = helpText();
        print(stderr, QStringLiteral("kestrove: %1\n").arg(error) + help.left(help.indexOf(u"\n\n") + 1));
    }
    return commandLine;
}

// Fills in the folders the command line leaves open; needs the application object.
void resolveFolders(CommandLine& commandLine)
{
    const QString executableFolder = QCoreApplication::applicationDirPath();
    const QString programFolder =
        commandLine.folder.isEmpty()
            ? defaultProgramFolder(executableFolder,
                                   QStandardPaths::writableLocation(QStandardPaths::AppDataLocation),
                                   QFileInfo(executableFolder).isWritable())
            : QDir(commandLine.folder).absolutePath();
    commandLine.folder = programFolder;
    commandLine.observatory = commandLine.observatory.isEmpty()
                                  ? QDir(programFolder).filePath(QStringLiteral("observatory"))
                                  : QDir(commandLine.observatory).absolutePath();
}

// True when the toolkit has somewhere to show a window: a platform named, or a display to reach.
bool haveDisplay(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i)
        if (QByteArray(argv[i]) == "-platform")
            return true;
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
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
    std::unique_ptr<WebService> web;
    try {
        web = std::make_unique<WebService>(window->core, window->shown, commandLine.observatory, commandLine.webPort);
        for (const QString& line : web->start())
            print(stdout, line + u'\n');
    } catch (const std::exception& error) {
        QMessageBox::critical(nullptr, QStringLiteral("Kestrove"), QString::fromUtf8(error.what()));
        return 1;
    }
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
    std::optional<CommandLine> commandLine = parseArguments(argc, argv);
    if (!commandLine)
        return 2;
    if (commandLine->help) {
        print(stdout, helpText());
        return 0;
    }
    if (commandLine->version) {
        print(stdout,
              QStringLiteral("kestrove %1.%2.%3\n").arg(versionMajor).arg(versionMinor).arg(versionRevision));
        return 0;
    }

    QCoreApplication::setApplicationName(QStringLiteral("kestrove"));
    if (commandLine->headless && commandLine->webPort > 0) {
        // The web page's night chart is drawn with Qt Charts, offscreen.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        resolveFolders(*commandLine);
        return runHeadless(*commandLine);
    }
    if (commandLine->headless || commandLine->close) {
        QCoreApplication app(argc, argv);
        resolveFolders(*commandLine);
        return runHeadless(*commandLine);
    }
    if (commandLine->preview || commandLine->report) {
        // The charts need a QApplication, but they go to files: they are drawn offscreen unless the
        // user names a platform.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        resolveFolders(*commandLine);
        return commandLine->preview ? runPreviewCommand(*commandLine) : runReportCommand(*commandLine);
    }

    if (!haveDisplay(argc, argv)) {
        print(stderr, QStringLiteral("kestrove: the window needs a display, and there is none (DISPLAY and "
                                     "WAYLAND_DISPLAY are not set). Without one, use --headless, --preview "
                                     "or --report; --help lists the options.\n"));
        return 1;
    }
    // The toolkit takes its own options (-platform and the like) out of the arguments first.
    QApplication app(argc, argv);
    resolveFolders(*commandLine);
    return runWindow(*commandLine);
}
