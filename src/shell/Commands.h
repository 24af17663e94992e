#pragma once

namespace kelvora {

// The main window's command numbers, as its menus deliver them.
enum Command : int {
    ID_CMD_ABOUT = 16, // the about item after the context menu's own items
    ID_CMD_MOVE = 32771,
    ID_CMD_FRAME = 32772,
    ID_CMD_CLOSE = 32773,
    ID_CMD_LANGUAGE = 32774,
    ID_CMD_SETTINGS = 32775,
    ID_CMD_EXIT = 32776,
    ID_CMD_SHOW = 32777,
};

} // namespace kelvora
