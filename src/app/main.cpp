#include "session_app.h"

int main(int argc, char** argv) {
    kolvena::CSessionApp app(argc, argv);
    return app.Run();
}
