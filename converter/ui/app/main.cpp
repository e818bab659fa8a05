// tavrion-converter [FILE...]: the desktop program. Files given are opened as the document
// template does (a ".tvc" as the batch, movies added to it).
#include <unistd.h>

#include <QApplication>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "converter/engine/strings.h"
#include "converter/ui/app/application.h"
#include "converter/ui/app/logo.h"
#include "converter/ui/form/formview.h"

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
// application is being made, that becomes our own message and exit status 1.
bool g_starting = true;
QtMessageHandler g_previousHandler = nullptr;
void StartupMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (g_starting && type == QtFatalMsg) {
    std::fprintf(stderr, "%s\n", NoDisplayText(text.toLocal8Bit().constData()).c_str());
    std::fflush(stderr);
    _exit(1);
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

}  // namespace

int main(int argc, char** argv) {
  tav::res::LoadSatelliteStrings(ProgramPath(argv[0]), tav::res::MessageLocale());
  std::string reason;
  if (!HaveDisplay(&reason)) {
    std::fprintf(stderr, "%s\n", NoDisplayText(reason.c_str()).c_str());
    return 1;
  }
  g_previousHandler = qInstallMessageHandler(StartupMessageHandler);
  QApplication qtApp(argc, argv);
  g_starting = false;
  QApplication::setApplicationName(QStringLiteral("tavrion-converter"));
  QApplication::setDesktopFileName(QStringLiteral("tavrion-converter"));
  QApplication::setWindowIcon(tav::ui::ApplicationIcon());

  QStringList files;
  const QStringList args = QApplication::arguments();
  for (int i = 1; i < args.size(); ++i) {
    if (args[i] == QLatin1String("--")) continue;
    files.append(args[i]);
  }

  tav::ui::ConverterApplication app(ProgramPath(argv[0]));
  app.SetViewFactory(tav::MakeFormView);
  if (!app.InitInstance(files)) return app.ExitInstance(1);
  const int code = QApplication::exec();
  return app.ExitInstance(code);
}
