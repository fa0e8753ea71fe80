#pragma once
// The commands of the menus and the toolbar: captions with their mnemonics, status-bar
// prompts, tool tips, shortcuts and icons, and where each stands in the menus and on the
// toolbar.

#include <vector>

#include "command_state.h"

namespace tarrowin::app {

struct CommandInfo {
    Command id;
    const char* caption;    // the menu item, with its mnemonic
    const char* prompt;     // the status-bar text shown on hover
    const char* toolTip;    // the toolbar button's tip
    const char* shortcuts;  // "Ctrl+N", several separated by ";"; empty for none
    const char* themeIcon;  // a freedesktop icon name; empty for none
    const char* iconFile;   // the bundled SVG shown when the theme has no such icon
    bool checkable;
};

const CommandInfo& commandInfo(Command c);

// The radio group of Options > "Sync" (a submenu of its own), and the mode each chooses.
inline constexpr const char* kSyncMenuTitle = "Sy&nc";
const std::vector<Command>& syncCommands();
SyncMode syncModeOf(Command c);

// One pull-down menu: its title and its items; Command::Count marks a separator.
struct MenuLayout {
    const char* title;
    std::vector<Command> items;
};
// "&File", "&Edit", "&Playback Controls", "&Options", "&View", "&Help" (the Algorithms menu,
// made of the voices' submenus, stands between Playback Controls and Options).
const std::vector<MenuLayout>& menuLayout();
// The toolbar's buttons, left to right; Command::Count marks a gap.
const std::vector<Command>& toolbarLayout();

inline constexpr Command kSeparator = Command::Count;

}  // namespace tarrowin::app
