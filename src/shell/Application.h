#pragma once

// The start routine of the desktop program; returns the process exit status.
int RunFolioway(int argc, char *argv[]);
