// The browser engine's part of the nepirika program: the window and `nepirika harvest`. A module
// of its own, which the executable loads only for them (see EngineModule.h): the commands that need
// no engine start without loading its libraries.

#include "AppIcon.h"
#include "AppSettings.h"
#include "BrowserProfileFolder.h"
#include "CommandApplication.h"
#include "EngineModule.h"
#include "EngineNoise.h"
#include "HarvestCommand.h"
#include "NepirikaApplication.h"
#include "ProgramFolders.h"
#include "ProgramUsage.h"
#include "TForm1.h"
#include "TForm3.h"
#include "TerminationSignals.h"
#include "WebEngineSetup.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QStringList>
#include <QTranslator>

#include <cstdio>
#include <memory>

namespace {

int runHarvest(int argc, char** argv, const QStringList& arguments) {
    // No window: the engine renders offscreen unless the caller chose a platform.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The engine's own messages stay off standard error unless --verbose asks for them.
    const bool verbose = EngineNoise::verboseRequested(arguments);
    if (!verbose) {
        EngineNoise::quietEngineBeforeApplication();
        EngineNoise::startLineFilter();
        EngineNoise::quietToolkitMessages();
    }
    WebEngineSetup::prepareBeforeApplication();
    int status = 0;
    {
        // Widgets: the pages' window-sized viewports are views (see WindowViewport).
        CommandApplication<QApplication> app(argc, argv);
        status = CommandApplication<QApplication>::run([&]() { return HarvestCommand::run(arguments); });
    }
    if (!verbose)
        EngineNoise::stopLineFilter();
    return status;
}

int usageError(const QString& message) {
    std::fprintf(stderr, "nepirika: %s\n", qUtf8Printable(message));
    ProgramUsage::print(stderr);
    return 2;
}

QStringList argumentsOf(int argc, char** argv) {
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));
    return args;
}

// The toolkit's own options that the window accepts, each with the value that follows it.
bool isToolkitOption(const QString& arg, bool* takesValue) {
    static const QStringList withValue = {QStringLiteral("-platform"),     QStringLiteral("-style"),
                                          QStringLiteral("-stylesheet"),   QStringLiteral("-display"),
                                          QStringLiteral("-geometry"),     QStringLiteral("-qwindowgeometry"),
                                          QStringLiteral("-qwindowtitle"), QStringLiteral("-platformtheme")};
    static const QStringList alone = {QStringLiteral("-reverse")};
    *takesValue = withValue.contains(arg);
    return *takesValue || alone.contains(arg);
}

// An option that is neither ours nor the toolkit's is a usage error, told before any window opens.
QString unknownOption(const QStringList& args) {
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (arg == QLatin1String("--"))
            return {};
        bool takesValue = false;
        if (isToolkitOption(arg, &takesValue)) {
            i += takesValue ? 1 : 0;
            continue;
        }
        if (arg.startsWith(QLatin1Char('-')))
            return arg;
    }
    return {};
}

int runWindow(int argc, char** argv) {
    const QString refusal = WebEngineSetup::prepareWindowBeforeApplication();
    if (!refusal.isEmpty()) {
        std::fprintf(stderr, "nepirika: %s\n", qUtf8Printable(refusal));
        // Told in a box too when there is a screen to show it on.
        QApplication app(argc, argv);
        const QString platform = QGuiApplication::platformName();
        if (platform != QLatin1String("offscreen") && platform != QLatin1String("minimal"))
            QMessageBox::critical(nullptr, QStringLiteral("ネピリカ"), refusal);
        return 1;
    }
    // The engine describes its graphics set-up at start-up: nothing a user of the window reads.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
    NepirikaApplication app(argc, argv);
    // SIGTERM, SIGHUP and SIGINT close the window as ファイル → 閉じる does: running downloads are
    // cancelled and their unfinished files removed as the window goes. (One that comes before the
    // event loop runs is acted on as soon as it does.)
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, &app, &QCoreApplication::quit);
    // The name of the folders the toolkit and the engine keep files in, as the program's own
    // (ProgramFolders); people read the display name.
    QApplication::setApplicationName(ProgramFolders::Name);
    QApplication::setApplicationDisplayName(QStringLiteral("ネピリカ"));
    QApplication::setApplicationVersion(QStringLiteral(NEPIRIKA_VERSION));
    // The desktop entry the window belongs to, and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("nepirika"));
    QApplication::setWindowIcon(AppIcon::icon());

    // The window speaks Japanese whatever the locale, so the toolkit's own texts do too.
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"),
                          QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);

    // Qt has taken its own options (-style, -platform, ...) out of argv; the rest are addresses
    // ("--" only says that no options follow).
    QStringList addresses = QApplication::arguments().mid(1);
    addresses.removeOne(QStringLiteral("--"));

    // The window remembers its state in the user's settings file.
    TForm1::Options options;
    options.settingsFile = AppSettings::defaultFile();
    options.offerKeptDownloads = true;
    // The hidden pages, thumbnails, probes and downloads share the log-ins kept in the user's data folder.
    options.browserFolder = BrowserProfileFolder::window();
    auto Form1 = std::make_unique<TForm1>(options);
    // One text view window is made at start-up and never shown; the view commands open their own.
    auto Form3 = std::make_unique<TForm3>();
    if (!addresses.isEmpty())
        Form1->setAddresses(addresses);
    Form1->show();
    const int status = QApplication::exec();
    Form3.reset();
    Form1.reset();
    return status;
}

} // namespace

extern "C" NEPIRIKA_ENGINE_EXPORT const char* nepirika_engine_version() {
    return NEPIRIKA_VERSION;
}

extern "C" NEPIRIKA_ENGINE_EXPORT int nepirika_engine_main(int argc, char** argv) {
    const QStringList args = argumentsOf(argc, argv);
    if (!args.isEmpty() && args.first() == QLatin1String("harvest"))
        return runHarvest(argc, argv, args.mid(1));
    const QString unknown = unknownOption(args);
    if (!unknown.isEmpty())
        return usageError(QStringLiteral("unknown option %1").arg(unknown));
    return runWindow(argc, argv);
}
