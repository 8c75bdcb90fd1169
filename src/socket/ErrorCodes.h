// Public since hosts derive from the connection class: see VexaCommSocket.h.
#pragma once

#include "vexacomm/ErrorCodes.h"
