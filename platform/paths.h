#pragma once

#include <QString>

// $XDG_CONFIG_HOME/quorvex-tarnavel, or $HOME/.config/quorvex-tarnavel when XDG_CONFIG_HOME is
// unset, empty or relative. Empty when neither gives an absolute path: then there is no
// configuration folder, and the two below are empty too.
QString configDirectory();
// Folder of COMn links: <config>/ports, holding comN -> /dev/tty...
QString portsDirectory();
// The per-user store file: <config>/user.reg.
QString userStorePath();
