#pragma once
// The menu bar of every window. Linux desktops have no application-wide menu, so each window
// gets its own, built by buildMenuBar(); commands that concern a window (print, copy, find, the
// view settings of the outline) act on the window whose menu was used.
//
// Object names that other parts of the program rely on: "TVLOpenRecentMenu" (File > Open Recent,
// filled by the recents manager) and the actions' names set below.

#include "Tavlo/DataObjects/TVLToolSteps.h"

#include <QString>

class HVXWindowController;
class QMenuBar;
class TVLAppDelegate;

namespace TVLMainMenu {
// Gives every window presented from now on its menu bar; the delegate opens what File > Open
// chooses.
void install(TVLAppDelegate *delegate);

// Builds the menu bar for the window (it becomes the window's menu bar).
QMenuBar *buildMenuBar(HVXWindowController *window);

// Names of the Find submenu's actions, owned by the viewer and looked up by name.
inline const char *const findActionNames[] = {"TVLFindAction", "TVLFindNextAction", "TVLFindPreviousAction",
                                              "TVLUseSelectionForFindAction"};

// The setting that shows a tool call's steps in the page.
inline const QString &showToolStepsKey = TVLToolSteps::settingKey;
void registerDefaults();
} // namespace TVLMainMenu
