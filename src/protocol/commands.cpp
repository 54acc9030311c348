#include "commands.h"

#include "session_core.h"

namespace kolvena {

// Being written.
bool Commands::CreateBegin() {
    return false;
}
void Commands::CreateCancel() {}
bool Commands::ValidateHostDetails(const std::string&, const std::string&) {
    return false;
}
bool Commands::CreateFinish(const std::string&, const std::string&) {
    return false;
}
bool Commands::JoinBegin() {
    return false;
}
std::string Commands::ProposedJoinName() const {
    return {};
}
void Commands::JoinCancel() {}
void Commands::JoinFinish(const JoinRequest&) {}
void Commands::OnConnectResult(bool) {}
void Commands::JoinTick() {}
void Commands::Leave() {}
void Commands::SleepOrWake() {}
bool Commands::RenameBegin() {
    return false;
}
bool Commands::ValidateRename(const std::string&) {
    return false;
}
void Commands::RenameFinish(const std::string&) {}
SendOutcome Commands::Send(const SendInput&) {
    return {};
}
void Commands::Clear() {}
SettingsValues Commands::OpenSettings() const {
    return {};
}
bool Commands::ValidateSettings(const SettingsValues&) {
    return false;
}
void Commands::ApplySettings(const SettingsValues&) {}
void Commands::SaveRecording() {}

} // namespace kolvena
