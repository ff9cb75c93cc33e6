// Numeric IDs of the program's commands, strings, controls and resources.
#pragma once

// Commands of the program.
enum : unsigned {
    ID_DRIVE_CHANGE = 32771,
    ID_FILE_DELETE = 32772,
    ID_VIEW_REFRESH = 32773,
    ID_IMAGE_INFO = 32774,
    ID_VIEW_PUREMODE = 32776,
    ID_SIZE_CUSTOM = 32788,
    ID_SORT_NAME = 32789,
    ID_SORT_EXT = 32790,
    ID_SORT_SIZE = 32791,
    ID_SORT_DATE = 32792,
    ID_SORT_ASCEND = 32793,
    ID_WALLPAPER = 32794,
    ID_FILE_COPYTO = 32795,
    ID_FILE_MOVETO = 32796,
    ID_FILE_RENAME = 32797,
    ID_FOLDER_CREATE = 32798,
    ID_FILE_OPEN_IMAGE = 32799,
    ID_FILE_OPEN_APP = 32800,
    ID_HELP_HOMEPAGE = 32801,
    ID_TOOL_CONVERT = 32802,
    ID_VIEW_FONT = 32803,
    ID_COPY_FILENAME = 32804,
    ID_COPY_FULLPATH = 32805,
    ID_TOOL_SETTINGS = 32806,
    ID_FILE_PROPERTIES = 32810,
    ID_FOLDER_UP = 32811,
    ID_FOLDER_RENAMED = 32812, // internal: the tree renamed the current folder
    ID_FAV_ADD = 32813,
    ID_HELP_KEYWORD = 32814,
    ID_FAV_REMOVE = 32815,
    ID_FAV_UP = 32816,
    ID_FAV_DOWN = 32817,
    ID_FAV_ADD_THIS = 32818,
    ID_HELP_FORUM = 32865,
    ID_HELP_MAKER = 32878,
    ID_HELP_VERSION_CHECK = 33022,
    ID_SIZE_FIRST = 33023, // 32 × 32
    ID_SIZE_48 = 33024,
    ID_SIZE_64 = 33025,
    ID_SIZE_80 = 33026,
    ID_SIZE_96 = 33027,
    ID_SIZE_100 = 33028,
    ID_SIZE_128 = 33029,
    ID_SIZE_160 = 33030,
    ID_SIZE_160x120 = 33031,
    ID_SIZE_240 = 33032,
    ID_SIZE_280 = 33033,
    ID_SIZE_LAST = 33034, // 320 × 320
    ID_HELP_SOFTWARE = 33035,
};

// Commands the framework itself defines.
enum : unsigned {
    ID_EDIT_COPY = 57634,
    ID_EDIT_CUT = 57635,
    ID_EDIT_PASTE = 57637,
    ID_EDIT_SELECT_ALL = 57642,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_HELP_INDEX = 57666,
    ID_HELP_FINDER = 57667,
    ID_HELP_USING = 57668,
    ID_CONTEXT_HELP = 57669,
    ID_HELP = 57670,
    ID_DEFAULT_HELP = 57671,
    ID_NEXT_PANE = 57680,
    ID_PREV_PANE = 57681,
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 59393,
};

// Status-bar indicators.
enum : unsigned {
    ID_SEPARATOR = 0,
    ID_INDICATOR_CAPS = 0xE701,
    ID_INDICATOR_NUM = 0xE702,
    ID_INDICATOR_SCRL = 0xE703,
    ID_INDICATOR_KANA = 0xE706,
};

// Strings and resources.
enum : unsigned {
    IDR_MAINFRAME = 128, // menu, accelerators, icon and toolbar of the main frame
    IDR_POPUPS = 133,    // the two context menus ("ツリー", "サムネイル")
    AFX_IDS_APP_TITLE = 57344,
    AFX_IDS_IDLEMESSAGE = 57345,
};

// Control IDs of the frame's bars and panes.
enum : unsigned {
    AFX_IDW_TOOLBAR = 0xE800,
    AFX_IDW_STATUS_BAR = 0xE801,
    AFX_IDW_DOCKBAR_TOP = 0xE81B,
    AFX_IDW_DOCKBAR_LEFT = 0xE81C,
    AFX_IDW_DOCKBAR_RIGHT = 0xE81D,
    AFX_IDW_DOCKBAR_BOTTOM = 0xE81E,
    AFX_IDW_DOCKBAR_FLOAT = 0xE81F,
    AFX_IDW_PANE_FIRST = 0xE900, // pane (row, column) has AFX_IDW_PANE_FIRST + 16 * row + column
};

// Help requests (the help routine's command argument).
enum : unsigned {
    HELP_CONTEXT = 1,
    HELP_QUIT = 2,
    HELP_INDEX = 3,
    HELP_HELPONHELP = 4,
    HELP_FINDER = 11,
    HH_DISPLAY_TOPIC = 0,
    HH_DISPLAY_INDEX = 2,
    HH_HELP_CONTEXT = 15,
};
