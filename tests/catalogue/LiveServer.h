#pragma once

// The download benchmark still looks for the live-server helper in this folder.
#include "../common/LiveServer.h"
