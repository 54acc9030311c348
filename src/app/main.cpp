#include "session_app.h"

int main(int argc, char** argv) {
    // --help and --version answer before Qt starts, which needs a display.
    if (const auto code = kolvena::AnswerCommandLine(argc, argv))
        return *code;
    kolvena::CSessionApp app(argc, argv);
    if (const auto code = app.RejectLeftovers())
        return *code;
    return app.Run();
}
