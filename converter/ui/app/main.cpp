// tavrion-converter [FILE...]: the desktop program. Files given are opened as the document
// template does (a ".tvc" as the batch, movies added to it).
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QStringList>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "converter/engine/strings.h"
#include "converter/ui/app/application.h"
#include "converter/ui/app/logo.h"
#include "converter/ui/app/translation.h"
#include "converter/ui/form/formview.h"
#include "media/contract/trace.h"

namespace {

std::string ProgramPath(const char* argv0) {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, size_t(n)) : std::string(argv0);
}

std::string NoDisplayText(const char* reason) {
  return tav::res::FormatId(tav::res::IDS_NO_DISPLAY, {"tavrion-converter", reason});
}

// Qt ends the process when its platform cannot start (no display to connect to); while the
// application is being made, that becomes our own message and exit status 1. With the "ui"
// trace on, the program's own logging categories ("tavrion.ui.*") go to the trace.
bool g_starting = true;
QtMessageHandler g_previousHandler = nullptr;
constexpr char kUiCategoryPrefix[] = "tavrion.ui.";
void MessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (g_starting && type == QtFatalMsg) {
    std::fprintf(stderr, "%s\n", NoDisplayText(text.toLocal8Bit().constData()).c_str());
    std::fflush(stderr);
    _exit(1);
  }
  if (type != QtFatalMsg && context.category && tav::trace::On(tav::trace::Category::kUi) &&
      std::strncmp(context.category, kUiCategoryPrefix, sizeof kUiCategoryPrefix - 1) == 0) {
    tav::trace::Text({tav::trace::Category::kUi, context.category + sizeof kUiCategoryPrefix - 1},
                     text.toUtf8().toStdString());
    return;
  }
  if (g_previousHandler) g_previousHandler(type, context, text);
}

// True when a display server could be reached: a platform chosen explicitly, or one of the
// desktop's display variables set.
bool HaveDisplay(std::string* reason) {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform && *platform) return true;
  for (const char* var : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(var);
    if (value && *value) return true;
  }
  *reason = "neither DISPLAY nor WAYLAND_DISPLAY is set";
  return false;
}

// SIGTERM, SIGINT and SIGHUP (the session ending, Ctrl-C in a terminal) close the program as
// File > Exit does, so its settings are saved, but without asking anything: a running movie
// breaks off and unsaved work stays as a recovery copy for the next start. The handler only
// writes to this pipe, and the GUI thread does the work.
int g_signalPipe[2] = {-1, -1};
void OnTerminationSignal(int) {
  const char c = 1;
  (void)!write(g_signalPipe[1], &c, 1);
}
bool WatchTerminationSignals() {
  if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  struct sigaction sa {};
  sa.sa_handler = OnTerminationSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &sa, nullptr);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  tav::res::LoadSatelliteStrings(ProgramPath(argv[0]), tav::res::MessageLocale());
  // Answered without a display.
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") break;
    if (arg == "--help" || arg == "-h") {
      std::printf(
          "usage: tavrion-converter [FILE...]\n"
          "Opens the desktop converter. A batch file (.tvc) given opens as the batch; movies\n"
          "given are added to it. Qt's own options (-style, -platform, ...) are accepted too.\n"
          "The command-line converter is tavrion-convert.\n");
      return 0;
    }
    if (arg == "--version") {
      std::printf("tavrion-converter %s\n", TAVRION_VERSION);
      return 0;
    }
  }
  std::string reason;
  if (!HaveDisplay(&reason)) {
    std::fprintf(stderr, "%s\n", NoDisplayText(reason.c_str()).c_str());
    return 1;
  }
  g_previousHandler = qInstallMessageHandler(MessageHandler);
  if (tav::trace::On(tav::trace::Category::kUi)) QLoggingCategory::setFilterRules(QStringLiteral("tavrion.ui.*=true"));
  QApplication qtApp(argc, argv);
  g_starting = false;
  QApplication::setApplicationName(QStringLiteral("tavrion-converter"));
  QApplication::setDesktopFileName(QStringLiteral("tavrion-converter"));
  QApplication::setWindowIcon(tav::ui::ApplicationIcon());
  // Before any window exists: the windows read their texts from the string table once.
  tav::ui::Translations translations;
  translations.Install(tav::ui::UserLanguages(), tav::ui::TranslationsFolder(QCoreApplication::applicationDirPath()));

  QStringList files;
  const QStringList args = QApplication::arguments();
  bool afterDashes = false;
  for (int i = 1; i < args.size(); ++i) {
    if (args[i] == QLatin1String("--") && !afterDashes) {
      afterDashes = true;  // everything after "--" is a file, even "-x"
      continue;
    }
    files.append(args[i]);
  }

  tav::ui::ConverterApplication app(ProgramPath(argv[0]));
  app.SetViewFactory(tav::MakeFormView);
  bool quitRequested = false;
  std::unique_ptr<QSocketNotifier> signalNotifier;
  if (WatchTerminationSignals()) {
    signalNotifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(signalNotifier.get(), &QSocketNotifier::activated, [&] {
      char buffer[16];
      while (read(g_signalPipe[0], buffer, sizeof buffer) > 0) {
      }
      quitRequested = true;
      // Modal dialogs first (the start-up notice may be up), then the frame as on Exit.
      while (QWidget* modal = QApplication::activeModalWidget()) {
        if (!modal->close()) break;
      }
      app.OnTerminationSignal();
      QApplication::quit();
    });
  }
  if (!app.InitInstance(files)) return app.ExitInstance(1);
  // A signal during start-up (inside the notice box) ends the program here.
  const int code = quitRequested ? 0 : QApplication::exec();
  return app.ExitInstance(code);
}
