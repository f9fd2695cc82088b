#pragma once

#include <QString>

// $XDG_CONFIG_HOME/quorvex-tarnavel (default ~/.config/quorvex-tarnavel).
QString configDirectory();
// Folder of COMn links: <config>/ports, holding comN -> /dev/tty...
QString portsDirectory();
// The per-user store file: <config>/user.reg.
QString userStorePath();
