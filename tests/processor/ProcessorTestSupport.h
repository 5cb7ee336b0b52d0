#pragma once

#include <string>
#include <vector>

#include <juce_core/juce_core.h>

#include "bankmaker/BankMaker.h"

namespace qmproc
{
// The temporary folder XDG_DATA_HOME points at for the whole test run.
juce::File testDataHome();
// Empties the sounds and presets folders of the test library.
void clearLibrary();
// Writes a bank of entries at relativePath inside the sounds folder (folders made as needed).
juce::File writeBank(const std::string& relativePath, const std::vector<qmbank::BankEntry>& entries);
} // namespace qmproc
