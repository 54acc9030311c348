#include <QCoreApplication>
#include <cstdio>
#include <string>

#include "history_run.h"
#include "peer.h"
#include "peer_options.h"
#include "replay_run.h"
#include "search_run.h"

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    std::string error;
    const auto options = kolvena::peer::ParseOptions(argc, argv, error);
    if (!options) {
        std::fprintf(stderr, "kolvena-peer: %s\n%s", error.c_str(), kolvena::peer::USAGE);
        return 2;
    }
    using kolvena::peer::Role;
    if (options->role == Role::Help) {
        std::fputs(kolvena::peer::USAGE, stdout);
        std::fputs(kolvena::peer::COMMANDS, stdout);
        return 0;
    }
    if (options->role == Role::Version) {
        std::puts("kolvena-peer " KOLVENA_VERSION);
        return 0;
    }
    if (options->role == Role::Replay || options->role == Role::Transcript)
        return kolvena::peer::RunReplay(*options);
    if (options->role == Role::History || options->role == Role::Find)
        return kolvena::peer::RunHistory(*options);
    if (options->role == Role::Search)
        return kolvena::peer::RunSearch(*options);
    kolvena::peer::Peer peer(*options);
    if (const int code = peer.Start(); code != 0)
        return code;
    return app.exec();
}
