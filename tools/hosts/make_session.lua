-- Usage: ardour7-lua make_session.lua  (env QM_SESSION_DIR, QM_PLUGIN_URI or QM_PLUGIN_NAME, QM_PLUGIN_TYPE=LV2|VST3)
local dir = os.getenv ("QM_SESSION_DIR")
local uri = os.getenv ("QM_PLUGIN_URI")
local ptype = os.getenv ("QM_PLUGIN_TYPE") or "LV2"
AudioEngine:set_backend ("None (Dummy)", "", "")
local s = create_session (dir, "qm", 48000)
assert (s, "no session")
local tl = s:new_midi_track (ARDOUR.ChanCount (ARDOUR.DataType ("midi"), 1), ARDOUR.ChanCount (ARDOUR.DataType ("audio"), 2),
    true, ARDOUR.PluginInfo (), nil, nil, 1, "synth", ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true)
local tr = tl:front ()
-- "none" leaves the track with the note generator alone: the same session without any instrument.
if uri ~= "none" then
    local t = (ptype == "VST3") and ARDOUR.PluginType.VST3 or ARDOUR.PluginType.LV2
    local p = ARDOUR.LuaAPI.new_plugin (s, uri, t, "")
    assert (not p:isnil (), "no plugin " .. uri)
    tr:add_processor_by_index (p, 0, nil, true)
end
-- QM_NOTES=none leaves out the note generator too: a bare MIDI track.
if os.getenv ("QM_NOTES") ~= "none" then
    local notes = ARDOUR.LuaAPI.new_luaproc (s, "QM Test Notes")
    assert (not notes:isnil (), "no note generator")
    tr:add_processor_by_index (notes, 0, nil, true) -- ahead of the instrument
end
s:save_state ("", false, false, false, false, false)
print ("session ready")
close_session ()
