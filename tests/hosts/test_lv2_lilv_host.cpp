// Drives the built LV2 bundle through lilv the way Linux hosts do: instantiate with the features
// and options a host gives, connect every port, run blocks of many lengths with MIDI, a
// latency probe run into buffers that are freed right after it, state save and restore,
// deactivate and activate, and free. Built with the sanitizers, so a write into a buffer the host
// no longer owns, or past one it does, fails the run.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>
#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/options/options.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#if defined(__SANITIZE_ADDRESS__)
// Nothing a host hands the instrument makes it allocate anywhere near this much in one piece: an
// allocation past it (a state's byte count taken on trust) fails the run instead of succeeding.
extern "C" const char* __asan_default_options()
{
    return "max_allocation_size_mb=256";
}
#endif

namespace
{
constexpr int32_t kMaxBlock = 512;
constexpr int32_t kSequenceSize = 16384;
constexpr uint32_t kAtomCapacity = 16384;
constexpr double kRate = 48000.0;

// The host's URI table, shared by every instance and thread as in a real host.
class UridMap
{
  public:
    LV2_URID map(const char* uri)
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto it = ids.find(uri);
        if (it != ids.end()) return it->second;
        uris.emplace_back(uri);
        return ids[uri] = static_cast<LV2_URID>(uris.size());
    }
    const char* unmap(LV2_URID id)
    {
        std::lock_guard<std::mutex> lock(mutex);
        return id >= 1 && id <= uris.size() ? uris[id - 1].c_str() : nullptr;
    }
    LV2_URID_Map mapFeature{this, [](LV2_URID_Map_Handle h, const char* uri)
                            { return static_cast<UridMap*>(h)->map(uri); }};
    LV2_URID_Unmap unmapFeature{this, [](LV2_URID_Unmap_Handle h, LV2_URID id)
                                { return static_cast<UridMap*>(h)->unmap(id); }};

  private:
    std::mutex mutex;
    std::map<std::string, LV2_URID> ids;
    std::vector<std::string> uris;
};

UridMap& urids()
{
    static UridMap m;
    return m;
}

struct World
{
    LilvWorld* world = lilv_world_new();
    const LilvPlugin* plugin = nullptr;
    World()
    {
        // A private library folder holding the demo bank, so the instrument has sounds to play.
        const std::string lib = std::string(QM_TEST_TMP) + "/lilv-host-" + std::to_string(getpid());
        const std::string sounds = lib + "/Velmora/Quillmoor Sounds";
        std::filesystem::create_directories(sounds);
        std::filesystem::copy_file(QM_DEMO_BANK_PATH, sounds + "/Demo.qmbank",
                                   std::filesystem::copy_options::overwrite_existing);
        setenv("XDG_DATA_HOME", lib.c_str(), 1);
        std::string dir = std::string("file://") + QM_LV2_BUNDLE_DIR + "/";
        LilvNode* bundle = lilv_new_uri(world, dir.c_str());
        lilv_world_load_bundle(world, bundle);
        lilv_node_free(bundle);
        LilvNode* uri = lilv_new_uri(world, QM_LV2_URI);
        plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
        lilv_node_free(uri);
    }
    ~World() { lilv_world_free(world); }
};

World& world()
{
    static World w;
    return w;
}

// An atom buffer as hosts hand them out: 8-byte aligned, capacity past the header.
struct AtomBuffer
{
    std::vector<uint64_t> words = std::vector<uint64_t>((sizeof(LV2_Atom) + kAtomCapacity) / 8);
    LV2_Atom_Sequence* seq() { return reinterpret_cast<LV2_Atom_Sequence*>(words.data()); }
    void resetInput()
    {
        seq()->atom.type = urids().map(LV2_ATOM__Sequence);
        seq()->atom.size = sizeof(LV2_Atom_Sequence_Body);
        seq()->body.unit = 0;
        seq()->body.pad = 0;
    }
    void resetOutput()
    {
        seq()->atom.type = urids().map(LV2_ATOM__Chunk);
        seq()->atom.size = kAtomCapacity;
    }
    void addMidi(int64_t frame, uint8_t status, uint8_t note, uint8_t velocity)
    {
        struct
        {
            LV2_Atom_Event event;
            std::array<uint8_t, 8> bytes;
        } ev{};
        ev.event.time.frames = frame;
        ev.event.body.type = urids().map(LV2_MIDI__MidiEvent);
        ev.event.body.size = 3;
        ev.bytes = {status, note, velocity};
        const uint32_t size = sizeof(LV2_Atom_Event) + 8;
        auto* end = reinterpret_cast<uint8_t*>(&seq()->body) + seq()->atom.size;
        ASSERT_LE(seq()->atom.size + size, kAtomCapacity);
        std::memcpy(end, &ev, size);
        seq()->atom.size += size;
    }
};

