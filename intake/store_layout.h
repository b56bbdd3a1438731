// Moved: include protocol/layout.h
#pragma once
#include "protocol/layout.h"
