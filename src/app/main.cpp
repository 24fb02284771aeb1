// trelvix-iphone: the window that converts one video at a time into an MP4 an iPhone plays.
//
//   trelvix-iphone [VIDEO [SUBTITLES]]
//
// VIDEO is added as if chosen with the Add button; SUBTITLES (.txt, .sub, .srt, .ssa, .ass, .smi)
// are then loaded to be burned into the picture.
#include <QApplication>
#include <QStringList>
#include <clocale>
#include <cstdio>
#include <cstring>

#include "app/desktop_id.h"
#include "app/main_window.h"
#include "app/option_window.h"
#include "app/widgets/mb_button.h"
#include "app/widgets/previewer.h"
#include "profile/iphone_profile.h"
#include "runtime/application.h"
#include "runtime/main_thread.h"
#include "runtime/settings_store.h"

namespace {

constexpr char kUsage[] =
    "Usage: trelvix-iphone [VIDEO [SUBTITLES]]\n"
    "       trelvix-iphone --help | --version\n"
    "\n"
    "Opens the window that converts VIDEO into an MP4 file an iPhone plays, with SUBTITLES\n"
    "burned into the picture when given (else those of a subtitle file beside VIDEO with the\n"
    "same base name, or a text subtitle track of VIDEO in your language or flagged default or\n"
    "forced, while the subtitle settings load subtitles automatically).\n"
    "\n"
    "  --help     print this text and exit\n"
    "  --version  print the version and exit\n"
    "Qt's own options, such as -platform NAME or -display DISPLAY, are taken as well.\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace trelvix;
  // Answered before the window system is reached, so that they work without a display.
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("%s %s\n", profile::kProgramName, profile::kProgramVersion);
    return 0;
  }
  QApplication app(argc, argv);
  std::setlocale(LC_NUMERIC, "C");  // the media libraries parse numbers in the C locale
  runtime::SetMainThread();
  runtime::ConnectMainThreadQueueToEventLoop();
  QApplication::setApplicationName(QStringLiteral("trelvix-iphone"));
  QApplication::setApplicationDisplayName(QLatin1String(app::kApplicationTitle));
  QGuiApplication::setDesktopFileName(
      QLatin1String(app::kDesktopId));  // ties the window to its entry
  app::InstallPreviewerFactory();

  app::TfrmMain frmMain;
  app::TfrmOption frmOption([&frmMain] { return frmMain.btnHi->Down(); });
  frmMain.SetOptionWindow(&frmOption);
  frmOption.FormCreate(runtime::UserSettings(), QApplication::applicationFilePath(),
                       QApplication::arguments().mid(1), frmMain);
  frmMain.show();
  return QApplication::exec();
}
