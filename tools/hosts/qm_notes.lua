ardour {
    ["type"]    = "dsp",
    name        = "QM Test Notes",
    category    = "Utility",
    license     = "MIT",
    description = [[Plays a fixed phrase for host checks: a held C-E-G-C chord, then four single notes, every four seconds.]]
}

function dsp_ioconfig ()
    return { { midi_in = 1, midi_out = 1, audio_in = 0, audio_out = 0 }, }
end

local pos = 0
local rate = 48000
-- time in seconds within the phrase, status, note
local phrase = {
    { 0.10, 0x90, 60 }, { 0.10, 0x90, 64 }, { 0.10, 0x90, 67 }, { 0.10, 0x90, 72 },
    { 1.60, 0x80, 60 }, { 1.60, 0x80, 64 }, { 1.60, 0x80, 67 }, { 1.60, 0x80, 72 },
    { 1.80, 0x90, 62 }, { 2.20, 0x80, 62 }, { 2.30, 0x90, 65 }, { 2.70, 0x80, 65 },
    { 2.80, 0x90, 69 }, { 3.20, 0x80, 69 }, { 3.30, 0x90, 74 }, { 3.70, 0x80, 74 },
}
local period = 4.0

function dsp_init (sr) rate = sr end

function dsp_run (_, _, n_samples)
    local cnt = 1
    for _, b in pairs (midiin) do
        midiout[cnt] = { time = b["time"], data = b["data"] }
        cnt = cnt + 1
    end
    local plen = math.floor (period * rate)
    local a = pos % plen
    for _, e in ipairs (phrase) do
        local t = math.floor (e[1] * rate)
        if t >= a and t < a + n_samples then
            midiout[cnt] = { time = t - a + 1, data = { e[2], e[3], 100 } }
            cnt = cnt + 1
        end
    end
    pos = pos + n_samples
end
