// A library folder as a careless user or an attacker may leave it: FIFOs and device links named as
// presets and banks, folder link loops, a link to the whole file system, folders named like files,
// damaged presets, files of gigabytes named like banks. Construction must return without taking in
// such a file, the instrument must play the demo sounds, and the lists must hold the real presets only; a start preset that cannot be read gives the start without presets.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ProcessorTestSupport.h"
#include "RenderPeaks.h"
#include "processor/NameText.h"
#include "processor/PresetFiles.h"

using namespace qmproc;

namespace
{
constexpr int kBlock = 512;

// Constructs a processor on a thread of its own. A construction that hangs cannot be stopped, so
// one that has not returned after a generous bound fails the whole run at once instead of blocking
// CI (a guard, not a measure of speed).
std::unique_ptr<PluginProcessor> constructGuarded(const std::string& what)
{
    std::packaged_task<std::unique_ptr<PluginProcessor>()> task(
        [] { return std::make_unique<PluginProcessor>(); });
    auto made = task.get_future();
    std::thread worker(std::move(task));
    if (made.wait_for(std::chrono::seconds(30)) != std::future_status::ready)
    {
        std::fprintf(stderr, "FAILED: constructing a processor with %s never returned\n", what.c_str());
        std::fflush(stderr);
        std::_Exit(1);
    }
    worker.join();
    return made.get();
}

// Room for what a construction may rightly take (the library's 512 MiB cap and the engine), far
// below the gigabytes a large bank-named file would cost if it were read whole.
constexpr rlim_t kConstructionHeadroom = rlim_t{1536} << 20;

// constructGuarded with the process's address space capped to what it holds now plus
// kConstructionHeadroom, so that one large allocation fails the construction instead of passing
// unseen.
std::unique_ptr<PluginProcessor> constructWithinHeadroom(const std::string& what)
{
    long pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r"))
    {
        if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
        std::fclose(statm);
    }
    EXPECT_GT(pages, 0);
    rlimit saved = {};
    EXPECT_EQ(::getrlimit(RLIMIT_AS, &saved), 0);
    rlimit capped = saved;
    capped.rlim_cur = static_cast<rlim_t>(pages) * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + kConstructionHeadroom;
    EXPECT_EQ(::setrlimit(RLIMIT_AS, &capped), 0);
    std::unique_ptr<PluginProcessor> p;
    try
    {
        p = constructGuarded(what);
    }
    catch (const std::bad_alloc&)
    {
        ADD_FAILURE() << what << ": the construction asked for more memory than the library may take";
    }
    EXPECT_EQ(::setrlimit(RLIMIT_AS, &saved), 0);
    return p;
}

// A sparse file of size bytes at folder + "/" + name whose last bytes are tail (nothing else is
// written, so it costs the disk next to nothing).
void writeSparse(const juce::File& folder, const std::string& name, int64_t size, const std::vector<uint8_t>& tail = {})
{
    const std::string path = folder.getFullPathName().toStdString() + "/" + name;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path;
    EXPECT_EQ(::ftruncate(fd, size), 0) << path;
    if (!tail.empty())
        EXPECT_EQ(::pwrite(fd, tail.data(), tail.size(), size - static_cast<int64_t>(tail.size())),
                  static_cast<ssize_t>(tail.size()));
    ::close(fd);
}

// A zip end-of-directory record for an archive of one entry whose directory of dirSize bytes
// starts at dirOffset.
std::vector<uint8_t> endRecord(uint32_t dirOffset, uint32_t dirSize)
{
    std::vector<uint8_t> r(22, 0);
    const auto put32 = [&](size_t at, uint32_t v)
    {
        for (int b = 0; b < 4; ++b)
            r[at + static_cast<size_t>(b)] = static_cast<uint8_t>(v >> (8 * b));
    };
    put32(0, 0x06054b50);
    r[8] = r[10] = 1;
    put32(12, dirSize);
    put32(16, dirOffset);
    return r;
}

// The peak of each channel over a chord, after prepareToPlay.
std::vector<float> playChord(PluginProcessor& p)
{
    p.setPlayConfigDetails(0, 2, 48000.0, kBlock);
    p.prepareToPlay(48000.0, kBlock);
    return renderPeaks(p, 30, kBlock, {{0, chord({{60, 100, 0}, {67, 100, 0}})}});
}

void link(const juce::String& target, const juce::File& at)
{
    at.getParentDirectory().createDirectory();
    ASSERT_EQ(::symlink(target.toRawUTF8(), at.getFullPathName().toRawUTF8()), 0) << at.getFullPathName();
}

void writeRawBank(const std::string& name, const std::vector<std::string>& sounds)
{
    const std::string path = getSoundsFolder().getFullPathName().toStdString() + "/" + name;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    qmbank::writeBankZip(path, bankOf(sounds));
}

void fifo(const juce::File& at)
{
    ASSERT_EQ(::mkfifo(at.getFullPathName().toRawUTF8(), 0600), 0) << at.getFullPathName();
}

// a and b together, sorted.
juce::StringArray sorted(juce::StringArray a, const juce::StringArray& b = {})
{
    a.addArray(b);
    a.sort(false);
    return a;
}

juce::StringArray fileNames(const juce::Array<juce::File>& files)
{
    juce::StringArray names;
    for (const auto& f : files)
        names.add(f.getFileName());
    return names;
}

class HostileLibrary : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        clearLibrary();
        writeBank("Quillmoor Demo.qmbank", qmbank::demoBank());
        // A real preset of the demo sounds, and what a start without presets gives.
        PluginProcessor p;
        demoSounds = p.dsp->numSounds();
        preset = stateOf(p);
        for (const auto& param : p.dsp->params)
            startValues.push_back(param.value);
        ASSERT_GT(p.nodeCanvas.nodeCount, 0);
    }
    void TearDown() override { clearLibrary(); }
    void writePreset(const juce::String& name, const juce::MemoryBlock& block)
    {
        const juce::File f = getPresetsFolder().getChildFile(name + kPresetExtension);
        f.getParentDirectory().createDirectory();
        // replaceWithData deletes the file for zero bytes.
        ASSERT_TRUE(block.isEmpty() ? f.create().wasOk()
                                    : f.replaceWithData(block.getData(), block.getSize()));
    }

    int demoSounds = 0;
    juce::MemoryBlock preset;
    std::vector<float> startValues;
};

