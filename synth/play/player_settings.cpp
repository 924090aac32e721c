// Player, voice and channel settings that options change.
#include "frontend/options.h"

int32 quietchannels = 0;
int voices = 256;
int max_voices = 256;
int auto_reduce_polyphony = 1;
int reduce_voice_threshold = -1;
int32 min_sustain_time = 5000;
int opt_modulation_wheel = 1;
int opt_portamento = 1;
int opt_nrpn_vibrato = 1;
int opt_channel_pressure = 0;
int opt_modulation_envelope = 0;
int opt_trace_text_meta_event = 0;
int opt_overlap_voice_allow = 1;
int opt_temper_control = 1;
int key_adjust = 0;
int8 opt_force_keysig = 8;  // 8: no forced key signature
int8 opt_init_keysig = 8;   // 8: take the key signature from the song
int opt_pure_intonation = 0;
int temper_type_mute = 0;
double tempo_adjust = 1.0;
int opt_default_module = 0;
int opt_default_mid = 0;
int opt_system_mid = 0;
int default_program[MAX_CHANNELS];
int def_prog = -1;
int special_tonebank = -1;
int default_tonebank = 0;
char def_instr_name[256] = "";
char* default_instrument_name = nullptr;
