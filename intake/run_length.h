// Moved: include protocol/run_length.h
#pragma once
#include "protocol/run_length.h"