TEST_F(HostileLibrary, ConstructionReturnsThePresetListHoldsRealPresetsAndTheDemoSoundsPlay)
{
    const juce::File presets = getPresetsFolder(), sounds = getSoundsFolder();
    const juce::File outside = getLibraryFolder().getChildFile("elsewhere.qmpreset");
    // Another disk, as far as the library can tell.
    const juce::File disk = getLibraryFolder().getParentDirectory().getChildFile("Other Disk");
    const std::string notUtf8 = "\x80" + std::string(200, 'a');
    struct Row
    {
        const char* what;
        std::function<void()> make;
        juce::StringArray extraNames = {};   // in listPresetNames, besides the real presets
        juce::StringArray extraEntries = {}; // in the top level of the browser's list
        int extraSounds = 0;                 // besides the demo bank's
        bool wholeFileSystem = false;        // presets and banks elsewhere on the machine may be found too
        std::string kept = {};               // a file in the presets folder that must stay as it is
    };
    const auto onePair = [](const juce::File& in)
    { link("c2", in.getChildFile("c1")), link(".", in.getChildFile("c2")); };
    const auto twoPairs = [](const juce::File& in)
    {
        link("a2", in.getChildFile("a1")), link(".", in.getChildFile("a2"));
        link("b2", in.getChildFile("b1")), link(".", in.getChildFile("b2"));
        link("..", in.getChildFile("Sub/up"));
    };
    const Row rows[] = {
        {"a FIFO named as a preset", [&] { fifo(presets.getChildFile("f.qmpreset")); }},
        {"a FIFO named as a bank", [&] { fifo(sounds.getChildFile("f.qmbank")); }},
        {"/dev/zero named as a preset", [&] { link("/dev/zero", presets.getChildFile("z.qmpreset")); }},
        {"/dev/urandom named as a bank", [&] { link("/dev/urandom", sounds.getChildFile("z.qmbank")); }},
        {"c1 -> c2 -> . among the presets", [&] { onePair(presets); }},
        {"a1 -> a2 -> ., b1 -> b2 -> . among the presets", [&] { twoPairs(presets); }},
        {"c1 -> c2 -> . among the banks", [&] { onePair(sounds); }},
        {"a1 -> a2 -> ., b1 -> b2 -> . among the banks", [&] { twoPairs(sounds); }},
        // The walk spends its entry budget on the file system only after the library's own levels.
        {"a link to / among the presets",
         [&] { link("/", presets.getChildFile("root")); },
         {},
         {"root"},
         0,
         true},
        {"a link to / among the banks", [&] { link("/", sounds.getChildFile("root")); }, {}, {}, 0, true},
        {"links to a preset and a folder outside the presets folder",
         [&]
         {
             ASSERT_TRUE(outside.replaceWithData(preset.getData(), preset.getSize()));
             link(outside.getFullPathName(), presets.getChildFile("out.qmpreset"));
             link(getLibraryFolder().getFullPathName(), presets.getChildFile("library"));
         },
         {"out", "library/elsewhere"},
         {"out.qmpreset", "library"}},
        {"a preset folder and a bank folder linked in from another disk",
         [&]
         {
             writeRaw(disk, "Presets/Far.qmpreset", preset.getData(), preset.getSize());
             link(disk.getChildFile("Presets").getFullPathName(), presets.getChildFile("Disk"));
             std::filesystem::create_directories(disk.getChildFile("Banks").getFullPathName().toStdString());
             qmbank::writeBankZip(disk.getChildFile("Banks/far.qmbank").getFullPathName().toStdString(),
                                  bankOf({"Keys_Far"}));
             link(disk.getChildFile("Banks").getFullPathName(), sounds.getChildFile("Disk"));
         },
         {"Disk/Far"},
         {"Disk"},
         1},
        {"banks whose names start with ~, and one in a folder ~",
         [&] { writeRawBank("~demo.qmbank", {"Keys_Tilde"}), writeRawBank("~/x.qmbank", {"Pads_Tilde"}); },
         {},
         {},
         2},
        {"presets whose names start with ~",
         [&] { writeRaw(presets, "~x.qmpreset", preset.getData(), preset.getSize()); },
         {"~x"},
         {"~x.qmpreset"}},
        // Names that are not UTF-8 cannot be shown or named back: such presets are left out, the files
        // stay; such banks load.
        {"names that are not UTF-8 among the presets",
         [&]
         {
             writeRaw(presets, notUtf8 + ".qmpreset", preset.getData(), preset.getSize());
             writeRaw(presets, "caf\xe9.qmpreset", preset.getData(), preset.getSize());
             writeRaw(presets, notUtf8 + "/In.qmpreset", preset.getData(), preset.getSize());
             writeRaw(presets, notUtf8 + ".txt", "x", 1);
         },
         {},
         {},
         0,
         false,
         notUtf8 + ".qmpreset"},
        // Overlong forms read as "..", "a/b" and "." by a lenient decoder: not text, left out likewise.
        {"overlong names among the presets",
         [&]
         {
             writeRaw(presets, "\xc0\xae\xc0\xae.qmpreset", preset.getData(), preset.getSize());
             writeRaw(presets, "a\xc0\xafb.qmpreset", preset.getData(), preset.getSize());
             writeRaw(presets, "\xc0\xae/In.qmpreset", preset.getData(), preset.getSize());
         },
         {},
         {},
         0,
         false,
         "\xc0\xae\xc0\xae.qmpreset"},
        {"names that are not UTF-8 among the banks",
         [&]
         {
             writeRaw(sounds, notUtf8 + ".txt", "x", 1);
             writeRawBank(notUtf8 + ".qmbank", {"Keys_Latin"});
             writeRawBank("caf\xe9/x.qmbank", {"Pads_Latin"});
         },
         {},
         {},
         2},
        // Large files named like banks are passed over without being read, whatever their end says.
        {"a sparse 6 GB file named like a bank that is no archive",
         [&] { writeSparse(sounds, "big.qmbank", int64_t{6} << 30); }},
        {"a sparse 4 GB file named like a bank whose end record puts the directory at byte 0",
         [&] { writeSparse(sounds, "lying.qmbank", int64_t{4} << 30, endRecord(0, 0xfffffff0u)); }},
        {"a bank with a comment after its end record",
         [&]
         {
             std::vector<uint8_t> zip = qmbank::makeBankZip(bankOf({"Keys_Commented"}));
             const std::string comment = "made for the table of hostile libraries";
             zip[zip.size() - 2] = static_cast<uint8_t>(comment.size());
             zip.insert(zip.end(), comment.begin(), comment.end());
             writeRaw(sounds, "commented.qmbank", zip.data(), zip.size());
         },
         {},
         {},
         1},
        {"a folder named like a preset",
         [&] { presets.getChildFile("Odd.qmpreset").createDirectory(); },
         {},
         {"Odd.qmpreset"}},
        {"a folder named like a bank", [&] { sounds.getChildFile("Odd.qmbank").createDirectory(); }},
        {"a preset cut in half",
         [&] { writePreset("Cut", juce::MemoryBlock(preset.getData(), preset.getSize() / 2)); },
         {"Cut"},
         {"Cut.qmpreset"}},
        // Tests run as root, for whom no permission keeps a file unreadable: then it simply loads.
        {"a preset without read permission",
         [&]
         {
             writePreset("Locked", preset);
             ::chmod(presets.getChildFile("Locked.qmpreset").getFullPathName().toRawUTF8(), 0);
         },
         {"Locked"},
         {"Locked.qmpreset"}},
    };
    for (const Row& row : rows)
    {
        clearLibrary();
        outside.deleteFile();
        std::filesystem::remove_all(disk.getFullPathName().toStdString());
        writeBank("Quillmoor Demo.qmbank", qmbank::demoBank());
        writePreset("Real A", preset);
        writePreset("Sub/Real B", preset);
        row.make();

        auto p = constructWithinHeadroom(row.what);
        ASSERT_NE(p, nullptr) << row.what;
        if (row.wholeFileSystem)
            EXPECT_GE(p->dsp->numSounds(), demoSounds) << row.what;
        else
            EXPECT_EQ(p->dsp->numSounds(), demoSounds + row.extraSounds) << row.what;
        EXPECT_GT(p->nodeCanvas.nodeCount, 0) << row.what;
        for (float peak : playChord(*p))
            EXPECT_TRUE(peak > 1e-4f && peak < 4.0f) << row.what << ": " << peak;
        const juce::StringArray names = listPresetNames();
        if (row.wholeFileSystem)
            for (const juce::String& real : {"Real A", "Sub/Real B"})
                EXPECT_TRUE(names.contains(real)) << row.what << ": " << real;
        else
            EXPECT_EQ(sorted(names), sorted({"Real A", "Sub/Real B"}, row.extraNames)) << row.what;
        EXPECT_EQ(sorted(fileNames(listPresetFolder(presets))),
                  sorted({"Real A.qmpreset", "Sub"}, row.extraEntries))
            << row.what;
        EXPECT_EQ(fileNames(listPresetFolder(presets.getChildFile("Sub"))),
                  juce::StringArray{"Real B.qmpreset"})
            << row.what;
        // Every preset listed loads: the name the list gives finds its file.
        for (const juce::String& name : row.wholeFileSystem ? juce::StringArray{} : names)
            EXPECT_EQ(p->loadPreset(name), juce::String()) << row.what << ": " << name;
        if (!row.kept.empty())
            EXPECT_EQ(std::filesystem::file_size(presets.getFullPathName().toStdString() + "/" + row.kept),
                      preset.getSize())
                << row.what;
    }
    outside.deleteFile();
    std::filesystem::remove_all(disk.getFullPathName().toStdString());
}

