-- Drives one Ardour session for the host tests; run by ardour7-lua, configured through the
-- environment by ardour_host.py. Prints the lines the test reads, each starting with "KT ".
--
-- KT_MODE        create | reload
-- KT_SESSION     session folder (its last path element is the session name)
-- KT_TYPE        VST3 or LV2; KT_PLUGIN the plug-in's name
-- KT_PHRASE      create only: "1" puts the phrase generator in front of the instrument
-- KT_SET         create only: "Name=value;Name=value" (controls by the names Ardour shows, host units)
-- KT_AUTOMATE    create only: "Name=sample:value,sample:value;..." automation the session plays back
-- KT_SNAPSHOT    save the session under this snapshot name ("" = the session's own name)
-- KT_EXPORT      export file name without extension ("" = no export); KT_EXPORT_DIR its folder,
--                KT_SECONDS its length, KT_PRESET the export preset's id
-- KT_BUFFER      engine block size

local function env (name, fallback)
	local v = os.getenv (name)
	if v == nil or v == "" then return fallback end
	return v
end

local session_open = false

local function finish (code)
	-- Everything the test reads is out before the session closes and the engine stops.
	io.stdout:flush ()
	if session_open then close_session () end
	AudioEngine:stop (false)
	os.exit (code)
end

local function fail (msg)
	print ("KT FAIL " .. msg)
	finish (1)
end

local mode = env ("KT_MODE", "create")
local session_dir = env ("KT_SESSION", nil) or fail ("KT_SESSION not set")
local session_name = session_dir:match ("([^/]+)/*$")
local plugin_type = env ("KT_TYPE", "VST3") == "LV2" and ARDOUR.PluginType.LV2 or ARDOUR.PluginType.VST3

-- Automation in audio time: with the default, beat time, this Ardour's butler thread converts
-- positions through the tempo map on every locate and now and then crashes doing so.
ARDOUR.config ():set_default_automation_time_domain (Temporal.TimeDomain.AudioTime)

local backend = AudioEngine:set_backend ("None (Dummy)", "", "")
if backend:isnil () then fail ("no dummy backend") end
backend:set_buffer_size (tonumber (env ("KT_BUFFER", "64")))

local s
if mode == "create" then
	s = create_session (session_dir, session_name, 48000)
else
	s = load_session (session_dir, session_name)
end
if not s then fail ("cannot open session " .. session_dir) end
session_open = true
print ("KT BUFFER " .. backend:buffer_size ())

if mode == "create" then
	local midi = ARDOUR.DataType ("midi")
	local audio = ARDOUR.DataType ("audio")
	local tracks = Session:new_midi_track (ARDOUR.ChanCount (midi, 1), ARDOUR.ChanCount (audio, 2), false,
		ARDOUR.PluginInfo (), nil, nil, 1, "Kestrune", ARDOUR.PresentationInfo.max_order,
		ARDOUR.TrackMode.Normal, true, false)
	if tracks:size () ~= 1 then fail ("no MIDI track") end
	local track = tracks:front ()

	local inst = ARDOUR.LuaAPI.new_plugin (Session, env ("KT_PLUGIN", ""), plugin_type, "")
	if inst:isnil () then fail ("plug-in not found: " .. env ("KT_PLUGIN", "")) end
	if track:add_processor_by_index (inst, 0, nil, true) ~= 0 then fail ("cannot add the instrument") end

	if env ("KT_PHRASE", "1") == "1" then
		local gen = ARDOUR.LuaAPI.new_plugin (Session, "Kestrune Test Phrase", ARDOUR.PluginType.Lua, "")
		if gen:isnil () then fail ("phrase generator not found") end
		if track:add_processor_by_index (gen, 0, nil, true) ~= 0 then fail ("cannot add the phrase") end
	end
end

local function instrument_insert ()
	for r in Session:get_routes ():iter () do
		local i = 0
		while true do
			local proc = r:nth_plugin (i)
			if proc:isnil () then break end
			local pi = proc:to_insert ()
			if pi:type () == plugin_type then return r, pi end
			i = i + 1
		end
	end
	return nil, nil
end

local route, insert = instrument_insert ()
if not insert then fail ("no instrument in the session") end
local plugin = insert:plugin (0)
print ("KT PLUGIN " .. plugin:name () .. "|" .. plugin:unique_id ())
print ("KT PATH " .. plugin:get_info ().path)
print ("KT LATENCY " .. insert:signal_latency () .. "|" .. route:signal_latency ())

-- The instrument's controls as Ardour offers them: its automatable plug-in ports (VST3 parameters,
-- LV2 control ports).
local function controls ()
	local list = {}
	local auto = insert:to_automatable ()
	for p in auto:all_automatable_params ():iter () do
		if p:type () == ARDOUR.AutomationType.PluginAutomation then
			local ac = auto:automation_control (p, false)
			if not ac:isnil () then list[#list + 1] = { ac, ac:name (), "port" } end
		end
	end
	return list
end

local list = controls ()

if mode == "create" then
	local by_name = {}
	for _, c in ipairs (list) do by_name[c[2]] = c[1] end
	for item in env ("KT_SET", ""):gmatch ("[^;]+") do
		local name, v = item:match ("^(.-)=([-%d.eE]+)$")
		local ac = name and by_name[name]
		if not ac then fail ("no control for " .. item) end
		ac:set_value (tonumber (v), PBD.GroupControlDisposition.NoGroup)
	end
	for item in env ("KT_AUTOMATE", ""):gmatch ("[^;]+") do
		local name, points = item:match ("^(.-)=(.+)$")
		local ac = name and by_name[name]
		if not ac or ac:alist ():isnil () then fail ("no automation list for " .. item) end
		local al = ac:alist ()
		for at, v in points:gmatch ("(%d+):([-%d.eE]+)") do
			al:add (Temporal.timepos_t (tonumber (at)), tonumber (v), false, false)
		end
		ac:set_automation_state (ARDOUR.AutoState.Play)
		print ("KT AUTOMATED " .. name .. " " .. al:size () .. " points")
	end
end
-- Let a few cycles run: the plug-in reads its LV2 control ports at its next run.
sleep (0.5)

-- index|name|value|lower|upper|default|kind, as Ardour shows them
for n, c in ipairs (list) do
	local d = c[1]:desc ()
	print (string.format ("KT PARAM %d|%s|%.9g|%.9g|%.9g|%.9g|%s", n - 1, c[2], c[1]:get_value (), d.lower, d.upper,
		d.normal, c[3]))
end

if Session:save_state (env ("KT_SNAPSHOT", ""), false, false, false, false, false) ~= 0 then fail ("cannot save") end
print ("KT SAVED " .. Session:snap_name ())

local export_name = env ("KT_EXPORT", "")
if export_name ~= "" then
	local e = Session:simple_export ()
	if not e:set_preset (env ("KT_PRESET", "")) then fail ("export preset missing") end
	e:set_name (export_name)
	e:set_folder (env ("KT_EXPORT_DIR", "/tmp"))
	e:set_range (0, math.floor (tonumber (env ("KT_SECONDS", "3")) * Session:nominal_sample_rate ()))
	if not e:run_export () then fail ("export failed") end
	print ("KT EXPORTED " .. export_name)
end

print ("KT DONE")
finish (0)
