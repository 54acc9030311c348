#include <QCoreApplication>
#include <cstdio>
#include <string>

#include "peer.h"
#include "peer_options.h"

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    std::string error;
    const auto options = kolvena::peer::ParseOptions(argc, argv, error);
    if (!options) {
        std::fprintf(stderr, "kolvena-peer: %s\n%s", error.c_str(), kolvena::peer::kUsage);
        return 2;
    }
    kolvena::peer::Peer peer(*options);
    if (const int code = peer.Start(); code != 0)
        return code;
    return app.exec();
}