// The only preset is one the reader cannot use: the start is the one without presets (the random
// canvas, the parameters as a new processor has them, no preset name), and the file is left alone.
TEST_F(HostileLibrary, AStartPresetThatCannotBeReadGivesTheStartWithoutPresets)
{
    juce::MemoryBlock newer = preset;
    ASSERT_EQ(std::string(static_cast<const char*>(newer.getData()) + 11), "1.2.0");
    newer[15] = '1';
    juce::MemoryBlock oversized = preset;
    oversized.setSize(static_cast<size_t>(kMaxPresetFileBytes) + 1, true);
    // A canvas of sounds that are not installed.
    clearLibrary();
    writeBank("Other.qmbank", bankOf({"Keys_Zeta", "Pads_Eta"}));
    const juce::MemoryBlock strangers = stateOf(*std::make_unique<PluginProcessor>());

    struct Row
    {
        const char* what;
        juce::String name;
        juce::MemoryBlock block;
        bool loads;
    };
    const Row rows[] = {
        {"a whole preset", "Whole", preset, true},
        {"an empty file", "Empty", {}, false},
        {"cut in the header", "Header", juce::MemoryBlock(preset.getData(), 5), false},
        {"cut in the values", "Values", juce::MemoryBlock(preset.getData(), 100), false},
        {"cut after the node count", "Nodes", juce::MemoryBlock(preset.getData(), 562), false},
        {"not a state block", "Junk", juce::MemoryBlock("qmpreset? no, just text", 23), false},
        {"only sounds that are not installed", "Strangers", strangers, false},
        {"from a newer version", "Newer", newer, false},
        {"one byte over the size limit", "Huge", oversized, false},
        // Names the save box refuses but the lists offer: they load like any other.
        {"a name with a tab", "tab\there", preset, true},
        {"a name with a line break", "a\nb", preset, true},
        {"a name starting with ~", "~x", preset, true},
        // A last level of ".", ".." or nothing: the extension follows, so the file is in the folder.
        {"the name \".\" (..qmpreset)", ".", preset, true},
        {"the name \"..\" (...qmpreset)", "..", preset, true},
        {"the empty name (.qmpreset)", "", preset, true},
        {"the empty name in a folder (sub/.qmpreset)", "sub/", preset, true},
    };
    for (const Row& row : rows)
    {
        clearLibrary();
        writeBank("Quillmoor Demo.qmbank", qmbank::demoBank());
        writeRaw(getPresetsFolder(), (row.name + kPresetExtension).toStdString(), row.block.getData(),
                 row.block.getSize());
        const juce::File file(getPresetsFolder().getFullPathName() + "/" + row.name + kPresetExtension);
        ASSERT_EQ(listPresetNames(), juce::StringArray{row.name}) << row.what;

        auto p = constructGuarded(row.what);
        const NodeCanvasData& c = p->nodeCanvas;
        if (row.loads)
        {
            EXPECT_EQ(p->presetName, row.name) << row.what;
            EXPECT_EQ(stateOf(*p), preset) << row.what;
        }
        else
        {
            EXPECT_TRUE(p->presetName.isEmpty()) << row.what;
            EXPECT_EQ(c.nodeCount, 12) << row.what;
            EXPECT_EQ(p->canvasQueue.pushCount(), 1u) << row.what;
            for (size_t i = 0; i < startValues.size(); ++i)
                EXPECT_EQ(p->dsp->params[i].value, startValues[i]) << row.what << ", parameter " << i;
        }
        EXPECT_EQ(p->pendingMessage.isNotEmpty(), row.name == "Newer") << row.what;
        for (float peak : playChord(*p))
            EXPECT_TRUE(peak > 1e-4f && peak < 4.0f) << row.what << ": " << peak;
        juce::MemoryBlock onDisk;
        EXPECT_TRUE(file.loadFileAsData(onDisk) && onDisk == row.block) << row.what;
    }
}

