#include "demo/demo_play.hpp"

namespace tallowmark {

namespace {

constexpr DemoBlock title(std::string_view text) { return {DemoBlockKind::mainHeading, text, {}}; }
constexpr DemoBlock heading(std::string_view text) { return {DemoBlockKind::heading, text, {}}; }
constexpr DemoBlock direction(std::string_view text) { return {DemoBlockKind::direction, text, {}}; }
constexpr DemoBlock line(std::string_view speaker, std::string_view text) {
    return {DemoBlockKind::line, text, speaker};
}
constexpr DemoBlock pageBreak() { return {DemoBlockKind::pageBreak, {}, {}}; }

// A block too many does not compile; one too few leaves the last slot empty,
// which the assertion after the list catches.
constexpr std::array<DemoBlock, demoBlockCount> blocks{{
    title("LANTERN AT SKERROW HEAD"),
    heading("Rehearsal script"),
    heading("The people of the play"),
    direction("ODA BRENNAN, keeper of the Skerrow Head light, in her sixties. TAM BRENNAN, her nephew and "
              "assistant keeper, twenty. A VOICE on the radio: Danny Quill, skipper of the fishing boat Marianne."),
    pageBreak(),
    heading("ACT ONE"),
    heading("Scene One. The lamp room. An evening in late October."),
    direction("The house darkens. In the dark, the sea."),
    direction("Rain hammers the glass of the lantern gallery. Wind worries at the door."),
    direction("Lights rise slowly. At a small desk under the great lens a desk lamp burns. ODA sits writing in the "
              "log book, a mug of tea gone cold beside her."),
    line("ODA", "(writing, aloud) Twenty-eighth. Wind south-west, force seven and rising. Glass falling fast. "
                "Nothing on the water but weather."),
    line("ODA", "(She stops and listens.) You are late, Tam Brennan."),
    direction("Footsteps ring on the iron stair below, climbing."),
    line("TAM", "(off, climbing) I am not late. The stair is longer in the rain."),
    direction("TAM comes up through the floor hatch, soaked, a canvas bag over his shoulder. He slams the hatch "
              "behind him and the wind falls away to a mutter."),
    line("ODA", "Boots."),
    line("TAM", "I have only just come in."),
    line("ODA", "And you have brought half the headland in with you. Boots."),
    direction("He sits on the top step and pulls them off, grumbling."),
    line("TAM", "The road has gone to soup past the chapel. I had to leave the bike at Moran's gate."),
    line("ODA", "Did you get the wicks?"),
    line("TAM", "Wicks, matches, two tins of paraffin, a loaf, and a newspaper nobody asked for."),
    line("ODA", "I asked for it."),
    line("TAM", "You asked for the crossword. The rest of it came along for the ride."),
    direction("A flicker at the windows, far out over the water. Neither of them looks up at first."),
    line("ODA", "(counting under her breath) One. Two. Three."),
    direction("A long, low roll of thunder, a long way off."),
    line("TAM", "Three miles?"),
    line("ODA", "Three miles, and coming this way. Put the kettle on. It will be a long night."),
    line("TAM", "They said on the wireless it would pass to the north."),
    line("ODA", "The wireless lives in a warm room in the city. The weather lives here."),
    direction("She closes the log, stands, and looks up at the clock on the wall."),
    line("ODA", "Ten past five. Time to light her."),
    line("TAM", "Can I do it?"),
    line("ODA", "You did it on Tuesday."),
    line("TAM", "And I did it well."),
    line("ODA", "(a pause; she relents) Go on, then. Slowly. She is old and she does not like to be rushed."),
    direction("TAM crosses to the panel, checks each dial in turn, and throws the great switch."),
    direction("The lamp blazes. The whole room turns to gold."),
    direction("Beneath them, with a deep hum, the lens begins to turn."),
    direction("The beam sweeps out across the sea, once, twice, and settles into its slow count."),
    line("TAM", "(delighted, as always) Every time."),
    line("ODA", "Every time. Forty-one years and it still catches me here. (She taps her chest.)"),
    line("TAM", "What did it turn on before the motor? Before the electric came?"),
    line("ODA", "Clockwork and a strong arm. Your grandfather wound it every two hours, night after night, and "
                "slept in a chair in between."),
    line("TAM", "No wonder he was cross."),
    line("ODA", "He was not cross. He was tired. People mix the two up."),
    pageBreak(),
    heading("Scene Two. The same. Later that night."),
    direction("The storm has grown. The beam turns. TAM is half asleep over the crossword; ODA watches the sea "
              "through the glass."),
    direction("The radio crackles on the shelf."),
    line("VOICE", "(through static) Skerrow Head, Skerrow Head, this is Marianne, Marianne. Do you read me, over."),
    direction("ODA is at the radio before TAM has opened his eyes."),
    line("ODA", "Marianne, this is Skerrow Head. I read you. Go ahead, Danny."),
    line("VOICE", "(static) Oda. We have lost the plotter and half our lights. I cannot see the Needles for spray. "
                  "Where am I, over?"),
    line("ODA", "You are south of the Needles and too close to them. Come round to the west and hold her there. "
                "Tam. Sound the horn."),
    direction("TAM leaps for the lever and hauls on it. Two long blasts shake the room."),
    line("VOICE", "(static) I hear you. I hear you. Coming round."),
    line("TAM", "He has his boy aboard. Young Kit. I saw them at the quay this morning."),
    line("ODA", "Then we had better keep this lamp lit."),
    direction("The storm climbs to a scream. The windows bow in their frames."),
    line("TAM", "Aunt Oda, the glass..."),
    line("ODA", "The glass has held since eighteen ninety. It will hold tonight."),
    direction("A crack of thunder right overhead, and everything dies at once: lamp, desk light, dials."),
    direction("In the dark the motor groans to a stop. The lens creaks on a few inches and is still."),
    line("TAM", "(in the dark) Oda?"),
    line("ODA", "I am here. Do not move. You will go down the hatch."),
    direction("TAM fumbles for the torch on the desk and switches it on. Its small beam wobbles over the "
              "stopped lens."),
    line("TAM", "The generator?"),
    line("ODA", "Flooded, like as not. No time to find out. Under the desk. The red box."),
    direction("He drags out a battered red box. Inside, wrapped in oilcloth, is an old brass lamp."),
    line("ODA", "Your grandfather's. I keep it filled. I never told you why."),
    direction("She trims the wick with steady hands and lights the old paraffin lamp. A small, warm flame."),
    line("TAM", "That will never reach the Needles."),
    line("ODA", "It does not have to reach the Needles. It has to reach Danny. Help me lift it."),
    direction("Together they carry the lamp to the gallery glass and hold it high."),
    line("ODA", "(at the radio) Marianne, Marianne. Look for a small light, a yellow light, low on the head. "
                "Steer for it. Do you see it, over?"),
    line("VOICE", "(static, then clear) I see it. I see it, Oda."),
    direction("Far below, a boat passes slowly across the dark. Green light, red light, and gone round the point."),
    line("TAM", "(very quietly) He is past."),
    line("ODA", "He is past."),
    direction("She sits down heavily on the top step. TAM holds the lamp."),
    line("TAM", "Will you write that in the log?"),
    line("ODA", "I will write that the main light failed at twenty past two and the reserve was shown. That is all "
                "the log needs."),
    line("TAM", "And the rest?"),
    line("ODA", "The rest is for you to remember."),
    direction("Time passes. The storm tires. Grey light creeps up the windows from the east."),
    line("TAM", "Morning."),
    line("ODA", "Morning. Put the kettle on."),
    line("TAM", "Should I blow this out?"),
    line("ODA", "(looking at the flame) No. Leave it burning a while yet."),
    direction("Darkness."),
    heading("END OF ACT ONE"),
    direction("Interval of fifteen minutes."),
}};
static_assert(!blocks.back().text.empty(), "the demo play has fewer blocks than its structure");

constexpr std::array<DemoCue, demoCueCount> cues{{
    {"1", "House out, go", "CUE", "The house darkens",
     "Go on clearance from front of house. House lights out over 8 s."},
    {"2", "Rain and wind, loop", "SFX", "Rain hammers the glass",
     "Fades in under the house-out; sits at -12 dB until cue 5."},
    {"3", "Night, desk lamp", "LFX", "a desk lamp burns", ""},
    {"4", "Footsteps on iron stair", "SFX", "Footsteps ring on the iron stair",
     "Take it as ODA turns her head, not on the printed line."},
    {"5", "Hatch shut, wind drops", "SFX", "slams the hatch",
     "Visual: the hatch hitting its frame. Wind drops to -20 dB with it."},
    {"6", "Lightning, far", "LFX", "far out over the water", ""},
    {"7", "Thunder, distant", "SFX", "counting under her breath",
     "On ODA's three, about 3 s after LX 6. Let her finish counting."},
    {"8", "Stand by lamp 9-11", "INFO", "Time to light her",
     "Warn LX, sound and video: 9, 10 and 11 follow one another closely."},
    {"9", "Lamp blazes", "LFX", "throws the great switch", ""},
    {"10", "Lens motor hum, loop", "SFX", "the lens begins to turn", ""},
    {"11", "Beam sweeps the sea", "VFX", "The beam sweeps out", ""},
    {"12", "VHF static, Marianne call", "SFX", "The radio crackles",
     "2 s of static, then the call. The VOICE is live on the booth mic, not recorded."},
    {"13", "Foghorn", "SFX", "Sound the horn", "Two long blasts, 4 s each. Loud: mind the front rows."},
    {"14", "Storm rises", "SFX", "The storm climbs", ""},
    {"15", "Power fails, blackout", "LFX", "everything dies at once", ""},
    {"16", "Motor winds down", "SFX", "the motor groans to a stop", ""},
    {"17", "Torch is a practical", "INFO", "fumbles for the torch",
     "The actor switches it on; no LX cue. If it fails, go to 18 early."},
    {"18", "Paraffin lamp", "LFX", "lights the old paraffin lamp", ""},
    {"19", "Marianne's lights pass", "VFX", "Green light, red light", ""},
    {"20", "Dawn, 45 s", "LFX", "Grey light creeps", "Slow 45 s build; complete as ODA sits."},
    {"21", "Blackout", "LFX", "Leave it burning", ""},
    {"22", "House lights, interval", "CUE", "END OF ACT ONE", ""},
}};
static_assert(!cues.back().trigger.empty(), "the demo has fewer cues than its table");

}  // namespace

const std::array<DemoBlock, demoBlockCount>& demoBlocks() { return blocks; }
const std::array<DemoCue, demoCueCount>& demoCues() { return cues; }

}  // namespace tallowmark
