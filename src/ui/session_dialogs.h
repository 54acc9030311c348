#pragma once

#include <QDialog>
#include <functional>
#include <optional>
#include <string>

#include "net/session_search.h"
#include "protocol/commands.h"
#include "session/address_code.h"

class QCheckBox;
class QLineEdit;
class QRadioButton;

namespace kolvena::ui {

// The dialogs around creating, joining and renaming. Every control carries its id as its
// object name. Texts they return are GBK, cut to their fields' byte limits while typed.

// Dialog 130: the own host's address and the code made from it.
class CreateSessionDialog final : public QDialog {
public:
    // hostAddress is the dotted own address (UTF-8); port is shown read-only.
    CreateSessionDialog(const std::string& hostAddress, std::uint16_t port,
                        QWidget* parent = nullptr);
    // The code button 1026 made, 0 before it is pressed.
    AddressCode Code() const { return code_; }

private:
    void MakeCode();

    QLineEdit* address_;
    QLineEdit* port_;
    QLineEdit* codeEdit_;
    AddressCode code_ = 0;
};

// Dialog 133: the leader's nickname and the topic, with one button "确定". Closing it cancels.
class HostInfoDialog final : public QDialog {
public:
    // Gets the GBK name and topic on "确定"; false keeps the dialog open.
    using Validator = std::function<bool(const std::string& name, const std::string& topic)>;
    // name and topic are the start values (UTF-8).
    HostInfoDialog(const std::string& name, const std::string& topic, Validator validate,
                   QWidget* parent = nullptr);
    std::string Name() const;
    std::string Topic() const;

private:
    QLineEdit* name_;
    QLineEdit* topic_;
    Validator validate_;
};

// Dialog 132: by code or by address.
class JoinSessionDialog final : public QDialog {
public:
    // Gets the request on "加入会话"; false keeps the dialog open.
    using Validator = std::function<bool(const JoinRequest& request)>;
    // Runs a search and gives the session chosen there, if any.
    using Search = std::function<std::optional<SessionFound>()>;
    // proposedName is GBK ("游客" followed by the time). With a search, button 1043 "搜索..."
    // runs it and fills in what it found.
    explicit JoinSessionDialog(const std::string& proposedName, Validator validate = {},
                               Search search = {}, QWidget* parent = nullptr);
    // By address at the found session's address and port, so that only the name is asked.
    void Prefill(const SessionFound& found);
    JoinRequest Request() const;

private:
    void ApplyMode();
    void ApplyDefaultPort();

    Validator validate_;
    Search search_;
    // The session a search found; it is joined at its own port while its address stands.
    std::optional<SessionFound> found_;

    QLineEdit* name_;
    QRadioButton* byCode_;
    QRadioButton* byAddress_;
    QLineEdit* code_;
    QLineEdit* address_;
    QCheckBox* defaultPort_;
    QLineEdit* port_;
};

// Dialog 135: the new name, empty at start.
class RenameDialog final : public QDialog {
public:
    // Gets the GBK name on "确定"; false keeps the dialog open.
    using Validator = std::function<bool(const std::string& name)>;
    explicit RenameDialog(Validator validate, QWidget* parent = nullptr);
    std::string Name() const;

private:
    QLineEdit* name_;
    Validator validate_;
};

} // namespace kolvena::ui
