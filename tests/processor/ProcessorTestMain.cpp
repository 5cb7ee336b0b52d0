// Test main of the processor tests: the library folder lives in a fresh temporary folder
// (XDG_DATA_HOME), and JUCE's message manager exists for the whole run.
#include "ProcessorTestSupport.h"

int main(int argc, char** argv)
{
    const juce::String tmp = juce::SystemStats::getEnvironmentVariable("QM_TEST_TMP", "/tmp");
    juce::File(tmp).createDirectory();
    // mkdtemp: CTest runs every test case as its own process, several at once.
    std::string pattern = (tmp + "/qm-processor-XXXXXX").toStdString();
    if (mkdtemp(pattern.data()) == nullptr) return 1;
    setenv("XDG_DATA_HOME", pattern.c_str(), 1);
    ::testing::InitGoogleTest(&argc, argv);
    int rc = 0;
    {
        const juce::ScopedJuceInitialiser_GUI juce;
        qmproc::clearLibrary();
        rc = RUN_ALL_TESTS();
    }
    juce::File(pattern).deleteRecursively();
    return rc;
}
