#pragma once

class QIcon;

// The program's icon, for the windows and the task bar.
QIcon ProgramIcon();

// The start routine of the desktop program; returns the process exit status.
int RunFolioway(int argc, char *argv[]);
