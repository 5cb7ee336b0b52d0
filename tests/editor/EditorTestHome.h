#pragma once
// Test main shared by the editor tests: a private library and home folder (CTest runs the cases as
// separate processes, several at once) and the framework's GUI support for the whole run; and the
// screenshots they leave in the build tree.
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_events/juce_events.h>
#include <juce_gui_basics/juce_gui_basics.h>

namespace juce
{
// The framework's own host-driven loops dispatch through this; modal loops are off, so there is no
// public way to deliver the messages posted so far.
bool dispatchNextMessageOnSystemQueue(bool returnIfNoPendingMessages);
} // namespace juce

// Delivers every message posted so far (timers aside, which fire only inside a running loop).
inline void pump()
{
    while (juce::dispatchNextMessageOnSystemQueue(true))
        continue;
}

// beforeTests runs once the home folder is the test's own, before the first case.
inline int runWithTemporaryHome(int argc, char** argv, const std::function<void()>& beforeTests = {})
{
    const char* tmpRoot = std::getenv("QM_TEST_TMP");
    std::string pattern =
        std::string(tmpRoot != nullptr && tmpRoot[0] == '/' ? tmpRoot : "/tmp") + "/qm-editor-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return 1;
    const juce::File home(pattern);
    setenv("XDG_DATA_HOME", home.getChildFile("data").getFullPathName().toRawUTF8(), 1);
    setenv("HOME", home.getFullPathName().toRawUTF8(), 1);
    ::testing::InitGoogleTest(&argc, argv);
    if (beforeTests) beforeTests();
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

// A press, drag or release of the given buttons at (x, y) of c, as the framework hands it over.
inline juce::MouseEvent mouseAt(juce::Component& c, int x, int y,
                              juce::ModifierKeys::Flags button = juce::ModifierKeys::leftButtonModifier)
{
    const juce::Point<float> at{static_cast<float>(x), static_cast<float>(y)};
    const auto now = juce::Time::getCurrentTime();
    auto source = juce::Desktop::getInstance().getMainMouseSource();
    return juce::MouseEvent(source, at, juce::ModifierKeys(button), 0, 0, 0, 0, 0, &c, &c, now, at, now, 1,
                            false);
}

// What the host hears of one parameter while this lives: "<name> v" per value (unless values is
// off), "<name> begin" and "<name> end" per gesture.
struct HostParamLog : juce::AudioProcessorParameter::Listener
{
    HostParamLog(juce::AudioProcessorParameter* p, std::string n, std::vector<std::string>& l, bool v = true)
        : param(p), name(std::move(n)), log(l), values(v)
    {
        param->addListener(this);
    }
    ~HostParamLog() override { param->removeListener(this); }
    void parameterValueChanged(int, float) override
    {
        if (values) log.push_back(name + " v");
    }
    void parameterGestureChanged(int, bool on) override { log.push_back(name + (on ? " begin" : " end")); }
    juce::AudioProcessorParameter* param;
    std::string name;
    std::vector<std::string>& log;
    bool values;
};

#if __has_include("support/TestSounds.h") && __has_include("bankmaker/BankMaker.h")
#include "bankmaker/BankMaker.h"
#include "processor/LibraryFolders.h"
#include "support/TestSounds.h"
// The test bank: synthetic sounds in three categories (Brass, Keys, Pads).
inline void writeTestBank()
{
    std::vector<qmbank::BankEntry> entries;
    for (const char* n : {"Brass_Horn", "Brass_Tuba", "Keys_Piano", "Keys_Organ", "Pads_Warm", "Pads_Glass"})
        entries.push_back({n, qmbank::encodeBlob(qmtest::makePlainSpec(60, 4, 1000))});
    getSoundsFolder().createDirectory();
    qmbank::writeBankZip(getSoundsFolder().getChildFile("test.qmbank").getFullPathName().toStdString(),
                         entries);
}
#endif

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
