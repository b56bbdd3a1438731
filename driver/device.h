// Moved: include protocol/device.h
#pragma once
#include "protocol/device.h"
