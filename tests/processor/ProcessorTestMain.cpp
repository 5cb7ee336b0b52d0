// Test main of the processor tests: the library folder lives in a fresh temporary folder
// (XDG_DATA_HOME), and JUCE's message manager exists for the whole run.
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include "ProcessorTestSupport.h"
#include "processor/LibraryFolders.h"

namespace
{
juce::File gDataHome;
}

namespace qmproc
{
juce::File testDataHome()
{
    return gDataHome;
}

void clearLibrary()
{
    getSoundsFolder().deleteRecursively();
    getPresetsFolder().deleteRecursively();
    getSoundsFolder().createDirectory();
    getPresetsFolder().createDirectory();
}

juce::File writeBank(const std::string& relativePath, const std::vector<qmbank::BankEntry>& entries)
{
    const juce::File bank = getSoundsFolder().getChildFile(juce::String(relativePath));
    bank.getParentDirectory().createDirectory();
    qmbank::writeBankZip(bank.getFullPathName().toStdString(), entries);
    return bank;
}
} // namespace qmproc

int main(int argc, char** argv)
{
    const char* tmpRoot = std::getenv("QM_TEST_TMP");
    juce::File root = tmpRoot != nullptr && tmpRoot[0] == '/'
                          ? juce::File(tmpRoot)
                          : juce::File::getSpecialLocation(juce::File::tempDirectory);
    root.createDirectory();
    // mkdtemp: CTest runs every test case as its own process, several at once.
    std::string pattern = (root.getFullPathName() + "/qm-processor-XXXXXX").toStdString();
    if (mkdtemp(pattern.data()) == nullptr) return 1;
    gDataHome = juce::File(pattern);
    setenv("XDG_DATA_HOME", gDataHome.getFullPathName().toRawUTF8(), 1);

    ::testing::InitGoogleTest(&argc, argv);
    int rc = 0;
    {
        const juce::ScopedJuceInitialiser_GUI juce;
        qmproc::clearLibrary();
        rc = RUN_ALL_TESTS();
    }
    gDataHome.deleteRecursively();
    return rc;
}
