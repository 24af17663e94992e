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
    // Our own: the face's size, 33000 + percent.
    ID_CMD_SIZE_100 = 33100,
    ID_CMD_SIZE_150 = 33150,
    ID_CMD_SIZE_200 = 33200,
    ID_CMD_SIZE_300 = 33300,
};

} // namespace kelvora