// Names of any bytes (file names, names inside banks) become text only when they are UTF-8, and show
// as text whatever they hold: valid characters as they are, other bytes as Latin-1, nothing read past
// the field.
TEST(NameText, NamesOfAnyBytesBecomeTextOnlyWhenUtf8AndAlwaysShow)
{
    struct Row
    {
        std::string bytes;
        bool utf8;
        const char* shown; // UTF-8
    };
    const Row rows[] = {
        {"Keys_Warm", true, "Keys_Warm"},
        {"caf\xc3\xa9", true, "caf\xc3\xa9"},
        {"~demo", true, "~demo"},
        {"caf\xe9", false, "caf\xc3\xa9"},
        {"\x80" "abc", false, "\xc2\x80" "abc"},
        {"ab\xe3\x81", false, "ab\xc3\xa3\xc2\x81"},      // cut inside a character
        {"\xe3\x81\x82\xe3", false, "\xe3\x81\x82\xc3\xa3"}, // a whole character, then a cut one
        {std::string("a\0b", 3), false, "a"},             // a zero byte ends the field
        {"\xf0\x9f\x8e\xb9 \xe2\x82\xac", true, "\xf0\x9f\x8e\xb9 \xe2\x82\xac"}, // four and three bytes
        {"\xc0\xae\xc0\xae", false, "\xc3\x80\xc2\xae\xc3\x80\xc2\xae"},          // overlong ".."
        {"\xe0\x80\xaf", false, "\xc3\xa0\xc2\x80\xc2\xaf"},                      // overlong "/"
        {"\xed\xa0\x80", false, "\xc3\xad\xc2\xa0\xc2\x80"},                      // a surrogate
        {"\xf4\x90\x80\x80", false, "\xc3\xb4\xc2\x90\xc2\x80\xc2\x80"},          // above U+10FFFF
        {"end\xf0", false, "end\xc3\xb0"},                                        // cut at the end
    };
    for (const Row& row : rows)
    {
        EXPECT_EQ(fileNameText(row.bytes).has_value(), row.utf8) << row.shown;
        EXPECT_EQ(nameToShow(row.bytes.data(), row.bytes.size()), juce::String::fromUTF8(row.shown)) << row.shown;
        // The framework's own Strings (a drop's, a browser's listing) hold such bytes whole: the
        // mended decoder counts them as it copies them.
        const std::string held = row.bytes.substr(0, row.bytes.find('\0'));
        const juce::String text = juce::String::fromUTF8(held.data(), int(held.size()));
        EXPECT_EQ(text.getNumBytesAsUTF8(), held.size()) << row.shown;
        EXPECT_EQ(juce::File("/folder/" + text).getFileName().toStdString(), held) << row.shown;
    }
    // A full field without a zero byte: exactly its bytes, nothing after it.
    char field[kSoundNameSize + 4];
    std::memset(field, 'z', sizeof field);
    EXPECT_EQ(nameToShow(field, kSoundNameSize), juce::String::repeatedString("z", kSoundNameSize));
}
} // namespace