class Instance
{
  public:
    Instance()
    {
        const LilvPlugin* plugin = world().plugin;
        const LV2_URID intType = urids().map(LV2_ATOM__Int);
        options = {{
            {LV2_OPTIONS_INSTANCE, 0, urids().map(LV2_BUF_SIZE__minBlockLength), sizeof(int32_t), intType, &minBlock},
            {LV2_OPTIONS_INSTANCE, 0, urids().map(LV2_BUF_SIZE__maxBlockLength), sizeof(int32_t), intType, &maxBlock},
            {LV2_OPTIONS_INSTANCE, 0, urids().map(LV2_BUF_SIZE__sequenceSize), sizeof(int32_t), intType, &seqSize},
            {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr},
        }};
        features = {{{LV2_URID__map, &urids().mapFeature},
                     {LV2_URID__unmap, &urids().unmapFeature},
                     {LV2_OPTIONS__options, options.data()},
                     {LV2_BUF_SIZE__boundedBlockLength, nullptr}}};
        for (size_t i = 0; i < features.size(); ++i) featureList[i] = &features[i];
        instance = lilv_plugin_instantiate(plugin, kRate, featureList.data());
        if (instance == nullptr) return;

        LilvWorld* w = world().world;
        LilvNode* audio = lilv_new_uri(w, LV2_CORE__AudioPort);
        LilvNode* atom = lilv_new_uri(w, LV2_ATOM__AtomPort);
        LilvNode* input = lilv_new_uri(w, LV2_CORE__InputPort);
        LilvNode* control = lilv_new_uri(w, LV2_CORE__ControlPort);
        const uint32_t n = lilv_plugin_get_num_ports(plugin);
        controls.assign(n, 0.0f);
        for (uint32_t i = 0; i < n; ++i)
        {
            const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
            const bool in = lilv_port_is_a(plugin, port, input);
            if (lilv_port_is_a(plugin, port, audio))
                (in ? audioIns : audioOuts).push_back(i);
            else if (lilv_port_is_a(plugin, port, atom))
                (in ? atomIn : atomOut) = static_cast<int>(i);
            else if (lilv_port_is_a(plugin, port, control))
            {
                LilvNode* def = nullptr;
                lilv_port_get_range(plugin, port, &def, nullptr, nullptr);
                controls[i] = def != nullptr ? lilv_node_as_float(def) : (in ? 1.0f : 0.0f);
                lilv_node_free(def);
                lilv_instance_connect_port(instance, i, &controls[i]);
            }
        }
        for (LilvNode* node : {audio, atom, input, control}) lilv_node_free(node);
    }
    ~Instance()
    {
        if (instance != nullptr) lilv_instance_free(instance);
    }
    bool ok() const { return instance != nullptr && atomIn >= 0 && atomOut >= 0 && audioOuts.size() == 2; }

    // One block as a host's process cycle runs it; returns the peak of the stereo output.
    float run(uint32_t frames, const std::vector<std::array<uint8_t, 3>>& midi = {})
    {
        audio.assign(audioOuts.size() + audioIns.size(),
                     std::vector<float>(std::max<uint32_t>(frames, 1), 0.0f));
        in.resetInput();
        out.resetOutput();
        for (size_t k = 0; k < midi.size(); ++k)
            in.addMidi(static_cast<int64_t>(frames * k / std::max<size_t>(midi.size(), 1)), midi[k][0],
                       midi[k][1], midi[k][2]);
        size_t b = 0;
        for (uint32_t p : audioIns) lilv_instance_connect_port(instance, p, audio[b++].data());
        for (uint32_t p : audioOuts) lilv_instance_connect_port(instance, p, audio[b++].data());
        lilv_instance_connect_port(instance, static_cast<uint32_t>(atomIn), in.seq());
        lilv_instance_connect_port(instance, static_cast<uint32_t>(atomOut), out.seq());
        lilv_instance_run(instance, frames);
        EXPECT_LE(out.seq()->atom.size, kAtomCapacity);
        float peak = 0.0f;
        for (size_t c = audioIns.size(); c < audio.size(); ++c)
            for (uint32_t s = 0; s < frames; ++s)
            {
                EXPECT_TRUE(std::isfinite(audio[c][s]));
                peak = std::max(peak, std::fabs(audio[c][s]));
            }
        return peak;
    }

