ardour {
	["type"]    = "dsp",
	name        = "Kestrune Test Phrase",
	category    = "Utility",
	license     = "MIT",
	author      = "Kestrune tests",
	description = [[Plays a fixed phrase at fixed transport positions while the transport rolls, so an
exported session holds notes at known times without a MIDI region.]]
}

-- { start in seconds, length in seconds, note, velocity }; the host test reads the same numbers.
-- The gap before the second note lets its onset be heard clearly when the reverb is off.
local phrase = {
	{ 0.25, 0.30, 60, 100 },
	{ 1.00, 0.30, 64, 90 },
	{ 1.50, 0.40, 67, 110 },
}

local rate = 48000
local events = {} -- sorted { sample, status, note, velocity }

function dsp_ioconfig ()
	return { { midi_in = 1, midi_out = 1, audio_in = 0, audio_out = 0 } }
end

function dsp_init (sample_rate)
	rate = sample_rate
	events = {}
	for _, n in ipairs (phrase) do
		local on = math.floor (n[1] * rate + 0.5)
		local off = math.floor ((n[1] + n[2]) * rate + 0.5)
		events[#events + 1] = { on, 0x90, n[3], n[4] }
		events[#events + 1] = { off, 0x80, n[3], 0 }
	end
	table.sort (events, function (a, b) return a[1] < b[1] end)
end

function dsp_run (_, _, n_samples)
	local i = 1
	if not Session:transport_rolling () then return end

	local first = Session:transport_sample ()
	for _, e in ipairs (events) do
		if e[1] >= first and e[1] < first + n_samples then
			midiout[i] = { time = e[1] - first + 1, data = { e[2], e[3], e[4] } }
			i = i + 1
		end
	end
end
