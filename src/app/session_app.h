#pragma once

#include <QApplication>
#include <optional>

namespace kolvena {

inline constexpr char APP_USAGE[] =
    "usage: kolvena [-h | --help | --version] [Qt options]\n"
    "  -h, --help  print this help and exit\n"
    "  --version   print the version and exit\n"
    "Qt's own options are taken as usual: -platform NAME, -style NAME, -stylesheet FILE,\n"
    "-reverse, -qwindowgeometry GEOMETRY, and -display DISPLAY on X11, among others.\n";

// --help or --version anywhere on the command line: prints the usage or the version and gives
// the exit code, without a window or a display.
std::optional<int> AnswerCommandLine(int argc, char** argv);

// The application object: it makes the one window and runs it until the user exits.
class CSessionApp final : public QApplication {
public:
    CSessionApp(int& argc, char** argv);
    // Qt has taken out the options it knows; whatever is left is a mistake, told on standard
    // error with the usage: exit code 2. Nothing when nothing is left.
    std::optional<int> RejectLeftovers() const;
    int Run();
};

} // namespace kolvena