    // The probe a host makes to read the latency port outside its cycle: every buffer is its own
    // and is freed as soon as the run returns.
    void latencyProbe()
    {
        // Hosts size this run by their own period, which may exceed the announced maximum.
        constexpr uint32_t kProbeFrames = 2 * kMaxBlock;
        auto buffer = std::make_unique<std::vector<float>>(kProbeFrames, 0.0f);
        auto probeIn = std::make_unique<AtomBuffer>();
        auto probeOut = std::make_unique<AtomBuffer>();
        probeIn->resetInput();
        probeOut->resetOutput();
        for (uint32_t p : audioIns) lilv_instance_connect_port(instance, p, buffer->data());
        for (uint32_t p : audioOuts) lilv_instance_connect_port(instance, p, buffer->data());
        lilv_instance_connect_port(instance, static_cast<uint32_t>(atomIn), probeIn->seq());
        lilv_instance_connect_port(instance, static_cast<uint32_t>(atomOut), probeOut->seq());
        // As hosts do it: activated for the probe, then left as it was found.
        if (!active) lilv_instance_activate(instance);
        lilv_instance_run(instance, kProbeFrames);
        lilv_instance_deactivate(instance);
        if (active) lilv_instance_activate(instance);
    }

    // The plug-in's state through lilv, as hosts save it with a session and restore it on load.
    void saveAndRestore()
    {
        LilvState* state = lilv_state_new_from_instance(world().plugin, instance, &urids().mapFeature, nullptr,
                                                        nullptr, nullptr, nullptr, portValue, this,
                                                        LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE, nullptr);
        ASSERT_NE(state, nullptr);
        lilv_state_restore(state, instance, nullptr, nullptr, 0, nullptr);
        lilv_state_free(state);
    }

    void setActive(bool on)
    {
        (on ? lilv_instance_activate : lilv_instance_deactivate)(instance);
        active = on;
    }

    LilvInstance* instance = nullptr;

  private:
    bool active = false;
    static const void* portValue(const char*, void*, uint32_t* size, uint32_t* type)
    {
        *size = 0;
        *type = 0;
        return nullptr;
    }

    int32_t minBlock = 0, maxBlock = kMaxBlock, seqSize = kSequenceSize;
    std::array<LV2_Options_Option, 4> options{};
    std::array<LV2_Feature, 4> features{};
    std::array<const LV2_Feature*, 5> featureList{};
    std::vector<uint32_t> audioIns, audioOuts;
    int atomIn = -1, atomOut = -1;
    std::vector<float> controls;
    std::vector<std::vector<float>> audio;
    AtomBuffer in, out;
};

// The plug-in's state properties as a host keeps them between save and restore.
struct SavedProperty
{
    LV2_URID key = 0, type = 0;
    uint32_t flags = 0;
    std::string value;
    bool operator==(const SavedProperty&) const = default;
};
using SavedState = std::vector<SavedProperty>;

const LV2_State_Interface* stateInterface(LilvInstance* instance)
{
    return static_cast<const LV2_State_Interface*>(lilv_instance_get_extension_data(instance, LV2_STATE__interface));
}

SavedState saveState(LilvInstance* instance)
{
    SavedState state;
    const auto store = [](LV2_State_Handle h, uint32_t key, const void* value, size_t size, uint32_t type,
                          uint32_t flags) -> LV2_State_Status
    {
        static_cast<SavedState*>(h)->push_back({key, type, flags, std::string(static_cast<const char*>(value), size)});
        return LV2_STATE_SUCCESS;
    };
    stateInterface(instance)->save(lilv_instance_get_handle(instance), store, &state,
                                   LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE, nullptr);
    return state;
}

void restoreState(LilvInstance* instance, SavedState& state)
{
    const auto retrieve = [](LV2_State_Handle h, uint32_t key, size_t* size, uint32_t* type,
                             uint32_t* flags) -> const void*
    {
        for (const SavedProperty& p : *static_cast<SavedState*>(h))
            if (p.key == key)
            {
                *size = p.value.size();
                *type = p.type;
                *flags = p.flags;
                return p.value.data();
            }
        return nullptr;
    };
    stateInterface(instance)->restore(lilv_instance_get_handle(instance), retrieve, &state,
                                      LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE, nullptr);
}

