#pragma once

namespace kolvena::ui {

// The ids of the window's commands, shared by its menus, buttons and toolbar. Each command's
// QAction carries its id as its object name, which is how tests find and trigger it.
enum Command : int {
    ID_ABOUT = 16,
    ID_CREATE = 32771,
    ID_JOIN = 32772,
    ID_SLEEP = 32773,
    ID_LEAVE = 32774,
    ID_SEARCH = 32775,
    ID_MANAGE = 32776,
    ID_SEND = 32778,
    ID_STATUS = 32780,
    ID_RENAME = 32781,
    ID_SETTINGS = 32794,
    ID_SAVE_TEXT = 32798,
    ID_OPEN_RECORDING = 32799,
    ID_PAUSE = 32801,
    ID_MANAGE_HISTORY = 32802,
    ID_SPEED_NORMAL = 32803,
    ID_SPEED_FAST = 32804,
    ID_SPEED_SLOW = 32805,
    ID_SPEED_FASTEST = 32806,
    ID_HELP = 32808,
    ID_CLEAR = 32816,
    ID_OFFER = 32818,
    ID_SAVE_RECORDING = 32820,
    ID_RECOMMEND = 32821,
    ID_HOME_PAGE = 32822,
    ID_MEMBER_INFO = 32823,
    ID_OPEN_TEXT = 32826,
    ID_REPLAY_WINDOW = 32828,
    ID_RECORDING_PROPERTIES = 32830,
    ID_FIND = 32840,
    ID_EXIT = 57665,
};

} // namespace kolvena::ui
