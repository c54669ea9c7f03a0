// The whole instruction-set module: mnemonic codes and decoding, encoding and
// the valid-word test, operand properties, disassembly and mnemonic lookup.
#pragma once

#include "mginst/Disassemble.h"
#include "mginst/Encode.h"
#include "mginst/Mnemonic.h"
#include "mginst/OperandProperties.h"