const std::vector<std::array<uint8_t, 3>> kChord{{0x90, 60, 100}, {0x90, 64, 100}, {0x90, 67, 100}, {0x90, 72, 100}};
const std::vector<std::array<uint8_t, 3>> kChordOff{{0x80, 60, 0}, {0x80, 64, 0}, {0x80, 67, 0}, {0x80, 72, 0}};

// A host's whole life with one instance: probe, play, blocks of odd and oversized lengths,
// state, a flush, a reset (deactivate, activate), probe again, play again.
void hostSession(Instance& inst)
{
    ASSERT_TRUE(inst.ok());
    inst.latencyProbe();
    inst.setActive(true);
    float peak = inst.run(kMaxBlock, kChord);
    for (uint32_t frames : {0u, 1u, 7u, 64u, 511u, 512u, 1024u, 3000u, 0u, 256u})
        peak = std::max(peak, inst.run(frames));
    EXPECT_GT(peak, 1e-4f) << "a held chord must sound";
    inst.saveAndRestore();
    inst.latencyProbe();
    inst.run(kMaxBlock, kChordOff);
    inst.setActive(false);
    inst.setActive(true);
    inst.latencyProbe();
    for (int i = 0; i < 8; ++i) inst.run(i % 2 == 0 ? 0u : 300u, i == 1 ? kChord : kChordOff);
    inst.setActive(false);
}
} // namespace

TEST(Lv2LilvHost, BundleLoadsWithTheExpectedPorts)
{
    ASSERT_NE(world().plugin, nullptr) << "bundle " << QM_LV2_BUNDLE_DIR << " does not offer " << QM_LV2_URI;
    Instance inst;
    ASSERT_TRUE(inst.ok()) << "instantiation failed or ports are missing";
}

TEST(Lv2LilvHost, ManyInstancesOneAfterAnother)
{
    ASSERT_NE(world().plugin, nullptr);
    for (int i = 0; i < 6; ++i)
    {
        Instance inst;
        hostSession(inst);
    }
}

TEST(Lv2LilvHost, TwoInstancesAtOnce)
{
    ASSERT_NE(world().plugin, nullptr);
    // Instantiation and teardown happen on the host's main thread; each runs on its own thread.
    Instance a, b;
    std::thread ta([&] { hostSession(a); });
    std::thread tb([&] { hostSession(b); });
    ta.join();
    tb.join();
}

// A saved state is text: a byte count, a '.', then the data. A count that is negative, overflows,
// or exceeds what the text could hold is refused before anything is allocated for it: the
// instance keeps the state it had and keeps playing.
TEST(Lv2LilvHost, StateWithAnImplausibleByteCountIsRefused)
{
    ASSERT_NE(world().plugin, nullptr);
    Instance donor, inst;
    ASSERT_TRUE(donor.ok());
    ASSERT_TRUE(inst.ok());
    // The donor started with a canvas of its own, which a valid restore hands over whole.
    SavedState given = saveState(donor.instance);
    ASSERT_NE(saveState(inst.instance), given);
    restoreState(inst.instance, given);
    const SavedState prior = saveState(inst.instance);
    ASSERT_EQ(prior, given) << "a valid state must restore";

    const LV2_URID stringType = urids().map(LV2_ATOM__String);
    const auto text =
        std::find_if(prior.begin(), prior.end(), [&](const SavedProperty& p) { return p.type == stringType; });
    ASSERT_NE(text, prior.end());
    const std::string value = text->value.c_str();
    const size_t dot = value.find('.');
    ASSERT_NE(dot, std::string::npos);
    const std::string data = value.substr(dot + 1);

    inst.setActive(true);
    const std::string pastTheText = std::to_string(data.size() * 3 / 4 + 1);
    for (const std::string& count : {std::string("-1"), std::string("2147483648"), std::string("4294967295"),
                                     std::string("18446744073709551615"), std::string("-2147483648"),
                                     std::string("2147483647"), pastTheText})
    {
        SCOPED_TRACE("byte count " + count);
        SavedState damaged = prior;
        damaged[static_cast<size_t>(text - prior.begin())].value = count + "." + data + '\0';
        restoreState(inst.instance, damaged);
        EXPECT_EQ(saveState(inst.instance), prior) << "the instance must keep its state";
        float peak = inst.run(kMaxBlock, kChord);
        for (int i = 0; i < 4; ++i) peak = std::max(peak, inst.run(kMaxBlock));
        inst.run(kMaxBlock, kChordOff);
        EXPECT_GT(peak, 1e-4f) << "the instance must keep playing";
    }
    inst.setActive(false);
}
