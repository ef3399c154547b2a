// The server benchmark compiles this file by name; everything is in the header.
#include "ServerProcess.h"
