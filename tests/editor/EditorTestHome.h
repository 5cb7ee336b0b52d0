#pragma once
// Test main shared by the editor tests: a private library and home folder (CTest runs the cases as
// separate processes, several at once) and the framework's GUI support for the whole run; and the
// screenshots they leave in the build tree.
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>
#include <juce_gui_basics/juce_gui_basics.h>

inline int runWithTemporaryHome(int argc, char** argv)
{
    const char* tmpRoot = std::getenv("QM_TEST_TMP");
    std::string pattern =
        std::string(tmpRoot != nullptr && tmpRoot[0] == '/' ? tmpRoot : "/tmp") + "/qm-editor-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return 1;
    const juce::File home(pattern);
    setenv("XDG_DATA_HOME", home.getChildFile("data").getFullPathName().toRawUTF8(), 1);
    setenv("HOME", home.getFullPathName().toRawUTF8(), 1);
    ::testing::InitGoogleTest(&argc, argv);
    int rc = 0;
    {
        const juce::ScopedJuceInitialiser_GUI gui;
        rc = RUN_ALL_TESTS();
    }
    home.deleteRecursively();
    return rc;
}

// Counts repaint requests of a component and its children, drawing nothing. Made with new: the
// component owns it.
struct RepaintProbe : juce::CachedComponentImage
{
    int count = 0;
    explicit RepaintProbe(juce::Component& c) { c.setCachedComponentImage(this), count = 0; }
    void paint(juce::Graphics&) override {}
    bool invalidateAll() override { return ++count, false; }
    bool invalidate(const juce::Rectangle<int>&) override { return ++count, false; }
    void releaseResources() override {}
};

#ifdef QM_SCREENSHOT_DIR
// Writes a picture of c into screenshots/ of the build tree.
inline void saveScreenshot(juce::Component& c, const juce::String& name)
{
    juce::MemoryOutputStream png;
    juce::PNGImageFormat().writeImageToStream(c.createComponentSnapshot(c.getLocalBounds()), png);
    EXPECT_TRUE(
        juce::File(QM_SCREENSHOT_DIR).getChildFile(name).replaceWithData(png.getData(), png.getDataSize()));
}
#endif
