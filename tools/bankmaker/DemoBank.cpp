#include "BankMaker.h"

#include <cstdio>

namespace qmbank
{
namespace
{
const std::vector<int> kOneZone = {60};
const std::vector<int> kThreeZones = {48, 60, 72};
const std::vector<int> kFiveZones = {36, 48, 60, 72, 84};
const std::vector<int> kSevenZones = {28, 40, 52, 64, 76, 88, 100};

SoundDescription base(const char* category, const char* name, std::vector<int> keys)
{
    SoundDescription d;
    d.category = category;
    d.name = name;
    d.zoneKeys = std::move(keys);
    return d;
}

// Harmonic spectra with different tilts and odd/even balances; steady, mostly tonal.
void addLeads(std::vector<SoundDescription>& out)
{
    SoundDescription d = base("Leads", "Saw Lead", kThreeZones);
    d.harmonics = 67;
    d.tilt = 1.0f;
    d.onsetLevel = 0.02f;
    d.vibratoDepth = 24;
    out.push_back(d);

    d = base("Leads", "Square Lead", kThreeZones);
    d.harmonics = 67;
    d.evenGain = 0.0f;
    d.tilt = 1.0f;
    d.jitterAmount = 12;
    d.jitterRate = 512;
    out.push_back(d);

    d = base("Leads", "Even Reed", kThreeZones);
    d.harmonics = 50;
    d.oddGain = 0.35f;
    d.evenGain = 1.0f;
    d.tilt = 0.8f;
    d.noise = 0.08f;
    d.noiseWidth = 0.3f;
    d.vibratoDepth = 16;
    out.push_back(d);

    d = base("Leads", "Soft Sine", kOneZone);
    d.harmonics = 6;
    d.tilt = 3.0f;
    d.level = 0.12f;
    d.headerExtra = 9; // six unread header bytes
    out.push_back(d);

    d = base("Leads", "Bright Buzz", kFiveZones);
    d.harmonics = 67;
    d.tilt = 0.5f;
    d.oscDepth = 0.3f;
    d.oscRateHz = 5.0f;
    d.envelope = Envelope::Tremolo;
    d.frames = 16;
    d.frameRateHz = 12.0f;
    out.push_back(d);

    d = base("Leads", "Hollow Pipe", kThreeZones);
    d.harmonics = 30;
    d.evenGain = 0.1f;
    d.tilt = 2.0f;
    d.noise = 0.15f;
    d.noiseWidth = 0.5f;
    d.onsetLevel = 0.04f;
    d.onsetCentreHz = 3000.0f;
    d.onsetDelaySeconds = 0.004f;
    out.push_back(d);
}

// Decaying, slightly stretched harmonic sounds with transients and frame envelopes.
void addKeys(std::vector<SoundDescription>& out)
{
    SoundDescription d = base("Keys", "Soft Piano", kSevenZones);
    d.suffix = "2"; // "Keys_Soft Piano_2": the engine ignores what follows the second underscore
    d.harmonics = 60;
    d.tilt = 1.4f;
    d.sustain = 0.0f;
    d.decaySeconds = 2.5f;
    d.decayShape = 0.2f;
    d.transient = 0.4f;
    d.transientSeconds = 0.03f;
    d.stretch = 0.0004f;
    d.onsetLevel = 0.05f;
    d.onsetSeconds = 0.015f;
    d.resonances = {{220.0f, 0.004f, 0.8f, 0.3f, 0.2f, 0.1f}, {880.0f, 0.003f, 0.5f, 0.3f, 0.4f, 0.2f}};
    out.push_back(d);

    d = base("Keys", "Electric Tine", kFiveZones);
    d.harmonics = 24;
    d.tilt = 2.0f;
    d.sustain = 0.1f;
    d.decaySeconds = 1.8f;
    d.transient = 1.2f;
    d.transientSeconds = 0.04f;
    d.oscDepth = 0.2f;
    d.oscRateHz = 4.5f;
    d.onsetLevel = 0.03f;
    d.onsetCentreHz = 5000.0f;
    out.push_back(d);

    d = base("Keys", "Clav Pluck", kThreeZones);
    d.harmonics = 67;
    d.tilt = 0.9f;
    d.evenGain = 0.5f;
    d.sustain = 0.0f;
    d.decaySeconds = 0.6f;
    d.decayShape = 0.6f;
    d.envelope = Envelope::Fall;
    d.frames = 24;
    d.frameRateHz = 30.0f;
    d.envelopeDepth = 60;
    out.push_back(d);

    d = base("Keys", "Drawbar Organ", kThreeZones);
    d.harmonics = 20;
    d.tilt = 0.3f;
    d.oddGain = 0.8f;
    d.onsetLevel = 0.06f;
    d.onsetSeconds = 0.006f;
    d.onsetCentreHz = 6000.0f;
    d.onsetSpreadHz = 6000.0f;
    d.oscDepth = 0.4f;
    d.oscRateHz = 6.5f;
    out.push_back(d);

    d = base("Keys", "Harpsichord", kFiveZones);
    d.harmonics = 67;
    d.tilt = 0.7f;
    d.sustain = 0.0f;
    d.decaySeconds = 1.2f;
    d.transient = 0.6f;
    d.transientSeconds = 0.01f;
    d.stretch = 0.0002f;
    d.tuneCents = 4;
    d.tuneAlternate = true;
    d.warpWidth = 30;
    out.push_back(d);
}

// Inharmonic, decaying partials placed with the band detune.
void addBells(std::vector<SoundDescription>& out)
{
    SoundDescription d = base("Bells", "Tubular Bell", kThreeZones);
    d.partials = {{1.0f, 1.0f, 4.0f}, {2.0f, 0.6f, 3.0f}, {3.0f, 0.5f, 2.5f},  {4.2f, 0.4f, 2.0f},
                  {5.4f, 0.3f, 1.5f}, {6.8f, 0.2f, 1.2f}, {8.3f, 0.15f, 1.0f}, {9.9f, 0.1f, 0.8f}};
    d.level = 0.06f;
    d.onsetLevel = 0.04f;
    d.onsetCentreHz = 4000.0f;
    d.resonances = {{1500.0f, 0.004f, 2.0f, 0.1f, 0.05f, 0.05f}};
    out.push_back(d);

    d = base("Bells", "Glass Bell", kFiveZones);
    d.partials = {{1.0f, 1.0f, 2.0f},  {2.76f, 0.7f, 1.5f},  {5.4f, 0.5f, 1.0f},
                  {8.93f, 0.3f, 0.7f}, {13.34f, 0.2f, 0.5f}, {18.64f, 0.1f, 0.3f}};
    d.level = 0.07f;
    d.shimmer = 0.2f;
    d.markStride = 0.3f;
    d.markRateHz = 3.0f;
    out.push_back(d);

    d = base("Bells", "Gamelan", kThreeZones);
    d.partials = {{1.0f, 1.0f, 3.0f},  {1.52f, 0.6f, 2.5f}, {3.46f, 0.5f, 2.0f},
                  {3.92f, 0.4f, 1.5f}, {5.17f, 0.3f, 1.2f}, {6.7f, 0.2f, 1.0f}};
    d.level = 0.06f;
    d.oscDepth = 0.5f;
    d.oscRateHz = 2.0f;
    d.tuneCents = 15;
    d.warpWidth = 50;
    out.push_back(d);

    d = base("Bells", "Music Box", kSevenZones);
    d.partials = {{1.0f, 1.0f, 1.2f}, {3.0f, 0.3f, 0.6f}, {5.8f, 0.2f, 0.4f}, {9.3f, 0.1f, 0.3f}};
    d.level = 0.07f;
    d.onsetLevel = 0.05f;
    d.onsetSeconds = 0.004f;
    d.onsetCentreHz = 8000.0f;
    out.push_back(d);

    d = base("Bells", "Church Bell", kThreeZones);
    d.partials = {{0.5f, 0.8f, 6.0f},  {1.0f, 1.0f, 5.0f},  {1.19f, 0.7f, 4.0f},
                  {1.5f, 0.5f, 3.0f},  {2.0f, 0.6f, 3.0f},  {2.51f, 0.3f, 2.0f},
                  {2.66f, 0.3f, 2.0f}, {3.01f, 0.2f, 1.5f}, {4.1f, 0.15f, 1.0f}};
    d.level = 0.05f;
    d.resonances = {{600.0f, 0.005f, 3.0f, 0.1f, 0.1f, 0.1f}, {1900.0f, 0.003f, 2.0f, 0.2f, 0.3f, 0.2f}};
    out.push_back(d);
}

const std::vector<Formant> kVowelA = {
    {730.0f, 90.0f, 1.0f}, {1090.0f, 110.0f, 0.5f}, {2440.0f, 170.0f, 0.15f}};
const std::vector<Formant> kVowelO = {{300.0f, 60.0f, 1.0f}, {870.0f, 90.0f, 0.3f}, {2240.0f, 150.0f, 0.05f}};
const std::vector<Formant> kVowelE = {
    {270.0f, 60.0f, 1.0f}, {2290.0f, 150.0f, 0.4f}, {3010.0f, 200.0f, 0.25f}};

// Formant spectra fixed in Hz, so their harmonic balance follows the key across the zones.
void addVoices(std::vector<SoundDescription>& out)
{
    SoundDescription d = base("Voices", "Choir Ah", kFiveZones);
    d.harmonics = 60;
    d.tilt = 0.4f;
    d.formants = kVowelA;
    d.gainByte = 255;
    d.vibratoDepth = 30;
    d.jitterAmount = 20;
    d.jitterRate = 640;
    d.noise = 0.1f;
    d.noiseWidth = 0.2f;
    d.shareFlag = 128;
    d.share = 0.5f;
    d.swellSeconds = 0.3f;
    out.push_back(d);

    d = base("Voices", "Choir Oo", kFiveZones);
    d.harmonics = 50;
    d.tilt = 0.5f;
    d.formants = kVowelO;
    d.gainByte = 230;
    d.vibratoDepth = 24;
    d.jitterAmount = 16;
    d.jitterRate = 512;
    d.shareFlag = 64;
    d.share = 0.7f;
    out.push_back(d);

    d = base("Voices", "Voice Ee", kSevenZones);
    d.harmonics = 67;
    d.tilt = 0.3f;
    d.formants = kVowelE;
    d.gainByte = 200;
    d.vibratoDepth = 40;
    d.tuneCents = -12;
    d.warpWidth = 80;
    d.onsetLevel = 0.02f;
    d.onsetCentreHz = 3500.0f;
    out.push_back(d);

    d = base("Voices", "Formant Brass", kFiveZones);
    d.harmonics = 67;
    d.tilt = 0.6f;
    d.formants = {{1200.0f, 400.0f, 1.0f}, {2500.0f, 600.0f, 0.4f}};
    d.gainByte = 160;
    d.swellSeconds = 0.08f;
    d.envelope = Envelope::Wah;
    d.frames = 32;
    d.frameRateHz = 16.0f;
    d.envelopeDepth = 50;
    d.tuneCents = 20;
    d.warpWidth = 20;
    out.push_back(d);

    d = base("Voices", "Vox Synth", kThreeZones);
    d.harmonics = 67;
    d.tilt = 0.8f;
    d.formants = {{500.0f, 120.0f, 1.0f}, {1500.0f, 150.0f, 0.6f}, {2500.0f, 200.0f, 0.3f}};
    d.gainByte = 255;
    d.oscDepth = 0.25f;
    d.oscRateHz = 0.7f;
    d.vibratoDepth = 10;
    out.push_back(d);
}

// Noisy pads: noise bytes, swelling level A, share bytes, jitter generators, frame envelopes.
void addPads(std::vector<SoundDescription>& out)
{
    SoundDescription d = base("Pads", "Noise Pad", kThreeZones);
    d.harmonics = 67;
    d.tilt = 0.7f;
    d.noise = 0.85f;
    d.noiseWidth = 0.8f;
    d.swellSeconds = 1.2f;
    d.shareFlag = 200;
    d.share = 0.8f;
    d.shimmer = 0.3f;
    d.markStride = 0.25f;
    d.markRateHz = 4.0f;
    out.push_back(d);

    d = base("Pads", "Breath Pad", kFiveZones);
    d.harmonics = 50;
    d.tilt = 1.2f;
    d.noise = 0.6f;
    d.noiseWidth = 0.5f;
    d.swellSeconds = 0.6f;
    d.formants = {{900.0f, 500.0f, 1.0f}};
    d.gainByte = 100;
    d.envelope = Envelope::Rise;
    d.frames = 40;
    d.frameRateHz = 10.0f;
    out.push_back(d);

    d = base("Pads", "Wind Swell", kOneZone);
    d.harmonics = 67;
    d.tilt = 0.2f;
    d.noise = 1.0f;
    d.noiseWidth = 1.0f;
    d.swellSeconds = 2.0f;
    d.shimmer = 0.5f;
    d.markStride = 0.6f;
    d.markRateHz = 1.5f;
    d.resonances = {{400.0f, 0.01f, 4.0f, 0.0f, 0.9f, 0.8f},
                    {1200.0f, 0.008f, 4.0f, 0.0f, 0.9f, 0.9f},
                    {3100.0f, 0.006f, 4.0f, 0.0f, 0.8f, 1.0f}};
    out.push_back(d);

    d = base("Pads", "Warm Pad", kFiveZones);
    d.harmonics = 40;
    d.tilt = 1.6f;
    d.noise = 0.2f;
    d.noiseWidth = 0.2f;
    d.swellSeconds = 0.9f;
    d.oscDepth = 0.15f;
    d.oscRateHz = 0.5f;
    d.shareFlag = 255; // shares present, but the zone adds nothing to the share time
    d.share = 0.4f;
    d.vibratoDepth = 8;
    out.push_back(d);

    d = base("Pads", "Shimmer Pad", kThreeZones);
    d.harmonics = 67;
    d.tilt = 0.9f;
    d.stretch = 0.0008f;
    d.noise = 0.35f;
    d.noiseWidth = 0.4f;
    d.swellSeconds = 1.5f;
    d.shimmer = 0.6f;
    d.markStride = 0.4f;
    d.markRateHz = 6.0f;
    d.envelope = Envelope::Wah;
    d.frames = 48;
    d.frameRateHz = 8.0f;
    d.envelopeDepth = 30;
    d.headerExtra = 5;
    out.push_back(d);
}

// Struck and plucked sounds with resonances and strong onsets.
void addPercussion(std::vector<SoundDescription>& out)
{
    SoundDescription d = base("Plucks", "Nylon Pluck", kFiveZones);
    d.harmonics = 45;
    d.tilt = 1.3f;
    d.sustain = 0.0f;
    d.decaySeconds = 1.5f;
    d.transient = 0.5f;
    d.transientSeconds = 0.02f;
    d.onsetLevel = 0.05f;
    d.onsetSeconds = 0.01f;
    d.resonances = {{110.0f, 0.006f, 0.4f, 0.5f, 0.1f, 0.2f}, {250.0f, 0.005f, 0.3f, 0.4f, 0.2f, 0.3f}};
    out.push_back(d);

    d = base("Plucks", "Marimba", kThreeZones);
    d.partials = {{1.0f, 1.0f, 0.8f}, {3.93f, 0.4f, 0.3f}, {9.2f, 0.15f, 0.15f}};
    d.level = 0.08f;
    d.onsetLevel = 0.06f;
    d.onsetSeconds = 0.008f;
    d.onsetCentreHz = 1500.0f;
    d.resonances = {{262.0f, 0.01f, 0.6f, 0.2f, 0.1f, 0.1f},
                    {523.0f, 0.006f, 0.5f, 0.2f, 0.1f, 0.1f},
                    {1046.0f, 0.004f, 0.3f, 0.3f, 0.2f, 0.2f}};
    out.push_back(d);

    d = base("Plucks", "Kalimba", kFiveZones);
    d.partials = {{1.0f, 1.0f, 1.0f}, {5.9f, 0.3f, 0.2f}, {13.1f, 0.1f, 0.1f}};
    d.level = 0.08f;
    d.onsetLevel = 0.03f;
    d.tuneCents = 8;
    d.tuneAlternate = true;
    d.warpWidth = 25;
    out.push_back(d);

    d = base("Plucks", "Snap Pluck", kThreeZones);
    d.harmonics = 67;
    d.tilt = 0.8f;
    d.sustain = 0.0f;
    d.decaySeconds = 0.3f;
    d.decayShape = 1.0f;
    d.transient = 1.5f;
    d.transientSeconds = 0.008f;
    d.onsetLevel = 0.08f;
    d.onsetSeconds = 0.005f;
    d.onsetCentreHz = 9000.0f;
    d.onsetSpreadHz = 8000.0f;
    d.onsetDelaySeconds = 0.008f;
    out.push_back(d);

    d = base("Plucks", "Steel Drum", kThreeZones);
    d.partials = {
        {1.0f, 1.0f, 1.5f}, {2.0f, 0.7f, 1.2f}, {3.0f, 0.3f, 0.8f}, {3.96f, 0.4f, 0.7f}, {5.1f, 0.2f, 0.5f}};
    d.level = 0.07f;
    d.resonances = {{700.0f, 0.008f, 0.5f, 0.5f, 0.0f, 0.4f}};
    d.envelope = Envelope::Fall;
    d.frames = 12;
    d.frameRateHz = 25.0f;
    out.push_back(d);
}

// Experimental sounds: categories starting with "x" are painted grey after the others.
void addExperimental(std::vector<SoundDescription>& out)
{
    SoundDescription d = base("xLab", "Sub Drone", kOneZone);
    d.harmonics = 12;
    d.tilt = 1.0f;
    d.subLevel = 0.8f;
    d.gainByte = 64;
    d.jitterAmount = 40;
    d.jitterRate = 256;
    d.vibratoDepth = 60;
    d.noise = 0.3f;
    d.noiseWidth = 0.1f;
    out.push_back(d);

    d = base("xLab", "Click Train", kThreeZones);
    d.harmonics = 67;
    d.tilt = 0.0f;
    d.level = 0.01f;
    d.oscDepth = 1.0f;
    d.oscRateHz = 12.0f;
    d.envelope = Envelope::Tremolo;
    d.frames = 8;
    d.frameRateHz = 40.0f;
    d.envelopeDepth = 100;
    d.onsetLevel = 0.05f;
    out.push_back(d);

    d = base("xLab", "Metal Sheet", kThreeZones);
    d.harmonics = 67;
    d.tilt = 0.6f;
    d.stretch = 0.003f;
    d.sustain = 0.2f;
    d.decaySeconds = 3.0f;
    d.shimmer = 0.4f;
    d.markStride = 0.5f;
    d.markRateHz = 8.0f;
    d.resonances = {{3200.0f, 0.006f, 1.5f, 0.6f, 0.5f, 0.5f}, {5100.0f, 0.004f, 1.0f, 0.8f, 0.6f, 0.7f}};
    out.push_back(d);
}
} // namespace

std::vector<SoundDescription> demoSounds()
{
    std::vector<SoundDescription> out;
    addLeads(out);
    addKeys(out);
    addBells(out);
    addVoices(out);
    addPads(out);
    addPercussion(out);
    addExperimental(out);
    return out;
}

std::vector<BankEntry> demoBank()
{
    std::vector<BankEntry> bank;
    for (const SoundDescription& d : demoSounds())
        bank.push_back({entryName(d), makeBlob(d)});
    return bank;
}

std::vector<BankEntry> largeBank()
{
    std::vector<BankEntry> bank;
    for (int i = 0; i < kLargeBankBigCategorySize; ++i)
    {
        char name[32];
        std::snprintf(name, sizeof name, "Tone %02d", i + 1);
        SoundDescription d = base("Grid", name, i % 3 == 0 ? kThreeZones : kOneZone);
        d.harmonics = 8 + (i * 7) % 60;
        d.tilt = 0.3f + 0.05f * float(i % 30);
        d.evenGain = (i % 4 == 1) ? 0.2f : 1.0f;
        d.sustain = (i % 5 == 0) ? 0.0f : 0.7f;
        d.decaySeconds = 0.5f + 0.1f * float(i % 20);
        d.noise = 0.02f * float(i % 10);
        d.noiseWidth = 0.3f;
        d.gainByte = uint8_t((i * 37) & 0xff);
        bank.push_back({entryName(d), makeBlob(d)});
    }
    for (int i = 0; i < 3; ++i)
    {
        char name[32];
        std::snprintf(name, sizeof name, "Extra %d", i + 1);
        SoundDescription d = base("Other", name, kOneZone);
        d.harmonics = 20 + 10 * i;
        d.tilt = 1.0f + 0.5f * float(i);
        bank.push_back({entryName(d), makeBlob(d)});
    }
    return bank;
}

std::vector<BankEntry> hostileBank()
{
    std::vector<BankEntry> bank;
    auto add = [&bank](const char* name, const BlobSpec& desc) {
        bank.push_back({std::string("Hostile_") + name, encodeBlob(desc)});
    };

    SoundDescription plain = base("Hostile", "Plain", {60});
    plain.harmonics = 40;

    // 80 band records in every zone: the band tables are read at H + 1 = 81.
    SoundDescription d = plain;
    d.harmonics = 80;
    d.zoneKeys = {40, 80};
    add("Eighty Bands", describeBlob(d));

    // 255 resonances: more than a voice keeps.
    BlobSpec desc = describeBlob(plain);
    for (int i = 0; i < 255; ++i)
        desc.zones[0].resonances.push_back({200, 800, 40, 30, 100, uint16_t(1000 + 40 * i)});
    add("Many Resonances", desc);

    // Keys above the MIDI range: the analysis looks the map up at a zone key.
    desc = describeBlob(plain);
    desc.zones[0].key = 255;
    add("Key 255", desc);
    d = plain;
    d.zoneKeys = {60, 190};
    add("High Keys", describeBlob(d));

    // No band records: no energy anywhere.
    d = plain;
    d.harmonics = 0;
    d.zoneKeys = {48, 72};
    add("No Bands", describeBlob(d));

    // Jitter strides summing to 80 (every band byte 20 = 255).
    desc = describeBlob(plain);
    for (BlobZone& z : desc.zones)
    {
        z.bands.resize(80);
        for (BandRecord& b : z.bands)
            b.markStride = 255;
    }
    add("Mark Overflow", desc);

    // Every field at an extreme.
    desc = describeBlob(plain);
    for (BlobZone& z : desc.zones)
    {
        z.frameCount = 255;
        z.frameRate = 0;
        z.harmonicShareFlag = 255;
        z.tuneCents = -32768;
        z.warpWidth = 0;
        z.jitterAmount = 255;
        z.jitterRate = 65535;
        z.vibratoDepth = 255;
        for (OnsetBand& o : z.onsetBands)
            o = {65535, 0, -128, 127};
        for (BandRecord& b : z.bands)
        {
            b = BandRecord{32767, 0,   -32768, 65535, 255, 65535, -32768, 255, 255,
                           255,   255, 255,    255,   255, 0,     255,    {}};
            b.envelope.assign(255, int8_t(127));
        }
        z.shareBytes.assign(z.bands.size(), 255);
        z.resonances.assign(64, Resonance{65535, 0, 255, 255, 255, 65535});
    }
    add("Extremes", desc);
    return bank;
}

} // namespace qmbank
