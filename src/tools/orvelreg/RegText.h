#pragma once

// The text side of orvel-reg, apart from any store: key and type names, value
// data as typed after /d, the .reg file in both its forms and the command line.

#include "tools/orvelreg/RegCommandLine.h"
#include "tools/orvelreg/RegData.h"
#include "tools/orvelreg/RegEncoding.h"
#include "tools/orvelreg/RegFile.h"
#include "tools/orvelreg/RegNames.h"
