#pragma once

#include <QApplication>

namespace kolvena {

// The application object: it makes the one window and runs it until the user exits.
class CSessionApp final : public QApplication {
public:
    CSessionApp(int& argc, char** argv);
    int Run();
};

} // namespace kolvena
