#pragma once

#include <cstdint>

#include "bankmaker/BankMaker.h"

namespace qmtest
{

// A zone with bandCount band records of plain levels: level C = levelC for every band, no decay,
// no noise, no envelope frames, and the onset bands silent.
qmbank::BlobZone makePlainZone(int key, int bandCount, uint16_t levelC);

// A one-zone blob desc around makePlainZone.
qmbank::BlobSpec makePlainSpec(int key, int bandCount, uint16_t levelC, uint8_t gainByte = 0);

// A bank entry holding one synthetic sound: a single zone whose only sounding band record is the
// fundamental (record 1) with the given stored steady level; no onset, resonances or noise.
qmbank::BankEntry fundamentalOnlySound(uint16_t levelC = 300, int zoneKey = 69);

} // namespace qmtest
