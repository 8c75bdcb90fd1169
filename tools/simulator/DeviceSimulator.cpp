#include "DeviceSimulator.h"
