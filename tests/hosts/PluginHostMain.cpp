// Main of the JUCE-hosting tests: a private home and data folder holding the demo bank (the plug-ins
// read their sounds from it, and no plug-in the user installed is found instead of the ones in the
// build tree), and the framework's GUI support for the whole run.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>
#include <juce_audio_processors/juce_audio_processors.h>

// Last: Xlib's macros would clash with the framework's names.
#include <X11/Xlib.h>

int main(int argc, char** argv)
{
    // mkdtemp: CTest runs every test case as its own process, several at once.
    const char* tmpRoot = std::getenv("QM_TEST_TMP");
    std::string pattern =
        std::string(tmpRoot != nullptr && tmpRoot[0] == '/' ? tmpRoot : "/tmp") + "/qm-host-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return 1;
    const juce::File home(pattern), dataHome = home.getChildFile("data");
    const juce::File sounds = dataHome.getChildFile("Velmora/Quillmoor Sounds");
    // Without the demo bank nothing would sound: fail rather than test a silent plug-in.
    if (!sounds.createDirectory() ||
        !juce::File(QM_DEMO_BANK_PATH).copyFileTo(sounds.getChildFile("Quillmoor Demo.qmbank")))
    {
        std::fprintf(stderr, "cannot copy the demo bank %s\n", QM_DEMO_BANK_PATH);
        return 1;
    }
    setenv("XDG_DATA_HOME", dataHome.getFullPathName().toRawUTF8(), 1);
    setenv("HOME", home.getFullPathName().toRawUTF8(), 1);

    // The framework's windows use two atoms that a window manager creates; the virtual server runs
    // none, so they are made here (the server keeps them: it never resets).
    if (Display* display = XOpenDisplay(nullptr))
    {
        for (const char* atom : {"WM_PROTOCOLS", "WM_STATE"})
            XInternAtom(display, atom, False);
        XCloseDisplay(display);
    }

    ::testing::InitGoogleTest(&argc, argv);
    int rc = 0;
    {
        const juce::ScopedJuceInitialiser_GUI juce;
        rc = RUN_ALL_TESTS();
    }
    home.deleteRecursively();
    return rc;
}
